// Potential coefficients of a run: U and U' (with the Bird-King absorption integral) of the zero
// beam and of nine reflections of Cu g (2 0 0) at 200 kV, i.e. a ten-beam systematic row.
#include "optics/potential.hpp"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_BirdKingCopperTenBeams(benchmark::State& state) {
    for (auto _ : state) {
        auto zero = korvex::birdking(200000.0, "Cu", 1, {0, 0, 0}, 1);
        auto row = korvex::birdking(200000.0, "Cu", 9, {2, 0, 0}, 1);
        benchmark::DoNotOptimize(zero);
        benchmark::DoNotOptimize(row);
    }
}
BENCHMARK(BM_BirdKingCopperTenBeams)->Unit(benchmark::kMillisecond);

// One reflection, the unit of work of the absorption integral: m = 0 (the zero beam, U'_0) or
// m (2 0 0).
void BM_BirdKingOneReflection(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto r = m == 0 ? korvex::birdking(200000.0, "Cu", 1, {0, 0, 0}, 1)
                        : korvex::birdking(200000.0, "Cu",
                                           std::vector<korvex::Reflection>{{m, {2, 0, 0}}}, 1);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_BirdKingOneReflection)
    ->ArgName("m")
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond);

} // namespace
