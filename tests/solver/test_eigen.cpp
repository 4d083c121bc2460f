// Structure matrix and its eigen-solution.
#include "solver/eigen.hpp"
#include "solver/fixture.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <cstring>
#include <vector>

using namespace korvex;
using korvex::testing::ColumnSetup;
using korvex::testing::make_state;

namespace {

struct Solution {
    Array2<cplx> h, vecs;
    Array1<cplx> vals;
};

Solution solve_column(const State& st, const std::vector<double>& sgr) {
    const int n = st.n_beams;
    Solution s{Array2<cplx>(n, n), Array2<cplx>(n, n), Array1<cplx>(n)};
    matrix_h(n, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, s.h);
    diagonalizationeigenmtx(n, s.h, s.vals, s.vecs);
    return s;
}

Array2<double> from_rows(int n, std::initializer_list<double> rows) {
    Array2<double> a(n, n);
    auto it = rows.begin();
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) a(r, c) = *it++;
    return a;
}

// max |(A V - V diag(e))(r, c)| for the matrix as it was before the solution.
double eigen_residual(const Array2<double>& a, const Array2<double>& v, const Array1<double>& e) {
    const int n = a.n1();
    double worst = 0.0;
    for (int c = 1; c <= n; ++c)
        for (int r = 1; r <= n; ++r) {
            double s = 0.0;
            for (int m = 1; m <= n; ++m) s += a(r, m) * v(m, c);
            worst = std::max(worst, std::abs(s - v(r, c) * e(c)));
        }
    return worst;
}

double frobenius(const Array2<double>& a) {
    double s = 0.0;
    for (std::size_t e = 0; e < a.size(); ++e) s += a.data()[e] * a.data()[e];
    return std::sqrt(s);
}

} // namespace

TEST(StructureMatrix, RowsDividedByTheirOwnBeamComponent) {
    State st = make_state({.first = -1, .last = 1, .ca = "no"});
    Array2<cplx> h(3, 3);
    const std::vector<double> sgr{0.001, -0.002, 0.003};
    matrix_h(3, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, h);
    for (int a = 1; a <= 3; ++a) {
        EXPECT_EQ(h(a, a), cplx(2.0 * (st.s_g(a) + sgr[a - 1]), st.ui0 / st.mtx_bg(a)));
        for (int b = 1; b <= 3; ++b) {
            if (a == b) continue;
            const int m = std::abs(a - b);
            EXPECT_EQ(h(a, b), cplx(st.u(m) / st.mtx_bg(a), st.ui(m) / st.mtx_bg(a)));
        }
    }
    EXPECT_NE(h(1, 2).real(), h(2, 1).real()); // tilted beams: not symmetric
}

TEST(EigenSolution, OneBeam) {
    State st = make_state({.first = 0, .last = 0});
    const Solution s = solve_column(st, {0.0025});
    EXPECT_EQ(s.vals(1), cplx(2.0 * (st.s_g(1) + 0.0025), st.ui0 / st.mtx_bg(1)));
    EXPECT_EQ(s.vecs(1, 1), cplx(1.0, 0.0));
}

TEST(EigenSolution, SymmetricMatrixGivesOrthogonalVectorsAndFirstOrderAbsorption) {
    State st = make_state({.first = -2, .last = 2, .ca = "yes"});
    const int n = 5;
    const Solution s = solve_column(st, std::vector<double>(n, 0.0));
    double worst_orth = 0.0;
    for (int p = 1; p <= n; ++p)
        for (int q = 1; q <= n; ++q) {
            double dot = 0.0;
            for (int m = 1; m <= n; ++m) dot += s.vecs(m, p).real() * s.vecs(m, q).real();
            worst_orth = std::max(worst_orth, std::abs(dot - (p == q ? 1.0 : 0.0)));
            EXPECT_EQ(s.vecs(p, q).imag(), 0.0);
        }
    EXPECT_LT(worst_orth, 1e-14);
    for (int j = 1; j <= n; ++j) {
        double t = 0.0;
        for (int a = 1; a <= n; ++a)
            for (int b = 1; b <= n; ++b)
                t += s.vecs(a, j).real() * s.h(a, b).imag() * s.vecs(b, j).real();
        EXPECT_TRUE(korvex::testing::near_rel(s.vals(j).imag(), t, 1e-13));
    }
    // They are eigenvectors of the real part.
    Array2<double> a(n, n), v(n, n);
    Array1<double> e(n);
    for (int c = 1; c <= n; ++c)
        for (int r = 1; r <= n; ++r) {
            a(r, c) = s.h(r, c).real();
            v(r, c) = s.vecs(r, c).real();
        }
    for (int j = 1; j <= n; ++j) e(j) = s.vals(j).real();
    // Pairs are left alone once their squares are 1e-16 of ||A||^2: residues of 1e-8 of it.
    EXPECT_LT(eigen_residual(a, v, e), 1e-8 * frobenius(a));
}

TEST(EigenSolution, ShearStepsSolveTheNonSymmetricMatrixOfTiltedBeams) {
    State st = make_state({.first = -3, .last = 4, .ca = "no", .f_g = 3.0});
    const int n = 8;
    Array2<double> a(n, n), a0(n, n), v(n, n);
    Array1<double> e(n);
    Array2<cplx> h(n, n);
    const std::vector<double> sgr(n, 0.001);
    matrix_h(n, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, h);
    for (int c = 1; c <= n; ++c)
        for (int r = 1; r <= n; ++r) a(r, c) = a0(r, c) = h(r, c).real();
    diagon(n, a, v, e);
    EXPECT_LT(eigen_residual(a0, v, e), 1e-8 * frobenius(a0));
}

TEST(EigenSolution, EigenvaluesStayInDiagonalOrder) {
    Array2<double> a = from_rows(3, {3.0, 0.01, 0.0, 0.01, 1.0, 0.02, 0.0, 0.02, 2.0});
    Array2<double> v(3, 3);
    Array1<double> e(3);
    diagon(3, a, v, e);
    EXPECT_NEAR(e(1), 3.0, 1e-3);
    EXPECT_NEAR(e(2), 1.0, 1e-3);
    EXPECT_NEAR(e(3), 2.0, 1e-3);
}

TEST(EigenSolution, PairTestIsRelativeToTheMatrix) {
    // Scaled down to 1e-5 (squares of 1e-10, below any absolute test of 1e-8) the matrix is
    // solved exactly as the original: same sweeps, same eigenvalues, scaled.
    int sweeps[2];
    double eig[2][3];
    const double scales[2] = {1.0, 1e-5};
    for (int k = 0; k < 2; ++k) {
        Array2<double> a = from_rows(3, {3.0, 0.5, 0.2, 0.5, 1.0, 0.3, 0.2, 0.3, 2.0});
        for (std::size_t e = 0; e < a.size(); ++e) a.data()[e] *= scales[k];
        const double fro2 = std::pow(frobenius(a), 2);
        Array2<double> v(3, 3);
        double offnorm = -1.0;
        sweeps[k] = dvoevd(a, v, 3, 1000, 1e-16, 0, offnorm);
        EXPECT_LE(offnorm, 3 * 1e-16 * fro2);
        for (int j = 0; j < 3; ++j) eig[k][j] = a(j + 1, j + 1) / scales[k];
    }
    EXPECT_EQ(sweeps[0], sweeps[1]);
    EXPECT_GT(sweeps[0], 3);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(eig[1][j], eig[0][j], 1e-13);
    // A zero matrix skips every pair: n^2 - n idle pairs and the next one end it.
    Array2<double> z(3, 3), v(3, 3);
    double offnorm = -1.0;
    EXPECT_EQ(dvoevd(z, v, 3, 1000, 1e-16, 0, offnorm), 3);
    EXPECT_EQ(offnorm, 0.0);
    for (int c = 1; c <= 3; ++c)
        for (int r = 1; r <= 3; ++r) EXPECT_EQ(v(r, c), r == c ? 1.0 : 0.0);
}

TEST(EigenSolution, UntouchedPairRunsEverySweep) {
    // The pair (1,2) of a rotation block has beta^2 + gamma^2 far above the test, but qq and p2
    // are both zero: s = 0, cs = 1, t = 0, the step changes nothing and yet resets the idle
    // counter, so the method never stops by itself.
    Array2<double> a = from_rows(3, {1.0, 2.0, 0.0, -2.0, 1.0, 0.0, 0.0, 0.0, 3.0});
    const Array2<double> before = a;
    Array2<double> v(3, 3);
    double offnorm = 0.0;
    EXPECT_EQ(dvoevd(a, v, 3, 1000, 1e-16, 0, offnorm), 1000);
    EXPECT_EQ(offnorm, 8.0);
    EXPECT_EQ(std::memcmp(a.data(), before.data(), 9 * sizeof(double)), 0);
    for (int c = 1; c <= 3; ++c)
        for (int r = 1; r <= 3; ++r) EXPECT_EQ(v(r, c), r == c ? 1.0 : 0.0);
    // A converging matrix of the same size takes a handful of sweeps.
    Array2<double> b = from_rows(3, {1.0, 2.0, 0.0, 2.0, 1.0, 0.0, 0.0, 0.0, 3.0});
    EXPECT_LT(dvoevd(b, v, 3, 1000, 1e-16, 0, offnorm), 10);
}

// The slice loop runs the fixed-size kernels on several columns at once; every column must
// get the bits of the plain routines whatever its neighbours.
TEST(BatchKernel, SameBitsAsThePlainRoutinesForEveryBeamCount) {
    constexpr int L = solver::kLanes;
    for (int nb = 1; nb <= 12; ++nb) {
        for (const char* ca : {"yes", "no"}) {
            State st =
                make_state({.first = -(nb / 2), .last = nb - 1 - nb / 2, .ca = ca, .f_g = 1.5});
            const double dz = 7.5;
            std::vector<double> sgr[L], p(L);
            Array1<cplx> phi_in(nb), phi_ref[L];
            for (int n = 1; n <= nb; ++n) phi_in(n) = cplx(0.3 * n - 0.7, 0.1 * n * n - 0.2);
            for (int l = 0; l < L; ++l) {
                // Lanes of very different strain (and so different sweep counts).
                for (int n = 0; n < nb; ++n) sgr[l].push_back(0.003 * (n - 1.3) * l * l);
                const Vec3 sf{0.05 * (l % 2), 0.01, -0.02};
                p[l] = st.v_g[0] * sf[0] + st.v_g[1] * sf[1] + st.v_g[2] * sf[2];
                const Solution s = solve_column(st, sgr[l]);
                phi_ref[l] = Array1<cplx>(nb);
                two_two_scattering(nb, st.mtx_g, st.g, dz, s.vals, s.vecs, st.v_g, sf, phi_in,
                                   phi_ref[l]);
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
                        k.sgr()[n * L + l] = sgr[l][n];
                        k.re()[n * L + l] = phi_in(n + 1).real();
                        k.im()[n * L + l] = phi_in(n + 1).imag();
                    }
                k.solve();
                k.transfer_own(p.data());
                for (int l = 0; l < L; ++l)
                    for (int n = 0; n < nb; ++n) {
                        EXPECT_EQ(k.re()[n * L + l], phi_ref[l](n + 1).real()) << nb << ca << l;
                        EXPECT_EQ(k.im()[n * L + l], phi_ref[l](n + 1).imag()) << nb << ca << l;
                    }
            });
        }
    }
}
