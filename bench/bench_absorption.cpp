// The cost of exact absorption: a whole 64 x 64 slice of strained columns, every column solved,
// with absorption to first order and exactly, at 3, 5 and 8 beams. Figures are column-slices
// per second.
#include "column_state.hpp"
#include "solver/propagation.hpp"

#include <benchmark/benchmark.h>

namespace {

void whole_slice(benchmark::State& state) {
    const int nb = static_cast<int>(state.range(0));
    korvex::State st = korvex::bench::column_state(nb, 64, 10);
    st.absorption = state.range(1) != 0 ? "exact" : "first-order";
    korvex::bench::fill_field(st);
    korvex::initial_amplitudes(st);
    int flag = 1;
    for (auto _ : state) {
        korvex::propagate_slice(st, 1, flag);
        flag = 1;
    }
    state.SetItemsProcessed(state.iterations() * 64 * 64);
    state.SetLabel(st.absorption);
}

} // namespace

BENCHMARK(whole_slice)
    ->ArgsProduct({{3, 5, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
