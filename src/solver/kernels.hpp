// Hot-path kernels of the column solver, written once for a compile-time beam count N (2..10)
// and for a run-time count (N = 0).
//
// Real n x n matrices are stored column-major with 0-based indices inside the kernels:
// m[r + n * c] is row r, column c. The structure matrix of a column splits into its real part
// A, which depends on the column only through its diagonal (2 (s_g + s_g_r)), and its
// imaginary (absorptive) part B, which is the same for every column of a beam condition. So
// the off-diagonal part of A and all of B are made once per slice (`SliceData`) and each
// column only writes its diagonal, diagonalises A and forms the first-order absorption.
//
// The eigenvectors of A are real, so the slice transfer is done in real-times-complex
// arithmetic on split real/imaginary vectors: y = V^-1 phi, z = D y, phi' = V z, then the
// displacement phase. That is the product (V D V^-1) phi evaluated right to left.
//
// Nothing here allocates: fixed-size kernels keep their storage in std::array members; the
// run-time kernel works on storage that its caller hands over once.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

namespace korvex::solver {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;
// Sweep limit of the rotation method.
inline constexpr int kMaxSweeps = 1000;
// A pivot pair (p, q) is left alone when A(q,p)^2 + A(p,q)^2 <= kRelTol * ||A||_F^2, with the
// Frobenius norm of the matrix as it enters. The entries of a structure matrix are of order
// 1e-3 per Angstrom, so an absolute bound would stop the method with off-diagonal residues of
// a few percent of the couplings; relative to the matrix the residue is about 1e-8 of it.
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

// Lanes. The rotation method is a long chain of dependent divisions and square roots, so a
// single column leaves most of the processor idle. The kernels below therefore carry L
// independent columns side by side ("lanes"): element e of lane l is stored at x[e * L + l].
// Every lane runs exactly the arithmetic of a lone column, in the same order, and lanes never
// mix, so a column's result does not depend on its neighbours; L = 1 is the plain form.

// The cyclic rotation method for real n x n matrices `a` (column-major, overwritten), one per
// lane: at each pivot pair a shear followed by a plane rotation, so that a non-symmetric matrix
// with real eigenvalues is brought to diagonal form; on a symmetric matrix the shear vanishes
// and this is the classical cyclic Jacobi method. With keep == 0 `v` starts as the identity and
// accumulates the transformations; with keep != 0 it is not touched. The eigenvalues are left
// on the diagonal in place (no sorting). `rel_tol` scales the pair test by the squared
// Frobenius norm of the entering matrix. `sweeps[l]` receives the number of sweeps lane l began.
//
// The order of the steps decides the last digits of the result; it must stay as it is.
template <int N, int L>
void dvoevd_lanes(double* a, double* v, int n_runtime, int maxsweep, double rel_tol, int keep,
                  int* sweeps) {
    const int n = N > 0 ? N : n_runtime;
    const auto el = [n](int r, int c) { return (r + n * c) * L; };

    if (keep == 0) {
        for (int c = 0; c < n; ++c)
            for (int r = 0; r < n; ++r)
                for (int l = 0; l < L; ++l) v[el(r, c) + l] = r == c ? 1.0 : 0.0;
    }
    double thresh[L];
    for (int l = 0; l < L; ++l) thresh[l] = 0.0;
    for (int e = 0; e < n * n; ++e)
        for (int l = 0; l < L; ++l) thresh[l] += a[e * L + l] * a[e * L + l];
    for (int l = 0; l < L; ++l) thresh[l] *= rel_tol;

    // Without a pair there is nothing to transform: every sweep is empty.
    if (n < 2) {
        for (int l = 0; l < L; ++l) sweeps[l] = maxsweep > 0 ? maxsweep : 0;
        return;
    }
    const int idle_reset = n * n - n;
    int idle[L];
    bool live[L];
    int nlive = L;
    for (int l = 0; l < L; ++l) {
        idle[l] = idle_reset;
        live[l] = true;
        sweeps[l] = 0;
    }
    for (int sweep = 1; sweep <= maxsweep && nlive > 0; ++sweep) {
        for (int l = 0; l < L; ++l)
            if (live[l]) sweeps[l] = sweep;
        for (int p = 0; p < n - 1 && nlive > 0; ++p) {
            for (int q = p + 1; q < n && nlive > 0; ++q) {
                bool act[L];
                bool any = false;
                for (int l = 0; l < L; ++l) {
                    act[l] = false;
                    if (!live[l]) continue;
                    // n^2 - n consecutive pairs without a transformation: this lane is done.
                    if (--idle[l] < 0) {
                        live[l] = false;
                        --nlive;
                        continue;
                    }
                    const double beta = a[el(q, p) + l], gamma = a[el(p, q) + l];
                    act[l] = !(beta * beta + gamma * gamma <= thresh[l]);
                    any = any || act[l];
                }
                if (!any) continue;

                // Shear parameter; it vanishes for a symmetric matrix.
                double hsum[L], gsum[L];
                for (int l = 0; l < L; ++l) {
                    const double alpha = a[el(p, p) + l], beta = a[el(q, p) + l],
                                 gamma = a[el(p, q) + l], delta = a[el(q, q) + l];
                    hsum[l] = 0.0;
                    gsum[l] = 2.0 * (beta * beta + gamma * gamma - alpha * delta);
                }
                for (int m = 0; m < n; ++m) {
                    const double* amp = a + el(m, p);
                    const double* amq = a + el(m, q);
                    const double* aqm = a + el(q, m);
                    const double* apm = a + el(p, m);
                    for (int l = 0; l < L; ++l) {
                        hsum[l] += amp[l] * amq[l] - aqm[l] * apm[l];
                        gsum[l] += amq[l] * amq[l] + apm[l] * apm[l];
                    }
                }
                // Each stage runs over all lanes before the next, so that the lanes' chains of
                // divisions and square roots overlap. A lane that takes no rotation computes
                // one anyway and discards it (values of such lanes may be inf or NaN).
                double t[L], p2[L], qq[L], s[L], cs[L], e1[L], e2[L];
                bool rotate[L];
                for (int l = 0; l < L; ++l) {
                    const double alpha = a[el(p, p) + l], beta = a[el(q, p) + l],
                                 gamma = a[el(p, q) + l], delta = a[el(q, q) + l];
                    const double g = std::abs(hsum[l]) >= gsum[l] ? std::abs(hsum[l]) : gsum[l];
                    t[l] = hsum[l] / g;
                    const double p1 = (alpha - delta) - gamma * t[l];
                    p2[l] = gamma * t[l] - p1;
                    qq[l] = p1 * t[l] + gamma + beta;
                    // Plane rotation, unless the off-diagonal part is negligible against the
                    // difference of the diagonal elements.
                    rotate[l] = std::abs(qq[l]) >= 1.0 || std::abs(p2[l]) < 1e9 * std::abs(qq[l]);
                }
                double sg[L], rr[L];
                for (int l = 0; l < L; ++l) {
                    const double r = p2[l] / qq[l];
                    sg[l] = r < 0.0 ? -1.0 : 1.0;
                    rr[l] = r + sg[l] * std::sqrt(r * r + 1.0);
                }
                for (int l = 0; l < L; ++l) s[l] = sg[l] / std::sqrt(rr[l] * rr[l] + 1.0);
                for (int l = 0; l < L; ++l) cs[l] = std::sqrt(1.0 - s[l] * s[l]);
                for (int l = 0; l < L; ++l) {
                    if (!rotate[l]) {
                        s[l] = 0.0;
                        cs[l] = 1.0;
                    }
                    e1[l] = cs[l] * t[l] + s[l];
                    e2[l] = cs[l] - t[l] * s[l];
                }

                // Rows p and q, then columns p and q (the inverse transformation), so that the
                // step is a similarity transformation. Lanes without a transformation keep
                // their values.
                for (int m = 0; m < n; ++m) {
                    double* xp = a + el(p, m);
                    double* xq = a + el(q, m);
                    for (int l = 0; l < L; ++l) {
                        const double apm = xp[l], aqm = xq[l];
                        const double np = e2[l] * apm - s[l] * aqm;
                        const double nq = cs[l] * aqm + e1[l] * apm;
                        xp[l] = act[l] ? np : apm;
                        xq[l] = act[l] ? nq : aqm;
                    }
                }
                for (int m = 0; m < n; ++m) {
                    double* xp = a + el(m, p);
                    double* xq = a + el(m, q);
                    for (int l = 0; l < L; ++l) {
                        const double amp = xp[l], amq = xq[l];
                        const double np = cs[l] * amp - e1[l] * amq;
                        const double nq = s[l] * amp + e2[l] * amq;
                        xp[l] = act[l] ? np : amp;
                        xq[l] = act[l] ? nq : amq;
                    }
                }
                if (keep == 0) {
                    for (int m = 0; m < n; ++m) {
                        double* xp = v + el(m, p);
                        double* xq = v + el(m, q);
                        for (int l = 0; l < L; ++l) {
                            const double vmp = xp[l], vmq = xq[l];
                            const double np = cs[l] * vmp - e1[l] * vmq;
                            const double nq = s[l] * vmp + e2[l] * vmq;
                            xp[l] = act[l] ? np : vmp;
                            xq[l] = act[l] ? nq : vmq;
                        }
                    }
                }
                for (int l = 0; l < L; ++l)
                    if (act[l]) idle[l] = idle_reset;
            }
        }
    }
}

// Sum of squares of the off-diagonal elements of a plain (one-lane) matrix.
inline double off_diagonal_norm(const double* a, int n) {
    double s = 0.0;
    for (int p = 0; p < n - 1; ++p)
        for (int q = p + 1; q < n; ++q)
            s += a[q + n * p] * a[q + n * p] + a[p + n * q] * a[p + n * q];
    return s;
}

// Imaginary parts of the eigenvalues to first order in the absorption: the diagonal of
// V^T (B V), with B V formed first. B (plain, shared by the lanes); `bv` is scratch of n lanes.
template <int N, int L>
void absorption_diagonal(const double* v, const double* b, int n_runtime, double* tim, double* bv) {
    const int n = N > 0 ? N : n_runtime;
    for (int j = 0; j < n; ++j) {
        const double* vj = v + n * j * L;
        for (int r = 0; r < n * L; ++r) bv[r] = 0.0;
        for (int c = 0; c < n; ++c) {
            const double* bc = b + n * c;
            for (int r = 0; r < n; ++r)
                for (int l = 0; l < L; ++l) bv[r * L + l] += bc[r] * vj[c * L + l];
        }
        double t[L];
        for (int l = 0; l < L; ++l) t[l] = 0.0;
        for (int r = 0; r < n; ++r)
            for (int l = 0; l < L; ++l) t[l] += vj[r * L + l] * bv[r * L + l];
        for (int l = 0; l < L; ++l) tim[j * L + l] = t[l];
    }
}

// The matrix W with y = W^T phi = V^-1 phi: V itself (V^-1 taken as the plain transpose),
// except for two beams, where the exact inverse is used, so that the result does not depend
// on the length of the eigenvectors.
template <int N, int L> void inverse_transposed(const double* v, int n_runtime, double* w) {
    const int n = N > 0 ? N : n_runtime;
    if (n == 2) {
        for (int l = 0; l < L; ++l) {
            const double v11 = v[l], v21 = v[L + l], v12 = v[2 * L + l], v22 = v[3 * L + l];
            const double det = v11 * v22 - v12 * v21;
            // V^-1 = [[v22, -v12], [-v21, v11]] / det; W(b, j) = V^-1(j, b).
            w[l] = v22 / det;
            w[L + l] = -v12 / det;
            w[2 * L + l] = -v21 / det;
            w[3 * L + l] = v11 / det;
        }
    } else {
        for (int e = 0; e < n * n * L; ++e) w[e] = v[e];
    }
}

// Diagonal of the slice's propagator, exp(i pi gamma_j dz), from the eigenvalues w + i tim.
template <int N, int L>
void slice_phases(const double* w, const double* tim, int n_runtime, double dz, double* dre,
                  double* dim) {
    const int n = N > 0 ? N : n_runtime;
    for (int e = 0; e < n * L; ++e) {
        const double mag = std::exp(-(kPi * tim[e] * dz));
        const double ang = kPi * w[e] * dz;
        dre[e] = mag * std::cos(ang);
        dim[e] = mag * std::sin(ang);
    }
}

// Columns through one slice, in place on (re, im): phi <- V D W^T phi, then every beam times
// exp(i 2 pi m_n (v_g . s_f)), with phase_coef[n] = 2 pi m_n (plain, shared) and p[l] = v_g . s_f
// of lane l. `yre`, `yim` are scratch of n lanes.
template <int N, int L>
void transfer(const double* v, const double* w, const double* dre, const double* dim,
              const double* phase_coef, const double* p, int n_runtime, double* re, double* im,
              double* yre, double* yim) {
    const int n = N > 0 ? N : n_runtime;
    for (int j = 0; j < n; ++j) {
        const double* wj = w + n * j * L;
        double sr[L], si[L];
        for (int l = 0; l < L; ++l) sr[l] = si[l] = 0.0;
        for (int b = 0; b < n; ++b)
            for (int l = 0; l < L; ++l) {
                sr[l] += wj[b * L + l] * re[b * L + l];
                si[l] += wj[b * L + l] * im[b * L + l];
            }
        for (int l = 0; l < L; ++l) {
            const int e = j * L + l;
            yre[e] = dre[e] * sr[l] - dim[e] * si[l];
            yim[e] = dre[e] * si[l] + dim[e] * sr[l];
        }
    }
    for (int e = 0; e < n * L; ++e) re[e] = im[e] = 0.0;
    for (int j = 0; j < n; ++j) {
        const double* vj = v + n * j * L;
        for (int r = 0; r < n; ++r)
            for (int l = 0; l < L; ++l) {
                re[r * L + l] += vj[r * L + l] * yre[j * L + l];
                im[r * L + l] += vj[r * L + l] * yim[j * L + l];
            }
    }
    // exp(0) is exactly 1, so a column without a displacement jump skips the phase.
    for (int l = 0; l < L; ++l) {
        if (p[l] == 0.0) continue;
        for (int r = 0; r < n; ++r) {
            const double th = phase_coef[r] * p[l];
            const double c = std::cos(th), s = std::sin(th);
            const double xr = re[r * L + l], xi = im[r * L + l];
            re[r * L + l] = xr * c - xi * s;
            im[r * L + l] = xr * s + xi * c;
        }
    }
}

// Everything about a slice that every column shares: the column-independent parts of the
// structure matrix, the beam orders and, when one eigen-solution serves all columns, that
// solution with its propagator. Plain (one-lane) storage.
template <int N> struct SliceData {
    int n = N;
    double dz = 0.0;
    std::array<double, 3> v_g{};
    Store<N, N * N> a_off;  // real part of h with a zero diagonal: u(|a-b|) / mtx_bg(a)
    Store<N, N * N> b;      // imaginary part of h: ui(|a-b|) / mtx_bg(a), ui0 on the diagonal
    Store<N, N> s_g;        // excitation errors
    Store<N, N> phase_coef; // 2 pi m_n
    Store<N, N * N> v, w;   // shared eigenvectors and W (see inverse_transposed)
    Store<N, N> wr, wi;     // shared eigenvalues
    Store<N, N> dre, dim;   // shared propagator diagonal

    // Doubles of caller storage a run-time instance needs.
    static std::size_t doubles_needed(int nb) {
        return 4 * static_cast<std::size_t>(nb) * static_cast<std::size_t>(nb) +
               6 * static_cast<std::size_t>(nb);
    }
    // Points a run-time instance at `storage` (at least doubles_needed(nb) values).
    void bind(double* storage, int nb) {
        n = nb;
        double* cur = storage;
        a_off.bind(cur, nb * nb);
        b.bind(cur, nb * nb);
        v.bind(cur, nb * nb);
        w.bind(cur, nb * nb);
        s_g.bind(cur, nb);
        phase_coef.bind(cur, nb);
        wr.bind(cur, nb);
        wi.bind(cur, nb);
        dre.bind(cur, nb);
        dim.bind(cur, nb);
    }

    // Completes the shared solution once v, wr and wi hold it: W and the propagator.
    void set_shared_propagator() {
        inverse_transposed<N, 1>(v.p(), n, w.p());
        slice_phases<N, 1>(wr.p(), wi.p(), n, dz, dre.p(), dim.p());
    }
};

// Per-thread scratch and operations for L columns at a time (lane layout, see above).
template <int N, int L> class BatchKernel {
  public:
    static constexpr int lanes = L;
    // Scratch of a run-time kernel, in doubles.
    static std::size_t doubles_needed(int nb) {
        return (3 * static_cast<std::size_t>(nb) * static_cast<std::size_t>(nb) +
                10 * static_cast<std::size_t>(nb)) *
               L;
    }
    explicit BatchKernel(const SliceData<N>& sd) : sd_(sd), n_(sd.n) {
        static_assert(N > 0, "a run-time kernel needs its storage");
    }
    BatchKernel(const SliceData<N>& sd, double* storage) : sd_(sd), n_(sd.n) {
        double* cur = storage;
        a_.bind(cur, n_ * n_ * L);
        v_.bind(cur, n_ * n_ * L);
        w_.bind(cur, n_ * n_ * L);
        for (auto* s : {&wr_, &wi_, &bv_, &dre_, &dim_, &sgr_, &re_, &im_, &yre_, &yim_})
            s->bind(cur, n_ * L);
    }

    int n() const { return n_; }
    // Inputs of the columns, beam r of lane l at [r * L + l]: strain terms and amplitudes
    // (split into real and imaginary parts).
    double* sgr() { return sgr_.p(); }
    const double* sgr() const { return sgr_.p(); }
    double* re() { return re_.p(); }
    double* im() { return im_.p(); }

    // Builds the real part of each lane's structure matrix from sgr() and solves it:
    // eigenvectors, eigenvalues w + i tim to first order in the absorption, and the
    // propagator of the slice. `sweeps` (L values, optional) receives the sweeps of each lane.
    void solve(int* sweeps = nullptr) {
        double* a = a_.p();
        const double* a0 = sd_.a_off.p();
        const double* sg = sd_.s_g.p();
        const double* sgr = sgr_.p();
        for (int e = 0; e < n_ * n_; ++e)
            for (int l = 0; l < L; ++l) a[e * L + l] = a0[e];
        for (int d = 0; d < n_; ++d)
            for (int l = 0; l < L; ++l) a[(d + n_ * d) * L + l] = 2.0 * (sg[d] + sgr[d * L + l]);
        int sw[L];
        dvoevd_lanes<N, L>(a, v_.p(), n_, kMaxSweeps, kRelTol, 0, sw);
        if (sweeps)
            for (int l = 0; l < L; ++l) sweeps[l] = sw[l];
        for (int d = 0; d < n_; ++d)
            for (int l = 0; l < L; ++l) wr_.p()[d * L + l] = a[(d + n_ * d) * L + l];
        absorption_diagonal<N, L>(v_.p(), sd_.b.p(), n_, wi_.p(), bv_.p());
        inverse_transposed<N, L>(v_.p(), n_, w_.p());
        slice_phases<N, L>(wr_.p(), wi_.p(), n_, sd_.dz, dre_.p(), dim_.p());
    }

    // Carries re()/im() through the slice with the lanes' own solutions (after solve());
    // p[l] = v_g . s_f of lane l.
    void transfer_own(const double* p) {
        transfer<N, L>(v_.p(), w_.p(), dre_.p(), dim_.p(), sd_.phase_coef.p(), p, n_, re_.p(),
                       im_.p(), yre_.p(), yim_.p());
    }
    // Carries a single column (L = 1) through the slice with the solution every column shares.
    void transfer_shared(double p) {
        static_assert(L == 1, "the shared solution is applied one column at a time");
        transfer<N, 1>(sd_.v.p(), sd_.w.p(), sd_.dre.p(), sd_.dim.p(), sd_.phase_coef.p(), &p, n_,
                       re_.p(), im_.p(), yre_.p(), yim_.p());
    }

    // Lane l's solution: eigenvector element (r, c), eigenvalue j.
    double eigenvector(int r, int c, int l) const { return v_.p()[(r + n_ * c) * L + l]; }
    double eigenvalue_re(int j, int l) const { return wr_.p()[j * L + l]; }
    double eigenvalue_im(int j, int l) const { return wi_.p()[j * L + l]; }

  private:
    const SliceData<N>& sd_;
    int n_;
    Store<N, N * N * L> a_, v_, w_;
    Store<N, N * L> wr_, wi_, bv_, dre_, dim_, sgr_, re_, im_, yre_, yim_;
};

// One column at a time.
template <int N> using ColumnKernel = BatchKernel<N, 1>;

// Columns carried together by the slice loop.
inline constexpr int kLanes = 4;

// Calls f.template operator()<N>() with N the compile-time beam count for 2..10 and N = 0
// (the run-time kernel) for any other count.
template <class F> decltype(auto) with_beam_count(int n, F&& f) {
    switch (n) {
    case 2:
        return std::forward<F>(f).template operator()<2>();
    case 3:
        return std::forward<F>(f).template operator()<3>();
    case 4:
        return std::forward<F>(f).template operator()<4>();
    case 5:
        return std::forward<F>(f).template operator()<5>();
    case 6:
        return std::forward<F>(f).template operator()<6>();
    case 7:
        return std::forward<F>(f).template operator()<7>();
    case 8:
        return std::forward<F>(f).template operator()<8>();
    case 9:
        return std::forward<F>(f).template operator()<9>();
    case 10:
        return std::forward<F>(f).template operator()<10>();
    default:
        return std::forward<F>(f).template operator()<0>();
    }
}

} // namespace korvex::solver
