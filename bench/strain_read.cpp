// Reading a set of gradient files through the strain-field model: every slice of the grid in
// order, as one beam condition does (the strain terms of each slice included).
//
// The grid is "NX NY NZ" from the environment variable KORVEX_STRAIN_GRID (default
// "128 128 64"); the files (an edge dislocation, values written to read back exactly, as text
// or as binary 64- or 32-bit values) are made once per format in a temporary directory and
// removed at the end. A 256 x 256 x 500 grid needs about 7 GB of disk for text, 2.4 GB for
// 64-bit binary and 1.2 GB for 32-bit binary.
#include "defects/defect.hpp"
#include "driver/defect_fields.hpp"
#include "driver/gradient_files.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

using namespace korvex;

namespace {

std::array<int, 3> grid_from_env() {
    std::array<int, 3> n{128, 128, 64};
    if (const char* s = std::getenv("KORVEX_STRAIN_GRID")) {
        std::istringstream in(s);
        in >> n[0] >> n[1] >> n[2];
    }
    return n;
}

struct Files {
    std::filesystem::path dir;
    State st;
    explicit Files(GradientFormat format) {
        const auto n = grid_from_env();
        dir = std::filesystem::temp_directory_path() /
              ("korvex-bench-strain-" + std::to_string(::getpid()) + "-" +
               std::to_string(int(format)));
        std::filesystem::create_directories(dir);
        st.n_pixel_x = n[0];
        st.n_pixel_y = n[1];
        st.n_slice = n[2];
        st.n_beams = 5;
        allocate_arrays(st);
        st.n_xyz = n;
        st.size = {double(n[0]), double(n[1]), double(n[2])};
        st.v_g = {2, 0, 0};
        st.foil = {0, 0, 1};
        st.lat_c = 3.61;
        st.g = 2.0 / 3.61;
        st.k = 39.8884;
        st.ca = ColumnApprox::no;
        for (int b = 1; b <= 5; ++b) {
            st.mtx_beams(b) = b - 2;
            st.mtx_g(b) = (b - 2) * st.g;
            st.mtx_q(b) = cplx(0.0, std::atan(((b - 2) - 0.5) * st.g / st.k));
        }
        st.f_defect = (dir / "strain.ini").string();
        std::ofstream(st.f_defect) << "{strain}\n====\n'" << (dir / "box").string() << "'\n";
        GradientBox box;
        box.size = st.size;
        box.cells = n;
        box.foil = st.foil;
        box.v_g = st.v_g;
        box.lat_c = st.lat_c;
        EdgeDislocation e;
        e.b_m = 1;
        e.b_n = 2;
        e.b_dir = {1, 1, 0};
        e.line = {1, -1, 0};
        e.point = {0.5 * n[0], 0.5 * n[1], 0.5 * n[2]};
        write_gradient_files((dir / "box").string(), box, EdgeGradient(e, box),
                             GradientOutput{format, 0});
    }
    ~Files() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// Arguments: 0 text, 1 binary 32-bit, 2 binary 64-bit; the rows kept, as the first of k equal
// blocks (k = 1: all, as one process or a writer reading for every process; k = 2: the rows of
// one of two processes that each read their own).
void BM_StrainFilesOnePass(benchmark::State& state) {
    static std::unique_ptr<Files> made[3]; // removed at exit
    const auto f = static_cast<std::size_t>(state.range(0));
    if (!made[f]) made[f] = std::make_unique<Files>(static_cast<GradientFormat>(f));
    State& st = made[f]->st;
    for (auto _ : state) {
        auto field = make_strain_field();
        field->keep_rows(1, st.n_xyz[1] / static_cast<int>(state.range(1)));
        for (int l = 1; l <= st.n_xyz[2]; ++l) field->fill_slice(st, l);
        benchmark::DoNotOptimize(st.s_g_r.data());
    }
    const double cells = double(st.n_xyz[0]) * st.n_xyz[1] * st.n_xyz[2];
    state.counters["records"] =
        benchmark::Counter(3.0 * cells * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(f == 0   ? "text "
                               : f == 1 ? "binary32 "
                                        : "binary64 ") +
                   std::to_string(st.n_xyz[0]) + "x" + std::to_string(st.n_xyz[1]) + "x" +
                   std::to_string(st.n_xyz[2]) + " rows 1/" + std::to_string(state.range(1)));
}
BENCHMARK(BM_StrainFilesOnePass)
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

} // namespace
