#include "optics/crystal.hpp"
#include "optics/potential.hpp"
#include "support/testing.hpp"

#include <numbers>
#include <tuple>

using namespace korvex::testing;

namespace {

constexpr double kPi = std::numbers::pi;
using Range = std::pair<double, double>;

// Relativistic wavelength and mass ratio at the voltage in volts, and the Debye-Waller B and
// cell factor P of a crystal, as the absorption calculation defines them.
struct Optics {
    double lambda, gamma, b, p;
};
Optics optics(double volts, const std::string& symbol) {
    const CrystalParams c = crystalparameter(symbol);
    return {12.264306 / std::sqrt(volts) / std::sqrt(1.0 + 9.78467e-7 * volts),
            1.0 + volts / 511000.0, 8.0 * kPi * kPi * c.msd, c.atoms / (kPi * std::pow(c.a, 3))};
}

// The Bird-King integral by an independent rule: midpoints in polar coordinates over the disc
// of radius 20 1/Angstrom (accurate to a few 1e-5 with this grid).
double bird_king_polar(const std::string& symbol, double s, double b) {
    const int nr = 2000, nt = 250;
    const double hr = 20.0 / nr, ht = 2.0 * kPi / nt;
    double sum = 0.0;
    for (int i = 0; i < nr; ++i)
        for (int j = 0; j < nt; ++j) {
            const double r = (i + 0.5) * hr, t = (j + 0.5) * ht;
            const double x = r * std::cos(t), y = r * std::sin(t);
            sum += r * cal_fab(symbol, std::hypot(x - s / 2, y)) *
                   cal_fab(symbol, std::hypot(x + s / 2, y)) *
                   (1.0 - std::exp(-2.0 * b * (x * x + y * y - s * s / 4.0)));
        }
    return sum * hr * ht;
}

// The zero-beam integral is radial: 2 pi * int r f(r)^2 (1 - exp(-2 B r^2)) dr, by Simpson's
// rule with h = 0.001, so that the kinks of the tabulated f lie on panel boundaries.
double bird_king_radial(const std::string& symbol, double b) {
    auto g = [&](double r) {
        const double f = cal_fab(symbol, r);
        return r * f * f * (1.0 - std::exp(-2.0 * b * r * r));
    };
    const int n = 20000;
    const double h = 20.0 / n;
    double sum = g(0.0) + g(20.0);
    for (int i = 1; i < n; ++i) sum += (i % 2 ? 4.0 : 2.0) * g(i * h);
    return 2.0 * kPi * sum * h / 3.0;
}

} // namespace

// Beyond s = 2 the Mott-Bethe tail Z 0.0239337 Angstrom / (s^2 + E), meeting the table there;
// symbols named by their first two characters, unknown ones leaving the value alone.
TEST(ScatteringAmplitude, TailAndUnknownSymbols) {
    const double a = 29 * 0.023933671181035725, e = a / cal_fab("Cu", 2.0) - 4.0;
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 3.0), a / (9.0 + e));
    EXPECT_NEAR(cal_fab("Cu", 1.999999999999), cal_fab("Cu", 2.0), 1e-12);
    EXPECT_EQ(cal_fab("Cu", 0.0), cal_fab("Cu-annealed", 0.0));
    for (const char* sym : {"Fe", "Si", "Au", "Ag", "Al", "Mo"})
        EXPECT_TRUE(has_scattering_table(sym) && cal_fab(sym, 1.99) > cal_fab(sym, 2.01)) << sym;
    EXPECT_FALSE(has_scattering_table("Li") || has_scattering_table("cu"));
    EXPECT_EQ(cal_fab("Li", 0.3, -7.0) + cal_fab("C", 0.3, 1.5), -5.5);
}

// The absorptive coefficients against independent evaluations of the Bird-King integral.
TEST(BirdKing, AbsorptionRealCoefficientsAndStructureFactors) {
    const auto zero = birdking(200000.0, "Cu", 1, {0, 0, 0}, 1);
    const auto row = birdking(200000.0, "Cu", 2, {2, 0, 0}, 1);
    const Optics o = optics(200000.0, "Cu");
    const double pre = o.p * 2.0 * o.gamma * o.lambda;
    EXPECT_TRUE(near_rel(zero.ui[0], pre * bird_king_radial("Cu", o.b), 2e-5));
    for (int m = 1; m <= 2; ++m) {
        const double s = m * 2.0 / (2.0 * 3.61);
        const double expect = pre * bird_king_polar("Cu", s, o.b) * std::exp(-o.b * s * s);
        EXPECT_TRUE(near_rel(row.ui[static_cast<std::size_t>(m - 1)], expect, 1e-4)) << m;
    }
    // Absorption is a few per cent of the real potential at low order.
    EXPECT_TRUE(zero.ui[0] / zero.u[0] > 0.01 && zero.ui[0] / zero.u[0] < 0.1) << zero.ui[0];
    EXPECT_EQ(zero.notes + row.notes, "");

    // U_g = P f(s) exp(-B s^2) times the structure factor of the cell over its atoms: 1 for the
    // allowed reflections of fcc and bcc, zero for the forbidden ones (fcc mixed parity, bcc h + k
    // + l odd, negative indices included, U and U' alike); diamond adds the phase of its second fcc
    // sub-lattice. The reflections of a row are the multiples m (h k l); without absorption U' is
    // zero; an empty row has no coefficients but still the lattice constant.
    auto u = [&](const char* el, std::array<int, 3> hkl, int m, int iabs = 1) {
        const auto r = birdking(200000.0, el, m, hkl, iabs);
        EXPECT_EQ(std::pair(r.a, r.notes), std::pair(crystalparameter(el).a, std::string()));
        return r.u.empty() ? std::pair{0.0, 0.0} : std::pair{r.u.back(), r.ui.back()};
    };
    const std::tuple<const char*, std::array<int, 3>, int, int> cases[] = {
        {"Cu", {1, 0, 0}, 3, 0}, {"Al", {1, 1, 1}, 1, 1}, {"Fe", {-1, 0, 0}, 1, 0},
        {"Mo", {1, 1, 0}, 1, 1}, {"Si", {2, 0, 0}, 1, 0}, {"Si", {2, 0, 0}, 2, -1}};
    for (const auto& [el, hkl, m, sign] : cases) {
        const auto [re, im] = u(el, hkl, m);
        EXPECT_EQ(std::pair((re > 0) - (re < 0), (im > 0) - (im < 0)), std::pair(sign, sign))
            << el << hkl[0] << hkl[1] << hkl[2] << m;
    }
    EXPECT_EQ(u("Cu", {1, 0, 0}, 2), u("Cu", {2, 0, 0}, 1));
    auto in_phase = [&](const char* el, double s) {
        const Optics e = optics(200000.0, el);
        return e.p * cal_fab(el, s) * std::exp(-e.b * s * s);
    };
    for (int m = 1; m <= 3; ++m) {
        const auto [re, im] = u("Cu", {2, 0, 0}, m, 0);
        EXPECT_TRUE(near_rel(re, in_phase("Cu", m / 3.61), 1e-12)) << m;
        EXPECT_EQ(im, 0.0);
    }
    const double phase[] = {std::cos(3.0 * kPi / 4.0), 0.0, std::cos(9.0 * kPi / 4.0), -1.0};
    for (int m = 1; m <= 4; ++m)
        EXPECT_TRUE(near_rel(u("Si", {1, 1, 1}, m).first,
                             phase[m - 1] * in_phase("Si", m * std::sqrt(3.0) / (2.0 * 5.42)),
                             1e-12))
            << m;
    EXPECT_TRUE(near_rel(u("Si", {0, 0, 0}, 1).first, in_phase("Si", 0.0), 1e-12));
    EXPECT_EQ(u("Fe", {1, 1, 0}, 0), std::pair(0.0, 0.0));
}

// Against analytic integrals: the area of a disc (the square-root edge of the outer integrand is
// the hard case), and int_0^1 x int_0^x y^2 dy dx = 1/15 (the outer weight multiplies the
// inner integral). Tolerances that can never be met: each inner integral gives up after 20
// levels with a message, and the outer level stops the run after 80.
TEST(Gauss2, AnalyticIntegralsAndLevelLimits) {
    std::string log;
    auto disc = [](double x) {
        const double y = std::sqrt(std::max(0.0, 400.0 - x * x));
        return Range{-y, y};
    };
    auto one = [](double) { return 1.0; };
    auto flat = [](double, double) { return 1.0; };
    EXPECT_TRUE(near_rel(gauss2(-20, 20, 1e-4, 1e-6, disc, one, flat, log), 400.0 * kPi, 1e-5));
    auto tri = [](double x) { return Range{0.0, x}; };
    auto x_times = [](double x) { return x; };
    auto y2 = [](double, double y) { return y * y; };
    EXPECT_TRUE(near_rel(gauss2(0, 1, 1e-4, 1e-6, tri, x_times, y2, log), 1.0 / 15.0, 1e-13));
    EXPECT_EQ(log, "");
    auto square = [](double) { return Range{0.0, 1.0}; };
    auto xy = [](double x, double y) { return x * y; };
    EXPECT_EQ(stop_lines([&] { gauss2(0, 1, 0.0, 0.0, square, one, xy, log); }),
              Lines{" number of iterations = 80 = limiting value"});
    EXPECT_EQ(log.rfind("  number of iterations = 20 = limiting value\n", 0), 0u) << log;
}
