// SPDX-License-Identifier: MIT
// The point-cloud arithmetic; expected values come from plain double math
// here, never from the routines under test.
#include "cloud/cloud.h"
#include "shell/shell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

int sx, sy; // the spin inputs, set here directly instead of linking the shell's input handling

namespace
{

// The tables' angle for n steps, pi truncated exactly as the demo has it.
double stepAngle(int n)
{
    return n * 360.0 * (1.0 / 4096.0) * 3.14159265 / 180.0;
}

int idx(int px, int py, int pz)
{
    return (px * SIDE + py) * SIDE + pz;
}

struct Cloud : testing::Test {
    void SetUp() override
    {
        initMY();
        xangle = yangle = zangle = sx = sy = 0;
    }
};

TEST_F(Cloud, LatticeCoversTheGridInPxPyPzOrder)
{
    for (int px = 0; px < SIDE; px++)
        for (int py = 0; py < SIDE; py++)
            for (int pz = 0; pz < SIDE; pz++) {
                const int k = idx(px, py, pz);
                ASSERT_EQ(xd[k], (float)((px - 15) / 7.0)) << k;
                ASSERT_EQ(yd[k], (float)((py - 15) / 7.0)) << k;
                ASSERT_EQ(zd[k], (float)((pz - 15) / 7.0)) << k;
            }
    EXPECT_TRUE(xd[POINTS - 1] == 2.0f && zd[29] == 2.0f && yd[30] == -2.0f && xd[900] == -2.0f);
}

TEST_F(Cloud, TablesUseTheTruncatedPi)
{
    for (int n = 0; n < STEPS; n++) {
        ASSERT_EQ(cosi[n], (float)std::cos(stepAngle(n))) << n;
        ASSERT_EQ(sine[n], (float)std::sin(stepAngle(n))) << n;
    }
    // Exact ends, and quarter/half turns slightly off zero because pi is short.
    EXPECT_TRUE(cosi[0] == 1.0f && sine[0] == 0.0f && sine[1024] == 1.0f && cosi[2048] == -1.0f);
    EXPECT_NEAR(cosi[1024], 1.79e-9, 0.01e-9);
    EXPECT_NE(sine[4095], -sine[1]);
}

TEST_F(Cloud, AddmatIsBTimesA)
{
    float a[16], b[16], f[16];
    for (int e = 0; e < 16; e++) {
        a[e] = (float)((e * 7) % 11 - 5);
        b[e] = (float)((e * 5) % 13 - 6) * 0.25f;
    }
    double want[16] = {};
    for (int e = 0; e < 16; e++)
        for (int k = 0; k < 4; k++)
            want[e] += (double)b[e / 4 * 4 + k] * a[4 * k + e % 4];
    addmat(f, a, b);
    addmat(a, a, b); // the result may overwrite the right-hand factor
    for (int e = 0; e < 16; e++)
        EXPECT_TRUE(f[e] == (float)want[e] && a[e] == (float)want[e]) << e;
    // 2^24 + 1 + 1 is lost in float but exact in double: one rounding only.
    float big[16] = {16777216.0f, 0, 0, 0, 1, 0, 0, 0, 1}, ones[16] = {1, 1, 1};
    addmat(f, big, ones);
    EXPECT_EQ(f[0], 16777218.0f);
}

TEST_F(Cloud, CalcmeAdvancesAndWrapsAnglesAfterTheFrame)
{
    // start angles x, y, z; spin inputs sx, sy; angles after the pass
    const int cases[][8] = {
        {0, 0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 100, 0, 0, 10, 10},
        {0, 0, 0, -200, -150, 4081, 4091, 4076},
        {0, 0, 0, 9, -9, 0, 1, 0},            // dead zone on x and z
        {0, 0, 0, -9, 9, 0, 4095, 0},         // exactly to -1
        {100, 100, 100, -19, 0, 100, 99, 99}, // truncates toward zero
        {4090, 5, 4082, 140, 140, 8, 5, 0},   // past and exactly to 4096
        {3, 7, 15, -150, -150, 4084, 7, 0},   // below zero
        {4080, 4080, 4080, 170, -170, 4063, 18, 1},
    };
    for (const auto &t : cases) {
        xangle = t[0], yangle = t[1], zangle = t[2], sx = t[3], sy = t[4];
        calcme();
        EXPECT_EQ((std::vector<int>{xangle, yangle, zangle}), std::vector<int>(t + 5, t + 8))
            << testing::PrintToString(t);
        if (t[0] == 0 && t[1] == 0 && t[2] == 0) { // drawn unturned, whatever the inputs
            for (int k = 0; k < POINTS; k++)
                ASSERT_TRUE(cxd[k] == xd[k] && cyd[k] == yd[k] && czd[k] == zd[k]) << k;
        }
    }
}

TEST_F(Cloud, FrameIsRzRyRxAtThePreviousAngles)
{
    const int triples[][3] = {
        {300, 0, 0}, {0, 700, 0}, {0, 0, 2900}, {123, 2222, 3777}, {4095, 1024, 50}};
    for (const auto &t : triples) {
        xangle = t[0], yangle = t[1], zangle = t[2];
        sx = 250, sy = -120; // the advance must not reach this frame
        calcme();
        const double cx = std::cos(stepAngle(t[0])), snx = std::sin(stepAngle(t[0]));
        const double cy = std::cos(stepAngle(t[1])), sny = std::sin(stepAngle(t[1]));
        const double cz = std::cos(stepAngle(t[2])), snz = std::sin(stepAngle(t[2]));
        for (int k : {0, 29, 900, idx(22, 15, 15), idx(8, 29, 1), POINTS - 1}) {
            SCOPED_TRACE(testing::Message() << t[0] << "," << t[1] << "," << t[2] << " @" << k);
            // Rx, then Ry, then Rz, applied to the point in turn.
            const double x1 = xd[k], y1 = cx * yd[k] - snx * zd[k], z1 = snx * yd[k] + cx * zd[k];
            const double x2 = cy * x1 + sny * z1, z2 = -sny * x1 + cy * z1;
            EXPECT_NEAR(cxd[k], cz * x2 - snz * y1, 1e-5);
            EXPECT_NEAR(cyd[k], snz * x2 + cz * y1, 1e-5);
            EXPECT_NEAR(czd[k], z2, 1e-5);
        }
    }
}

} // namespace
