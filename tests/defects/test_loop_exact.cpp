// The circular loop's own field: the five loop integrals against a Bessel quadrature, the
// "integral" and "tabulation" models against a polygonal loop of 120 sides with the same
// Burgers vector and normal, the seam of the tabulated near and far fields, and the tables
// computed and left behind when a run finds none.
#include "defects/loop_integrals.hpp"
#include "defects/loop_iso.hpp"
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

TEST(LoopIso, ProbeAgainstPolygon) {
    DefectRun poly(5, "pg.ini", polygon(120), "yes", kBlock);
    DefectRun exact(3, "loop.ini", circular("integral"), "yes", kBlock);
    for (int l : {10, 4, 16}) {
        poly.slice(l);
        exact.slice(l);
        for (int n : {1, 3, 4}) {
            auto [c, r] = agreement(exact.st.s_g_r, poly.st.s_g_r, n);
            printf("slice %d beam %d corr %.5f rms %.4f  ref %g got %g\n", l, n, c, r,
                   poly.st.s_g_r(10, 30, n), exact.st.s_g_r(10, 30, n));
        }
    }
}
