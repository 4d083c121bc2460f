// The image seen by the slice loop and the table path of one column. Internal to the slice
// loop (solver/propagation.cpp).
#pragma once

#include "solver/kernels.hpp"
#include "solver/table.hpp"
#include "solver/table_build.hpp"
#include "state/state.hpp"

#include <array>
#include <cstddef>
#include <vector>

namespace korvex::solver::detail {

struct Grid {
    std::ptrdiff_t ncol; // columns, also the distance between beams
    cplx* phi;
    const double* sgr;
    const double* sf;
    const int* vacancy;
    std::array<double, 3> v_g;
    bool is_void;

    double jump(std::ptrdiff_t c) const {
        return v_g[0] * sf[c] + v_g[1] * sf[c + ncol] + v_g[2] * sf[c + 2 * ncol];
    }
    // Inside a void the amplitudes pass the slice unchanged.
    bool passes(std::ptrdiff_t c) const { return is_void && vacancy[c] == 0; }

    static Grid of(State& st, bool is_void) {
        return {static_cast<std::ptrdiff_t>(st.phi_grid.plane()),
                st.phi_grid.data(),
                st.s_g_r.data(),
                st.s_f.data(),
                st.flag_vacancy.data(),
                st.v_g,
                is_void};
    }
};

// Scratch of the table path for one thread: S (a table node) and a column with its sums.
template <int N> struct TableScratch {
    Store<N, node_doubles(N)> s;
    Store<N, 6 * N> col;
    explicit TableScratch(int n) {
        if constexpr (N == 0) {
            thread_local std::vector<double> buf;
            double* cur = runtime_storage(buf, node_doubles(n) + 6 * n);
            s.bind(cur, static_cast<int>(node_doubles(n)));
            col.bind(cur, 6 * n);
        }
    }
};

// The tabulated transfer of a slice, when the table engine runs.
struct SliceTable {
    const StrainForm& form;
    const TransferTable& table;
};

// Carries column c through the slice by `apply(x, stride)`, which transfers the column's
// amplitudes in place (beam r's at x[stride r], x[stride r + 1]) or returns false, with them
// untouched, when the column must be solved exactly. Without `jumps` (no column of its row has
// one) the fault phase is not looked at.
template <int N, class Apply>
KORVEX_HOT bool tabulated_column(const SliceData<N>& sd, const Grid& grid, TableScratch<N>& ts,
                                 std::ptrdiff_t c, Apply&& apply, bool jumps = true) {
    // The amplitudes of a column lie a beam plane apart: fetch those of a later column early.
    constexpr std::ptrdiff_t kAhead = 8;
    for (int r = 0; r < (N > 0 ? N : sd.n); ++r)
        __builtin_prefetch(grid.phi + c + kAhead + grid.ncol * r, 1);
    if (!apply(reinterpret_cast<double*>(grid.phi + c), 2 * grid.ncol)) return false;
    if (jumps) {
        const double p = grid.jump(c);
        if (p != 0.0) { // most columns have none
            const int n = N > 0 ? N : sd.n;
            double* re = ts.col.p();
            double* im = re + n;
            for (int r = 0; r < n; ++r) {
                re[r] = grid.phi[c + grid.ncol * r].real();
                im[r] = grid.phi[c + grid.ncol * r].imag();
            }
            jump_phase<1>(sd.phase_coef.p(), &p, n, re, im);
            for (int r = 0; r < n; ++r) grid.phi[c + grid.ncol * r] = cplx(re[r], im[r]);
        }
    }
    return true;
}

// Column c, whose scalars are (g3, g1), by the table.
template <int N>
KORVEX_HOT bool table_column(const SliceData<N>& sd, const Grid& grid, const SliceTable& tab,
                             TableScratch<N>& ts, std::ptrdiff_t c, double g3, double g1) {
    return tabulated_column(sd, grid, ts, c, [&](double* x, std::ptrdiff_t stride) {
        return tab.table.template transfer<N>(g3, g1, x, stride, ts.s.p(), ts.col.p());
    });
}

} // namespace korvex::solver::detail
