#include "solver/eigen.hpp"

#include <vector>

namespace korvex {

void matrix_h(int n_beams, const Array1<double>& s_g, const double* sgr,
              const Array1<double>& mtx_bg, double ui0, const Array1<double>& u,
              const Array1<double>& ui, Array2<cplx>& h) {
    for (int b = 1; b <= n_beams; ++b) {
        for (int a = 1; a <= n_beams; ++a) {
            if (a == b) {
                h(a, b) = cplx(2.0 * (s_g(a) + sgr[a - 1]), ui0 / mtx_bg(a));
            } else {
                const int m = a > b ? a - b : b - a;
                h(a, b) = cplx(u(m) / mtx_bg(a), ui(m) / mtx_bg(a));
            }
        }
    }
}

int dvoevd(Array2<double>& a, Array2<double>& v, int n, int maxsweep, double rel_tol, int keep,
           double& offnorm) {
    int sweeps = 0;
    solver::dvoevd_lanes<0, 1>(a.data(), v.data(), n, maxsweep, rel_tol, keep, &sweeps);
    offnorm = solver::off_diagonal_norm(a.data(), n);
    return sweeps;
}

void diagon(int n, Array2<double>& a, Array2<double>& v, Array1<double>& e) {
    double offnorm = 0.0;
    dvoevd(a, v, n, solver::kMaxSweeps, solver::kRelTol, 0, offnorm);
    for (int j = 1; j <= n; ++j) e(j) = a(j, j);
}

void diagonalizationeigenmtx(int n_beams, const Array2<cplx>& h, Array1<cplx>& eigenvalues_h,
                             Array2<cplx>& eigenvectors_h) {
    const int n = n_beams;
    Array2<double> a(n, n), b(n, n), v(n, n);
    Array1<double> w(n), t(n), bv(n);
    for (int c = 1; c <= n; ++c) {
        for (int r = 1; r <= n; ++r) {
            a(r, c) = h(r, c).real();
            b(r, c) = h(r, c).imag();
        }
    }
    diagon(n, a, v, w);
    solver::absorption_diagonal<0, 1>(v.data(), b.data(), n, t.data(), bv.data());
    for (int j = 1; j <= n; ++j) {
        eigenvalues_h(j) = cplx(w(j), t(j));
        for (int r = 1; r <= n; ++r) eigenvectors_h(r, j) = cplx(v(r, j), 0.0);
    }
}

void two_two_scattering(int n_beams, const Array1<double>& mtx_g, double g, double dz,
                        const Array1<cplx>& eigenvalues_h, const Array2<cplx>& eigenvectors_h,
                        const Vec3& v_g, const Vec3& sf, const Array1<cplx>& phi_in,
                        Array1<cplx>& phi_out) {
    const int n = n_beams;
    const auto nn = static_cast<std::size_t>(n);
    std::vector<double> v(nn * nn), w(nn * nn), wr(nn), wi(nn), dre(nn), dim(nn), coef(nn), re(nn),
        im(nn), yre(nn), yim(nn);
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) v[r + nn * c] = eigenvectors_h(r + 1, c + 1).real();
        wr[c] = eigenvalues_h(c + 1).real();
        wi[c] = eigenvalues_h(c + 1).imag();
        coef[c] = solver::kTwoPi * (mtx_g(c + 1) / g);
        re[c] = phi_in(c + 1).real();
        im[c] = phi_in(c + 1).imag();
    }
    solver::inverse_transposed<0, 1>(v.data(), n, w.data());
    solver::slice_phases<0, 1>(wr.data(), wi.data(), n, dz, dre.data(), dim.data());
    const double p = v_g[0] * sf[0] + v_g[1] * sf[1] + v_g[2] * sf[2];
    solver::transfer<0, 1>(v.data(), w.data(), dre.data(), dim.data(), coef.data(), &p, n,
                           re.data(), im.data(), yre.data(), yim.data());
    for (int r = 0; r < n; ++r) phi_out(r + 1) = cplx(re[r], im[r]);
}

} // namespace korvex
