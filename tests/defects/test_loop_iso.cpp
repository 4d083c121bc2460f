// The circular loop: the infinitesimal model, the table look-up, the far or near field;
// integrals against Bessel quadrature, models against a 120-gon, the seam.
#include "defects/loop_tables.hpp"
#include "fixture.hpp"

using namespace korvex::testing;

namespace {

DefectRun loop_run(const std::string& radius, const std::string& model,
                   const std::string& pos = "16 16 8", const std::string& normal = "1 1 1",
                   const std::string& b = "1 3 1 1 1") {
    return DefectRun(3, "loop.ini",
                     config("{Data for the circular loop}", {b, radius, pos, normal, "0.3", model}),
                     "no", kLoopGrid);
}

// The five tables; with `code` i10.data (or all) holds q + 1000 r at (q, r), the others zeros.
void write_tables(const ScratchDir& dir, bool code = true, bool all = false) {
    for (const std::string t : {"i01", "i10", "i11", "i02", "i12"}) {
        std::string s = " header\n";
        for (int r = 1; r <= 200; ++r) {
            const bool coded = code && (all || t == "i10");
            s += coded ? std::to_string(0.02 * r) : "0.0";
            for (int q = 1; q <= 200; ++q)
                s += coded ? ' ' + std::to_string(q + 1000 * r) + ".0" : " 0.0";
            s += '\n';
        }
        dir.write(t + ".data", s);
    }
}

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

// The infinitesimal terms are the derivatives of the displacement of a loop of area A (Kroupa),
// taken at the column centre, the lateral term m tan(tilt) dx only for ca "no".
TEST(LoopIso, InfinitesimalTermsAreDerivativesOfTheLoopDisplacement) {
    const double nu = 0.3, R = 5.0, b = 0.4, h = 1e-4;
    const Vec3 N = scaled(Vec3{1, 2, -2}, 1.0 / 3.0), B = scaled(Vec3{2, -1, 2}, 1.0 / 3.0);
    const double cb = -R * R * b / (8.0 * (1.0 - nu)), area = kPi * R * R * b; // b in the area
    for (const Vec3& p : {Vec3{3.0, 1.0, 2.0}, Vec3{-4.0, 2.5, -1.5}, Vec3{0.5, -3.0, 6.0}}) {
        const LoopDerivatives d = infinitesimal_loop_terms(p[0], p[1], p[2], N, B, nu, cb);
        auto u = [&](double dx, double dz) {
            const Vec3 q{p[0] + dx, p[1], p[2] + dz};
            const double r = magnitude(q), rn = dot(q, N), rb = dot(q, B);
            return -area / (8.0 * kPi * (1.0 - nu)) *
                   ((1.0 - 2.0 * nu) * (N[0] * rb + B[0] * rn - dot(B, N) * q[0]) / std::pow(r, 3) +
                    3.0 * rn * rb * q[0] / std::pow(r, 5));
        };
        EXPECT_TRUE(near_rel(d.dz, (u(0, h) - u(0, -h)) / (2 * h), 1e-6, 1e-12));
        EXPECT_TRUE(near_rel(d.dx, (u(h, 0) - u(-h, 0)) / (2 * h), 1e-6, 1e-12));
    }
    const LoopDerivatives centre = infinitesimal_loop_terms(0, 0, 0, N, B, nu, cb);
    EXPECT_EQ(std::pair(centre.dx, centre.dz), std::pair(0.0, 0.0));

    DefectRun run = loop_run("8.0", "infinitesimal");
    const double with_tilt = run.slice(5).st.s_g_r(20, 13, beam(1));
    run.st.ca = ColumnApprox::half;
    const double without = run.slice(5).st.s_g_r(20, 13, beam(1));
    // Column (20, 13) of slice 5 relative to the centre (16, 16, 8); sample = crystal axes.
    const Vec3 n = scaled(Vec3{1, 1, 1}, 1.0 / std::sqrt(3.0));
    const LoopDerivatives d =
        infinitesimal_loop_terms(3.5, -3.5, -3.5, n, n, 0.3, -64.0 / std::sqrt(3.0) / 5.6);
    EXPECT_TRUE(near_rel(without, 2.0 * d.dz, 1e-12));
    EXPECT_TRUE(
        near_rel(with_tilt, 2.0 * (beam_tilts(run.st).tan_tilt(beam(1)) * d.dx + d.dz), 1e-12));
}

// A loop of radius 70, normal along y, only I10 non-zero: the near field is
// -2 I10 (X / R) (Z b) / (7 R^2 v^3), so each column tells which table point it read. Beyond the
// tables the point's own integrals; changed files are read again, a removed one stops the run.
// The table point is the nearest of the single-precision grid of step 0.02, never past the
// tables: 100.5 - 1e-6 steps of exactly 0.02 are more than 100.5 steps of 0.019999999552965164.
TEST(LoopIso, NearFieldReadsTheTableAtTheNearestPoint) {
    // clang-format off
    const std::pair<double, int> index[] = {{0.0, 1}, {0.01, 1}, {0.02, 1}, {0.0299, 1},
        {0.0301, 2}, {1.0, 50}, {0.02 * (100.5 - 1e-6), 101}, {4.0, 200}, {4.5, 200}, {1e9, 200}};
    // clang-format on
    for (const auto& [a, q] : index) EXPECT_EQ(loop_table_index(a), q) << a;
    DefectRun run = loop_run("70.0", "tabulation", "16 0 8", "0 1 0", "1 1 0 1 0");
    write_tables(run.dir);
    const double R = 70.0, z = 8.0 - 2.5;
    auto code = [&](int i, int j, double y0) {
        const double X = i - 0.5 - 16.0, Y = j - 0.5 - y0;
        const double v = std::sqrt(X * X + z * z) / R;
        const double i10 =
            run.st.s_g_r(i, j, beam(1)) / -2.0 / (-2.0 * (X / R) * z / (7 * R * R * v * v * v));
        EXPECT_NEAR(i10, std::round(i10), 1e-6 * std::abs(i10));
        const int q = Y / R > 0.02f ? int(std::lround(Y / R / 0.02f)) : 1;
        const int r = v > 0.02f ? int(std::lround(v / 0.02f)) : 1;
        return std::pair(std::lround(i10), long(std::min(q, 200) + 1000 * r));
    };
    run.slice(3);
    for (int j = 1; j <= 32; ++j)
        for (int i = 1; i <= 32; ++i) {
            const auto [got, want] = code(i, j, 0.0);
            EXPECT_EQ(got, want) << i << ' ' << j;
        }
    run.dir.write("loop.ini", config("{loop}", {"1 1 0 1 0", "70.0", "16 -300 8", "0 1 0", "0.3",
                                                "tabulation"}));
    run.slice(3);
    const LoopGeometry lg{1.0, R, 1.0, 0.0, 0.0, 0.3};
    for (int i = 1; i <= 32; ++i) // |u| > 4: the integrals of the point itself
        EXPECT_TRUE(near_rel(run.st.s_g_r(i, 1, beam(1)),
                             -2.0 * loop_exact_field(lg, i - 16.5, 300.5, z), 1e-12))
            << i;

    run.dir.write("loop.ini",
                  config("{loop}", {"1 1 0 1 0", "70.0", "16 0 8", "0 1 0", "0.3", "tabulation"}));
    write_tables(run.dir, false);
    EXPECT_FALSE(any_nonzero(run.slice(3).st.s_g_r));
    std::filesystem::remove(run.dir.path() / "i10.data");
    EXPECT_THROW(run.slice(3), ReadError);
}

// Below radius 60 the far field serves every column and no table is opened or made.
TEST(LoopIso, ModelsTablesAndUndefinedPoints) {
    LoopGeometry lg{std::sqrt(3.0) / 3.0,  50.0, 1.0 / std::sqrt(3.0), 1.0 / std::sqrt(3.0),
                    -1.0 / std::sqrt(3.0), 0.3};
    const double expect = -2.0 * loop_far_field(lg, 7.5 - 16.0, 20.5 - 16.0, 8.0 - 3.5);
    DefectRun run = loop_run("50.0", "tabulation");
    EXPECT_TRUE(near_rel(run.slice(4).st.s_g_r(8, 21, 3), expect, 1e-14));
    EXPECT_TRUE(expect != 0.0 && loop_far_field(lg, 0, 0, 0) == 0.0); // zero only at the centre
    EXPECT_FALSE(run.dir.exists("i01.data"));

    // An unknown model (a misspelling) stops at its record with the words accepted, whatever the
    // radius; "integral" runs silently. Where the near field is undefined (in the plane of a loop
    // on a slice centre, on its axis) the terms are zero, not NaN.
    for (const char* radius : {"70.0", "20.0"}) {
        DefectRun misspelt = loop_run(radius, "intergral");
        const Lines l = stop_lines([&] { misspelt.slice(1); });
        EXPECT_TRUE(l.size() == 2 &&
                    contains(l[0], "loop.ini\", record 8: the calculation model "
                                   "must be \"infinitesimal\", \"tabulation\" "
                                   "or \"integral\"") &&
                    l[1] == "Read: \"intergral\"")
            << l.at(0);
    }
    DefectRun integral = loop_run("70.0", "integral");
    EXPECT_TRUE(all_finite(integral.slice(1).st.s_g_r) && integral.console.str().empty());
    // A Burgers vector off the normal: its normal component only, said once a condition.
    DefectRun shear = loop_run("70.0", "integral", "16 16 8", "0 0 1");
    shear.slice(1).slice(2);
    EXPECT_EQ(shear.console.str(), " * WARNING: the circular loop takes only the Burgers vector's "
                                   "component along its normal, 0.333333 of 0.57735\n");

    DefectRun flat = loop_run("70.0", "tabulation", "16.5 16.5 2.5", "0 0 1");
    write_tables(flat.dir, true, true);
    for (int l = 1; l <= 16; ++l) {
        ASSERT_TRUE(all_finite(flat.slice(l).st.s_g_r)) << l;
        EXPECT_EQ(flat.st.s_g_r(17, 17, 3), 0.0) << l; // on the axis
    }

    // R = 80, b = 1/3[1 1 1] on (1 1 1), 5 Angstrom cells, against the 120-gon in the middle slice
    // and one through the rim (a sign error would anticorrelate). "tabulation" writes the missing
    // tables, says so once, reads them back. A Burgers vector in the loop plane has no prismatic
    // part.
    const Grid block{48, 48, 20, 240.0, 240.0, 100.0};
    DefectRun poly(5, "pg.ini",
                   config("{pg}", {"perfect", "1 3 1 1 1", "1 3 1 1 1", "80.0", "120 120 50",
                                   "1 1 1", "1 -1 0", "120", "0.3", "1.0"}),
                   "yes", block);
    DefectRun exact(3, "loop.ini", circular("integral"), "yes", block);
    DefectRun tab(3, "loop.ini", circular("tabulation"), "yes", block);
    for (const int l : {10, 4}) {
        poly.slice(l);
        for (DefectRun* model : {&exact, &tab}) {
            model->dir.enter(); // "loop.ini" is read from the working directory
            const auto [corr, rms] = agreement(model->slice(l).st.s_g_r, poly.st.s_g_r, beam(1));
            EXPECT_GE(corr, 0.99) << (model == &exact ? "integral " : "tabulation ") << l;
            EXPECT_LE(rms, 0.15) << (model == &exact ? "integral " : "tabulation ") << l;
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
