// SPDX-License-Identifier: MIT
// The point cloud: the lattice, the angle tables, the 4 x 4 matrix routines
// and the per-frame rotation. Pure arithmetic, no SDL and no OpenGL, so it can
// be exercised without a display.
#ifndef GLOWLATTICE_CLOUD_H
#define GLOWLATTICE_CLOUD_H

enum {
    SIDE = 30,                   // lattice points along each axis
    POINTS = SIDE * SIDE * SIDE, // lattice points in all: 27,000
    STEPS = 4096                 // angle steps in one full turn
};

// Matrices are 16 floats, element (row r, column c) at index 4r + c; they act
// on column vectors (x, y, z, 1), with elements 3, 7 and 11 the translation.

extern float xd[POINTS];  // lattice x, model units, index (px*30 + py)*30 + pz
extern float yd[POINTS];  // lattice y, model units
extern float zd[POINTS];  // lattice z, model units
extern float cxd[POINTS]; // rotated lattice x, written every frame
extern float cyd[POINTS]; // rotated lattice y
extern float czd[POINTS]; // rotated lattice z

extern float cosi[STEPS]; // cosine of n angle steps
extern float sine[STEPS]; // sine of n angle steps

extern int xangle; // turn about x, angle steps 0..4095
extern int yangle; // turn about y, angle steps 0..4095
extern int zangle; // turn about z, angle steps 0..4095

extern float mat0[16]; // composed rotation of the last frame
extern float mat1[16]; // work matrix
extern float mat2[16]; // work matrix

void initMY();

void matbasic(float *matrix);
void matcopy(float *matrix1, float *matrix2);
void matrotx(float *matrix, int rotation);
void matroty(float *matrix, int rotation);
void matrotz(float *matrix, int rotation);
void addmat(float *matrixf, float *matrixa, float *matrixb);
void finmat(float *matrix, int start, int number);

void doedemat();
void calcme();

#endif
