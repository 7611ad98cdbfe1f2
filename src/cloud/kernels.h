// SPDX-License-Identifier: MIT
// The kernels behind finmat, one per instruction set, declared apart from
// cloud.h because only finmat, the tests and the benchmarks call them by
// name. Each one evaluates, for every point, the same double-precision
// expression in the same order,
//     ((m0*x + m1*y) + m2*z) + m3   rounded once to float,
// with no rounding but those, so every kernel gives the same bits on every
// CPU and the picture never depends on the machine.
#ifndef GLOWLATTICE_KERNELS_H
#define GLOWLATTICE_KERNELS_H

// One point at a time in plain C++: finmat's kernel on every architecture
// but x86-64.
void finmatPortable(float *matrix, int start, int number);

#ifdef __x86_64__
// Two doubles at a time: what every x86-64 CPU has (SSE2).
void finmatSse2(float *matrix, int start, int number);
// Four doubles at a time with AVX2 and FMA; only where cpuHasAvx2() says so.
void finmatAvx2(float *matrix, int start, int number);
// 1 when this CPU runs AVX2 and FMA code, else 0.
int cpuHasAvx2();
#endif

#endif
