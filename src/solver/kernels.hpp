// Hot-path kernels of the column solver, written once for a compile-time beam count N (2..10)
// and for a run-time count (N = 0).
//
// Real n x n matrices are stored column-major with 0-based indices inside the kernels:
// m[r + n * c] is row r, column c. The structure matrix of a column splits into its real part
// A, which depends on the column only through its diagonal (2 (s_g + s_g_r)), and its
// imaginary (absorptive) part B, which is the same for every column of a beam condition.
//
// Each row of the structure matrix is divided by its beam's wave-vector component kg_z(a), so
// A = K^-1 S with K = diag(kg_z) and S symmetric: A is a diagonal similarity of the symmetric
// C = K^1/2 A K^-1/2, whose off-diagonal elements are u(|a-b|) / sqrt(kg_z(a) kg_z(b)) and
// whose diagonal is A's. The kernels diagonalise C by plane rotations, C = Q diag(w) Q^T with
// Q orthogonal, so that A = V diag(w) V^-1 with V = K^-1/2 Q and V^-1 = Q^T K^1/2 exactly,
// whatever the tilts of the beams. The absorption enters to first order as the diagonal of
// Q^T (K^1/2 B K^-1/2) Q. With the column approximation all kg_z are equal, the scale is 1
// and C = A. (K is used relative to the first beam's kg_z; a common factor cancels.)
//
// The off-diagonal part of C and all of B are made once per slice (`SliceData`); each column
// only writes its diagonal, diagonalises C and forms the first-order absorption. The
// eigenvectors are real, so the slice transfer is done in real-times-complex arithmetic on
// split real/imaginary vectors: y = V^-1 phi, z = D y, phi' = V z, then the displacement
// phase.
//
// Lanes. The rotation method is a long chain of dependent divisions and square roots, so a
// single column leaves most of the processor idle. The kernels therefore carry L independent
// columns side by side ("lanes"): element e of lane l is stored at x[e * L + l]. Every lane
// runs exactly the arithmetic of a lone column, in the same order, and lanes never mix, so a
// column's result does not depend on its neighbours; L = 1 is the plain form.
//
// Nothing here allocates: fixed-size kernels keep their storage in std::array members; the
// run-time kernel works on storage that its caller hands over once.
#pragma once

#include "solver/fast_math.hpp"
#include "solver/rotations.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <utility>
namespace korvex::solver {

// Imaginary parts of the eigenvalues to first order in the absorption: the diagonal of
// Q^T (B Q), with B Q formed first. B (plain, shared by the lanes); `bq` is scratch of n lanes.
template <int N, int L>
void absorption_diagonal(const double* q, const double* b, int n_runtime, double* tim, double* bq) {
    const int n = N > 0 ? N : n_runtime;
    for (int j = 0; j < n; ++j) {
        const double* qj = q + n * j * L;
        for (int r = 0; r < n * L; ++r) bq[r] = 0.0;
        for (int c = 0; c < n; ++c) {
            const double* bc = b + n * c;
            for (int r = 0; r < n; ++r)
                for (int l = 0; l < L; ++l) bq[r * L + l] += bc[r] * qj[c * L + l];
        }
        double t[L];
        for (int l = 0; l < L; ++l) t[l] = 0.0;
        for (int r = 0; r < n; ++r)
            for (int l = 0; l < L; ++l) t[l] += qj[r * L + l] * bq[r * L + l];
        for (int l = 0; l < L; ++l) tim[j * L + l] = t[l];
    }
}

// From Q: the eigenvectors of A, v = K^-1/2 Q (row r times inv_scale[r]), and W with
// y = W^T phi = V^-1 phi, w = v K (row r times weight[r] = kg_z(r) / kg_z(1)), in place of q.
template <int N, int L>
void eigenvectors_and_inverse(double* q, const double* inv_scale, const double* weight,
                              int n_runtime, double* w) {
    const int n = N > 0 ? N : n_runtime;
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < n; ++r)
            for (int l = 0; l < L; ++l) {
                const int e = (r + n * c) * L + l;
                q[e] *= inv_scale[r];
                w[e] = q[e] * weight[r];
            }
}

// Diagonal of the slice's propagator, exp(i pi gamma_j dz), from the eigenvalues w + i tim.
template <int N, int L>
void slice_phases(const double* w, const double* tim, int n_runtime, double dz, double* dre,
                  double* dim) {
    const int n = N > 0 ? N : n_runtime;
    KORVEX_LANES
    for (int e = 0; e < n * L; ++e) {
        const double mag = exp_reduced(-(kPi * tim[e] * dz));
        double s = 0.0, c = 0.0;
        sin_cos(kPi * w[e] * dz, s, c);
        dre[e] = mag * c;
        dim[e] = mag * s;
    }
    // Arguments beyond the reductions' range (none in practice) take the C library's values.
    for (int e = 0; e < n * L; ++e) {
        const double y = -(kPi * tim[e] * dz), ang = kPi * w[e] * dz;
        if (!(std::abs(ang) <= kTrigMax) || !(std::abs(y) <= kExpMax)) {
            const double mag = std::exp(y);
            dre[e] = mag * std::cos(ang);
            dim[e] = mag * std::sin(ang);
        }
    }
}

// The displacement phase: every beam r of lane l times exp(i phase_coef[r] p[l]). exp(0) is
// exactly 1, so a column without a displacement jump skips it.
template <int L>
void jump_phase(const double* phase_coef, const double* p, int n, double* re, double* im) {
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

// Columns through one slice, in place on (re, im): phi <- V D W^T phi, then the displacement
// phase with phase_coef[n] = 2 pi m_n (plain, shared) and p[l] = v_g . s_f of lane l. `yre`,
// `yim` are scratch of n lanes.
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
    jump_phase<L>(phase_coef, p, n, re, im);
}

// Everything about a slice that every column shares: the column-independent parts of the
// structure matrix, its symmetric form, the beam orders and, when one eigen-solution serves all
// columns, that solution with its propagator. Plain (one-lane) storage.
template <int N> struct SliceData {
    int n = N;
    double dz = 0.0;
    std::array<double, 3> v_g{};
    Store<N, N * N> a_off;      // real part of h with a zero diagonal: u(|a-b|) / mtx_bg(a)
    Store<N, N * N> b;          // imaginary part of h: ui(|a-b|) / mtx_bg(a), ui0 on the diagonal
    Store<N, N * N> c_off, b_s; // their symmetric forms K^1/2 (.) K^-1/2
    Store<N, N> s_g;            // excitation errors
    Store<N, N> phase_coef;     // 2 pi m_n
    Store<N, N> scale;          // sqrt(kg_z(n) / kg_z(1)), 1 with the column approximation
    Store<N, N> inv_scale;      // its inverse
    Store<N, N> weight;         // kg_z(n) / kg_z(1), 1 with the column approximation
    Store<N, N * N> v, w;       // shared eigenvectors and W (see eigenvectors_and_inverse)
    Store<N, N> wr, wi;         // shared eigenvalues
    Store<N, N> dre, dim;       // shared propagator diagonal

    // Doubles of caller storage a run-time instance needs.
    static std::size_t doubles_needed(int nb) {
        return 6 * static_cast<std::size_t>(nb) * static_cast<std::size_t>(nb) +
               9 * static_cast<std::size_t>(nb);
    }
    // Points a run-time instance at `storage` (at least doubles_needed(nb) values).
    void bind(double* storage, int nb) {
        n = nb;
        double* cur = storage;
        for (auto* s : {&a_off, &b, &c_off, &b_s, &v, &w}) s->bind(cur, nb * nb);
        for (auto* s : {&s_g, &phase_coef, &scale, &inv_scale, &weight, &wr, &wi, &dre, &dim})
            s->bind(cur, nb);
    }

    // Completes the shared solution once v holds the eigenvectors V of A and wr, wi the
    // eigenvalues: W = V K (rows times weight) and the propagator.
    void set_shared_propagator() {
        for (int c = 0; c < n; ++c)
            for (int r = 0; r < n; ++r) w.p()[r + n * c] = v.p()[r + n * c] * weight.p()[r];
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

    // Builds each lane's symmetric matrix C from sgr() and solves it: eigenvectors, eigenvalues
    // w + i tim to first order in the absorption, and the propagator of the slice. `sweeps`
    // (L values, optional) receives the sweeps of each lane.
    void solve(int* sweeps = nullptr) {
        double* a = a_.p();
        const double* c0 = sd_.c_off.p();
        const double* sg = sd_.s_g.p();
        const double* sgr = sgr_.p();
        for (int e = 0; e < n_ * n_; ++e)
            for (int l = 0; l < L; ++l) a[e * L + l] = c0[e];
        for (int d = 0; d < n_; ++d)
            for (int l = 0; l < L; ++l) a[(d + n_ * d) * L + l] = 2.0 * (sg[d] + sgr[d * L + l]);
        int sw[L];
        jacobi_lanes<N, L>(a, v_.p(), n_, kMaxSweeps, kRelTol, sw);
        if (sweeps)
            for (int l = 0; l < L; ++l) sweeps[l] = sw[l];
        for (int d = 0; d < n_; ++d)
            for (int l = 0; l < L; ++l) wr_.p()[d * L + l] = a[(d + n_ * d) * L + l];
        absorption_diagonal<N, L>(v_.p(), sd_.b_s.p(), n_, wi_.p(), bv_.p());
        eigenvectors_and_inverse<N, L>(v_.p(), sd_.inv_scale.p(), sd_.weight.p(), n_, w_.p());
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

    // Lane l's solution: eigenvector element (r, c) of A, V^-1 element (c, r), eigenvalue j.
    double eigenvector(int r, int c, int l) const { return v_.p()[(r + n_ * c) * L + l]; }
    double inverse_t(int r, int c, int l) const { return w_.p()[(r + n_ * c) * L + l]; }
    double eigenvalue_re(int j, int l) const { return wr_.p()[j * L + l]; }
    double eigenvalue_im(int j, int l) const { return wi_.p()[j * L + l]; }
    double prop_re(int j, int l) const { return dre_.p()[j * L + l]; }
    double prop_im(int j, int l) const { return dim_.p()[j * L + l]; }

  private:
    const SliceData<N>& sd_;
    int n_;
    Store<N, N * N * L> a_, v_, w_;
    Store<N, N * L> wr_, wi_, bv_, dre_, dim_, sgr_, re_, im_, yre_, yim_;
};

// One column at a time.
template <int N> using ColumnKernel = BatchKernel<N, 1>;

// Columns carried together by the slice loop. The rotations are a chain of dependent divisions
// and square roots; lanes in two vector registers of AVX2 (or four of SSE2) give the processor
// two independent chains to interleave (a fifth faster per column than one register, measured;
// four registers gain nothing more). With AVX-512 one register holds them.
inline constexpr int kLanes = 8;

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
