// SPDX-License-Identifier: MIT
// Every rotation kernel against the straightforward evaluation, bit for bit:
// the picture must not depend on which CPU draws it.
#include "cloud/cloud.h"
#include "cloud/kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace
{

typedef void (*Kernel)(float *, int, int);

// The first point, or -1, whose bits after run(m, start, number) differ from the straightforward
// evaluation's: one point at a time, each sum in double, left to right (nothing fused).
int firstDifference(Kernel run, float *m, int start, int number)
{
    std::vector<float> wx(cxd, cxd + POINTS), wy(cyd, cyd + POINTS), wz(czd, czd + POINTS);
    for (int k = start; k < number; k++) {
        const double x = xd[k], y = yd[k], z = zd[k];
        wx[k] = (float)((double)m[0] * x + (double)m[1] * y + (double)m[2] * z + m[3]);
        wy[k] = (float)((double)m[4] * x + (double)m[5] * y + (double)m[6] * z + m[7]);
        wz[k] = (float)((double)m[8] * x + (double)m[9] * y + (double)m[10] * z + m[11]);
    }
    run(m, start, number);
    for (int k = 0; k < POINTS; k++)
        if (memcmp(&wx[k], &cxd[k], 4) || memcmp(&wy[k], &cyd[k], 4) || memcmp(&wz[k], &czd[k], 4))
            return k;
    return -1;
}

// The frame rotations the program composes, at random angles, and arbitrary
// matrices: translations, signed zeros, magnitudes from tiny to huge.
std::vector<std::vector<float>> matrices()
{
    std::vector<std::vector<float>> all;
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> angle(0, STEPS - 1);
    for (int n = 0; n < 300; n++) {
        xangle = angle(rng), yangle = angle(rng), zangle = angle(rng);
        doedemat();
        all.emplace_back(mat0, mat0 + 16);
    }
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> scale(-40, 40), pick(0, 9);
    for (int n = 0; n < 300; n++)
        for (float &e : all.emplace_back(16)) {
            const int p = pick(rng);
            e = p == 0 ? 0.0f : p == 1 ? -0.0f : std::ldexp(unit(rng), scale(rng));
        }
    return all;
}

struct NamedKernel {
    const char *name;
    Kernel run;
};

// Elsewhere than on x86-64 the portable kernel is the one finmat runs.
const NamedKernel kernels[] = {
    {"Portable", finmatPortable},
#ifdef __x86_64__
    {"Sse2", finmatSse2},
    {"Avx2", finmatAvx2},
    {"Dispatched", finmat},
#endif
};

void PrintTo(const NamedKernel &k, std::ostream *out) // the tests' names
{
    *out << k.name;
}

struct Kernels : testing::TestWithParam<NamedKernel> {
    void SetUp() override
    {
        initMY();
#ifdef __x86_64__
        if (GetParam().run == finmatAvx2 && !cpuHasAvx2())
            GTEST_SKIP() << "this CPU has no AVX2 and FMA";
#endif
    }
};

TEST_P(Kernels, MatchTheStraightforwardEvaluationBitForBit)
{
    for (const std::vector<float> &m : matrices()) {
        float matrix[16];
        memcpy(matrix, m.data(), sizeof matrix);
        ASSERT_EQ(firstDifference(GetParam().run, matrix, 0, POINTS), -1)
            << "matrix element 0 = " << matrix[0];
    }
}

// Ranges off a multiple of four: the single points, and nothing outside.
TEST_P(Kernels, WriteExactlyTheirRange)
{
    xangle = 700, yangle = 1900, zangle = 3100;
    doedemat();
    mat0[3] = 1.5f, mat0[7] = -2.0f, mat0[11] = 0.25f; // the single points' translation too
    const int ranges[][2] = {{0, 1}, {1, 4}, {3, 10}, {5, 5}, {7, 3}, {26995, 27000}, {2, 26999}};
    for (auto &r : ranges) {
        for (int k = 0; k < POINTS; k++)
            cxd[k] = cyd[k] = czd[k] = -7.0f;
        EXPECT_EQ(firstDifference(GetParam().run, mat0, r[0], r[1]), -1) << r[0] << ".." << r[1];
    }
}

INSTANTIATE_TEST_SUITE_P(EachKernel, Kernels, testing::ValuesIn(kernels),
                         testing::PrintToStringParamName());

// Tables, matrices and rotated lattice over frames all round the circle,
// hashed (FNV-1a over each float's bits as a number) and held to x86-64's
// value: a fused multiply-add, extra FPU precision or a maths library that
// rounds a table entry otherwise changes it.
TEST(Rotation, GivesTheSameBitsOnEveryMachine)
{
    initMY();
    uint64_t hash = 14695981039346656037u;
    auto add = [&hash](const float *v, int n) {
        for (int e = 0; e < n; e++) {
            uint32_t bits;
            memcpy(&bits, &v[e], 4);
            for (int byte = 0; byte < 4; byte++)
                hash = (hash ^ ((bits >> (8 * byte)) & 0xFF)) * 1099511628211u;
        }
    };
    add(cosi, STEPS);
    add(sine, STEPS);
    for (int frame = 0; frame < 64; frame++) {
        xangle = frame * 577 % STEPS, yangle = frame * 1231 % STEPS, zangle = frame * 3079 % STEPS;
        doedemat();
        add(mat0, 16);
        for (const float *v : {cxd, cyd, czd})
            add(v, POINTS);
    }
    EXPECT_EQ(hash, 7040707529473338637u);
}

} // namespace
