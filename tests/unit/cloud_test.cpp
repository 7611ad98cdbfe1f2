// Unit tests for the point-cloud arithmetic: lattice, angle tables, matrix
// routines and the per-frame rotation. Expected values come from plain double
// math here, never from the routines under test.
#include "cloud/cloud.h"
#include "shell/shell.h"

#include <gtest/gtest.h>

#include <cmath>

int sx; // spin inputs normally owned by the shell's input handling; the
int sy; // tests set them directly instead of linking the shell.

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

class Cloud : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        initMY();
        xangle = yangle = zangle = 0;
        sx = sy = 0;
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
    EXPECT_EQ(xd[POINTS - 1], 2.0f);
    EXPECT_EQ(zd[29], 2.0f);
    EXPECT_EQ(yd[30], (float)(-14 / 7.0));
    EXPECT_EQ(xd[900], (float)(-14 / 7.0));
}

TEST_F(Cloud, TablesUseTheTruncatedPi)
{
    for (int n = 0; n < STEPS; n++) {
        ASSERT_EQ(cosi[n], (float)std::cos(stepAngle(n))) << n;
        ASSERT_EQ(sine[n], (float)std::sin(stepAngle(n))) << n;
    }
    // Landmarks the renderer relies on: exact ends, and quarter/half turns
    // that are slightly off zero because pi is short.
    EXPECT_EQ(cosi[0], 1.0f);
    EXPECT_EQ(sine[0], 0.0f);
    EXPECT_EQ(sine[1024], 1.0f);
    EXPECT_EQ(cosi[2048], -1.0f);
    EXPECT_NEAR(cosi[1024], 1.79e-9, 0.01e-9);
    EXPECT_NEAR(sine[2048], 3.59e-9, 0.01e-9);
    EXPECT_EQ(cosi[4095], cosi[1]);
    EXPECT_NE(sine[4095], -sine[1]);
}

TEST_F(Cloud, RotationBuildersWriteOnlyTheirFourElements)
{
    struct Case {
        void (*build)(float *, int);
        int at[4];
        int sign[4];
    };
    // sign: +2 cosine, +1 sine, -1 minus sine; order as in `at`.
    const Case cases[] = {{matrotx, {5, 6, 9, 10}, {2, -1, 1, 2}},
                          {matroty, {0, 2, 8, 10}, {2, 1, -1, 2}},
                          {matrotz, {0, 1, 4, 5}, {2, -1, 1, 2}}};
    for (const Case &t : cases)
        for (int a : {0, 300, 1024, 3000}) {
            float m[16], want[16];
            for (int e = 0; e < 16; e++)
                m[e] = want[e] = 100.0f + e;
            for (int j = 0; j < 4; j++)
                want[t.at[j]] = t.sign[j] == 2 ? cosi[a] : t.sign[j] * sine[a];
            t.build(m, a);
            for (int e = 0; e < 16; e++)
                EXPECT_EQ(m[e], want[e]) << a << " el " << e;
        }
    float m[16];
    matbasic(m);
    matrotx(m, 1024); // a quarter turn about x takes y onto z
    EXPECT_EQ(m[9], 1.0f);
    EXPECT_NEAR(m[10], 0.0f, 1e-8);
}

TEST_F(Cloud, AddmatIsBTimesA)
{
    float a[16], b[16], f[16], id[16];
    for (int e = 0; e < 16; e++) {
        a[e] = (float)((e * 7) % 11 - 5);
        b[e] = (float)((e * 5) % 13 - 6) * 0.25f;
    }
    matbasic(id);
    double want[16];
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) {
            want[4 * r + c] = 0;
            for (int k = 0; k < 4; k++)
                want[4 * r + c] += (double)b[4 * r + k] * a[4 * k + c];
        }
    addmat(f, a, b);
    for (int e = 0; e < 16; e++)
        EXPECT_EQ(f[e], (float)want[e]) << e;
    addmat(f, id, b);
    for (int e = 0; e < 16; e++)
        EXPECT_EQ(f[e], b[e]) << e;
    addmat(f, a, id);
    for (int e = 0; e < 16; e++)
        EXPECT_EQ(f[e], a[e]) << e;
    addmat(a, a, b); // the result may overwrite the right-hand factor
    for (int e = 0; e < 16; e++)
        EXPECT_EQ(a[e], (float)want[e]) << e;

    // 2^24 + 1 + 1 is lost in float but exact in double: one rounding only.
    float big[16], row[16];
    matbasic(big);
    big[0] = 16777216.0f;
    big[4] = big[8] = 1.0f;
    matbasic(row);
    row[1] = row[2] = 1.0f;
    addmat(f, big, row);
    EXPECT_EQ(f[0], 16777218.0f);
}

TEST_F(Cloud, FinmatTouchesOnlyStartUpToNumber)
{
    float m[16];
    matbasic(m);
    const struct {
        int start, number;
    } ranges[] = {{5, 5}, {7, 3}, {10, 20}, {0, 1}};
    for (auto r : ranges) {
        for (int k = 0; k < 40; k++)
            cxd[k] = cyd[k] = czd[k] = -99.0f;
        finmat(m, r.start, r.number);
        for (int k = 0; k < 40; k++) {
            const bool in = k >= r.start && k < r.number;
            EXPECT_EQ(cxd[k], in ? xd[k] : -99.0f) << r.start << ".." << r.number << " @" << k;
            EXPECT_EQ(czd[k], in ? zd[k] : -99.0f) << r.start << ".." << r.number << " @" << k;
        }
    }
}

TEST_F(Cloud, FinmatAppliesTranslationAndIgnoresBottomRow)
{
    float m[16];
    matbasic(m);
    finmat(m, 0, POINTS);
    for (int k = 0; k < POINTS; k++)
        ASSERT_TRUE(cxd[k] == xd[k] && cyd[k] == yd[k] && czd[k] == zd[k]) << k;
    m[3] = 1.5f, m[7] = -2.0f, m[11] = 0.25f;
    m[12] = m[13] = m[14] = 9.0f, m[15] = 0.0f;
    m[1] = 0.5f; // some mixing too, so the rows are not just copies
    finmat(m, 0, POINTS);
    for (int k : {0, 29, 13456, POINTS - 1}) {
        EXPECT_FLOAT_EQ(cxd[k], (float)(xd[k] + 0.5 * yd[k] + 1.5)) << k;
        EXPECT_FLOAT_EQ(cyd[k], (float)(yd[k] - 2.0)) << k;
        EXPECT_FLOAT_EQ(czd[k], (float)(zd[k] + 0.25)) << k;
    }
}

TEST_F(Cloud, CalcmeAdvancesAndWrapsAnglesAfterTheFrame)
{
    // start angles x,y,z; inputs sx,sy; angles after the pass
    const struct {
        int a0[3], isx, isy, a1[3];
    } cases[] = {
        {{0, 0, 0}, 0, 0, {0, 0, 0}},
        {{0, 0, 0}, 100, 0, {0, 10, 10}},
        {{0, 0, 0}, -200, -150, {4081, 4091, 4076}},
        {{0, 0, 0}, 9, -9, {0, 1, 0}},            // dead zone on x and z
        {{0, 0, 0}, -9, 9, {0, 4095, 0}},         // exactly to -1
        {{100, 100, 100}, -19, 0, {100, 99, 99}}, // truncates toward zero
        {{4090, 5, 4082}, 140, 140, {8, 5, 0}},   // past and exactly to 4096
        {{3, 7, 15}, -150, -150, {4084, 7, 0}},
        {{4080, 4080, 4080}, 170, -170, {4063, 18, 1}},
    };
    for (auto t : cases) {
        xangle = t.a0[0], yangle = t.a0[1], zangle = t.a0[2];
        sx = t.isx, sy = t.isy;
        calcme();
        EXPECT_EQ(xangle, t.a1[0]) << t.isx << "," << t.isy;
        EXPECT_EQ(yangle, t.a1[1]) << t.isx << "," << t.isy;
        EXPECT_EQ(zangle, t.a1[2]) << t.isx << "," << t.isy;
    }
}

TEST_F(Cloud, FrameAtZeroAnglesIsTheLattice)
{
    calcme();
    for (int k = 0; k < POINTS; k++)
        ASSERT_TRUE(cxd[k] == xd[k] && cyd[k] == yd[k] && czd[k] == zd[k]) << k;
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
        for (int k : {0, 29, 900, idx(22, 3, 17), idx(8, 29, 1), POINTS - 1}) {
            // Rx, then Ry, then Rz, applied to the point in turn.
            const double x1 = xd[k], y1 = cx * yd[k] - snx * zd[k], z1 = snx * yd[k] + cx * zd[k];
            const double x2 = cy * x1 + sny * z1, y2 = y1, z2 = -sny * x1 + cy * z1;
            const double x3 = cz * x2 - snz * y2, y3 = snz * x2 + cz * y2, z3 = z2;
            EXPECT_NEAR(cxd[k], x3, 1e-5) << t[0] << "," << t[1] << "," << t[2] << " @" << k;
            EXPECT_NEAR(cyd[k], y3, 1e-5) << t[0] << "," << t[1] << "," << t[2] << " @" << k;
            EXPECT_NEAR(czd[k], z3, 1e-5) << t[0] << "," << t[1] << "," << t[2] << " @" << k;
        }
    }
}

TEST_F(Cloud, PositiveQuarterTurnsAreCounterClockwise)
{
    // Seen from the positive axis: x turns y to z, y turns z to x, z turns x to y.
    const struct {
        int axis, from, to[3];
    } cases[] = {{0, idx(15, 22, 15), {0, 0, 1}},
                 {1, idx(15, 15, 22), {1, 0, 0}},
                 {2, idx(22, 15, 15), {0, 1, 0}}};
    for (auto t : cases) {
        xangle = t.axis == 0 ? 1024 : 0;
        yangle = t.axis == 1 ? 1024 : 0;
        zangle = t.axis == 2 ? 1024 : 0;
        calcme();
        EXPECT_NEAR(cxd[t.from], t.to[0], 1e-6) << "axis " << t.axis;
        EXPECT_NEAR(cyd[t.from], t.to[1], 1e-6) << "axis " << t.axis;
        EXPECT_NEAR(czd[t.from], t.to[2], 1e-6) << "axis " << t.axis;
    }
}

} // namespace
