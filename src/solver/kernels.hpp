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
#include <type_traits>
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

// The cyclic rotation method for a real n x n matrix `a` (column-major, overwritten): at each
// pivot pair a shear followed by a plane rotation, so that a non-symmetric matrix with real
// eigenvalues is brought to diagonal form; on a symmetric matrix the shear vanishes and this
// is the classical cyclic Jacobi method. The transformations are accumulated in `v` when
// `keep` is 0 (v starts as the identity); with keep != 0 `v` is not touched. The eigenvalues
// are left on the diagonal in place (no sorting). `rel_tol` scales the pair test by the
// squared Frobenius norm of the entering matrix. Returns the number of sweeps begun; `offnorm`
// receives the sum of squares of the off-diagonal elements on exit.
//
// The order of the steps decides the last digits of the result; it must stay as it is.
template <int N>
int dvoevd_impl(double* a, double* v, int n_runtime, int maxsweep, double rel_tol, int keep,
                double& offnorm) {
    const int n = N > 0 ? N : n_runtime;
    const auto at = [a, n](int r, int c) -> double& { return a[r + n * c]; };

    if (keep == 0) {
        for (int c = 0; c < n; ++c)
            for (int r = 0; r < n; ++r) v[r + n * c] = r == c ? 1.0 : 0.0;
    }
    double fro2 = 0.0;
    for (int e = 0; e < n * n; ++e) fro2 += a[e] * a[e];
    const double thresh = rel_tol * fro2;

    const int idle_reset = n * n - n;
    int idle = idle_reset;
    int sweeps = 0;
    bool done = false;
    while (!done && sweeps < maxsweep) {
        ++sweeps;
        for (int p = 0; p < n - 1 && !done; ++p) {
            for (int q = p + 1; q < n; ++q) {
                // n^2 - n consecutive pairs without a transformation: finished.
                if (--idle < 0) {
                    done = true;
                    break;
                }
                const double alpha = at(p, p), beta = at(q, p), gamma = at(p, q), delta = at(q, q);
                if (beta * beta + gamma * gamma <= thresh) continue;

                // Shear parameter; it vanishes for a symmetric matrix.
                double hsum = 0.0;
                double gsum = 2.0 * (beta * beta + gamma * gamma - alpha * delta);
                for (int m = 0; m < n; ++m) {
                    hsum += at(m, p) * at(m, q) - at(q, m) * at(p, m);
                    gsum += at(m, q) * at(m, q) + at(p, m) * at(p, m);
                }
                if (std::abs(hsum) >= gsum) gsum = std::abs(hsum);
                const double t = hsum / gsum;

                const double p1 = (alpha - delta) - gamma * t;
                const double p2 = gamma * t - p1;
                const double qq = p1 * t + gamma + beta;

                // Plane rotation, unless the off-diagonal part is negligible against the
                // difference of the diagonal elements.
                double s = 0.0, cs = 1.0;
                if (std::abs(qq) >= 1.0 || std::abs(p2) < 1e9 * std::abs(qq)) {
                    const double r = p2 / qq;
                    const double sg = r < 0.0 ? -1.0 : 1.0;
                    const double rr = r + sg * std::sqrt(r * r + 1.0);
                    s = sg / std::sqrt(rr * rr + 1.0);
                    cs = std::sqrt(1.0 - s * s);
                }
                const double e1 = cs * t + s;
                const double e2 = cs - t * s;

                // Rows p and q, then columns p and q (the inverse transformation), so that
                // the step is a similarity transformation.
                for (int m = 0; m < n; ++m) {
                    const double apm = at(p, m), aqm = at(q, m);
                    at(p, m) = e2 * apm - s * aqm;
                    at(q, m) = cs * aqm + e1 * apm;
                }
                for (int m = 0; m < n; ++m) {
                    const double amp = at(m, p), amq = at(m, q);
                    at(m, p) = cs * amp - e1 * amq;
                    at(m, q) = s * amp + e2 * amq;
                }
                if (keep == 0) {
                    double* vp = v + n * p;
                    double* vq = v + n * q;
                    for (int m = 0; m < n; ++m) {
                        const double vmp = vp[m], vmq = vq[m];
                        vp[m] = cs * vmp - e1 * vmq;
                        vq[m] = s * vmp + e2 * vmq;
                    }
                }
                idle = idle_reset;
            }
        }
    }
    offnorm = 0.0;
    for (int p = 0; p < n - 1; ++p)
        for (int q = p + 1; q < n; ++q) offnorm += at(q, p) * at(q, p) + at(p, q) * at(p, q);
    return sweeps;
}

// Imaginary parts of the eigenvalues to first order in the absorption: the diagonal of
// V^T (B V), with B V formed first. `bv` is scratch of n values.
template <int N>
void absorption_diagonal(const double* v, const double* b, int n_runtime, double* tim, double* bv) {
    const int n = N > 0 ? N : n_runtime;
    for (int j = 0; j < n; ++j) {
        const double* vj = v + n * j;
        for (int r = 0; r < n; ++r) bv[r] = 0.0;
        for (int c = 0; c < n; ++c) {
            const double* bc = b + n * c;
            const double vcj = vj[c];
            for (int r = 0; r < n; ++r) bv[r] += bc[r] * vcj;
        }
        double t = 0.0;
        for (int r = 0; r < n; ++r) t += vj[r] * bv[r];
        tim[j] = t;
    }
}

// The matrix W with y = W^T phi = V^-1 phi: V itself (V^-1 taken as the plain transpose),
// except for two beams, where the exact inverse is used, so that the result does not depend
// on the length of the eigenvectors.
template <int N> void inverse_transposed(const double* v, int n_runtime, double* w) {
    const int n = N > 0 ? N : n_runtime;
    if (n == 2) {
        const double det = v[0] * v[3] - v[2] * v[1];
        // V^-1 = [[v22, -v12], [-v21, v11]] / det; W(b, j) = V^-1(j, b).
        w[0] = v[3] / det;
        w[1] = -v[2] / det;
        w[2] = -v[1] / det;
        w[3] = v[0] / det;
    } else {
        for (int e = 0; e < n * n; ++e) w[e] = v[e];
    }
}

// Diagonal of the slice's propagator, exp(i pi gamma_j dz), from the eigenvalues w + i tim.
template <int N>
void slice_phases(const double* w, const double* tim, int n_runtime, double dz, double* dre,
                  double* dim) {
    const int n = N > 0 ? N : n_runtime;
    for (int j = 0; j < n; ++j) {
        const double mag = std::exp(-(kPi * tim[j] * dz));
        const double ang = kPi * w[j] * dz;
        dre[j] = mag * std::cos(ang);
        dim[j] = mag * std::sin(ang);
    }
}

// One column through one slice, in place on (re, im): phi <- V D W^T phi, then every beam
// times exp(i 2 pi m_n (v_g . s_f)), with phase_coef[n] = 2 pi m_n and p = v_g . s_f. `yre`,
// `yim` are scratch of n values.
template <int N>
void transfer(const double* v, const double* w, const double* dre, const double* dim,
              const double* phase_coef, double p, int n_runtime, double* re, double* im,
              double* yre, double* yim) {
    const int n = N > 0 ? N : n_runtime;
    for (int j = 0; j < n; ++j) {
        const double* wj = w + n * j;
        double sr = 0.0, si = 0.0;
        for (int b = 0; b < n; ++b) {
            sr += wj[b] * re[b];
            si += wj[b] * im[b];
        }
        yre[j] = dre[j] * sr - dim[j] * si;
        yim[j] = dre[j] * si + dim[j] * sr;
    }
    for (int r = 0; r < n; ++r) re[r] = im[r] = 0.0;
    for (int j = 0; j < n; ++j) {
        const double* vj = v + n * j;
        const double zr = yre[j], zi = yim[j];
        for (int r = 0; r < n; ++r) {
            re[r] += vj[r] * zr;
            im[r] += vj[r] * zi;
        }
    }
    // exp(0) is exactly 1, so a column without a displacement jump skips the phase.
    if (p != 0.0) {
        for (int r = 0; r < n; ++r) {
            const double th = phase_coef[r] * p;
            const double c = std::cos(th), s = std::sin(th);
            const double xr = re[r], xi = im[r];
            re[r] = xr * c - xi * s;
            im[r] = xr * s + xi * c;
        }
    }
}

// Everything about a slice that every column shares: the column-independent parts of the
// structure matrix, the beam orders and, when one eigen-solution serves all columns, that
// solution with its propagator.
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
        inverse_transposed<N>(v.p(), n, w.p());
        slice_phases<N>(wr.p(), wi.p(), n, dz, dre.p(), dim.p());
    }
};

// Per-thread scratch and operations for one column at a time.
template <int N> class ColumnKernel {
  public:
    // Scratch of a run-time kernel, in doubles.
    static std::size_t doubles_needed(int nb) {
        return 3 * static_cast<std::size_t>(nb) * static_cast<std::size_t>(nb) +
               12 * static_cast<std::size_t>(nb);
    }
    explicit ColumnKernel(const SliceData<N>& sd) : sd_(sd), n_(sd.n) {
        static_assert(N > 0, "a run-time kernel needs its storage");
    }
    ColumnKernel(const SliceData<N>& sd, double* storage) : sd_(sd), n_(sd.n) {
        double* cur = storage;
        a_.bind(cur, n_ * n_);
        v_.bind(cur, n_ * n_);
        w_.bind(cur, n_ * n_);
        for (auto* s : {&wr_, &wi_, &bv_, &dre_, &dim_, &sgr_, &re_, &im_, &yre_, &yim_})
            s->bind(cur, n_);
    }

    int n() const { return n_; }
    // Inputs of a column: its strain terms and amplitudes (split into real and imaginary).
    double* sgr() { return sgr_.p(); }
    const double* sgr_in() const { return sgr_.p(); }
    double* re() { return re_.p(); }
    double* im() { return im_.p(); }

    // Builds the real part of the column's structure matrix from sgr() and solves it:
    // eigenvectors, eigenvalues w + i tim to first order in the absorption, and the
    // propagator of the slice. Returns the sweeps of the rotation method.
    int solve() {
        double* a = a_.p();
        const double* a0 = sd_.a_off.p();
        for (int e = 0; e < n_ * n_; ++e) a[e] = a0[e];
        for (int d = 0; d < n_; ++d) a[d + n_ * d] = 2.0 * (sd_.s_g.p()[d] + sgr_.p()[d]);
        double off = 0.0;
        const int sweeps = dvoevd_impl<N>(a, v_.p(), n_, kMaxSweeps, kRelTol, 0, off);
        for (int d = 0; d < n_; ++d) wr_.p()[d] = a[d + n_ * d];
        absorption_diagonal<N>(v_.p(), sd_.b.p(), n_, wi_.p(), bv_.p());
        inverse_transposed<N>(v_.p(), n_, w_.p());
        slice_phases<N>(wr_.p(), wi_.p(), n_, sd_.dz, dre_.p(), dim_.p());
        return sweeps;
    }

    // Carries re()/im() through the slice with this kernel's own solution (after solve()).
    void transfer_own(double p) {
        transfer<N>(v_.p(), w_.p(), dre_.p(), dim_.p(), sd_.phase_coef.p(), p, n_, re_.p(), im_.p(),
                    yre_.p(), yim_.p());
    }
    // Carries re()/im() through the slice with the solution shared by every column.
    void transfer_shared(double p) {
        transfer<N>(sd_.v.p(), sd_.w.p(), sd_.dre.p(), sd_.dim.p(), sd_.phase_coef.p(), p, n_,
                    re_.p(), im_.p(), yre_.p(), yim_.p());
    }

    const double* eigenvectors() const { return v_.p(); }
    const double* eigenvalues_re() const { return wr_.p(); }
    const double* eigenvalues_im() const { return wi_.p(); }

  private:
    const SliceData<N>& sd_;
    int n_;
    Store<N, N * N> a_, v_, w_;
    Store<N, N> wr_, wi_, bv_, dre_, dim_, sgr_, re_, im_, yre_, yim_;
};

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
