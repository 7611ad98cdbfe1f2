// SPDX-License-Identifier: MIT
// What a plain implementation of the lattice rotation costs, the yardstick
// for the kernels the program uses. Compiled without vectorisation (see
// CMakeLists.txt), in two forms: exactly as the formula reads, the matrix
// read through its pointer for every point (the compiler must reload it,
// since the stores to the rotated lattice might change it), and with the
// twelve elements first copied into locals, the one optimisation anyone
// writes by hand.
#ifndef GLOWLATTICE_REFERENCE_H
#define GLOWLATTICE_REFERENCE_H

void finmatPlain(float *matrix, int start, int number);
void finmatPlainHoisted(float *matrix, int start, int number);

#endif
