// Structure matrix and its eigen-solution.
#include "solver/fixture.hpp"
#include "support/testing.hpp"

#include <algorithm>

using namespace korvex::testing;

namespace {

Array2<double> from_rows(int n, std::initializer_list<double> rows) {
    Array2<double> a(n, n);
    auto it = rows.begin();
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) a(r, c) = *it++;
    return a;
}

// max |A V - V diag(e)| relative to the Frobenius norm of A.
double eigen_residual(const Array2<double>& a, const Array2<double>& v, const Array1<double>& e) {
    const int n = a.n1();
    double worst = 0.0, fro = 0.0;
    for (int c = 1; c <= n; ++c)
        for (int r = 1; r <= n; ++r) {
            double s = 0.0;
            for (int m = 1; m <= n; ++m) s += a(r, m) * v(m, c);
            worst = std::max(worst, std::abs(s - v(r, c) * e(c)));
            fro += a(r, c) * a(r, c);
        }
    return worst / std::sqrt(fro);
}

} // namespace

// Non-symmetric matrix of tilted beams: the shear steps still reach the eigen-solution.
TEST(EigenSolution, ShearStepsPairTestAndIdleCounter) {
    State st = make_state({.first = -3, .last = 4, .ca = "no", .f_g = 3.0});
    const int n = 8;
    Array2<cplx> h(n, n);
    const std::vector<double> sgr(n, 0.001);
    matrix_h(n, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, h);
    Array2<double> a(n, n), v(n, n);
    for (std::size_t k = 0; k < a.size(); ++k) a.data()[k] = h.data()[k].real();
    const Array2<double> a0 = a;
    Array1<double> e(n);
    diagon(n, a, v, e);
    EXPECT_LT(eigen_residual(a0, v, e), 1e-8);

    // The pair test is relative to the matrix: scaled down to 1e-5 (squares below any absolute test
    // of 1e-8) the matrix is solved exactly as the original. A zero matrix ends after n^2 - n idle
    // pairs and one more; a rotation block (qq and p2 both zero) is left untouched.
    Array2<double> pa(3, 3), pb(3, 3), pv(3, 3), one = from_rows(3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    double off_a = -1.0, off_b = -1.0;
    auto solve = [&](std::initializer_list<double> rows, double scale, Array2<double>& x,
                     double& off) {
        x = from_rows(3, rows);
        for (std::size_t k = 0; k < x.size(); ++k) x.data()[k] *= scale;
        return dvoevd(x, pv, 3, 1000, 1e-16, 0, off);
    };
    const auto m = {3.0, 0.5, 0.2, 0.5, 1.0, 0.3, 0.2, 0.3, 2.0};
    const double fro2 = 14.76; // the sum of the squares of m
    const int sweeps = solve(m, 1.0, pa, off_a);
    EXPECT_GT(sweeps, 3);
    EXPECT_EQ(solve(m, 1e-5, pb, off_b), sweeps);
    EXPECT_TRUE(off_a <= 3e-16 * fro2 && off_b <= 3e-26 * fro2) << off_a << " " << off_b;
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(pb(j, j) / 1e-5, pa(j, j), 1e-13);
    EXPECT_EQ(solve({0, 0, 0, 0, 0, 0, 0, 0, 0}, 1.0, pa, off_a), 3);
    EXPECT_TRUE(off_a == 0.0 && same_bits(pv, one));
    const auto rot = {1.0, 2.0, 0.0, -2.0, 1.0, 0.0, 0.0, 0.0, 3.0};
    solve(rot, 1.0, pa, off_a);
    EXPECT_TRUE(off_a == 8.0 && same_bits(pa, from_rows(3, rot)) && same_bits(pv, one));
}

// The slice loop runs the fixed-size kernels on several columns at once; every column must
// get the bits of the plain routines whatever its neighbours (lanes of very different strain,
// so different sweep counts). Fixed sizes, the run-time size, tilted and untilted beams.
TEST(BatchKernel, SameBitsAsThePlainRoutines) {
    constexpr int L = solver::kLanes;
    for (const auto& [nb, ca] :
         {std::pair(1, "yes"), {2, "no"}, {5, "yes"}, {8, "no"}, {12, "no"}}) {
        State st = make_state({.first = -(nb / 2), .last = nb - 1 - nb / 2, .ca = ca, .f_g = 1.5});
        const double dz = 7.5;
        std::vector<double> sgr[L], p(L);
        Array1<cplx> phi_in(nb), phi_ref[L];
        for (int n = 1; n <= nb; ++n) phi_in(n) = cplx(0.3 * n - 0.7, 0.1 * n * n - 0.2);
        for (int l = 0; l < L; ++l) {
            for (int n = 0; n < nb; ++n) sgr[l].push_back(0.003 * (n - 1.3) * l * l);
            const Vec3 sf{0.05 * (l % 2), 0.01, -0.02};
            p[l] = st.v_g[0] * sf[0] + st.v_g[1] * sf[1] + st.v_g[2] * sf[2];
            phi_ref[l] = one_slice(st, sgr[l], phi_in, dz, sf);
        }
        solver::with_beam_count(nb, [&]<int N>() {
            std::vector<double> sd_store(solver::SliceData<N>::doubles_needed(nb));
            std::vector<double> k_store(solver::BatchKernel<N, L>::doubles_needed(nb));
            solver::SliceData<N> sd;
            if constexpr (N == 0) sd.bind(sd_store.data(), nb);
            prepare_slice_data<N>(st, dz, sd);
            solver::BatchKernel<N, L> k(sd, k_store.data());
            for (int l = 0; l < L; ++l)
                for (int n = 0; n < nb; ++n) {
                    k.sgr()[n * L + l] = sgr[l][n], k.re()[n * L + l] = phi_in(n + 1).real();
                    k.im()[n * L + l] = phi_in(n + 1).imag();
                }
            k.solve();
            k.transfer_own(p.data());
            for (int l = 0; l < L; ++l)
                for (int n = 0; n < nb; ++n)
                    EXPECT_EQ(cplx(k.re()[n * L + l], k.im()[n * L + l]), phi_ref[l](n + 1))
                        << nb << ca << l;
        });
    }
}
