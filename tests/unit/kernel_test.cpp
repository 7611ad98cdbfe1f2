// SPDX-License-Identifier: MIT
// Every rotation kernel against the straightforward evaluation, bit for bit,
// over the whole lattice and many matrices: the picture must not depend on
// which CPU draws it.
#include "cloud/cloud.h"
#include "cloud/kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace
{

typedef void (*Kernel)(float *, int, int);

struct Rotated {
    std::vector<float> x, y, z;
};

// One point at a time, each sum in double, left to right; -ffp-contract=off
// keeps the compiler from fusing anything here.
Rotated straightforward(const float *m, int start, int number)
{
    Rotated r{std::vector<float>(cxd, cxd + POINTS), std::vector<float>(cyd, cyd + POINTS),
              std::vector<float>(czd, czd + POINTS)};
    for (int k = start; k < number; k++) {
        const double x = xd[k], y = yd[k], z = zd[k];
        r.x[k] = (float)((double)m[0] * x + (double)m[1] * y + (double)m[2] * z + m[3]);
        r.y[k] = (float)((double)m[4] * x + (double)m[5] * y + (double)m[6] * z + m[7]);
        r.z[k] = (float)((double)m[8] * x + (double)m[9] * y + (double)m[10] * z + m[11]);
    }
    return r;
}

// The first point whose bits differ, or -1.
int firstDifference(const Rotated &want)
{
    for (int k = 0; k < POINTS; k++)
        if (memcmp(&want.x[k], &cxd[k], 4) || memcmp(&want.y[k], &cyd[k], 4) ||
            memcmp(&want.z[k], &czd[k], 4))
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
    for (int n = 0; n < 300; n++) {
        std::vector<float> m(16);
        for (float &e : m) {
            const int p = pick(rng);
            e = p == 0 ? 0.0f : p == 1 ? -0.0f : std::ldexp(unit(rng), scale(rng));
        }
        all.push_back(m);
    }
    return all;
}

class Kernels : public testing::TestWithParam<int>
{
  protected:
    void SetUp() override
    {
        initMY();
        if (GetParam() == 1 && !cpuHasAvx2())
            GTEST_SKIP() << "this CPU has no AVX2 and FMA";
    }
    Kernel kernel() const
    {
        return GetParam() == 0 ? finmatPortable : GetParam() == 1 ? finmatAvx2 : finmat;
    }
};

TEST_P(Kernels, MatchTheStraightforwardEvaluationBitForBit)
{
    for (const std::vector<float> &m : matrices()) {
        float matrix[16];
        memcpy(matrix, m.data(), sizeof matrix);
        const Rotated want = straightforward(matrix, 0, POINTS);
        kernel()(matrix, 0, POINTS);
        ASSERT_EQ(firstDifference(want), -1) << "matrix element 0 = " << matrix[0];
    }
}

// Ranges that start and end off a multiple of four exercise the single
// points around the groups of four, and nothing outside the range changes.
TEST_P(Kernels, WriteExactlyTheirRange)
{
    xangle = 700, yangle = 1900, zangle = 3100;
    doedemat();
    mat0[3] = 1.5f, mat0[7] = -2.0f, mat0[11] = 0.25f; // the single points' translation too
    const int ranges[][2] = {{0, 1}, {1, 4}, {3, 10}, {5, 5}, {7, 3}, {26995, 27000}, {2, 26999}};
    for (auto &r : ranges) {
        for (int k = 0; k < POINTS; k++)
            cxd[k] = cyd[k] = czd[k] = -7.0f;
        const Rotated want = straightforward(mat0, r[0], r[1]);
        kernel()(mat0, r[0], r[1]);
        EXPECT_EQ(firstDifference(want), -1) << r[0] << ".." << r[1];
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachKernel, Kernels, testing::Values(0, 1, 2), [](const testing::TestParamInfo<int> &i) {
        return std::string(i.param == 0 ? "Sse2" : i.param == 1 ? "Avx2" : "Dispatched");
    });

} // namespace
