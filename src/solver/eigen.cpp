#include "solver/eigen.hpp"

#include <cmath>
#include <vector>

namespace korvex {

namespace {

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
double off_diagonal_norm(const double* a, int n) {
    double s = 0.0;
    for (int p = 0; p < n - 1; ++p)
        for (int q = p + 1; q < n; ++q)
            s += a[q + n * p] * a[q + n * p] + a[p + n * q] * a[p + n * q];
    return s;
}

} // namespace

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
    dvoevd_lanes<0, 1>(a.data(), v.data(), n, maxsweep, rel_tol, keep, &sweeps);
    offnorm = off_diagonal_norm(a.data(), n);
    return sweeps;
}

void diagon(int n, Array2<double>& a, Array2<double>& v, Array1<double>& e) {
    double offnorm = 0.0;
    dvoevd(a, v, n, solver::kMaxSweeps, solver::kRelTol, 0, offnorm);
    for (int j = 1; j <= n; ++j) e(j) = a(j, j);
}

void eigensolve_first_order(int n_beams, const Array2<cplx>& h, const Array1<double>& mtx_bg,
                            Array1<cplx>& eigenvalues_h, Array2<cplx>& eigenvectors_h) {
    const int n = n_beams;
    const auto nn = static_cast<std::size_t>(n);
    std::vector<double> a(nn * nn), b(nn * nn), c(nn * nn), bs(nn * nn), q(nn * nn), w(nn * nn),
        scale(nn), inv_scale(nn), weight(nn), t(nn), bq(nn);
    for (std::size_t e = 0; e < nn * nn; ++e) {
        a[e] = h.data()[e].real();
        b[e] = h.data()[e].imag();
    }
    solver::beam_scales(n, mtx_bg.data(), scale.data(), inv_scale.data(), weight.data());
    solver::symmetric_form(n, a.data(), scale.data(), inv_scale.data(), c.data());
    solver::symmetric_form(n, b.data(), scale.data(), inv_scale.data(), bs.data());
    int sweeps = 0;
    solver::jacobi_lanes<0, 1>(c.data(), q.data(), n, solver::kMaxSweeps, solver::kRelTol, &sweeps);
    solver::absorption_diagonal<0, 1>(q.data(), bs.data(), n, t.data(), bq.data());
    solver::eigenvectors_and_inverse<0, 1>(q.data(), inv_scale.data(), weight.data(), n, w.data());
    for (int j = 1; j <= n; ++j) {
        const auto d = static_cast<std::size_t>((j - 1) * (n + 1));
        eigenvalues_h(j) = cplx(c[d], t[static_cast<std::size_t>(j - 1)]);
        for (int r = 1; r <= n; ++r)
            eigenvectors_h(r, j) = cplx(q[static_cast<std::size_t>((r - 1) + n * (j - 1))], 0.0);
    }
}

void two_two_scattering(int n_beams, const Array1<double>& mtx_g, double g, double dz,
                        const Array1<cplx>& eigenvalues_h, const Array2<cplx>& eigenvectors_h,
                        const Array1<double>& mtx_bg, const Vec3& v_g, const Vec3& sf,
                        const Array1<cplx>& phi_in, Array1<cplx>& phi_out) {
    const int n = n_beams;
    const auto nn = static_cast<std::size_t>(n);
    std::vector<double> v(nn * nn), w(nn * nn), wr(nn), wi(nn), dre(nn), dim(nn), coef(nn), re(nn),
        im(nn), yre(nn), yim(nn), scale(nn), inv_scale(nn), weight(nn);
    solver::beam_scales(n, mtx_bg.data(), scale.data(), inv_scale.data(), weight.data());
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            v[r + nn * c] = eigenvectors_h(r + 1, c + 1).real();
            w[r + nn * c] = v[r + nn * c] * weight[r];
        }
        wr[c] = eigenvalues_h(c + 1).real();
        wi[c] = eigenvalues_h(c + 1).imag();
        coef[c] = solver::kTwoPi * (mtx_g(c + 1) / g);
        re[c] = phi_in(c + 1).real();
        im[c] = phi_in(c + 1).imag();
    }
    solver::slice_phases<0, 1>(wr.data(), wi.data(), n, dz, dre.data(), dim.data());
    const double p = v_g[0] * sf[0] + v_g[1] * sf[1] + v_g[2] * sf[2];
    solver::transfer<0, 1>(v.data(), w.data(), dre.data(), dim.data(), coef.data(), &p, n,
                           re.data(), im.data(), yre.data(), yim.data());
    for (int r = 0; r < n; ++r) phi_out(r + 1) = cplx(re[r], im[r]);
}

} // namespace korvex
