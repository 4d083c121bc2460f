// The cost of exact absorption: a whole 64 x 64 slice of strained columns, every column solved,
// with absorption to first order and exactly, at 3, 5 and 8 beams. Figures are column-slices
// per second.
#include "../tests/solver/fixture.hpp"
#include "solver/propagation.hpp"

#include <benchmark/benchmark.h>

namespace {

void whole_slice(benchmark::State& state) {
    const int nb = static_cast<int>(state.range(0));
    korvex::testing::ColumnSetup s;
    s.first = -((nb - 1) / 2);
    s.last = s.first + nb - 1;
    s.npx = s.npy = 64;
    s.ca = "no";
    s.defect = "edge";
    korvex::State st = korvex::testing::make_state(s);
    st.absorption = state.range(1) != 0 ? "exact" : "first-order";
    korvex::testing::fill_strain(st, 1);
    korvex::initial_amplitudes(st);
    int flag = 1;
    for (auto _ : state) {
        korvex::propagate_slice(st, 1, flag);
        flag = 1;
    }
    state.SetItemsProcessed(state.iterations() * s.npx * s.npy);
    state.SetLabel(st.absorption);
}

} // namespace

BENCHMARK(whole_slice)
    ->ArgsProduct({{3, 5, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
