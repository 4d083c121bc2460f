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

const char* absorption_name(Absorption a) {
    return a == Absorption::exact ? "exact" : "first-order";
}

std::optional<Absorption> absorption_from_name(std::string_view name) {
    if (name == "exact") return Absorption::exact;
    if (name == "first-order") return Absorption::first_order;
    return std::nullopt;
}

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

struct Columns {
    std::ptrdiff_t ncol;
    cplx* phi;
    const double* sgr;
    const double* sf;
    const int* vacancy;
    Vec3 v_g;
    bool is_void;
    const double* phase_coef; // 2 pi mtx_g(n) / g

    bool passes(std::ptrdiff_t c) const { return is_void && vacancy[c] == 0; }
    // phi of column c := t phi, then beam r times exp(i phase_coef[r] (v_g . sf)).
    template <class Mat, class Vec>
    void carry(std::ptrdiff_t c, const Mat& t, Vec& x, Vec& y) const {
        const int n = static_cast<int>(t.rows());
        for (int r = 0; r < n; ++r) x(r) = phi[c + ncol * r];
        y.noalias() = t * x;
        const double p = v_g[0] * sf[c] + v_g[1] * sf[c + ncol] + v_g[2] * sf[c + 2 * ncol];
        for (int r = 0; r < n; ++r) {
            if (p != 0.0) y(r) *= std::polar(1.0, phase_coef[r] * p);
            phi[c + ncol * r] = y(r);
        }
    }
};

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
    const int n = st.n_beams;
    std::array<double, Max == Eigen::Dynamic ? 1 : Max> fixed_coef{};
    std::vector<double> heap_coef;
    double* pc = fixed_coef.data();
    if constexpr (Max == Eigen::Dynamic) {
        heap_coef.resize(static_cast<std::size_t>(n));
        pc = heap_coef.data();
    }
    for (int r = 0; r < n; ++r) pc[r] = 2.0 * std::numbers::pi * (st.mtx_g(r + 1) / st.g);
    const Columns cols{static_cast<std::ptrdiff_t>(st.phi_grid.plane()),
                       st.phi_grid.data(),
                       st.s_g_r.data(),
                       st.s_f.data(),
                       st.flag_vacancy.data(),
                       st.v_g,
                       is_void,
                       pc};
    if (cols.ncol == 0) return;
    const std::ptrdiff_t ncol = cols.ncol;

    // The perfect crystal and the void: the matrix of the first column of the first slice
    // serves every column from then on (kept in st.h; its transfer is made per slice, as the
    // slice thickness may change).
    if (shared) {
        X& ex = workspace<X>(n);
        if (flag != 0) {
            base_matrix(st, ex.h);
            for (int r = 0; r < n; ++r) ex.h(r, r) += 2.0 * cols.sgr[ncol * r];
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
            typename X::Vec x(n), y(n);
#pragma omp for schedule(static)
            for (std::ptrdiff_t c = 0; c < ncol; ++c)
                if (!cols.passes(c)) cols.carry(c, t, x, y);
        }
        return;
    }

    typename X::Mat h0(n, n);
    base_matrix(st, h0);
#pragma omp parallel
    {
        X& ex = workspace<X>(n);
        typename X::Vec x(n), y(n);
#pragma omp for schedule(static)
        for (std::ptrdiff_t c = 0; c < ncol; ++c) {
            if (cols.passes(c)) continue;
            ex.h = h0;
            for (int r = 0; r < n; ++r) ex.h(r, r) += 2.0 * cols.sgr[c + ncol * r];
            const bool eigen = ex.compute(dz);
            cols.carry(c, ex.t, x, y);
            // As in the first-order engine, the last column's solution stays in the state.
            if (c == ncol - 1) keep_solution(st, ex, eigen);
        }
    }
}

} // namespace

template class SliceExp<kExpMaxBeams>;
template class SliceExp<Eigen::Dynamic>;

void propagate_slice_exact_absorption(State& st, double dz, int& flag, bool shared, bool is_void) {
    if (st.n_beams <= kExpMaxBeams)
        run<kExpMaxBeams>(st, dz, flag, shared, is_void);
    else
        run<Eigen::Dynamic>(st, dz, flag, shared, is_void);
}

} // namespace solver
} // namespace korvex
