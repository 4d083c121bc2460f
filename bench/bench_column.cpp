// The solver's hot path: one column through one slice (build the structure matrix, solve it,
// carry the amplitudes), and a whole 256 x 256 slice on all cores. Strained input everywhere,
// so every column is solved. Figures are column-slices per second.
#include "column_state.hpp"
#include "solver/eigen.hpp"
#include "solver/kernels.hpp"
#include "solver/propagation.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <omp.h>

#include <vector>

namespace {

using korvex::State;
using korvex::bench::column_state;
using korvex::bench::fill_field;

template <int N, int L> void column_step(benchmark::State& state) {
    constexpr int kPool = 1024;
    State st = column_state(N, 32, 500);
    fill_field(st);
    korvex::solver::SliceData<N> sd;
    korvex::prepare_slice_data<N>(st, st.slicethickness(1), sd);
    korvex::solver::BatchKernel<N, L> k(sd);
    std::vector<double> pool(static_cast<std::size_t>(kPool) * N);
    for (int c = 0; c < kPool; ++c)
        for (int n = 0; n < N; ++n) pool[c * N + n] = st.s_g_r.data()[c + st.s_g_r.plane() * n];
    long sweeps = 0;
    int c = 0;
    const double p[L] = {};
    int sw[L];
    for (auto _ : state) {
        for (int l = 0; l < L; ++l) {
            for (int n = 0; n < N; ++n) {
                k.sgr()[n * L + l] = pool[c * N + n];
                k.re()[n * L + l] = n == N / 2 ? 6.3 : 0.0;
                k.im()[n * L + l] = 0.0;
            }
            c = (c + 1) % kPool;
        }
        k.solve(sw);
        k.transfer_own(p);
        benchmark::DoNotOptimize(k.re());
        for (int l = 0; l < L; ++l) sweeps += sw[l];
    }
    const double columns = static_cast<double>(state.iterations()) * L;
    state.counters["column_slices"] = benchmark::Counter(columns, benchmark::Counter::kIsRate);
    state.counters["sweeps"] = static_cast<double>(sweeps) / columns;
}

// As the slice loop runs them (kLanes columns together), and one column at a time.
constexpr int kL = korvex::solver::kLanes;
BENCHMARK(column_step<2, kL>)->Name("column_step/2");
BENCHMARK(column_step<3, kL>)->Name("column_step/3");
BENCHMARK(column_step<5, kL>)->Name("column_step/5");
BENCHMARK(column_step<8, kL>)->Name("column_step/8");
BENCHMARK(column_step<10, kL>)->Name("column_step/10");
BENCHMARK(column_step<5, 1>)->Name("column_step/5/one_lane");
BENCHMARK(column_step<5, 2>)->Name("column_step/5/two_lanes");

// One strained slice of 256 x 256 columns through an engine (argument 0: beams, 1: 0 exact,
// 1 table, 2: 1 with the column approximation, one scalar per column), with as many threads as
// OpenMP gives (OMP_NUM_THREADS), including the lateral shift. The field is of the two-scalar form,
// as every defect model's is, so the table engine interpolates all but the columns next to the
// singularity.
void whole_slice(benchmark::State& state) {
    const int nb = static_cast<int>(state.range(0));
    const auto engine = state.range(1) == 0 ? korvex::Engine::exact : korvex::Engine::table;
    State st = column_state(nb, 256, 500, state.range(2) != 0);
    fill_field(st);
    korvex::initial_amplitudes(st);
    korvex::ColumnEngine eng(engine);
    int flag = 1;
    eng.propagate_slice(st, 1, flag); // the table engine builds its table here
    int islice = 2;
    for (auto _ : state) {
        eng.propagate_slice(st, islice, flag);
        islice = islice % st.effslicenumber + 1;
    }
    state.counters["column_slices"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 256.0 * 256.0, benchmark::Counter::kIsRate);
    state.counters["threads"] = omp_get_max_threads();
}

BENCHMARK(whole_slice)
    ->Name("whole_slice/256x256")
    ->ArgNames({"beams", "table", "ca"})
    ->ArgsProduct({{2, 3, 5, 8, 10}, {0, 1}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same slices in blocks of 16 (ColumnEngine::propagate_slices): each row goes through all 16
// on one thread, its terms copied in from the field just before each slice, as a model that
// fills rows writes them. Counted per column and slice, to set beside whole_slice.
void slice_block(benchmark::State& state) {
    const int nb = static_cast<int>(state.range(0));
    const auto engine = state.range(1) == 0 ? korvex::Engine::exact : korvex::Engine::table;
    State st = column_state(nb, 256, 512, state.range(2) != 0);
    fill_field(st);
    const korvex::Array3<double> field = st.s_g_r;
    korvex::initial_amplitudes(st);
    korvex::ColumnEngine eng(engine);
    int flag = 1;
    eng.propagate_slice(st, 1, flag);
    constexpr int kBlock = 16;
    const korvex::RowFill fill = [&](int j) {
        for (int n = 1; n <= nb; ++n) std::copy_n(&field(1, j, n), 256, &st.s_g_r(1, j, n));
    };
    const std::vector<korvex::RowFill> fills(kBlock, fill);
    int first = 1;
    for (auto _ : state) {
        eng.propagate_slices(st, first, flag, fills);
        first = first % (st.effslicenumber - kBlock) + 1;
    }
    state.counters["column_slices"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock * 256.0 * 256.0,
                           benchmark::Counter::kIsRate);
    state.counters["threads"] = omp_get_max_threads();
}

BENCHMARK(slice_block)
    ->Name("slice_block/256x256x16")
    ->ArgNames({"beams", "table", "ca"})
    ->ArgsProduct({{3, 5, 10}, {0, 1}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
