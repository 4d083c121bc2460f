// Cost of the per-slice defect work of the straight dislocations (isotropic and anisotropic) on
// a 256 x 256 grid with five beams: one fill_slice per iteration, cycling through the 500 slices of
// a 500 Angstrom foil. items_per_second is the rate in column-slices per second, to be set against
// the column loop of the solver at the same size (OMP_NUM_THREADS sets the cores used).
#include "defects/defect.hpp"
#include "driver/defect_fields.hpp"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace korvex;

namespace {

State make_state(DefectKind model, const std::string& file) {
    State st;
    st.ca = ColumnApprox::no;
    st.sample = "Cu"; // elastic constants of the anisotropic fields
    st.n_beams = 5;
    st.n_pixel_x = st.n_pixel_y = 256;
    st.n_slice = 500;
    st.size_x = st.size_y = 256.0;
    st.size_z = 500.0;
    st.size = {256.0, 256.0, 500.0};
    st.n_xyz = {256, 256, 500};
    st.foil = {0, 0, 1};
    st.v_g = st.co_x = {2, 0, 0};
    st.g = 0.554017;
    st.k = 39.8884;
    allocate_arrays(st);
    const double t = 0.5 * st.g, kz0 = std::sqrt(st.k * st.k - t * t);
    for (int n = 1; n <= 5; ++n) {
        st.mtx_beams(n) = n - 2;
        st.mtx_g(n) = st.mtx_beams(n) * st.g;
        st.mtx_q(n) = {0.0, std::atan((st.mtx_g(n) - t) / kz0)};
    }
    st.defect_kind = model;
    st.f_defect = file;
    return st;
}

std::string write_config(const std::string& name, const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() / ("korvex-bench-" + name);
    std::ofstream(path) << "{header}\n" << std::string(67, '=') << '\n' << text;
    return path.string();
}

void run(benchmark::State& bs, DefectKind model, const std::string& name, const std::string& text) {
    State st = make_state(model, write_config(name, text));
    std::ostringstream quiet;
    st.out = &quiet;
    auto field = make_defect_field(st);
    int islice = 0;
    for (auto _ : bs) {
        islice = islice % st.n_slice + 1;
        field->fill_slice(st, islice);
        benchmark::DoNotOptimize(st.s_g_r.data());
        if (quiet.tellp() > (1 << 20)) quiet.str("");
    }
    bs.SetItemsProcessed(bs.iterations() * st.n_pixel_x * st.n_pixel_y);
    bs.counters["threads"] = omp_get_max_threads();
    std::filesystem::remove(st.f_defect);
}

void BM_Edge(benchmark::State& bs) {
    run(bs, DefectKind::edge, "edge.ini", "1 2 1 1 0\n128 128 250\n1 -1 2\n0.34\n1.0\n");
}
void BM_Screw(benchmark::State& bs) {
    run(bs, DefectKind::screw, "screw.ini", "1 2 1 0 1\n128 128 250\n1 0 -1\n0\n");
}
// The same dislocations with the anisotropic (sextic) field of Cu.
void BM_EdgeAnisotropic(benchmark::State& bs) {
    run(bs, DefectKind::edge, "edge_aniso.ini",
        "1 2 1 1 0\n128 128 250\n1 -1 2\n0.34\n1.0\nanisotropic\n");
}
void BM_ScrewAnisotropic(benchmark::State& bs) {
    run(bs, DefectKind::screw, "screw_aniso.ini",
        "1 2 1 0 1\n128 128 250\n1 0 -1\n0\nanisotropic\n");
}
void BM_ScrewRelaxed(benchmark::State& bs) {
    run(bs, DefectKind::screw, "screw_relaxed.ini", "1 1 0 0 1\n128 128 0\n1 0 0\n1\n");
}

} // namespace

BENCHMARK(BM_Edge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Screw)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EdgeAnisotropic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScrewAnisotropic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScrewRelaxed)->Unit(benchmark::kMillisecond)->UseRealTime();
