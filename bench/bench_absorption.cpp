// The cost of exact absorption: a whole 64 x 64 slice of strained columns with absorption to
// first order and exactly, at 3, 5 and 8 beams, by the exact engine (every column solved) and
// by the table engine (its tables, built before the timing starts, hold first-order or exact
// transfers). Figures are column-slices per second. `table_build` times the building of the
// table of one slice thickness (the first slice of a table run), first order against exact.
#include "column_state.hpp"
#include "solver/propagation.hpp"

#include <benchmark/benchmark.h>

namespace {

void whole_slice(benchmark::State& state) {
    const int nb = static_cast<int>(state.range(0));
    korvex::State st = korvex::bench::column_state(nb, 64, 10);
    st.absorption =
        state.range(1) != 0 ? korvex::Absorption::exact : korvex::Absorption::first_order;
    const auto kind = state.range(2) != 0 ? korvex::Engine::table : korvex::Engine::exact;
    korvex::bench::fill_field(st);
    korvex::initial_amplitudes(st);
    korvex::ColumnEngine engine(kind);
    int flag = 1;
    engine.propagate_slice(st, 1, flag); // the table engine builds its table
    for (auto _ : state) {
        flag = 1;
        engine.propagate_slice(st, 1, flag);
    }
    state.SetItemsProcessed(state.iterations() * 64 * 64);
    state.SetLabel(std::string(korvex::engine_name(kind)) + " " +
                   korvex::absorption_name(st.absorption));
}

void table_build(benchmark::State& state) {
    const int nb = static_cast<int>(state.range(0));
    korvex::State st = korvex::bench::column_state(nb, 1, 10);
    st.absorption =
        state.range(1) != 0 ? korvex::Absorption::exact : korvex::Absorption::first_order;
    korvex::bench::fill_field(st);
    korvex::initial_amplitudes(st);
    for (auto _ : state) {
        korvex::ColumnEngine engine(korvex::Engine::table);
        int flag = 1;
        engine.propagate_slice(st, 1, flag);
    }
    state.SetLabel(korvex::absorption_name(st.absorption));
}

} // namespace

BENCHMARK(table_build)
    ->ArgsProduct({{3, 5, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(whole_slice)
    ->ArgsProduct({{3, 5, 8}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
