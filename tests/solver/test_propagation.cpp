// Column propagation: slice transfer, flags, lateral shift, intensities, physics checks.
#include "solver/eigen.hpp"
#include "solver/fixture.hpp"
#include "solver/propagation.hpp"
#include "support/testing.hpp"

#include <omp.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

using namespace korvex;
using korvex::testing::ColumnSetup;
using korvex::testing::fill_strain;
using korvex::testing::make_state;

namespace {

// Runs every slice of a beam condition the way the driver does, with `strain` filling the
// slice's terms first; returns the final flag.
template <class F> int run_condition(State& st, F&& strain) {
    initial_amplitudes(st);
    int flag = 1;
    for (int l = 1; l <= st.effslicenumber; ++l) {
        strain(st, l);
        propagate_slice(st, l, flag);
    }
    intensities(st);
    return flag;
}

int run_condition(State& st) {
    return run_condition(st, [](State&, int) {});
}

// ---- an independent solver for the symmetric case ----------------------------------------

using CMat = std::vector<std::vector<cplx>>;
using RMat = std::vector<std::vector<double>>;

// Textbook cyclic Jacobi for a symmetric matrix (tan of the half angle from theta), iterated
// until the off-diagonal part is at rounding level. Row-major, 0-based.
void textbook_jacobi(RMat a, RMat& v, std::vector<double>& e) {
    const std::size_t n = a.size();
    v.assign(n, std::vector<double>(n, 0.0));
    for (std::size_t i = 0; i < n; ++i) v[i][i] = 1.0;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0, norm = 0.0;
        for (std::size_t p = 0; p < n; ++p)
            for (std::size_t q = 0; q < n; ++q) {
                norm += a[p][q] * a[p][q];
                if (p != q) off += a[p][q] * a[p][q];
            }
        if (off <= 1e-32 * norm) break;
        for (std::size_t p = 0; p + 1 < n; ++p)
            for (std::size_t q = p + 1; q < n; ++q) {
                if (a[p][q] == 0.0) continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (std::size_t k = 0; k < n; ++k) { // A <- A J
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (std::size_t k = 0; k < n; ++k) { // A <- J^T A
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (std::size_t k = 0; k < n; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
    }
    e.resize(n);
    for (std::size_t i = 0; i < n; ++i) e[i] = a[i][i];
}

// One column through the condition with std::complex products: S = V D V^T, phi <- S phi.
std::vector<double> independent_column(const State& st, int i, int j, void (*strain)(State&, int)) {
    State work = st;
    const std::size_t n = static_cast<std::size_t>(st.n_beams);
    std::vector<cplx> phi(n, 0.0);
    for (std::size_t a = 0; a < n; ++a)
        if (st.mtx_beams(int(a) + 1) == 0) phi[a] = std::sqrt(st.mtx_bg(int(a) + 1));
    for (int l = 1; l <= st.effslicenumber; ++l) {
        strain(work, l);
        RMat A(n, std::vector<double>(n)), B(n, std::vector<double>(n)), V;
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = 0; b < n; ++b) {
                const int ia = int(a) + 1;
                if (a == b) {
                    A[a][b] = 2.0 * (st.s_g(ia) + work.s_g_r(i, j, ia));
                    B[a][b] = st.ui0 / st.mtx_bg(ia);
                } else {
                    const int m = int(a > b ? a - b : b - a);
                    A[a][b] = st.u(m) / st.mtx_bg(ia);
                    B[a][b] = st.ui(m) / st.mtx_bg(ia);
                }
            }
        std::vector<double> w;
        textbook_jacobi(A, V, w);
        std::vector<cplx> d(n);
        for (std::size_t q = 0; q < n; ++q) {
            double t = 0.0;
            for (std::size_t a = 0; a < n; ++a)
                for (std::size_t b = 0; b < n; ++b) t += V[a][q] * B[a][b] * V[b][q];
            d[q] = std::exp(cplx(0.0, 1.0) * M_PI * cplx(w[q], t) * st.slicethickness(l));
        }
        std::vector<cplx> out(n, 0.0);
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = 0; b < n; ++b) {
                cplx s = 0.0;
                for (std::size_t q = 0; q < n; ++q) s += V[a][q] * d[q] * V[b][q];
                out[a] += s * phi[b];
            }
        phi = out;
    }
    std::vector<double> inten(n);
    for (std::size_t a = 0; a < n; ++a) inten[a] = std::norm(phi[a]) / st.mtx_bg(int(a) + 1);
    return inten;
}

void five_beam_strain(State& st, int l) {
    fill_strain(st, l, 0.004, 300.0);
}

} // namespace

// ---- one column through one slice ------------------------------------------------------------

TEST(TwoTwoScattering, TwoBeamsDoNotDependOnEigenvectorLength) {
    State st = make_state({.first = 0, .last = 1, .ca = "no"});
    Array2<cplx> h(2, 2), v(2, 2);
    Array1<cplx> e(2), in(2), out1(2), out2(2);
    const std::vector<double> sgr{0.0, 0.002};
    matrix_h(2, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, h);
    diagonalizationeigenmtx(2, h, e, v);
    in(1) = cplx(0.8, 0.1);
    in(2) = cplx(-0.2, 0.4);
    const Vec3 sf{0.0, 0.0, 0.0};
    two_two_scattering(2, st.mtx_g, st.g, 40.0, e, v, st.v_g, sf, in, out1);
    for (int r = 1; r <= 2; ++r) {
        v(r, 1) *= 3.0;
        v(r, 2) *= -0.25;
    }
    two_two_scattering(2, st.mtx_g, st.g, 40.0, e, v, st.v_g, sf, in, out2);
    for (int r = 1; r <= 2; ++r) EXPECT_LT(std::abs(out1(r) - out2(r)), 1e-15);
}

TEST(TwoTwoScattering, FaultJumpOfOneThirdCycle) {
    State st = make_state({.first = -2, .last = 2});
    Array2<cplx> h(5, 5), v(5, 5);
    Array1<cplx> e(5), in(5), plain(5), jumped(5);
    const std::vector<double> sgr(5, 0.0);
    matrix_h(5, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, h);
    diagonalizationeigenmtx(5, h, e, v);
    for (int n = 1; n <= 5; ++n) in(n) = cplx(0.1 * n, -0.05 * n);
    two_two_scattering(5, st.mtx_g, st.g, 20.0, e, v, st.v_g, {0.0, 0.0, 0.0}, in, plain);
    // v_g = (2 0 0): s_f = (1/6, 0, 0) is a third of a cycle of g.
    two_two_scattering(5, st.mtx_g, st.g, 20.0, e, v, st.v_g, {1.0 / 6.0, 0.0, 0.0}, in, jumped);
    for (int n = 1; n <= 5; ++n) {
        const int m = st.mtx_beams(n);
        const cplx expect = plain(n) * std::exp(cplx(0.0, 2.0 * M_PI * m / 3.0));
        EXPECT_LT(std::abs(jumped(n) - expect), 1e-15) << m;
    }
    EXPECT_EQ(jumped(3), plain(3)); // the transmitted beam is untouched
}

// ---- the slice loop ---------------------------------------------------------------------------

TEST(PropagateSlice, PerfectCrystalReusesTheFirstColumnsSolution) {
    State st = make_state({.first = -1, .last = 2, .npx = 3, .npy = 2, .nslice = 4});
    initial_amplitudes(st);
    // Only the first column carries a strain term; with defect "no" its solution is the one
    // used everywhere, so every column comes out alike.
    for (int n = 1; n <= 4; ++n) st.s_g_r(1, 1, n) = 0.003 * n;
    int flag = 1;
    propagate_slice(st, 1, flag);
    EXPECT_EQ(flag, 0);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(st.h(n, n).real(), 2.0 * (st.s_g(n) + 0.003 * n));
    for (int j = 1; j <= 2; ++j)
        for (int i = 1; i <= 3; ++i)
            for (int n = 1; n <= 4; ++n) EXPECT_EQ(st.phi_grid(i, j, n), st.phi_grid(1, 1, n));
    // A strained model solves every column.
    State edge = make_state({.first = -1, .last = 2, .npx = 3, .npy = 2, .defect = "edge"});
    initial_amplitudes(edge);
    for (int n = 1; n <= 4; ++n) edge.s_g_r(1, 1, n) = 0.003 * n;
    flag = 1;
    propagate_slice(edge, 1, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_NE(edge.phi_grid(1, 1, 2), edge.phi_grid(2, 1, 2));
    EXPECT_EQ(edge.phi_grid(2, 1, 2), edge.phi_grid(3, 2, 2));
}

TEST(PropagateSlice, VoidColumnsPassAndAnEmptyVoidIsThePerfectCrystal) {
    const ColumnSetup s{.first = -1, .last = 1, .npx = 4, .npy = 3, .nslice = 20};
    State perfect = make_state(s);
    run_condition(perfect);

    ColumnSetup sv = s;
    sv.defect = "void";
    State empty = make_state(sv);
    empty.flag_vacancy.fill(1);
    EXPECT_EQ(run_condition(empty), 0);
    EXPECT_EQ(std::memcmp(empty.phi_grid.data(), perfect.phi_grid.data(),
                          perfect.phi_grid.size() * sizeof(cplx)),
              0);

    // A column inside the void for every slice keeps its entrance amplitudes.
    State holed = make_state(sv);
    holed.flag_vacancy.fill(1);
    holed.flag_vacancy(2, 3) = 0;
    run_condition(holed);
    EXPECT_EQ(holed.phi_grid(2, 3, 2), cplx(std::sqrt(holed.mtx_bg(2)), 0.0));
    EXPECT_EQ(holed.phi_grid(2, 3, 1), cplx(0.0, 0.0));
    EXPECT_EQ(holed.phi_grid(1, 1, 1), perfect.phi_grid(1, 1, 1));
}

TEST(PropagateSlice, LateralShiftOnlyWithoutTheColumnApproximation) {
    // Same tilted geometry, different `ca`: "yes" leaves the fields in place, "no" and "half"
    // shift them after the slice.
    std::vector<Array3<cplx>> out;
    for (const char* ca : {"yes", "no", "half"}) {
        State st = make_state({.first = -1, .last = 2, .npx = 5, .npy = 2, .ca = "no"});
        st.ca = ca;
        initial_amplitudes(st);
        for (int n = 1; n <= 4; ++n)
            for (int i = 1; i <= 5; ++i) st.phi_grid(i, 2, n) *= 1.0 + 0.1 * i;
        int flag = 1;
        propagate_slice(st, 1, flag);
        if (out.empty()) linear_itp(st.n_xyz, st.n_beams, st.size, st.shift_angle, st.phi_grid);
        out.push_back(st.phi_grid);
    }
    const std::size_t bytes = out[0].size() * sizeof(cplx);
    EXPECT_EQ(std::memcmp(out[0].data(), out[1].data(), bytes), 0);
    EXPECT_EQ(std::memcmp(out[0].data(), out[2].data(), bytes), 0);
}

TEST(PropagateSlice, SameBitsForOneAndTwoThreads) {
    const ColumnSetup s{
        .first = -2, .last = 3, .npx = 17, .npy = 9, .nslice = 12, .ca = "no", .defect = "edge"};
    std::vector<cplx> result[2];
    const int saved = omp_get_max_threads();
    for (int t = 0; t < 2; ++t) {
        omp_set_num_threads(t + 1);
        State st = make_state(s);
        run_condition(st, [](State& x, int l) {
            fill_strain(x, l);
            x.s_f(4, 5, 1) = 0.1 * l; // a fault crossing one column
        });
        result[t].assign(st.phi_grid.data(), st.phi_grid.data() + st.phi_grid.size());
    }
    omp_set_num_threads(saved);
    ASSERT_EQ(result[0].size(), result[1].size());
    EXPECT_EQ(std::memcmp(result[0].data(), result[1].data(), result[0].size() * sizeof(cplx)), 0);
}

TEST(PropagateSlice, StrainedColumnAgreesWithAnIndependentSolver) {
    State st = make_state({.first = -2,
                           .last = 2,
                           .npx = 2,
                           .npy = 1,
                           .nslice = 1000,
                           .thickness = 1500.0,
                           .defect = "edge"});
    const State start = st;
    run_condition(st, five_beam_strain);
    for (int i = 1; i <= 2; ++i) {
        const std::vector<double> ref = independent_column(start, i, 1, five_beam_strain);
        for (int n = 1; n <= 5; ++n)
            EXPECT_NEAR(st.mtx_intensity(i, 1, n), ref[n - 1], 1e-6) << i << " beam " << n;
    }
}

// ---- physics -----------------------------------------------------------------------------

TEST(Physics, NoAbsorptionConservesTheTotalIntensity) {
    for (const int nb : {2, 3, 5, 8, 10, 12}) {
        State st = make_state({.first = -(nb / 2),
                               .last = nb - 1 - nb / 2,
                               .npx = 3,
                               .nslice = 300,
                               .thickness = 900.0,
                               .defect = "edge",
                               .absorption = false,
                               .f_g = 1.0});
        run_condition(st, [](State& x, int l) { fill_strain(x, l, 0.006, 200.0); });
        for (int i = 1; i <= 3; ++i) {
            double total = 0.0;
            for (int n = 1; n <= nb; ++n) total += st.mtx_intensity(i, 1, n);
            EXPECT_NEAR(total, 1.0, 1e-6) << nb << " beams, column " << i;
        }
    }
}

TEST(Physics, TwoBeamThicknessFringesHaveTheExtinctionPeriod) {
    // Exact Bragg condition, no absorption: I_g = sin^2(pi z U_g / k), period k / U_g.
    State st = make_state(
        {.first = 0, .last = 1, .nslice = 3000, .thickness = 3000.0, .absorption = false});
    initial_amplitudes(st);
    int flag = 1;
    std::vector<double> ig;
    for (int l = 1; l <= st.effslicenumber; ++l) {
        propagate_slice(st, l, flag);
        intensities(st);
        ig.push_back(st.mtx_intensity(1, 1, 2));
    }
    // Maxima of the diffracted beam, refined by a parabola through three samples.
    std::vector<double> peaks;
    for (std::size_t l = 1; l + 1 < ig.size(); ++l) {
        if (ig[l] > ig[l - 1] && ig[l] >= ig[l + 1]) {
            const double den = ig[l - 1] - 2.0 * ig[l] + ig[l + 1];
            peaks.push_back(double(l + 1) + 0.5 * (ig[l - 1] - ig[l + 1]) / den);
        }
    }
    ASSERT_GE(peaks.size(), 5u);
    const double period = (peaks.back() - peaks.front()) / double(peaks.size() - 1);
    const double expected = korvex::testing::kCuK / korvex::testing::kCuU200;
    EXPECT_NEAR(period, expected, 0.01 * expected);
    EXPECT_NEAR(*std::max_element(ig.begin(), ig.end()), 1.0, 1e-6);
}

TEST(Physics, IntensitiesStayBetweenZeroAndOne) {
    for (const char* ca : {"yes", "no"}) {
        State st = make_state({.first = -2,
                               .last = 3,
                               .npx = 6,
                               .npy = 2,
                               .nslice = 200,
                               .ca = ca,
                               .defect = "edge",
                               .f_g = 2.0});
        initial_amplitudes(st);
        int flag = 1;
        for (int l = 1; l <= st.effslicenumber; ++l) {
            fill_strain(st, l, 0.01, 150.0);
            propagate_slice(st, l, flag);
            if (l % 20 != 0) continue;
            intensities(st);
            for (std::size_t e = 0; e < st.mtx_intensity.size(); ++e) {
                EXPECT_GE(st.mtx_intensity.data()[e], 0.0);
                EXPECT_LE(st.mtx_intensity.data()[e], 1.0) << ca;
            }
        }
    }
}

// ---- amplitudes, intensities, lateral shift, warnings -----------------------------------------

TEST(Amplitudes, TransmittedBeamStartsAtUnitIntensityAndPhiIsKept) {
    State st = make_state({.first = -1, .last = 1, .npx = 2, .npy = 2, .ca = "no"});
    initial_amplitudes(st);
    EXPECT_EQ(st.phi_grid(2, 2, 2), cplx(std::sqrt(st.mtx_bg(2)), 0.0));
    EXPECT_EQ(st.phi_grid(2, 2, 1), cplx(0.0, 0.0));
    st.phi_grid(1, 2, 3) = cplx(0.3, -0.4) * std::sqrt(st.mtx_bg(3));
    const Array3<cplx> before = st.phi_grid;
    intensities(st);
    EXPECT_DOUBLE_EQ(st.mtx_intensity(2, 2, 2), 1.0);
    EXPECT_EQ(st.mtx_intensity(2, 2, 1), 0.0);
    EXPECT_DOUBLE_EQ(st.mtx_intensity(1, 2, 3), 0.25);
    EXPECT_EQ(std::memcmp(before.data(), st.phi_grid.data(), before.size() * sizeof(cplx)), 0);
}

TEST(LinearItp, ShiftRules) {
    const int npx = 4, npy = 2, nb = 3;
    Array3<cplx> phi(npx, npy, nb);
    for (int b = 1; b <= nb; ++b)
        for (int j = 1; j <= npy; ++j)
            for (int i = 1; i <= npx; ++i) phi(i, j, b) = cplx(i * i + 10.0 * j, b - i);
    const Array3<cplx> old = phi;
    Array1<double> angle(nb);
    angle(1) = -0.02;
    angle(2) = 0.0;
    angle(3) = 0.03;
    const Vec3 size{40.0, 20.0, 100.0}; // dx = 10, dz = 10
    linear_itp({npx, npy, 10}, nb, size, angle, phi);
    const double t1 = std::abs(std::tan(-0.02)), t3 = std::tan(0.03);
    for (int j = 1; j <= npy; ++j) {
        for (int i = 1; i <= npx; ++i) EXPECT_EQ(phi(i, j, 2), old(i, j, 2)); // tilt 0
        for (int i = 1; i < npx; ++i)
            EXPECT_EQ(phi(i, j, 1), old(i, j, 1) + t1 * (old(i + 1, j, 1) - old(i, j, 1)));
        EXPECT_EQ(phi(npx, j, 1), old(npx, j, 1));
        EXPECT_EQ(phi(1, j, 3), old(1, j, 3));
        for (int i = 2; i <= npx; ++i)
            EXPECT_EQ(phi(i, j, 3), old(i, j, 3) - t3 * (old(i, j, 3) - old(i - 1, j, 3)));
    }
    // One column: nothing moves.
    Array3<cplx> one(1, 2, nb);
    one.fill(cplx(1.5, -2.0));
    linear_itp({1, 2, 10}, nb, {10.0, 20.0, 100.0}, angle, one);
    for (std::size_t e = 0; e < one.size(); ++e) EXPECT_EQ(one.data()[e], cplx(1.5, -2.0));
}

TEST(ResolutionCheck, WarnsForEachDirection) {
    State st = make_state({.first = 0,
                           .last = 3,
                           .npx = 10,
                           .npy = 100,
                           .nslice = 10,
                           .size_x = 100.0,
                           .size_y = 100.0,
                           .thickness = 1000.0});
    std::ostringstream out;
    st.out = &out;
    // travel in one slice: 100 * 3 g / k = 4.16 Angstrom; pixels 10 and 1 Angstrom wide
    resolution_check(st);
    EXPECT_EQ(out.str(), " the number of pixels in y coordinate  is too large or the number of "
                         "slices is too small\n");
    st.n_pixel_x = 100;
    out.str("");
    resolution_check(st);
    EXPECT_EQ(out.str(), " The number of pixels in x or y coordinate is too large or the number "
                         "of slices is too small\n the number of pixels in y coordinate  is too "
                         "large or the number of slices is too small\n");
    st.n_pixel_x = st.n_pixel_y = 10;
    out.str("");
    resolution_check(st);
    EXPECT_EQ(out.str(), "");
}
