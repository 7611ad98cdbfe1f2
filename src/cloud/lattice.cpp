// SPDX-License-Identifier: MIT
// The model-space lattice and the angle tables, filled once at start-up.
#include "cloud.h"

#include <cmath>

float xd[POINTS];
float yd[POINTS];
float zd[POINTS];
float cxd[POINTS];
float cyd[POINTS];
float czd[POINTS];
float cosi[STEPS];
float sine[STEPS];

// pi as the tables have always been built with it; the full-precision value
// would shift every entry by a few units in the last place.
static const double tablePi = 3.14159265;

static void fillLattice()
{
    int k = 0;
    for (int px = 0; px < SIDE; px++)
        for (int py = 0; py < SIDE; py++)
            for (int pz = 0; pz < SIDE; pz++, k++) {
                // Spacing 1/7 from -15/7 to 2: the lattice is centred on
                // -1/14, not the origin, and turns about the origin.
                xd[k] = (float)((px - 15) / 7.0);
                yd[k] = (float)((py - 15) / 7.0);
                zd[k] = (float)((pz - 15) / 7.0);
            }
}

static void fillTables()
{
    for (int n = 0; n < STEPS; n++) {
        double a = n * 360.0 * (1.0 / 4096.0) * tablePi / 180.0;
        cosi[n] = (float)std::cos(a);
        sine[n] = (float)std::sin(a);
    }
}

void initMY()
{
    fillLattice();
    fillTables();
}
