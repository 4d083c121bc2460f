// The structure matrix of one column and its eigen-solution, and one column's passage through
// a slice, as plain routines on the state's array types (1-based). They are the reference form
// of the solver: the slice loop runs the same arithmetic through the kernels of
// solver/kernels.hpp, so both give the same bits.
#pragma once

#include "solver/kernels.hpp"
#include "state/state.hpp"

namespace korvex {

// The complex structure matrix of a column: off the diagonal (u(|a-b|) + i ui(|a-b|)) /
// mtx_bg(a) (each row divided by its own beam's wave-vector component, so h is symmetric only
// when all of them are equal); on the diagonal 2 (s_g(a) + sgr(a)) + i ui0 / mtx_bg(a).
// `sgr` holds the column's strain terms s_g_r(i, j, 1..n_beams). h must be n_beams square.
void matrix_h(int n_beams, const Array1<double>& s_g, const double* sgr,
              const Array1<double>& mtx_bg, double ui0, const Array1<double>& u,
              const Array1<double>& ui, Array2<cplx>& h);

// Eigen-solution of h with the absorption to first order, through the symmetric form
// K^1/2 A K^-1/2 (K = diag(mtx_bg), A the real part of h; see solver/kernels.hpp): eigenvalue j
// is w_j + i (Q^T K^1/2 B K^-1/2 Q)_jj (diagonal order, no sorting); eigenvector j is column j
// of V = K^-1/2 Q, a true eigenvector of A, with a zero imaginary part. h is left unchanged.
void eigensolve_first_order(int n_beams, const Array2<cplx>& h, const Array1<double>& mtx_bg,
                            Array1<cplx>& eigenvalues_h, Array2<cplx>& eigenvectors_h);

// Eigen-decomposition of a general real n x n matrix a (overwritten) by `dvoevd` with the sweep
// limit and relative pair test of the solver: eigenvectors into the columns of v, eigenvalues
// (the final diagonal of a) into e.
void diagon(int n, Array2<double>& a, Array2<double>& v, Array1<double>& e);

// The shear-and-rotation method for a general real matrix with real eigenvalues (a cyclic
// Jacobi-type method; on a symmetric matrix the shear vanishes). `rel_tol` scales the pair test
// by ||a||_F^2 of the entering matrix. Returns the number of sweeps begun.
int dvoevd(Array2<double>& a, Array2<double>& v, int n, int maxsweep, double rel_tol, int keep,
           double& offnorm);

// One column through a slice of thickness dz: phi_out = V D V^-1 phi_in with
// D = diag(exp(i pi gamma_j dz)) and V^-1 = V^T K (exact for the eigenvectors of
// eigensolve_first_order), then beam n times exp(i 2 pi (mtx_g(n) / g) (v_g . sf)).
void two_two_scattering(int n_beams, const Array1<double>& mtx_g, double g, double dz,
                        const Array1<cplx>& eigenvalues_h, const Array2<cplx>& eigenvectors_h,
                        const Array1<double>& mtx_bg, const Vec3& v_g, const Vec3& sf,
                        const Array1<cplx>& phi_in, Array1<cplx>& phi_out);

// Fills the column-independent members of `sd` (matrix parts and their symmetric forms,
// scales, excitation errors, beam orders, dz, v_g) from the state. A run-time instance (N = 0)
// must be bound first.
template <int N> void prepare_slice_data(const State& st, double dz, solver::SliceData<N>& sd) {
    const int n = sd.n;
    sd.dz = dz;
    sd.v_g = st.v_g;
    double* a0 = sd.a_off.p();
    double* b = sd.b.p();
    for (int c = 1; c <= n; ++c) {
        for (int r = 1; r <= n; ++r) {
            const int e = (r - 1) + n * (c - 1);
            if (r == c) {
                a0[e] = 0.0;
                b[e] = st.ui0 / st.mtx_bg(r);
            } else {
                const int m = r > c ? r - c : c - r;
                a0[e] = st.u(m) / st.mtx_bg(r);
                b[e] = st.ui(m) / st.mtx_bg(r);
            }
        }
        sd.s_g.p()[c - 1] = st.s_g(c);
        sd.phase_coef.p()[c - 1] = solver::kTwoPi * (st.mtx_g(c) / st.g);
    }
    solver::beam_scales(n, st.mtx_bg.data(), sd.scale.p(), sd.inv_scale.p(), sd.weight.p());
    solver::symmetric_form(n, a0, sd.scale.p(), sd.inv_scale.p(), sd.c_off.p());
    solver::symmetric_form(n, b, sd.scale.p(), sd.inv_scale.p(), sd.b_s.p());
}

} // namespace korvex
