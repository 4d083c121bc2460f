// The loops over an image's columns for one slice, or for a block of slices row by row, of the
// column engines (solver/propagation.cpp): every column solved or taken from the table, or one
// shared solution applied to every column.
#pragma once

#include "solver/kernels.hpp"
#include "solver/propagation.hpp"
#include "solver/table.hpp"
#include "solver/table_columns.hpp"
#include "state/state.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvex::solver::detail {

// Internal to the one file that includes this header (solver/propagation.cpp), so that the
// compiler treats these loops as it treats that file's own functions.
namespace {

// Records lane l's structure matrix and eigen-solution in the state's cell variables.
template <int N, int L>
void store_solution(State& st, const SliceData<N>& sd, const BatchKernel<N, L>& k, int l) {
    const int n = sd.n;
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            const int e = r + n * c;
            const double re = r == c ? 2.0 * (sd.s_g.p()[r] + k.sgr()[r * L + l]) : sd.a_off.p()[e];
            st.h(r + 1, c + 1) = cplx(re, sd.b.p()[e]);
            st.eigenvectors_h(r + 1, c + 1) = cplx(k.eigenvector(r, c, l), 0.0);
        }
        st.eigenvalues_h(c + 1) = cplx(k.eigenvalue_re(c, l), k.eigenvalue_im(c, l));
    }
}

// The shared solution of the slice, from the state's cell variables.
template <int N> void load_solution(const State& st, SliceData<N>& sd) {
    const int n = sd.n;
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) sd.v.p()[r + n * c] = st.eigenvectors_h(r + 1, c + 1).real();
        sd.wr.p()[c] = st.eigenvalues_h(c + 1).real();
        sd.wi.p()[c] = st.eigenvalues_h(c + 1).imag();
    }
    sd.set_shared_propagator();
}

// Every column solves its own structure matrix, or takes the table's transfer when `tab` is
// given and covers it. An image row is the unit of work: the exactly solved columns of a row go
// kLanes at a time (a short last group repeats its last column in the spare lanes), and no
// state passes from one row to another, so the result does not depend on the threads.
// With `fills`, each row is carried through one slice per fill in turn (all of the thickness
// of `sd`), its terms filled just before each; without, through one slice whose terms are in
// place. Tells which slice of them first read a strain term or made an amplitude that is not
// finite: a sum of a row's terms or new amplitudes is finite exactly when all are (a NaN or an
// infinity stays non-finite through any sum, and terms and amplitudes of order one cannot
// overflow it; a sum that did would only send the caller to its own scan).
// With `shift` (per beam: the angle and the step of the lateral shift), each row is shifted
// sideways after each slice, as linear_itp shifts the whole image. Only the image rows `rows`
// are carried (a process's rows in a split run).
template <int N>
SliceChecks solve_every_column(State& st, const SliceData<N>& sd, const Grid& grid,
                               std::ptrdiff_t npx, const SliceTable* tab,
                               std::span<const RowFill> fills,
                               std::span<const std::array<double, 2>> shift, RowBlock rows) {
    constexpr int L = kLanes;
    const int n = sd.n;
    const std::ptrdiff_t ncol = grid.ncol;
    const std::ptrdiff_t nrow = rows.count();
    // The last column carried: its solution is the one that stays in the state.
    const std::ptrdiff_t last_col = static_cast<std::ptrdiff_t>(rows.last) * npx - 1;
    const int passes = std::max<int>(1, static_cast<int>(fills.size()));
    int bad_terms = passes + 1, bad_total = passes + 1;
    std::int64_t carried = 0, solved = 0;
#pragma omp parallel reduction(min : bad_terms, bad_total) reduction(+ : carried, solved)
    {
        KernelHolder<N, L> holder(sd);
        BatchKernel<N, L>& k = holder.k;
        TableScratch<N> ts(n);
        // The table's scalars of a row's columns, recovered together.
        std::vector<double> g3(tab ? static_cast<std::size_t>(npx) : 0), g1(g3.size());
        std::vector<unsigned char> fits(g3.size());
        // With one scalar and a fixed beam count, a row's cells and weights go together.
        const bool by_row = N > 0 && tab && tab->table.K1 == 0;
        const bool by_row2 = N > 0 && tab && tab->table.K1 > 0;
        TransferTable::RowStencil stencil;
        TransferTable::RowStencil2 stencil2;
        double* sgr = k.sgr();
        double* re = k.re();
        double* im = k.im();
        std::ptrdiff_t col[L];
        int count = 0;
        bool last_pass = false;
        double total = 0.0; // the new amplitudes of the current row and slice
        auto flush = [&] {
            double p[L];
            for (int l = 0; l < L; ++l) {
                const std::ptrdiff_t c = col[std::min(l, count - 1)];
                p[l] = grid.jump(c);
                for (int r = 0; r < n; ++r) {
                    const cplx x = grid.phi[c + ncol * r];
                    sgr[r * L + l] = grid.sgr[c + ncol * r];
                    re[r * L + l] = x.real();
                    im[r * L + l] = x.imag();
                }
            }
            k.solve();
            // Serially the last column solved is the one whose solution stays in the state;
            // exactly one thread owns it.
            if (last_pass && col[count - 1] == last_col) store_solution(st, sd, k, count - 1);
            k.transfer_own(p);
            for (int l = 0; l < count; ++l) {
                const std::ptrdiff_t c = col[l];
                if (grid.passes(c)) continue;
                ++solved;
                for (int r = 0; r < n; ++r)
                    grid.phi[c + ncol * r] = cplx(re[r * L + l], im[r * L + l]);
            }
            count = 0;
        };
        // One slice through the row that starts at column `first`: the row's terms summed (as a
        // vector in any order, and brought into cache for what follows), every column carried
        // by the table or solved, then the row's amplitudes summed into `total` (as a vector,
        // after the columns: a sum carried through them would wait on each). Returns the terms'
        // sum.
        auto carry_row = [&](std::ptrdiff_t first) {
            double row_terms = 0.0;
            for (int r = 0; r < n; ++r) {
                const double* t = grid.sgr + first + ncol * r;
#pragma omp simd reduction(+ : row_terms)
                for (std::ptrdiff_t c = 0; c < npx; ++c) row_terms += t[c];
            }
            // Whether a column of the row takes a fault's jump in this slice: any bits but the
            // sign's set (a NaN counts too), or-ed as integers so that the loop vectorises.
            std::uint64_t bits = 0;
            for (int q = 0; q < 3; ++q) {
                const double* f = grid.sf + first + ncol * q;
#pragma omp simd reduction(| : bits)
                for (std::ptrdiff_t c = 0; c < npx; ++c) bits |= std::bit_cast<std::uint64_t>(f[c]);
            }
            const bool jumps = (bits & ~(std::uint64_t{1} << 63)) != 0;
            if (tab)
                tab->form.template recover_row<N>(grid.sgr + first, ncol, static_cast<int>(npx),
                                                  g3.data(), g1.data(), fits.data());
            if (by_row) tab->table.locate_row(static_cast<int>(npx), g3.data(), stencil);
            if (by_row2)
                tab->table.locate_row2(static_cast<int>(npx), g3.data(), g1.data(), stencil2);
            for (std::ptrdiff_t c = first; c < first + npx; ++c) {
                const std::size_t i = static_cast<std::size_t>(c - first);
                const double* coef = nullptr;
                double f = 0.0;
                bool cubic3 = true;
                const double* s0 = by_row && !grid.passes(c) && fits[i]
                                       ? tab->table.at(stencil, i, coef, cubic3, f)
                                       : nullptr;
                if (s0 && tabulated_column(
                              sd, grid, ts, c,
                              [&](double* x, std::ptrdiff_t stride) {
                                  if constexpr (N > 0)
                                      tab->table.template cubic_transfer<N>(f, s0, coef, cubic3, x,
                                                                            stride);
                                  return N > 0;
                              },
                              jumps))
                    continue;
                if (by_row2 && !grid.passes(c) && fits[i]) {
                    std::size_t apart = 0;
                    const double *w3 = nullptr, *w1 = nullptr;
                    bool finer = false;
                    const double* a = tab->table.at2(stencil2, i, apart, w3, w1, finer);
                    if (a && tabulated_column(
                                 sd, grid, ts, c,
                                 [&](double* x, std::ptrdiff_t stride) {
                                     if constexpr (N > 0)
                                         tab->table.template interpolated_transfer2<N>(
                                             w3, w1, a, apart, finer, x, stride);
                                     return N > 0;
                                 },
                                 jumps))
                        continue;
                }
                if (!by_row && !by_row2 && tab && !grid.passes(c) && fits[i] &&
                    tabulated_column(
                        sd, grid, ts, c,
                        [&](double* x, std::ptrdiff_t stride) {
                            return tab->table.template transfer<N>(g3[i], g1[i], x, stride,
                                                                   ts.s.p(), ts.col.p());
                        },
                        jumps))
                    continue;
                col[count++] = c;
                if (count == L) flush();
            }
            if (count > 0) flush();
            for (int r = 0; r < n; ++r) {
                const double* a = reinterpret_cast<const double*>(grid.phi + first + ncol * r);
                double sum = 0.0;
#pragma omp simd reduction(+ : sum)
                for (std::ptrdiff_t c = 0; c < 2 * npx; ++c) sum += a[c];
                total += sum;
            }
            carried += npx;
            return row_terms;
        };
        // Rows dealt out one at a time in turn: the work of a row varies across the image
        // (most near a defect core), and interleaving shares it evenly.
#pragma omp for schedule(static, 1)
        for (std::ptrdiff_t k_row = 0; k_row < nrow; ++k_row) {
            const std::ptrdiff_t row = rows.first - 1 + k_row; // from 0
            const std::ptrdiff_t first = row * npx;
            for (int pass = 1; pass <= passes; ++pass) {
                if (!fills.empty())
                    fills[static_cast<std::size_t>(pass - 1)](static_cast<int>(row) + 1);
                last_pass = pass == passes;
                total = 0.0;
                if (!std::isfinite(carry_row(first))) bad_terms = std::min(bad_terms, pass);
                if (!std::isfinite(total)) bad_total = std::min(bad_total, pass);
                for (std::size_t r = 0; r < shift.size(); ++r)
                    shift_row(grid.phi + first + ncol * static_cast<std::ptrdiff_t>(r),
                              static_cast<int>(npx), shift[r][0], shift[r][1]);
            }
        }
    }
    SliceChecks checks;
    checks.strain = bad_terms > passes;
    checks.amplitudes = bad_total > passes;
    checks.bad_strain = checks.strain ? 0 : bad_terms;
    checks.bad_amplitude = checks.amplitudes ? 0 : bad_total;
    checks.carried = carried;
    checks.solved = solved;
    return checks;
}

// One eigen-solution (already in sd) serves every column.
template <int N> void apply_shared(const SliceData<N>& sd, const Grid& grid) {
    const int n = sd.n;
    const std::ptrdiff_t ncol = grid.ncol;
#pragma omp parallel
    {
        KernelHolder<N, 1> holder(sd);
        ColumnKernel<N>& k = holder.k;
        double* re = k.re();
        double* im = k.im();
#pragma omp for schedule(static)
        for (std::ptrdiff_t c = 0; c < ncol; ++c) {
            if (grid.passes(c)) continue;
            for (int r = 0; r < n; ++r) {
                re[r] = grid.phi[c + ncol * r].real();
                im[r] = grid.phi[c + ncol * r].imag();
            }
            k.transfer_shared(grid.jump(c));
            for (int r = 0; r < n; ++r) grid.phi[c + ncol * r] = cplx(re[r], im[r]);
        }
    }
}

} // namespace

} // namespace korvex::solver::detail
