// SPDX-License-Identifier: MIT
// The rotation of one frame and the advance of the angles from the spin
// inputs. Rates are whole angle steps per frame: the visible speed follows
// the frame rate, by design.
#include "../shell/shell.h"
#include "cloud.h"

int xangle;
int yangle;
int zangle;
float mat0[16];
float mat1[16];
float mat2[16];

// Rz . Ry . Rx about axes fixed in space through the origin.
void doedemat()
{
    matbasic(mat1);
    matbasic(mat2);
    matrotx(mat1, xangle);
    matroty(mat2, yangle);
    addmat(mat0, mat1, mat2);
    matcopy(mat1, mat0);
    matbasic(mat2);
    matrotz(mat2, zangle);
    addmat(mat0, mat1, mat2);
    finmat(mat0, 0, POINTS);
}

// No increment exceeds 34 steps, so one correction brings an angle back
// into 0..4095.
static void wrapHigh(int *angle)
{
    if (*angle > STEPS - 1)
        *angle -= STEPS;
}

static void wrapLow(int *angle)
{
    if (*angle < 0)
        *angle += STEPS;
}

void calcme()
{
    // The frame shows the angles reached by the previous pass.
    doedemat();
    xangle += sy / 10;
    yangle += (sx - sy) / 10;
    zangle += sx / 10;
    wrapHigh(&xangle);
    wrapHigh(&yangle);
    wrapHigh(&zangle);
    wrapLow(&xangle);
    wrapLow(&yangle);
    wrapLow(&zangle);
}
