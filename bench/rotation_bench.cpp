// SPDX-License-Identifier: MIT
// The rotation of the whole lattice against two yardsticks measured in the
// same run: a plain copy of the three input arrays into the three output
// arrays (no loop over this data can beat the memory it moves) and the
// straightforward scalar loop (what a plain implementation costs).
#include "../src/cloud/cloud.h"
#include "../src/cloud/kernels.h"
#include "reference.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

int sx; // spin inputs, fixed for the run: the pointer at (600, 250)
int sy;

namespace
{

float turn[16]; // a frame's rotation, composed once

void setUp()
{
    initMY();
    sx = 100;
    sy = -25;
    xangle = 300;
    yangle = 1500;
    zangle = 2900;
    doedemat();
    memcpy(turn, mat0, sizeof turn);
}

void touchOutputs()
{
    benchmark::DoNotOptimize(cxd);
    benchmark::DoNotOptimize(cyd);
    benchmark::DoNotOptimize(czd);
    benchmark::ClobberMemory();
}

void Copy(benchmark::State &state)
{
    for (auto _ : state) {
        memcpy(cxd, xd, sizeof xd);
        memcpy(cyd, yd, sizeof yd);
        memcpy(czd, zd, sizeof zd);
        touchOutputs();
    }
}

// One of the loops over the whole lattice with the frame's rotation.
void Rotate(benchmark::State &state, void (*kernel)(float *, int, int))
{
#ifdef __x86_64__
    if (kernel == finmatAvx2 && !cpuHasAvx2()) {
        state.SkipWithError("this CPU has no AVX2 and FMA");
        return;
    }
#endif
    for (auto _ : state) {
        kernel(turn, 0, POINTS);
        touchOutputs();
    }
}

void Calcme(benchmark::State &state)
{
    for (auto _ : state) {
        calcme();
        touchOutputs();
    }
}

// Five repetitions, of which the median counts: the machine may be busy.
void perPoint(benchmark::internal::Benchmark *b)
{
    b->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(Copy)->Apply(perPoint);
BENCHMARK_CAPTURE(Rotate, Plain, finmatPlain)->Apply(perPoint);
BENCHMARK_CAPTURE(Rotate, PlainHoisted, finmatPlainHoisted)->Apply(perPoint);
BENCHMARK_CAPTURE(Rotate, Portable, finmatPortable)->Apply(perPoint);
#ifdef __x86_64__
BENCHMARK_CAPTURE(Rotate, Sse2, finmatSse2)->Apply(perPoint);
BENCHMARK_CAPTURE(Rotate, Avx2, finmatAvx2)->Apply(perPoint);
#endif
BENCHMARK_CAPTURE(Rotate, Finmat, finmat)->Apply(perPoint);
BENCHMARK(Calcme)->Apply(perPoint);

// Keeps the median time of every benchmark so that the ratios can be
// printed after the table.
class Medians : public benchmark::ConsoleReporter
{
  public:
    std::map<std::string, double> us;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs)
            if (r.aggregate_name == "median" && !r.error_occurred)
                us[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
};

void ratio(const Medians &m, const char *what, const char *of, const char *note)
{
    auto a = m.us.find(what), b = m.us.find(of);
    if (a == m.us.end() || b == m.us.end())
        printf("%-15s / %-19s  not measured  %s\n", what, of, note);
    else
        printf("%-15s / %-19s  %.3f  %s\n", what, of, a->second / b->second, note);
}

} // namespace

int main(int argc, char **argv)
{
    setUp();
    benchmark::Initialize(&argc, argv);
    Medians medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
#ifdef __x86_64__
    printf("\nratios of median times (%s AVX2)\n", cpuHasAvx2() ? "this CPU has" : "no");
#else
    printf("\nratios of median times\n");
#endif
    ratio(medians, "Copy", "Rotate/PlainHoisted", "the memory bound");
    ratio(medians, "Rotate/Portable", "Rotate/Plain", "the kernel of every architecture but x86-64");
    ratio(medians, "Rotate/Sse2", "Rotate/Plain", "baseline x86-64 kernel, target <= 0.45");
    ratio(medians, "Rotate/Sse2", "Rotate/PlainHoisted", "");
    ratio(medians, "Rotate/Avx2", "Rotate/Plain", "AVX2 kernel, target <= 0.35");
    ratio(medians, "Rotate/Avx2", "Rotate/PlainHoisted", "");
    ratio(medians, "Calcme", "Rotate/Plain", "calcme as shipped (the widest kernel here)");
    ratio(medians, "Calcme", "Rotate/PlainHoisted", "");
    benchmark::Shutdown();
    return 0;
}
