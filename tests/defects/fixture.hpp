// What the defect tests share: the models, a hand-built state, configuration texts, a run of one
// model.
#pragma once

#include "defects/defect.hpp"
#include "defects/edge.hpp"
#include "defects/loop_iso.hpp"
#include "defects/pgloop.hpp"
#include "defects/screw.hpp"
#include "defects/tetrahedron.hpp"
#include "driver/defect_fields.hpp"
#include "driver/defect_files.hpp"
#include "driver/gradient_files.hpp"
#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "optics/vectors.hpp"
#include "state/reader.hpp"
#include "state/state.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>

namespace korvex::testing {

inline constexpr double kPi = std::numbers::pi;

struct Grid {
    int nx = 8, ny = 6, nz = 10;
    double sx = 64.0, sy = 48.0, sz = 200.0;
};

// The loops' grid: 32 x 32 columns and 16 slices of 1 Angstrom.
inline constexpr Grid kLoopGrid{32, 32, 16, 32.0, 32.0, 16.0};

// A cubic grid of n cells of 1 Angstrom.
inline Grid cube(int n) {
    return {n, n, n, double(n), double(n), double(n)};
}

// Beam of order m in the state of a DefectRun.
inline int beam(int m) {
    return m + 2;
}

// A configuration file: a header, the separator and the records, one value list per line.
inline std::string config(const std::string& header, std::initializer_list<std::string> records) {
    std::string s = header + "\n" + std::string(67, '=') + "\n";
    for (const auto& r : records) s += r + "   label\n";
    return s;
}

inline std::string edge_ini(const std::string& b, const std::string& point, const std::string& line,
                            double nu = 0.3, double r0 = 0.0) {
    return config("{Data for the edge dislocation in Crystal}",
                  {b, point, line, std::to_string(nu), std::to_string(r0), "0"});
}

inline std::string screw_ini(const std::string& b, const std::string& point, const std::string& cut,
                             const std::string& relax = "0") {
    return config("{Data for the screw dislocation in Crystal}", {b, point, cut, relax});
}

// The field of `model` for a hand-built state (Cu, 200 kV, g = (2 0 0), zone axis [0 0 1] or as
// given, beams -1 .. 3 at (g, g), the program's beam tilts, zero under the column approximation),
// `text` written as `name` in a scratch directory that is the working and run directory.
struct DefectRun {
    ScratchDir dir;
    State st;
    std::unique_ptr<DefectField> field;
    std::ostringstream console;
    DefectRun(int model, const std::string& name, const std::string& text,
              const std::string& ca = "no", Grid grid = {}, Vec3 foil = {0, 0, 1},
              Vec3 v_g = {2, 0, 0}) {
        st.ca = column_approx_from_text(ca);
        st.n_beams = 5, st.n_pixel_x = grid.nx, st.n_pixel_y = grid.ny, st.n_slice = grid.nz;
        allocate_arrays(st);
        st.size = {grid.sx, grid.sy, grid.sz}, st.n_xyz = {grid.nx, grid.ny, grid.nz};
        st.foil = foil, st.v_g = st.co_x = v_g;
        st.voltage = 200.0, st.lat_c = 3.61, st.condition_n = 1.0;
        cal_wave_quantities(st.input(), st.optics());
        for (int n = 1; n <= 5; ++n) st.mtx_beams(n) = n - 2;
        cal_mtx_g(st.input(), st.optics());
        geometry(5, st.g, st.mtx_g, st.k, st.condition_n, st.mtx_q, st.s_g);
        if (ca == "yes") st.mtx_q.fill(0.0);
        dir.enter();
        dir.write(name, text);
        st.rundir = dir.str(), st.f_defect = dir.str() + name, st.f_out = "run.txt";
        st.defect_kind = static_cast<DefectKind>(model); // 0 perfect .. 7 3D-strain
        st.out = &console;
        field = make_defect_field(st);
    }
    DefectRun& slice(int l) {
        field->fill_slice(st, l);
        return *this;
    }
    // The single column at (x, y) from the defect's reference point.
    void column(int l, double x, double y) {
        st.colxy = {x, y};
        field->fill_column(st, l);
    }
};

// The message of the read error `f` must raise.
template <class F> std::string read_error(F&& f) {
    return Fatal(stop_lines<ReadError>(f)).what();
}

inline double max_abs(const Array3<double>& a, int n) {
    double m = 0.0;
    for (int j = 1; j <= a.n2(); ++j)
        for (int i = 1; i <= a.n1(); ++i) m = std::max(m, std::abs(a(i, j, n)));
    return m;
}

// Over every element of an array (Array1/2/3, Vec3).
template <class A> bool any_nonzero(const A& a) {
    return std::any_of(a.data(), a.data() + a.size(), [](auto v) { return v != 0; });
}
template <class A> bool all_finite(const A& a) {
    return std::all_of(a.data(), a.data() + a.size(), [](double v) { return std::isfinite(v); });
}

} // namespace korvex::testing
