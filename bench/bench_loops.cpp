// Per-slice cost of the loop models on a 5-beam, 256 x 256 column grid (Cu, 200 kV,
// g = 2 0 0, zone axis 0 0 1): the faulted hexagonal loop, the stacking-fault tetrahedron
// (four triangular loops, face files included) and the circular loop with its tables and with
// its exact field.
// Items are column-slices, so items_per_second reads as column-slices per second.
#include "defects/defect.hpp"
#include "defects/loop_iso.hpp"
#include "defects/loop_tables.hpp"
#include "driver/defect_fields.hpp"
#include "driver/defect_files.hpp"
#include "driver/slice_outputs.hpp"
#include "optics/vectors.hpp"
#include "state/state.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

using namespace korvex;

namespace {

constexpr int kGrid = 256;
constexpr int kSlices = 300;

// Works in a fresh temporary directory while it lives.
class TempDir {
  public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("korvex-bench-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name) << text;
    }
    std::string str() const { return path_.string() + "/"; }

  private:
    std::filesystem::path path_, previous_;
};

State grid_state() {
    State st;
    st.ca = ColumnApprox::no;
    st.foil = {0, 0, 1};
    st.v_g = {2, 0, 0};
    st.co_x = st.v_g;
    st.co_y = cross_product(st.foil, st.co_x);
    st.size_x = st.size_y = kGrid;
    st.size_z = kSlices;
    st.n_pixel_x = st.n_pixel_y = kGrid;
    st.n_slice = kSlices;
    st.n_beams = 5;
    allocate_arrays(st);
    st.size = {st.size_x, st.size_y, st.size_z};
    st.n_xyz = {kGrid, kGrid, kSlices};
    st.g = 0.554017;
    st.k = 39.8884;
    const double t = 0.5 * st.g;
    const double kz0 = std::sqrt(st.k * st.k - t * t);
    for (int n = 1; n <= st.n_beams; ++n) {
        st.mtx_beams(n) = n - 2;
        st.mtx_g(n) = st.mtx_beams(n) * st.g;
        st.mtx_q(n) = cplx(0.0, std::atan((st.mtx_g(n) - t) / kz0));
    }
    return st;
}

void run_slices(benchmark::State& state, State& st, DefectField& field) {
    int islice = 140;
    for (auto _ : state) {
        field.fill_slice(st, islice);
        benchmark::DoNotOptimize(st.s_g_r.data());
        islice = islice == 160 ? 140 : islice + 1; // slices through the defect
    }
    state.SetItemsProcessed(state.iterations() * kGrid * kGrid);
}

void BM_FaultedHexagonalLoop(benchmark::State& state) {
    TempDir dir;
    dir.write("pgLoop.ini", "             {Data for the polygonal loop in Crystal}\n" +
                                std::string(67, '=') +
                                "\nfaulted\n1 3 1 1 1\n1 3 1 1 1\n60.0\n128 128 150\n1 1 1\n"
                                "1 -1 0\n6\n0.3\n1.0\n");
    State st = grid_state();
    st.f_defect = dir.str() + "pgLoop.ini";
    st.defect_kind = DefectKind::pg_loop;
    auto field = make_defect_field(st);
    run_slices(state, st, *field);
}
BENCHMARK(BM_FaultedHexagonalLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Tetrahedron(benchmark::State& state) {
    TempDir dir;
    dir.write("tetrahedron.ini", "   {Data for the stacking fault tetrahedron}\n" +
                                     std::string(67, '=') +
                                     "\nfaulted\n128 128 150\n100.0\n0.3\n1.0\n");
    State st = grid_state();
    st.f_defect = dir.str() + "tetrahedron.ini";
    st.rundir = dir.str();
    st.defect_kind = DefectKind::tetrahedron;
    auto field = make_defect_field(st);
    run_slices(state, st, *field);
}
BENCHMARK(BM_Tetrahedron)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string table_text() {
    std::string s = " loop integral\n";
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (int r = 1; r <= kLoopTableSize; ++r) {
        s += std::to_string(0.02 * r);
        for (int q = 1; q <= kLoopTableSize; ++q) s += ' ' + std::to_string(d(gen));
        s += '\n';
    }
    return s;
}

// The circular loop with tables: the tables are read and the maps written at every slice.
void BM_TabulatedCircularLoop(benchmark::State& state) {
    TempDir dir;
    for (const char* t : {"i01.data", "i10.data", "i11.data", "i02.data", "i12.data"})
        dir.write(t, table_text());
    dir.write("loop.ini", "   {Data for the circular loop}\n" + std::string(67, '=') +
                              "\n1 3 1 1 1\n80.0\n128 128 150\n1 1 1\n0.3\ntabulation\n");
    State st = grid_state();
    st.f_out = "bench";
    st.defect_kind = DefectKind::loop;
    auto field = make_defect_field(st);
    run_slices(state, st, *field);
}
BENCHMARK(BM_TabulatedCircularLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// The circular loop's exact field (model "integral"), the maps written at every slice.
void BM_ExactCircularLoop(benchmark::State& state) {
    TempDir dir;
    dir.write("loop.ini", "   {Data for the circular loop}\n" + std::string(67, '=') +
                              "\n1 3 1 1 1\n80.0\n128 128 150\n1 1 1\n0.3\nintegral\n");
    State st = grid_state();
    st.f_out = "bench";
    st.defect_kind = DefectKind::loop;
    auto field = make_defect_field(st);
    run_slices(state, st, *field);
}
BENCHMARK(BM_ExactCircularLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// The five tables made from the closed forms of the integrals (a run that finds none).
void BM_ComputeLoopTables(benchmark::State& state) {
    LoopTables t;
    for (auto _ : state) {
        compute_loop_tables(t);
        benchmark::DoNotOptimize(t.i01.data());
    }
}
BENCHMARK(BM_ComputeLoopTables)->Unit(benchmark::kMillisecond)->UseRealTime();

// Taking the five tables at a slice: parsing them (first slice, or changed files) and
// finding them unchanged (every later slice).
void BM_LoopTables(benchmark::State& state) {
    TempDir dir;
    for (const char* t : {"i01.data", "i10.data", "i11.data", "i02.data", "i12.data"})
        dir.write(t, table_text());
    const bool parse = state.range(0) != 0;
    LoopTables tables;
    for (auto _ : state) {
        if (parse) tables.stamps = {};
        read_loop_tables(tables);
        benchmark::DoNotOptimize(tables.i01.data());
    }
}
BENCHMARK(BM_LoopTables)
    ->ArgName("parse")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The maps of the five beams, written at every slice.
void BM_PrintSgr(benchmark::State& state) {
    TempDir dir;
    State st = grid_state();
    st.f_out = "bench";
    for (std::size_t q = 0; q < st.s_g_r.size(); ++q)
        st.s_g_r.data()[q] = 1e-3 * std::sin(0.1 * static_cast<double>(q));
    LoopMapsScratch scratch;
    for (auto _ : state) print_loop_sgr(st, st.s_g_r, scratch);
    state.SetItemsProcessed(state.iterations() * kGrid * kGrid);
}
BENCHMARK(BM_PrintSgr)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
