// SPDX-License-Identifier: MIT
// 4 x 4 matrix routines. Every sum is formed in double precision and rounded
// once when stored, so the result does not depend on how the compiler orders
// or contracts the float arithmetic.
#include "cloud.h"
#include "kernels.h"

static int i; // element or column counter of the routine running

void matbasic(float *matrix)
{
    for (i = 0; i < 16; i++)
        matrix[i] = 0.0f;
    matrix[0] = matrix[5] = matrix[10] = matrix[15] = 1.0f;
}

void matcopy(float *matrix1, float *matrix2)
{
    for (i = 0; i < 16; i++)
        matrix1[i] = matrix2[i];
}

// The builders write only their four elements, so they give a pure rotation
// only on an identity.
void matrotx(float *matrix, int rotation)
{
    matrix[5] = cosi[rotation];
    matrix[6] = -sine[rotation];
    matrix[9] = sine[rotation];
    matrix[10] = cosi[rotation];
}

void matroty(float *matrix, int rotation)
{
    matrix[0] = cosi[rotation];
    matrix[2] = sine[rotation];
    matrix[8] = -sine[rotation];
    matrix[10] = cosi[rotation];
}

void matrotz(float *matrix, int rotation)
{
    matrix[0] = cosi[rotation];
    matrix[1] = -sine[rotation];
    matrix[4] = sine[rotation];
    matrix[5] = cosi[rotation];
}

// matrixf = matrixb . matrixa. One column at a time: column c of matrixa is
// read in full before column c of matrixf is written, so matrixf may be
// matrixa; it must not be matrixb, whose rows are read for every column.
void addmat(float *matrixf, float *matrixa, float *matrixb)
{
    for (i = 0; i < 4; i++) {
        const double a0 = matrixa[i], a1 = matrixa[4 + i];
        const double a2 = matrixa[8 + i], a3 = matrixa[12 + i];
        const float *b = matrixb;
        matrixf[i] = (float)(b[0] * a0 + b[1] * a1 + b[2] * a2 + b[3] * a3);
        matrixf[4 + i] = (float)(b[4] * a0 + b[5] * a1 + b[6] * a2 + b[7] * a3);
        matrixf[8 + i] = (float)(b[8] * a0 + b[9] * a1 + b[10] * a2 + b[11] * a3);
        matrixf[12 + i] = (float)(b[12] * a0 + b[13] * a1 + b[14] * a2 + b[15] * a3);
    }
}

// Applies the upper three rows of matrix to points start up to, not
// including, number (an end index, not a count). The work is done by the
// widest kernel this CPU runs; all of them give the same bits.
void finmat(float *matrix, int start, int number)
{
#ifdef __x86_64__
    if (cpuHasAvx2())
        finmatAvx2(matrix, start, number);
    else
        finmatSse2(matrix, start, number);
#else
    finmatPortable(matrix, start, number);
#endif
}
