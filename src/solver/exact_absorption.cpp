#include "solver/propagation.hpp"

// GCC 12 reports values inside Eigen's AVX-512 kernels as maybe uninitialized (a false report
// of its own headers, seen with -march=native); the code here has no such value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "solver/exact_absorption.hpp"

#include <unsupported/Eigen/MatrixFunctions>

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace korvex {

namespace solver {

template <int Max>
SliceExp<Max>::SliceExp(int n)
    : h(n, n), t(n, n), eigenvalues(n), eigenvectors(n, n), ces_(n), lu_(n), vinv_(n, n),
      vd_(n, n) {}

template <int Max> bool SliceExp<Max>::compute(double dz) {
    const int n = size();
    const cplx ipdz(0.0, std::numbers::pi * dz);
    ces_.compute(h, true);
    if (ces_.info() == Eigen::Success) {
        eigenvectors = ces_.eigenvectors();
        lu_.compute(eigenvectors);
        vinv_ = lu_.inverse();
        double nv = 0.0, ni = 0.0;
        for (int c = 0; c < n; ++c) {
            nv = std::max(nv, eigenvectors.col(c).cwiseAbs().sum());
            ni = std::max(ni, vinv_.col(c).cwiseAbs().sum());
        }
        const double cond = nv * ni;
        if (std::isfinite(cond) && cond < kMaxCondition) {
            eigenvalues = ces_.eigenvalues();
            for (int c = 0; c < n; ++c)
                vd_.col(c) = eigenvectors.col(c) * std::exp(ipdz * eigenvalues(c));
            t.noalias() = vd_ * vinv_;
            return true;
        }
    }
    vd_ = ipdz * h;
    t = vd_.exp();
    return false;
}

namespace {

// The structure matrix of a column without its strain terms, as matrix_h writes it.
template <class Mat> void base_matrix(const State& st, Mat& h0) {
    const int n = st.n_beams;
    for (int c = 1; c <= n; ++c)
        for (int r = 1; r <= n; ++r) {
            const double bg = st.mtx_bg(r);
            const int m = r > c ? r - c : c - r;
            h0(r - 1, c - 1) =
                r == c ? cplx(2.0 * st.s_g(r), st.ui0 / bg) : cplx(st.u(m) / bg, st.ui(m) / bg);
        }
}

// phi of column c := t phi, then beam r times exp(i coef[r] (v_g . sf)).
template <class Mat, class Vec>
void carry_column(cplx* phi, const double* sf, std::ptrdiff_t ncol, const Vec3& v_g,
                  const double* coef, std::ptrdiff_t c, const Mat& t, Vec& x, Vec& y) {
    const int n = static_cast<int>(t.rows());
    for (int r = 0; r < n; ++r) x(r) = phi[c + ncol * r];
    y.noalias() = t * x;
    const double p = v_g[0] * sf[c] + v_g[1] * sf[c + ncol] + v_g[2] * sf[c + 2 * ncol];
    for (int r = 0; r < n; ++r) {
        if (p != 0.0) y(r) *= std::polar(1.0, coef[r] * p);
        phi[c + ncol * r] = y(r);
    }
}

template <class X> void keep_solution(State& st, const X& ex, bool eigen) {
    const int n = ex.size();
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            st.h(r + 1, c + 1) = ex.h(r, c);
            if (eigen) st.eigenvectors_h(r + 1, c + 1) = ex.eigenvectors(r, c);
        }
        if (eigen) st.eigenvalues_h(c + 1) = ex.eigenvalues(c);
    }
}

// The workspace of this thread, made again only when the beam count changes.
template <class X> X& workspace(int n) {
    thread_local std::optional<X> w;
    if (!w || w->size() != n) w.emplace(n);
    return *w;
}

template <int Max> void run(State& st, double dz, int& flag, bool shared, bool is_void) {
    using X = SliceExp<Max>;
    const ExactColumns<Max> cols(st, dz, is_void);
    const std::ptrdiff_t ncol = cols.size();
    if (ncol == 0) return;
    const int n = st.n_beams;

    if (!shared) {
#pragma omp parallel
        {
            typename ExactColumns<Max>::Work w(n);
#pragma omp for schedule(static)
            for (std::ptrdiff_t c = 0; c < ncol; ++c)
                if (!cols.passes(c)) cols.carry(c, w);
        }
        return;
    }

    // The perfect crystal and the void: the matrix of the first column of the first slice
    // serves every column from then on (kept in st.h; its transfer is made per slice, as the
    // slice thickness may change).
    X& ex = workspace<X>(n);
    if (flag != 0) {
        ex.h = cols.base();
        for (int r = 0; r < n; ++r) ex.h(r, r) += 2.0 * st.s_g_r.data()[ncol * r];
        keep_solution(st, ex, ex.compute(dz));
        flag = 0;
    } else {
        for (int c = 0; c < n; ++c)
            for (int r = 0; r < n; ++r) ex.h(r, c) = st.h(r + 1, c + 1);
        ex.compute(dz);
    }
    const typename X::Mat& t = ex.t;
#pragma omp parallel
    {
        typename ExactColumns<Max>::Work w(n);
#pragma omp for schedule(static)
        for (std::ptrdiff_t c = 0; c < ncol; ++c)
            if (!cols.passes(c)) cols.carry_with(c, t, w);
    }
}

} // namespace

template <int Max> ExactColumns<Max>::Work::Work(int n) : ex(workspace<X>(n)), x(n), y(n) {}

template <int Max>
ExactColumns<Max>::ExactColumns(State& st, double dz, bool is_void)
    : st_(st), dz_(dz), n_(st.n_beams), is_void_(is_void),
      ncol_(static_cast<std::ptrdiff_t>(st.phi_grid.plane())), phi_(st.phi_grid.data()),
      sgr_(st.s_g_r.data()), sf_(st.s_f.data()), vacancy_(st.flag_vacancy.data()), v_g_(st.v_g),
      h0_(n_, n_) {
    double* pc = fixed_coef_.data();
    if constexpr (Max == Eigen::Dynamic) {
        heap_coef_.resize(static_cast<std::size_t>(n_));
        pc = heap_coef_.data();
    }
    for (int r = 0; r < n_; ++r) pc[r] = 2.0 * std::numbers::pi * (st.mtx_g(r + 1) / st.g);
    coef_ = pc;
    base_matrix(st, h0_);
}

template <int Max> void ExactColumns<Max>::carry(std::ptrdiff_t c, Work& w) const {
    X& ex = w.ex;
    ex.h = h0_;
    for (int r = 0; r < n_; ++r) ex.h(r, r) += 2.0 * sgr_[c + ncol_ * r];
    const bool eigen = ex.compute(dz_);
    carry_with(c, ex.t, w);
    // As in the first-order engine, the last column's solution stays in the state.
    if (c == ncol_ - 1) keep_solution(st_, ex, eigen);
}

template <int Max>
void ExactColumns<Max>::carry_with(std::ptrdiff_t c, const typename X::Mat& t, Work& w) const {
    carry_column(phi_, sf_, ncol_, v_g_, coef_, c, t, w.x, w.y);
}

template class SliceExp<kExpMaxBeams>;
template class SliceExp<Eigen::Dynamic>;
template class ExactColumns<kExpMaxBeams>;
template class ExactColumns<Eigen::Dynamic>;

void propagate_slice_exact_absorption(State& st, double dz, int& flag, bool shared, bool is_void) {
    if (st.n_beams <= kExpMaxBeams)
        run<kExpMaxBeams>(st, dz, flag, shared, is_void);
    else
        run<Eigen::Dynamic>(st, dz, flag, shared, is_void);
}

} // namespace solver
} // namespace korvex
