// The tabulated column engine. In every defect model the strain term of beam n has the form
// s_g_r(n) = m_n (G3 + t_n G1), with m_n the beam's order and t_n = tan of its tilt (zero with
// the column approximation), so within a beam condition and for one slice thickness a column's
// slice transfer matrix S = V D V^-1 depends on two scalars only (one when all tilts are
// equal). `TransferTable` holds S, computed by the exact kernel, on a regular grid of (G3, G1)
// and interpolates it with 4-point Lagrange cubics in each scalar. A column whose terms do not
// have that form, or whose scalars lie outside the grid (near a dislocation core), is solved
// exactly by the caller.
#pragma once

#include "solver/kernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace korvex::solver {

// How a column's strain terms map onto the table's scalars, fixed for a beam condition.
struct StrainForm {
    int dims = 0;             // 0: nothing to tabulate, 1: G3 only, 2: G3 and G1
    int a = -1, b = -1;       // beams the scalars are recovered from
    std::vector<double> m, t; // order and tan(tilt) of each beam

    // Decides the form from the beams' orders and tilts (n values each).
    static StrainForm make(int n, const double* order, const double* tan_tilt) {
        StrainForm f;
        f.m.assign(order, order + n);
        f.t.assign(tan_tilt, tan_tilt + n);
        // G3 from the beam of largest order; G1 from the beam whose tilt differs most from it.
        for (int r = 0; r < n; ++r)
            if (f.m[r] != 0.0 && (f.a < 0 || std::abs(f.m[r]) > std::abs(f.m[f.a]))) f.a = r;
        if (f.a < 0) return f;
        f.dims = 1;
        double spread = 0.0;
        for (int r = 0; r < n; ++r)
            if (f.m[r] != 0.0 && std::abs(f.t[r] - f.t[f.a]) > spread) {
                spread = std::abs(f.t[r] - f.t[f.a]);
                f.b = r;
            }
        if (f.b >= 0) f.dims = 2;
        return f;
    }

    // Recovers (G3, G1) from a column's terms sgr[r * stride]; false when any beam departs from
    // m_n (G3 + t_n G1) by more than kFormTol (plus the rounding of the larger terms). A term
    // off by kFormTol moves a column's phase by at most 2 pi kFormTol per Angstrom of foil, under
    // 1e-7 for any foil up to 10 um; the models' own rounding is some 1e-16 of the terms.
    static constexpr double kFormTol = 1e-12;
    bool recover(const double* sgr, std::ptrdiff_t stride, double& g3, double& g1) const {
        if (dims == 0) return false;
        const double ra = sgr[a * stride] / m[a];
        g1 = 0.0;
        if (dims == 2) g1 = (ra - sgr[b * stride] / m[b]) / (t[a] - t[b]);
        g3 = ra - t[a] * g1;
        const int n = static_cast<int>(m.size());
        for (int r = 0; r < n; ++r) {
            const double want = m[r] * (g3 + t[r] * g1);
            const double x = sgr[r * stride];
            if (!(std::abs(x - want) <= kFormTol * (1.0 + std::abs(x) + std::abs(want))))
                return false;
        }
        return true;
    }
};

// 4-point Lagrange weights for nodes -1, 0, 1, 2 at fraction f of the interval [0, 1].
inline void cubic_weights(double f, double* w) {
    const double fp = f + 1.0, fm = f - 1.0, f2 = f - 2.0;
    w[0] = -f * fm * f2 / 6.0;
    w[1] = fp * fm * f2 / 2.0;
    w[2] = -fp * f * f2 / 2.0;
    w[3] = fp * f * fm / 6.0;
}

// The grid of one slice thickness: node (k3, k1) at G3 = k3 h3, G1 = k1 h1 for |k3| <= K3,
// |k1| <= K1, each holding S as n^2 real then n^2 imaginary parts (column-major).
struct TransferTable {
    double dz = 0.0;
    double h3 = 0.0, h1 = 1.0;
    int K3 = 0, K1 = 0;
    int n = 0;
    double per_slice = 0.0;
    std::vector<double> nodes;
    // Cells (by their node (k3, k1)) whose interpolant was found off by more than the error
    // allowed: the columns in them are solved exactly. Near an avoided crossing of two
    // eigenvalues the first-order absorption of the two states mixes within a narrow range of
    // the scalar, faster than any node spacing from the smooth bound follows.
    std::vector<unsigned char> rough;
    // With one scalar a rough cell gets a table of its own, kSub times finer: node i at
    // G3 = (k3 + (i - 1) / kSub) h3, i = 0 .. kSub + 2. sub_of[cell] is its first node in
    // sub_nodes, or -1 (solved exactly).
    static constexpr int kSub = 64;
    std::vector<std::ptrdiff_t> sub_of;
    std::vector<double> sub_nodes;

    std::size_t node_size() const { return 2 * static_cast<std::size_t>(n) * n; }
    std::size_t index(int k3, int k1) const {
        return static_cast<std::size_t>((k1 + K1) * (2 * K3 + 1) + (k3 + K3));
    }
    double* node(int k3, int k1) { return nodes.data() + index(k3, k1) * node_size(); }
    const double* node(int k3, int k1) const { return nodes.data() + index(k3, k1) * node_size(); }

    // The spacing: a cubic through four nodes misses a function by at most 9/16 h^4 / 4! times
    // its fourth derivative, and S = exp(i pi dz A) with A's diagonal moving by 2 m_n per unit
    // of a scalar has derivatives bounded by (2 pi dz max|m_n|)^k (max|m_n t_n| for G1). Each
    // scalar gets half of `slice_error`, the error allowed in one slice; the range stops at
    // `max_scalar` or where the table would outgrow `max_bytes` (then `shrunk` is set). `refine`
    // divides the spacing in G3. Returns false when the table had to shrink.
    bool plan(const StrainForm& f, double slice_dz, double slice_error, double max_scalar,
              std::size_t max_bytes, int refine = 1) {
        dz = slice_dz;
        n = static_cast<int>(f.m.size());
        double m3 = 0.0, m1 = 0.0;
        for (std::size_t r = 0; r < f.m.size(); ++r) {
            m3 = std::max(m3, std::abs(f.m[r]));
            m1 = std::max(m1, std::abs(f.m[r] * f.t[r]));
        }
        const double budget = f.dims == 2 ? slice_error / 2.0 : slice_error;
        auto spacing = [&](double mm) {
            const double d = 2.0 * kPi * std::abs(dz) * mm;
            return std::pow(budget / (9.0 / 16.0 / 24.0), 0.25) / std::max(d, 1e-300);
        };
        h3 = spacing(m3) / refine;
        K3 = static_cast<int>(std::min(max_scalar / h3, 1e6)) + 2;
        K1 = 0;
        if (f.dims == 2) {
            h1 = spacing(m1);
            K1 = static_cast<int>(std::min(max_scalar / h1, 1e6)) + 2;
        }
        const auto bytes = [&] {
            return static_cast<double>(2 * K3 + 1) * (2 * K1 + 1) * node_size() * sizeof(double);
        };
        bool whole = true;
        while (bytes() > static_cast<double>(max_bytes) && (K3 > 2 || K1 > 2)) {
            whole = false;
            K3 = std::max(2, K3 * 3 / 4);
            K1 = std::max(f.dims == 2 ? 2 : 0, K1 * 3 / 4);
        }
        nodes.assign(static_cast<std::size_t>(2 * K3 + 1) * (2 * K1 + 1) * node_size(), 0.0);
        rough.assign(static_cast<std::size_t>(2 * K3 + 1) * (2 * K1 + 1), 0);
        sub_of.assign(rough.size(), -1);
        sub_nodes.clear();
        per_slice = slice_error;
        return whole;
    }

    // S at (g3, g1) into sre, sim (n^2 each); false when the stencil leaves the grid.
    template <int N> bool interpolate(double g3, double g1, double* sre, double* sim) const {
        const double u3 = g3 / h3, u1 = g1 / h1;
        if (!(std::abs(u3) < K3 - 2) || !(std::abs(u1) <= std::max(0, K1 - 2))) return false;
        const int k3 = static_cast<int>(std::floor(u3));
        const int k1 = K1 > 0 ? static_cast<int>(std::floor(u1)) : 0;
        const std::size_t cell = index(k3, k1);
        if (!rough[cell]) return interpolate_in<N>(k3, u3 - k3, k1, u1 - k1, sre, sim);
        if (sub_of[cell] < 0) return false;
        const double f = (u3 - k3) * kSub;
        const int j = std::clamp(static_cast<int>(std::floor(f)), 0, kSub - 1);
        sub_interpolate<N>(sub_nodes.data() +
                               sub_of[cell] * static_cast<std::ptrdiff_t>(node_size()),
                           j, f - j, sre, sim);
        return true;
    }

    // S at fraction f of interval j of the sub-table whose node 0 is at `sub`.
    template <int N>
    void sub_interpolate(const double* sub, int j, double f, double* sre, double* sim) const {
        const int nn = (N > 0 ? N * N : n * n);
        double w[4];
        cubic_weights(f, w);
        for (int e = 0; e < nn; ++e) sre[e] = sim[e] = 0.0;
        for (int i = 0; i < 4; ++i) {
            const double* s = sub + static_cast<std::size_t>(j + i) * node_size();
            for (int e = 0; e < nn; ++e) {
                sre[e] += w[i] * s[e];
                sim[e] += w[i] * s[nn + e];
            }
        }
    }

    // S at fractions (f3, f1) of the cell at node (k3, k1).
    template <int N>
    bool interpolate_in(int k3, double f3, int k1, double f1, double* sre, double* sim) const {
        const int nn = (N > 0 ? N * N : n * n);
        double w3[4], w1[4] = {0.0, 1.0, 0.0, 0.0};
        cubic_weights(f3, w3);
        int j0 = 1, j1 = 2;
        if (K1 > 0) {
            cubic_weights(f1, w1);
            j0 = 0;
            j1 = 4;
        }
        for (int e = 0; e < nn; ++e) sre[e] = sim[e] = 0.0;
        for (int j = j0; j < j1; ++j)
            for (int i = 0; i < 4; ++i) {
                const double w = w3[i] * w1[j];
                const double* s = node(k3 + i - 1, k1 + j - 1);
                for (int e = 0; e < nn; ++e) {
                    sre[e] += w * s[e];
                    sim[e] += w * s[nn + e];
                }
            }
        return true;
    }
};

// phi <- S phi for one column (split real and imaginary parts, n beams); y is scratch of 2n.
template <int N>
void apply_transfer(const double* sre, const double* sim, int n_runtime, double* re, double* im,
                    double* y) {
    const int n = N > 0 ? N : n_runtime;
    for (int r = 0; r < n; ++r) y[r] = y[n + r] = 0.0;
    for (int c = 0; c < n; ++c) {
        const double xr = re[c], xi = im[c];
        for (int r = 0; r < n; ++r) {
            const double ar = sre[r + n * c], ai = sim[r + n * c];
            y[r] += ar * xr - ai * xi;
            y[n + r] += ar * xi + ai * xr;
        }
    }
    for (int r = 0; r < n; ++r) {
        re[r] = y[r];
        im[r] = y[n + r];
    }
}

} // namespace korvex::solver
