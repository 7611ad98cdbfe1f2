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

void Plain(benchmark::State &state)
{
    for (auto _ : state) {
        finmatPlain(turn, 0, POINTS);
        touchOutputs();
    }
}

void PlainHoisted(benchmark::State &state)
{
    for (auto _ : state) {
        finmatPlainHoisted(turn, 0, POINTS);
        touchOutputs();
    }
}

void Portable(benchmark::State &state)
{
    for (auto _ : state) {
        finmatPortable(turn, 0, POINTS);
        touchOutputs();
    }
}

void Avx2(benchmark::State &state)
{
    if (!cpuHasAvx2()) {
        state.SkipWithError("this CPU has no AVX2");
        return;
    }
    for (auto _ : state) {
        finmatAvx2(turn, 0, POINTS);
        touchOutputs();
    }
}

void Finmat(benchmark::State &state)
{
    for (auto _ : state) {
        finmat(turn, 0, POINTS);
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
BENCHMARK(Plain)->Apply(perPoint);
BENCHMARK(PlainHoisted)->Apply(perPoint);
BENCHMARK(Portable)->Apply(perPoint);
BENCHMARK(Avx2)->Apply(perPoint);
BENCHMARK(Finmat)->Apply(perPoint);
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
        printf("%-9s / %-12s  not measured  %s\n", what, of, note);
    else
        printf("%-9s / %-12s  %.3f  %s\n", what, of, a->second / b->second, note);
}

} // namespace

int main(int argc, char **argv)
{
    setUp();
    benchmark::Initialize(&argc, argv);
    Medians medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
    printf("\nratios of median times (%s AVX2)\n", cpuHasAvx2() ? "this CPU has" : "no");
    ratio(medians, "Copy", "PlainHoisted", "the memory bound");
    ratio(medians, "Portable", "Plain", "baseline x86-64 kernel, target <= 0.45");
    ratio(medians, "Portable", "PlainHoisted", "");
    ratio(medians, "Avx2", "Plain", "AVX2 kernel, target <= 0.35");
    ratio(medians, "Avx2", "PlainHoisted", "");
    ratio(medians, "Calcme", "Plain", "calcme as shipped (the widest kernel here)");
    ratio(medians, "Calcme", "PlainHoisted", "");
    benchmark::Shutdown();
    return 0;
}
