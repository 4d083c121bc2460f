// Exact absorption: every slice's transfer matrix is the exponential of the whole complex
// structure matrix, exp(i pi dz H), instead of the first-order treatment of the absorptive part
// (eigenvectors of the real part, eigenvalue corrections from the diagonal of V^T B V).
#pragma once

#include "state/state.hpp"

#include <Eigen/Dense>

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

// Whole-slice form of propagate_slice with exact absorption (flag, shared, voids, the fault
// jump as there; the lateral shift is the caller's). Allocates nothing per slice or column up
// to kExpMaxBeams beams once a thread has run one slice.
void propagate_slice_exact_absorption(State& st, double dz, int& flag, bool shared, bool is_void);

} // namespace solver
} // namespace korvex
