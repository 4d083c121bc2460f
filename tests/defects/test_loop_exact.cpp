// The circular loop's own field: the five loop integrals against a Bessel quadrature, the
// "integral" and "tabulation" models against a polygonal loop of 120 sides with the same
// Burgers vector and normal, the seam of the tabulated near and far fields, and the tables
// computed and left behind when a run finds none.
#include "defects/loop_integrals.hpp"
#include "defects/loop_iso.hpp"
#include "defects/loop_tables.hpp"
#include "fixture.hpp"

#include <array>
#include <filesystem>
#include <vector>

using namespace korvex;
using namespace korvex::testing;

namespace {

// J(1, n; p) at (|u|, v) by 20-point Gauss-Legendre panels of unit length in k, out to where
// exp(-k |u|) has fallen below 1e-17.
double bessel_integral(int n, int p, double au, double v) {
    static const auto rule = [] {
        std::array<std::array<double, 2>, 20> w{};
        for (int i = 0; i < 20; ++i) {
            double t = std::cos(kPi * (i + 0.75) / 20.5), dp = 1.0;
            for (int it = 0; it < 50; ++it) {
                double p0 = 1.0, p1 = t;
                for (int k = 2; k <= 20; ++k)
                    std::tie(p0, p1) = std::pair(p1, ((2 * k - 1) * t * p1 - (k - 1) * p0) / k);
                dp = 20.0 * (t * p1 - p0) / (t * t - 1.0);
                t -= p1 / dp;
            }
            w[std::size_t(i)] = {t, 2.0 / ((1.0 - t * t) * dp * dp)};
        }
        return w;
    }();
    double s = 0.0;
    for (double a = 0.0; a < 40.0 / au; a += 1.0)
        for (const auto& [x, w] : rule) {
            const double k = a + 0.5 * (x + 1.0);
            s += 0.5 * w * std::cyl_bessel_j(1.0, k) * std::cyl_bessel_j(double(n), k * v) *
                 std::pow(k, p) * std::exp(-k * au);
        }
    return s;
}

std::string circular(const std::string& model, const std::string& radius = "80.0",
                     const std::string& b = "1 3 1 1 1") {
    return config("{Data for the circular loop}", {b, radius, "120 120 50", "1 1 1", "0.3", model});
}

std::string polygon(int sides, const std::string& b = "1 3 1 1 1") {
    return config("{Data for the polygonal loop in Crystal}",
                  {"perfect", b, b, "80.0", "120 120 50", "1 1 1", "1 -1 0", std::to_string(sides),
                   "0.3", "1.0"});
}

// The 240 x 240 x 100 Angstrom block on a coarse grid of 5 Angstrom cells.
constexpr Grid kBlock{48, 48, 20, 240.0, 240.0, 100.0};

// Correlation and RMS difference over the RMS of `ref`, both maps clipped at the 99th
// percentile of |ref| (the few columns next to the loop line, where the core models differ).
std::pair<double, double> agreement(const Array3<double>& a, const Array3<double>& ref, int n) {
    std::vector<double> x, y;
    for (int j = 1; j <= ref.n2(); ++j)
        for (int i = 1; i <= ref.n1(); ++i) x.push_back(a(i, j, n)), y.push_back(ref(i, j, n));
    std::vector<double> mag(y.size());
    std::transform(y.begin(), y.end(), mag.begin(), [](double v) { return std::abs(v); });
    std::nth_element(mag.begin(), mag.begin() + long(mag.size() * 99 / 100), mag.end());
    const double clip = mag[mag.size() * 99 / 100];
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, sdd = 0;
    for (std::size_t q = 0; q < x.size(); ++q) {
        const double p = std::clamp(x[q], -clip, clip), r = std::clamp(y[q], -clip, clip);
        sx += p, sy += r, sxx += p * p, syy += r * r, sxy += p * r, sdd += (p - r) * (p - r);
    }
    const double m = double(x.size());
    const double corr = (sxy - sx * sy / m) / std::sqrt((sxx - sx * sx / m) * (syy - sy * sy / m));
    return {corr, std::sqrt(sdd / syy)};
}

} // namespace

TEST(LoopIntegrals, ClosedFormsAgainstBesselQuadrature) {
    // Next to the loop line, inside and outside it, near the axis, at the seam, far away.
    const std::array<double, 2> points[] = {{0.05, 1.0}, {0.1, 0.95}, {0.2, 1.2}, {0.3, 0.5},
                                            {1.0, 2.0},  {2.0, 0.01}, {0.5, 3.0}, {4.0, 3.0},
                                            {6.0, 12.0}, {15.0, 2.0}};
    for (const auto& [au, v] : points) {
        const LoopIntegrals in = loop_integrals(au, v);
        const std::array<std::array<double, 4>, 5> cases{{{in.i01, 0, 1, 0},
                                                          {in.i10, 1, 0, 0},
                                                          {in.i11, 1, 1, 0},
                                                          {in.i02, 0, 2, 0},
                                                          {in.i12, 1, 2, 0}}};
        for (const auto& [got, n, p, unused] : cases) {
            const double want = bessel_integral(int(n), int(p), au, v);
            EXPECT_NEAR(got, want, 1e-9 * std::abs(want) + 1e-15)
                << "J(1," << n << ";" << p << ") at |u| " << au << ", v " << v;
        }
    }
}

// The loop (R = 80, b = 1/3[1 1 1] on (1 1 1), Cu, g = 2 0 0, zone axis 0 0 1) in
// both circular models against the 120-gon: the middle slice and one through the loop's rim.
// The "tabulation" run finds no tables, computes and leaves them (once), and reads them back.
// Reversing b reverses the field; a Burgers vector in the loop plane has no prismatic part.
TEST(LoopIso, CircularModelsMatchAManySidedPolygon) {
    DefectRun poly(5, "pg.ini", polygon(120), "yes", kBlock);
    DefectRun exact(3, "loop.ini", circular("integral"), "yes", kBlock);
    DefectRun tab(3, "loop.ini", circular("tabulation"), "yes", kBlock);
    for (const int l : {10, 4}) {
        poly.slice(l);
        for (DefectRun* run : {&exact, &tab}) {
            run->dir.enter(); // "loop.ini" is read from the working directory
            const auto [corr, rms] = agreement(run->slice(l).st.s_g_r, poly.st.s_g_r, beam(1));
            EXPECT_GE(corr, 0.99) << run->st.loop_cal_model << " slice " << l;
            EXPECT_LE(rms, run == &exact ? 0.12 : 0.15) << run->st.loop_cal_model << " slice " << l;
        }
    }
    const std::string note = " Loop integral tables not found: computed and written i01.data "
                             "i10.data i11.data i02.data i12.data\n";
    EXPECT_EQ(tab.console.str(), note);
    LoopTables back;
    read_loop_tables(back); // the working directory is still the tabulation run's
    const double h = 0.02f;
    for (const auto& [q, r] : {std::pair(1, 50), std::pair(50, 50), std::pair(200, 150)}) {
        const LoopIntegrals in = loop_integrals(q * h, r * h);
        EXPECT_FLOAT_EQ(back.i01(q, r), float(in.i01));
        EXPECT_FLOAT_EQ(back.i12(q, r), float(in.i12));
    }

    const Array3<double> forward = exact.st.s_g_r;
    exact.dir.enter();
    exact.dir.write("loop.ini", circular("integral", "80.0", "-1 3 1 1 1"));
    const Array3<double>& back_b = exact.slice(4).st.s_g_r;
    EXPECT_TRUE(std::equal(forward.data(), forward.data() + forward.size(), back_b.data(),
                           [](double a, double b) { return a == -b; }));
    exact.dir.write("loop.ini", circular("integral", "80.0", "1 2 1 -1 0"));
    EXPECT_FALSE(any_nonzero(exact.slice(4).st.s_g_r));
    EXPECT_NE(exact.console.str().find("WARNING"), std::string::npos);
}

// At the seam of the tabulated near field and the far field (|u| = 4, v = 3, r = 5 R) both
// differ from the exact field: the tables by their single-precision rounding, the far field
// (the infinitesimal loop) by the next multipole, up to 16 % of the local value and 9 % of the
// largest value around the seam. R = 60, normal [1 1 1], points all around the loop axis.
TEST(LoopIso, SeamOfTabulatedNearAndFarField) {
    LoopTables t;
    compute_loop_tables(t);
    const double s3 = 1.0 / std::sqrt(3.0), R = 60.0;
    const LoopGeometry lg{s3, R, s3, s3, -s3, 0.3};
    const Vec3 n{s3, s3, -s3}; // the normal's (X, Y, Z) components: p = n . (X, Y, Z)
    const Vec3 e1 = scaled(Vec3{1, -1, 0}, 1.0 / std::sqrt(2.0)), e2 = cross_product(n, e1);
    double top = 0.0, worst = 0.0;
    for (int k = 0; k < 12; ++k)
        for (const double u : {4.0, -4.0}) {
            const double c = std::cos(k * kPi / 6), s = std::sin(k * kPi / 6);
            Vec3 P{};
            for (std::size_t q = 0; q < 3; ++q)
                P[q] = R * (u * n[q] + 3.0 * (c * e1[q] + s * e2[q]));
            const LoopIntegrals in{t.i01(200, 150), t.i10(200, 150), t.i11(200, 150),
                                   t.i02(200, 150), t.i12(200, 150)};
            const double exact = loop_exact_field(lg, P[0], P[1], P[2]);
            const double near = loop_near_field(lg, P[0], P[2], u, 3.0, in);
            const double far = loop_far_field(lg, P[0], P[1], P[2]);
            EXPECT_NEAR(near, exact, 1e-6 * std::abs(exact));
            top = std::max(top, std::abs(exact));
            worst = std::max(worst, std::abs(far - near));
        }
    EXPECT_LT(worst, 0.09 * top) << worst / top;
}
