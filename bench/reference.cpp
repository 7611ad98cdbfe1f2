// SPDX-License-Identifier: MIT
// The straightforward rotation: one point at a time, each sum in double.
#include "reference.h"

#include "../src/cloud/cloud.h"

void finmatPlain(float *matrix, int start, int number)
{
    for (int k = start; k < number; k++) {
        cxd[k] = (float)((double)matrix[0] * xd[k] + (double)matrix[1] * yd[k] +
                         (double)matrix[2] * zd[k] + matrix[3]);
        cyd[k] = (float)((double)matrix[4] * xd[k] + (double)matrix[5] * yd[k] +
                         (double)matrix[6] * zd[k] + matrix[7]);
        czd[k] = (float)((double)matrix[8] * xd[k] + (double)matrix[9] * yd[k] +
                         (double)matrix[10] * zd[k] + matrix[11]);
    }
}

void finmatPlainHoisted(float *matrix, int start, int number)
{
    const double m0 = matrix[0], m1 = matrix[1], m2 = matrix[2], m3 = matrix[3];
    const double m4 = matrix[4], m5 = matrix[5], m6 = matrix[6], m7 = matrix[7];
    const double m8 = matrix[8], m9 = matrix[9], m10 = matrix[10], m11 = matrix[11];
    for (int k = start; k < number; k++) {
        const double x = xd[k], y = yd[k], z = zd[k];
        cxd[k] = (float)(m0 * x + m1 * y + m2 * z + m3);
        cyd[k] = (float)(m4 * x + m5 * y + m6 * z + m7);
        czd[k] = (float)(m8 * x + m9 * y + m10 * z + m11);
    }
}
