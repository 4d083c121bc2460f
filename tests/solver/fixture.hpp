// Hand-made states for the solver tests: copper, 200 kV, systematic row of (2 0 0).
#pragma once

#include "solver/eigen.hpp"
#include "solver/propagation.hpp"
#include "state/state.hpp"

#include <omp.h>

#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace korvex::testing {

inline constexpr double kCuK = 39.8884;               // 1/Angstrom at 200 kV
inline constexpr double kCuU200 = 0.0672405 * 1.3914; // U_g of (2 0 0) with the relativistic factor
inline constexpr double kCuG = 2.0 / 3.615;           // |(2 0 0)|, 1/Angstrom

struct ColumnSetup {
    int first = 0, last = 1; // beam orders
    int npx = 1, npy = 1, nslice = 10;
    double size_x = 100.0, size_y = 100.0, thickness = 1000.0;
    std::string ca = "yes";
    std::string defect = "no";
    bool absorption = true;
    double f_g = 1.0; // Bragg condition met for the beam f_g * g
};

// A state ready for initial_amplitudes / propagate_slice. The higher-order coefficients fall
// off geometrically from U_g; the absorptive ones are a few percent of the real ones.
inline State make_state(const ColumnSetup& s) {
    State st;
    std::tie(st.n_pixel_x, st.n_pixel_y, st.n_slice) = std::tuple(s.npx, s.npy, s.nslice);
    st.n_beams = s.last - s.first + 1;
    allocate_arrays(st);
    std::tie(st.size_x, st.size_y, st.size_z) = std::tuple(s.size_x, s.size_y, s.thickness);
    st.size = {s.size_x, s.size_y, s.thickness}, st.n_xyz = {s.npx, s.npy, s.nslice};
    st.effslicenumber = s.nslice;
    st.sliceposition.resize(s.nslice);
    st.slicethickness.resize(s.nslice);
    for (int l = 1; l <= s.nslice; ++l) {
        st.slicethickness(l) = s.thickness / s.nslice;
        st.sliceposition(l) = (l - 0.5) * s.thickness / s.nslice;
    }
    st.ca = column_approx_from_text(s.ca), st.defect = s.defect;
    st.defect_kind = defect_kind_from_name(s.defect);
    std::tie(st.k, st.g, st.condition_n, st.u0) = std::tuple(kCuK, kCuG, s.f_g, 0.1);
    st.v_g = {2.0, 0.0, 0.0}, st.ui0 = s.absorption ? 0.004 : 0.0;
    for (int m = 1; m <= st.n_beams - 1; ++m) {
        st.u(m) = kCuU200 * std::pow(0.55, m - 1), st.ui(m) = s.absorption ? 0.035 * st.u(m) : 0.0;
    }
    const bool yes = s.ca == "yes";
    for (int n = 1; n <= st.n_beams; ++n) {
        const int m = s.first + n - 1;
        st.mtx_beams(n) = m, st.mtx_g(n) = m * st.g;
        st.s_g(n) = m * (s.f_g - m) * st.g * st.g / (2.0 * st.k);
        const double tilt = yes ? 0.0 : (m - 0.5 * s.f_g) * st.g / st.k;
        st.mtx_q(n) = cplx(0.0, tilt), st.shift_angle(n) = tilt, st.kg_z(n) = st.k * std::cos(tilt);
        st.mtx_bg(n) = yes ? st.k : st.kg_z(n);
    }
    return st;
}

// A smooth strain term for slice l: beam of order m gets m * amp * cos(2 pi z / period),
// varying a little across the columns.
inline void fill_strain(State& st, int l, double amp = 0.004, double period = 300.0) {
    const double z = st.sliceposition(l);
    for (int n = 1; n <= st.n_beams; ++n)
        for (int j = 1; j <= st.n_pixel_y; ++j)
            for (int i = 1; i <= st.n_pixel_x; ++i)
                st.s_g_r(i, j, n) = st.mtx_beams(n) * amp * (1.0 + 0.1 * i - 0.07 * j) *
                                    std::cos(6.283185307179586 * z / period);
}

// Every slice of the condition as the driver runs them, `before(st, l)` ahead of slice l, then
// the intensities; returns the final flag.
inline int run_slices(State& st, const std::function<void(State&, int)>& before = {}) {
    initial_amplitudes(st);
    int flag = 1;
    for (int l = 1; l <= st.effslicenumber; ++l) {
        if (before) before(st, l);
        propagate_slice(st, l, flag);
    }
    intensities(st);
    return flag;
}

// One slice of thickness dz through a column of strain `sgr`, with the fault jump `sf`.
inline Array1<cplx> one_slice(const State& st, const std::vector<double>& sgr,
                              const Array1<cplx>& in, double dz, const Vec3& sf) {
    const int n = st.n_beams;
    Array2<cplx> h(n, n), v(n, n);
    Array1<cplx> e(n), out(n);
    matrix_h(n, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, h);
    eigensolve_first_order(n, h, st.mtx_bg, e, v);
    two_two_scattering(n, st.mtx_g, st.g, dz, e, v, st.mtx_bg, st.v_g, sf, in, out);
    return out;
}

// A dislocation-like field of the two-scalar form m (G3 + t G1): G3, G1 fall off as 1/r from a
// core at the grid's centre, so the columns beside it lie beyond the table. `spoil` breaks the
// form in column (2, 2) by nudging one beam.
inline void core_field(State& st, int l, bool spoil) {
    const double z = st.sliceposition(l) - 0.5 * st.size_z;
    for (int j = 1; j <= st.n_pixel_y; ++j)
        for (int i = 1; i <= st.n_pixel_x; ++i) {
            const double x = i - 0.5 * (st.n_pixel_x + 1), y = j - 0.5 * (st.n_pixel_y + 1);
            const double r2 = x * x + 0.3 * y * y + 1e-5 * z * z + 0.01;
            const double g3 = 2.0 * x / r2, g1 = 0.05 * (y - z * 0.1) / r2;
            for (int n = 1; n <= st.n_beams; ++n)
                st.s_g_r(i, j, n) = st.mtx_beams(n) * (g3 + std::tan(st.shift_angle(n)) * g1);
            if (spoil) st.s_g_r(2, 2, 1) += 1e-6;
        }
    st.s_f.fill(0.0);
    st.s_f(3, 1, 1) = l > st.n_slice / 2 ? 1.0 / 6.0 : 0.0; // a fault jump in one column
}

// The intensities |phi|^2 / mtx_bg after every slice of `s` through engine `e` with core_field
// (on `threads` threads, or as many as OpenMP gives).
inline Array3<cplx> run_engine(const ColumnSetup& s, Engine e, bool spoil, const char* absorption,
                               int threads = 0) {
    const int saved = omp_get_max_threads();
    if (threads > 0) omp_set_num_threads(threads);
    State st = make_state(s);
    st.absorption = *absorption_from_name(absorption);
    initial_amplitudes(st);
    ColumnEngine engine(e);
    int flag = 1;
    for (int l = 1; l <= st.effslicenumber; ++l) {
        core_field(st, l, spoil);
        engine.propagate_slice(st, l, flag);
    }
    omp_set_num_threads(saved);
    Array3<cplx> out = st.phi_grid;
    for (int n = 1; n <= st.n_beams; ++n)
        for (int j = 1; j <= st.n_pixel_y; ++j)
            for (int i = 1; i <= st.n_pixel_x; ++i)
                out(i, j, n) = std::norm(st.phi_grid(i, j, n)) / st.mtx_bg(n);
    return out;
}

} // namespace korvex::testing
