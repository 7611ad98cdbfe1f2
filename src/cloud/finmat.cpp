// SPDX-License-Identifier: MIT
// The rotation of the whole lattice, the one loop of the point cloud that
// runs over 27,000 points every frame. Every architecture has the portable
// kernel, one point at a time in plain C++; x86-64 has two more, four points
// at a time: with SSE2, which every x86-64 CPU has, and with AVX2 and FMA
// where the CPU has them. Each evaluates exactly what one point alone would:
//     ((m0*x + m1*y) + m2*z) + m3, in double, rounded once to float.
#include "cloud.h"
#include "kernels.h"

static int k; // point counter of the kernel running

// One point: the portable kernel's every point, and the points left over
// after the last group of four in the others.
static inline __attribute__((always_inline)) void onePoint(const double *m, int n)
{
    const double x = xd[n], y = yd[n], z = zd[n];
    cxd[n] = (float)(((m[0] * x + m[1] * y) + m[2] * z) + m[3]);
    cyd[n] = (float)(((m[4] * x + m[5] * y) + m[6] * z) + m[7]);
    czd[n] = (float)(((m[8] * x + m[9] * y) + m[10] * z) + m[11]);
}

static inline __attribute__((always_inline)) void widenRows(const float *matrix, double *m)
{
    for (int e = 0; e < 12; e++)
        m[e] = matrix[e];
}

void finmatPortable(float *matrix, int start, int number)
{
    double m[12]; // the upper three rows, widened once
    widenRows(matrix, m);
    for (k = start; k < number; k++)
        onePoint(m, k);
}

#ifdef __x86_64__
#include <immintrin.h>

static int avx2; // this CPU runs the AVX2 kernel: 0 not yet asked, 1 no, 2 yes

// Points n..n+3 with SSE2, two doubles to a register.
static inline __attribute__((always_inline)) void fourPointsSse2(const double *m, int n)
{
    const __m128 xf = _mm_loadu_ps(xd + n), yf = _mm_loadu_ps(yd + n), zf = _mm_loadu_ps(zd + n);
    const __m128d x[2] = {_mm_cvtps_pd(xf), _mm_cvtps_pd(_mm_movehl_ps(xf, xf))};
    const __m128d y[2] = {_mm_cvtps_pd(yf), _mm_cvtps_pd(_mm_movehl_ps(yf, yf))};
    const __m128d z[2] = {_mm_cvtps_pd(zf), _mm_cvtps_pd(_mm_movehl_ps(zf, zf))};
    float *out[3] = {cxd + n, cyd + n, czd + n};
    for (int row = 0; row < 3; row++) {
        const double *r = m + 4 * row;
        __m128 half[2];
        for (int h = 0; h < 2; h++) {
            __m128d sum = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(r[0]), x[h]),
                                     _mm_mul_pd(_mm_set1_pd(r[1]), y[h]));
            sum = _mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(r[2]), z[h]));
            sum = _mm_add_pd(sum, _mm_set1_pd(r[3]));
            half[h] = _mm_cvtpd_ps(sum);
        }
        _mm_storeu_ps(out[row], _mm_movelh_ps(half[0], half[1]));
    }
}

// Points n..n+3 with AVX2, four doubles to a register. A product of two
// floats widened to double is exact (at most 48 significant bits of 53, and
// far from overflow or underflow), so fusing it into the add that follows
// still rounds once, where the separate add rounds: the same bits. The
// fused units take two of the three multiplies and their adds, which leaves
// the adders free for the conversions, the real limit of this loop.
__attribute__((target("avx2,fma"))) static inline __attribute__((always_inline)) void
fourPointsAvx2(const double *m, int n)
{
    const __m256d x = _mm256_cvtps_pd(_mm_loadu_ps(xd + n));
    const __m256d y = _mm256_cvtps_pd(_mm_loadu_ps(yd + n));
    const __m256d z = _mm256_cvtps_pd(_mm_loadu_ps(zd + n));
    float *out[3] = {cxd + n, cyd + n, czd + n};
    for (int row = 0; row < 3; row++) {
        const double *r = m + 4 * row;
        __m256d sum = _mm256_mul_pd(_mm256_set1_pd(r[1]), y);
        sum = _mm256_fmadd_pd(_mm256_set1_pd(r[0]), x, sum); // m0*x + m1*y
        sum = _mm256_fmadd_pd(_mm256_set1_pd(r[2]), z, sum); // + m2*z
        sum = _mm256_add_pd(sum, _mm256_set1_pd(r[3]));      // + m3
        _mm_storeu_ps(out[row], _mm256_cvtpd_ps(sum));
    }
}

void finmatSse2(float *matrix, int start, int number)
{
    double m[12]; // the upper three rows, widened once
    widenRows(matrix, m);
    for (k = start; k + 4 <= number; k += 4)
        fourPointsSse2(m, k);
    for (; k < number; k++)
        onePoint(m, k);
}

__attribute__((target("avx2,fma"))) void finmatAvx2(float *matrix, int start, int number)
{
    double m[12]; // the upper three rows, widened once
    widenRows(matrix, m);
    for (k = start; k + 4 <= number; k += 4)
        fourPointsAvx2(m, k);
    for (; k < number; k++)
        onePoint(m, k);
}

int cpuHasAvx2()
{
    if (!avx2) {
        __builtin_cpu_init();
        avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 2 : 1;
    }
    return avx2 == 2;
}
#endif
