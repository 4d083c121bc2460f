// The lane-wise rotation method of the column solver: the symmetric form of a column's
// structure matrix and its diagonalisation by plane rotations, for L columns side by side
// (element e of lane l at x[e * L + l]; see solver/kernels.hpp for the matrices and lanes).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace korvex::solver {

// The lanes of a loop over l are independent by construction: let the compiler put them into
// one vector register without proving it.
#define KORVEX_LANES _Pragma("omp simd")
// Small steps of the per-column path, inlined into the column loop whatever the compiler's
// size heuristics decide (called from several loops, they would otherwise stay calls).
#define KORVEX_HOT [[gnu::always_inline]] inline

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;
// Sweep limit of the rotation method.
inline constexpr int kMaxSweeps = 1000;
// A column's rotations stop when the sum of squares of C's off-diagonal elements is at most
// kRelTol times ||C||_F^2 of the entering matrix: the off-diagonal residue is then about 1e-8
// of the matrix, so the eigenvectors are good to about 1e-8 of the matrix over the eigenvalue
// gaps and the eigenvalues to its square.
inline constexpr double kRelTol = 1e-16;
// Largest beam count with a compile-time kernel.
inline constexpr int kMaxFixedBeams = 10;

// Storage of `Len` doubles: a std::array for a compile-time size, a pointer into storage owned
// by the caller for the run-time size (N = 0).
template <int N, int Len> struct Store {
    std::array<double, Len> s{};
    double* p() { return s.data(); }
    const double* p() const { return s.data(); }
    void bind(double*&, int) {}
};
template <int Len> struct Store<0, Len> {
    double* s = nullptr;
    double* p() { return s; }
    const double* p() const { return s; }
    void bind(double*& cursor, int len) {
        s = cursor;
        cursor += len;
    }
};

// Scales of the symmetric form from the beams' divisors mtx_bg (kg_z): scale = sqrt(bg / bg(1)),
// inv_scale its inverse, weight = bg / bg(1). All exactly 1 when the divisors are equal.
inline void beam_scales(int n, const double* bg, double* scale, double* inv_scale, double* weight) {
    bool equal = true;
    for (int r = 1; r < n; ++r) equal = equal && bg[r] == bg[0];
    for (int r = 0; r < n; ++r) {
        weight[r] = equal ? 1.0 : bg[r] / bg[0];
        scale[r] = equal ? 1.0 : std::sqrt(weight[r]);
        inv_scale[r] = equal ? 1.0 : 1.0 / scale[r];
    }
}

// out = K^1/2 m K^-1/2 for a matrix m whose rows are divided by kg_z, made exactly symmetric
// from the upper triangle; the diagonal is copied.
inline void symmetric_form(int n, const double* m, const double* scale, const double* inv_scale,
                           double* out) {
    for (int c = 0; c < n; ++c) {
        out[c + n * c] = m[c + n * c];
        for (int r = 0; r < c; ++r)
            out[r + n * c] = out[c + n * r] = m[r + n * c] * scale[r] * inv_scale[c];
    }
}

// Cyclic Jacobi rotations on symmetric n x n matrices `a` (column-major, both triangles kept,
// overwritten), one per lane; `v` starts as the identity and accumulates the rotations, so that
// a_in = v diag(a_out) v^T. Before each sweep a lane whose off-diagonal sum of squares is at most
// rel_tol ||a_in||_F^2 is finished; within a sweep a pair whose element is already negligible
// is passed over. Eigenvalues stay on the diagonal in place (no sorting). `sweeps[l]` receives
// the number of sweeps lane l ran.
template <int N, int L>
void jacobi_lanes(double* a, double* v, int n_runtime, int maxsweep, double rel_tol, int* sweeps) {
    const int n = N > 0 ? N : n_runtime;
    const auto el = [=](int r, int c) { return (r + n * c) * L; };
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < n; ++r)
            for (int l = 0; l < L; ++l) v[el(r, c) + l] = r == c ? 1.0 : 0.0;
    double done_at[L], pair_at[L];
    for (int l = 0; l < L; ++l) done_at[l] = 0.0;
    for (int e = 0; e < n * n; ++e)
        for (int l = 0; l < L; ++l) done_at[l] += a[e * L + l] * a[e * L + l];
    for (int l = 0; l < L; ++l) {
        done_at[l] *= rel_tol;
        // A pair this small changes the off-diagonal sum by less than its share of the test.
        pair_at[l] = done_at[l] / (n * n);
        sweeps[l] = 0;
    }
    bool live[L];
    for (int sweep = 1; sweep <= maxsweep; ++sweep) {
        bool any_live = false;
        for (int l = 0; l < L; ++l) {
            double off = 0.0;
            for (int c = 1; c < n; ++c)
                for (int r = 0; r < c; ++r) off += 2.0 * a[el(r, c) + l] * a[el(r, c) + l];
            live[l] = off > done_at[l];
            if (live[l]) sweeps[l] = sweep;
            any_live = any_live || live[l];
        }
        if (!any_live) return;
        for (int p = 0; p < n - 1; ++p) {
            for (int q = p + 1; q < n; ++q) {
                // on[l] is 1 where lane l rotates this pair, 0 where it leaves it.
                double on[L];
                bool any = false;
                for (int l = 0; l < L; ++l) {
                    const double apq = a[el(p, q) + l];
                    on[l] = live[l] && apq * apq > pair_at[l] ? 1.0 : 0.0;
                    any = any || on[l] != 0.0;
                }
                if (!any) continue;
                // t = tan of the rotation angle, the smaller root of t^2 + 2 theta t - 1 = 0.
                // Lanes without a rotation take t = 0, which leaves every element as it is.
                double s[L], tau[L], tpq[L];
                KORVEX_LANES
                for (int l = 0; l < L; ++l) {
                    const double apq = a[el(p, q) + l];
                    const double den = on[l] != 0.0 ? 2.0 * apq : 1.0;
                    const double theta = (a[el(q, q) + l] - a[el(p, p) + l]) / den;
                    const double t0 = std::copysign(1.0, theta) /
                                      (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                    const double t = on[l] != 0.0 ? t0 : 0.0;
                    const double c = 1.0 / std::sqrt(t * t + 1.0);
                    s[l] = t * c;
                    tau[l] = s[l] / (1.0 + c);
                    tpq[l] = t * apq;
                }
                KORVEX_LANES
                for (int l = 0; l < L; ++l) {
                    a[el(p, p) + l] -= tpq[l];
                    a[el(q, q) + l] += tpq[l];
                    const double keep = on[l] != 0.0 ? 0.0 : a[el(p, q) + l];
                    a[el(p, q) + l] = keep;
                    a[el(q, p) + l] = keep;
                }
                for (int r = 0; r < n; ++r) {
                    if (r == p || r == q) continue;
                    double* xp = a + el(r, p);
                    double* xq = a + el(r, q);
                    double* yp = a + el(p, r);
                    double* yq = a + el(q, r);
                    KORVEX_LANES
                    for (int l = 0; l < L; ++l) {
                        const double arp = xp[l], arq = xq[l];
                        const double np = arp - s[l] * (arq + tau[l] * arp);
                        const double nq = arq + s[l] * (arp - tau[l] * arq);
                        xp[l] = yp[l] = np;
                        xq[l] = yq[l] = nq;
                    }
                }
                for (int r = 0; r < n; ++r) {
                    double* xp = v + el(r, p);
                    double* xq = v + el(r, q);
                    KORVEX_LANES
                    for (int l = 0; l < L; ++l) {
                        const double vrp = xp[l], vrq = xq[l];
                        xp[l] = vrp - s[l] * (vrq + tau[l] * vrp);
                        xq[l] = vrq + s[l] * (vrp - tau[l] * vrq);
                    }
                }
            }
        }
    }
}

} // namespace korvex::solver
