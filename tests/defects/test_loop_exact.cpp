// The circular loop: integrals against Bessel quadrature, models against a 120-gon, the seam.
#include "defects/loop_tables.hpp"
#include "driver/defect_files.hpp"
#include "fixture.hpp"

using namespace korvex::testing;

namespace {

// The five integrals at (|u|, v) by Simpson's rule, step 0.01 / (1 + v), out to
// exp(-k |u|) = 1e-16.
LoopIntegrals bessel_integrals(double au, double v) {
    const double h = 0.01 / (1.0 + v);
    const int m = 2 * int(18.5 / au / h);
    LoopIntegrals s;
    for (int q = 1; q <= m; ++q) {
        const double k = q * h, w = (q == m ? 1 : q % 2 ? 4 : 2) * h / 3.0 * std::exp(-k * au);
        const double j0 = w * std::cyl_bessel_j(1.0, k) * std::cyl_bessel_j(0.0, k * v);
        const double j1 = w * std::cyl_bessel_j(1.0, k) * std::cyl_bessel_j(1.0, k * v);
        s.i01 += j0 * k, s.i02 += j0 * k * k, s.i10 += j1, s.i11 += j1 * k, s.i12 += j1 * k * k;
    }
    return s;
}

// Correlation and RMS difference over the RMS of `ref`, of beam n, both maps clipped at the
// 99th percentile of |ref| (the columns beside the loop line, where the core models differ).
std::pair<double, double> agreement(const Array3<double>& a, const Array3<double>& ref, int n) {
    const std::size_t m = ref.plane();
    const double *x = &a(1, 1, n), *y = &ref(1, 1, n);
    std::vector<double> mag(m);
    std::transform(y, y + m, mag.begin(), [](double v) { return std::abs(v); });
    std::nth_element(mag.begin(), mag.begin() + long(m * 99 / 100), mag.end());
    const double c = mag[m * 99 / 100];
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (std::size_t q = 0; q < m; ++q) {
        const double p = std::clamp(x[q], -c, c), r = std::clamp(y[q], -c, c);
        sx += p, sy += r, sxx += p * p, syy += r * r, sxy += p * r;
    }
    const double cov = sxy - sx * sy / m;
    return {cov / std::sqrt((sxx - sx * sx / m) * (syy - sy * sy / m)),
            std::sqrt((sxx - 2 * sxy + syy) / syy)};
}

std::string circular(const std::string& model, const std::string& b = "1 3 1 1 1") {
    return config("{loop}", {b, "80.0", "120 120 50", "1 1 1", "0.3", model});
}

} // namespace

// Beside the loop line, inside and outside it, near the axis, at the seam, far away.
TEST(LoopIntegrals, ClosedFormsAgainstBesselQuadratureAndTheSeam) {
    // clang-format off
    for (const auto& [au, v] : {std::pair(0.1, 1.0), {0.1, 0.9}, {0.2, 1.2}, {0.3, 0.5},
                                {1.0, 2.0}, {2.0, 0.01}, {4.0, 3.0}, {6.0, 12.0}}) {
        const LoopIntegrals in = loop_integrals(au, v), q = bessel_integrals(au, v);
        for (const auto& [got, want] : {std::pair(in.i01, q.i01), {in.i10, q.i10},
                                        {in.i11, q.i11}, {in.i02, q.i02}, {in.i12, q.i12}})
            EXPECT_NEAR(got, want, 1e-7 * std::abs(want)) << au << ", " << v;
    }
    // clang-format on

    // At the seam (|u| = 4, v = 3, all around the axis) the tables hold the exact integrals; the
    // far field misses the next multipole, up to 9 % of the largest term.
    LoopTables t;
    compute_loop_tables(t);
    const double s3 = 1.0 / std::sqrt(3.0);
    const LoopGeometry lg{s3, 60.0, s3, s3, -s3, 0.3};
    const Vec3 n{s3, s3, -s3}, e1{std::sqrt(0.5), -std::sqrt(0.5), 0}, e2 = cross_product(n, e1);
    const LoopIntegrals in{t.i01(200, 150), t.i10(200, 150), t.i11(200, 150), t.i02(200, 150),
                           t.i12(200, 150)};
    double top = 0.0, jump = 0.0;
    for (int k = 0; k < 24; ++k) {
        const double u = k % 2 ? 4.0 : -4.0, c = 3 * std::cos(k * kPi / 12),
                     s = 3 * std::sin(k * kPi / 12);
        const Vec3 P = scaled({u * n[0] + c * e1[0] + s * e2[0], u * n[1] + c * e1[1] + s * e2[1],
                               u * n[2] + c * e1[2] + s * e2[2]},
                              60.0);
        const double exact = loop_exact_field(lg, P[0], P[1], P[2]);
        EXPECT_NEAR(loop_near_field(lg, P[0], P[2], u, 3.0, in), exact, 1e-6 * std::abs(exact));
        top = std::max(top, std::abs(exact));
        jump = std::max(jump, std::abs(loop_far_field(lg, P[0], P[1], P[2]) - exact));
    }
    EXPECT_LT(jump, 0.09 * top);
}

// R = 80, b = 1/3[1 1 1] on (1 1 1), 5 Angstrom cells, against the 120-gon in the middle slice and
// one through the rim (a sign error would anticorrelate). "tabulation" writes the missing tables,
// says so once, reads them back. A Burgers vector in the loop plane has no prismatic part.
TEST(LoopIso, CircularModelsMatchAManySidedPolygon) {
    const Grid block{48, 48, 20, 240.0, 240.0, 100.0};
    DefectRun poly(5, "pg.ini",
                   config("{pg}", {"perfect", "1 3 1 1 1", "1 3 1 1 1", "80.0", "120 120 50",
                                   "1 1 1", "1 -1 0", "120", "0.3", "1.0"}),
                   "yes", block);
    DefectRun exact(3, "loop.ini", circular("integral"), "yes", block);
    DefectRun tab(3, "loop.ini", circular("tabulation"), "yes", block);
    for (const int l : {10, 4}) {
        poly.slice(l);
        for (DefectRun* run : {&exact, &tab}) {
            run->dir.enter(); // "loop.ini" is read from the working directory
            const auto [corr, rms] = agreement(run->slice(l).st.s_g_r, poly.st.s_g_r, beam(1));
            EXPECT_GE(corr, 0.99) << (run == &exact ? "integral " : "tabulation ") << l;
            EXPECT_LE(rms, 0.15) << (run == &exact ? "integral " : "tabulation ") << l;
        }
    }
    EXPECT_EQ(tab.console.str(), " Loop integral tables not found: computed and written i01.data "
                                 "i10.data i11.data i02.data i12.data\n");
    LoopTables back;
    read_loop_tables(back);
    EXPECT_FLOAT_EQ(back.i12(7, 50), float(loop_integrals(7 * 0.02f, 50 * 0.02f).i12));

    exact.dir.enter();
    exact.dir.write("loop.ini", circular("integral", "1 2 1 -1 0"));
    EXPECT_FALSE(any_nonzero(exact.slice(4).st.s_g_r));
    EXPECT_TRUE(contains(exact.console.str(), "WARNING"));
}
