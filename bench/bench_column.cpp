// The solver's hot path: one column through one slice (build the structure matrix, solve it,
// carry the amplitudes), and a whole 256 x 256 slice on all cores. Strained input everywhere,
// so every column is solved. Figures are column-slices per second.
#include "../tests/solver/fixture.hpp"
#include "solver/eigen.hpp"
#include "solver/kernels.hpp"
#include "solver/propagation.hpp"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <vector>

namespace {

using korvex::State;
using korvex::testing::ColumnSetup;
using korvex::testing::make_state;

// A strained-looking field: a smooth term growing with the beam order plus a position
// dependence, so that the columns take different numbers of sweeps.
void fill_field(State& st) {
    for (int n = 1; n <= st.n_beams; ++n)
        for (int j = 1; j <= st.n_pixel_y; ++j)
            for (int i = 1; i <= st.n_pixel_x; ++i) {
                const double x = (i - 0.5) / st.n_pixel_x - 0.5;
                const double y = (j - 0.5) / st.n_pixel_y - 0.5;
                st.s_g_r(i, j, n) = st.mtx_beams(n) * 0.002 / (0.01 + x * x + 0.3 * y * y);
            }
}

template <int N, int L> void column_step(benchmark::State& state) {
    constexpr int kPool = 1024;
    ColumnSetup s;
    s.first = -((N - 1) / 2);
    s.last = s.first + N - 1;
    s.npx = s.npy = 32;
    s.nslice = 500;
    s.ca = "no";
    s.defect = "edge";
    State st = make_state(s);
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
// 1 table), with as many threads as OpenMP gives (OMP_NUM_THREADS), including the lateral
// shift. The field is of the two-scalar form, as every defect model's is, so the table engine
// interpolates all but the columns next to the singularity.
void whole_slice(benchmark::State& state) {
    const int nb = static_cast<int>(state.range(0));
    const auto engine = state.range(1) == 0 ? korvex::Engine::exact : korvex::Engine::table;
    ColumnSetup s;
    s.first = -((nb - 1) / 2);
    s.last = s.first + nb - 1;
    s.npx = s.npy = 256;
    s.nslice = 500;
    s.thickness = 1000.0;
    s.ca = "no";
    s.defect = "edge";
    State st = make_state(s);
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
    ->ArgNames({"beams", "table"})
    ->ArgsProduct({{2, 3, 5, 8, 10}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
