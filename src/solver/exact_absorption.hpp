// Exact absorption: every slice's transfer matrix is the exponential of the whole complex
// structure matrix, exp(i pi dz H), instead of the first-order treatment of the absorptive part
// (eigenvectors of the real part, eigenvalue corrections from the diagonal of V^T B V).
#pragma once

#include "solver/kernels.hpp"
#include "state/state.hpp"

#include <Eigen/Dense>

#include <array>
#include <cstddef>
#include <vector>

namespace korvex {

namespace solver {

// Up to this many beams the matrices live inside the workspace (no heap); beyond, on the heap.
inline constexpr int kExpMaxBeams = 16;

// exp(i pi dz H) of a complex n x n matrix H, with the workspace it needs. The eigen path
// (a complex Schur-based eigen-decomposition H = V L V^-1, then V exp(i pi dz L) V^-1) is both
// the fastest and the most accurate for the well-separated eigenvalues a structure matrix
// normally has. Where two eigenvalues nearly coincide the eigenvector matrix becomes
// ill-conditioned (a defective matrix has no eigenvector basis at all) and the error of the
// eigen path grows like eps * cond(V); then Pade approximation with scaling and squaring
// (Eigen's matrix exponential), whose accuracy does not depend on the eigenvectors, takes over.
template <int Max> class SliceExp {
  public:
    using Mat = Eigen::Matrix<cplx, Eigen::Dynamic, Eigen::Dynamic, Eigen::ColMajor, Max, Max>;
    using Vec = Eigen::Matrix<cplx, Eigen::Dynamic, 1, Eigen::ColMajor, Max, 1>;
    // 1-norm condition number of V beyond which the eigen path is not trusted (its error is
    // about 1e-16 times this).
    static constexpr double kMaxCondition = 1e6;

    explicit SliceExp(int n);
    int size() const { return static_cast<int>(h.rows()); }
    // t = exp(i pi dz h); true when the eigen path served, false when the Pade one did.
    bool compute(double dz);

    Mat h, t;         // input and result
    Vec eigenvalues;  // of h, when compute returned true
    Mat eigenvectors; // unit columns, when compute returned true

  private:
    Eigen::ComplexEigenSolver<Mat> ces_;
    Eigen::PartialPivLU<Mat> lu_;
    Mat vinv_, vd_;
};

// The columns of one slice with exact absorption, each solving its own matrix: the structure
// matrix without strain terms is made once, `carry` completes it for column c, takes its
// exponential and carries the column through the slice (then the displacement phase). The
// exact engine and the table engine's columns outside the table share it, so both give the same
// bits. As there, the last column's solution stays in the state. Each thread brings its `Work`.
template <int Max> class ExactColumns {
  public:
    using X = SliceExp<Max>;
    struct Work {
        X& ex; // the thread's workspace
        typename X::Vec x, y;
        explicit Work(int n);
    };
    ExactColumns(State& st, double dz, bool is_void);
    ExactColumns(const ExactColumns&) = delete; // coef_ points into the object
    ExactColumns& operator=(const ExactColumns&) = delete;
    std::ptrdiff_t size() const { return ncol_; }
    // Inside a void the amplitudes pass the slice unchanged.
    bool passes(std::ptrdiff_t c) const { return is_void_ && vacancy_[c] == 0; }
    void carry(std::ptrdiff_t c, Work& w) const;
    // Column c carried by a transfer t made elsewhere (one that serves every column).
    void carry_with(std::ptrdiff_t c, const typename X::Mat& t, Work& w) const;
    // The structure matrix without strain terms, as matrix_h writes it.
    const typename X::Mat& base() const { return h0_; }

  private:
    State& st_;
    double dz_;
    int n_;
    bool is_void_;
    std::ptrdiff_t ncol_;
    cplx* phi_;
    const double *sgr_, *sf_;
    const int* vacancy_;
    Vec3 v_g_;
    typename X::Mat h0_;
    std::array<double, Max == Eigen::Dynamic ? 1 : Max> fixed_coef_{};
    std::vector<double> heap_coef_;
    const double* coef_; // 2 pi mtx_g(n) / g
};

// A table node of the table engine with exact absorption: S = exp(i pi dz H) of the slice in
// `sd` at the strain terms written to sgr(), laid out as a table node (column c: its n complex
// numbers, real and imaginary parts in turn). One per thread.
template <int N> class ExactNode {
  public:
    explicit ExactNode(const SliceData<N>& sd) : sd_(sd), sgr_(sd.n), ex_(sd.n) {}
    double* sgr() { return sgr_.data(); }
    void transfer(double* s) {
        const int n = sd_.n;
        for (int c = 0; c < n; ++c)
            for (int r = 0; r < n; ++r) {
                const int e = r + n * c;
                const double re = r == c ? 2.0 * (sd_.s_g.p()[r] + sgr_[r]) : sd_.a_off.p()[e];
                ex_.h(r, c) = cplx(re, sd_.b.p()[e]);
            }
        ex_.compute(sd_.dz);
        for (int c = 0; c < n; ++c)
            for (int r = 0; r < n; ++r) {
                s[2 * n * c + 2 * r] = ex_.t(r, c).real();
                s[2 * n * c + 2 * r + 1] = ex_.t(r, c).imag();
            }
    }

  private:
    const SliceData<N>& sd_;
    std::vector<double> sgr_;
    SliceExp<N == 0 ? Eigen::Dynamic : kExpMaxBeams> ex_;
};

// Whole-slice form of propagate_slice with exact absorption (flag, shared, voids, the fault
// jump as there; the lateral shift is the caller's). Allocates nothing per slice or column up
// to kExpMaxBeams beams once a thread has run one slice.
void propagate_slice_exact_absorption(State& st, double dz, int& flag, bool shared, bool is_void);

} // namespace solver
} // namespace korvex
