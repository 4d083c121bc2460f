// A strained-column state for the solver benchmarks: copper at 200 kV, systematic row of
// (2 0 0), the grid, wave vector and beam geometry set up by the program's own routines.
#pragma once

#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "state/state.hpp"

#include <cmath>

namespace korvex::bench {

// `nb` beams centred on the incident beam at the Bragg condition for g, with or without the
// column approximation, in a foil of 100 x 100 x 1000 Angstrom cut into `columns` x `columns`
// columns and `nslice` slices; a strained model, so that every column is solved. The potentials
// fall off geometrically from a Cu-like U_g, the absorptive parts a few percent of them.
inline State column_state(int nb, int columns, int nslice, bool column_approx = false) {
    State st;
    st.n_pixel_x = st.n_pixel_y = columns;
    st.n_slice = nslice;
    st.size_x = st.size_y = 100.0;
    st.size_z = 1000.0;
    st.n_beams = nb;
    allocate_arrays(st);
    cal_sample(st.input(), st.grid());
    st.ca = column_approx ? ColumnApprox::yes : ColumnApprox::no;
    st.defect = "edge";
    st.defect_kind = DefectKind::edge;
    st.voltage = 200.0;
    st.lat_c = crystalparameter("Cu").a;
    st.v_g = {2.0, 0.0, 0.0};
    st.condition_n = 1.0;
    cal_wave_quantities(st.input(), st.optics());
    for (int n = 1; n <= nb; ++n) st.mtx_beams(n) = n - 1 - (nb - 1) / 2;
    cal_mtx_g(st.input(), st.optics());
    geometry(nb, st.g, st.mtx_g, st.k, st.condition_n, st.mtx_q, st.s_g);
    for (int n = 1; n <= nb; ++n) {
        // With the column approximation every beam runs down the column.
        st.shift_angle(n) = column_approx ? 0.0 : st.mtx_q(n).imag();
        st.kg_z(n) = st.k * std::cos(st.mtx_q(n).imag());
        st.mtx_bg(n) = column_approx ? st.k : st.kg_z(n);
    }
    st.u0 = 0.1;
    st.ui0 = 0.004;
    for (int m = 1; m < nb; ++m) {
        st.u(m) = 0.0936 * std::pow(0.55, m - 1);
        st.ui(m) = 0.035 * st.u(m);
    }
    return st;
}

// A strained-looking field: a smooth term growing with the beam order plus a position
// dependence, so that the columns take different numbers of sweeps.
inline void fill_field(State& st) {
    for (int n = 1; n <= st.n_beams; ++n)
        for (int j = 1; j <= st.n_pixel_y; ++j)
            for (int i = 1; i <= st.n_pixel_x; ++i) {
                const double x = (i - 0.5) / st.n_pixel_x - 0.5;
                const double y = (j - 0.5) / st.n_pixel_y - 0.5;
                st.s_g_r(i, j, n) = st.mtx_beams(n) * 0.002 / (0.01 + x * x + 0.3 * y * y);
            }
}

} // namespace korvex::bench
