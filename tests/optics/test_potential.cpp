#include "optics/crystal.hpp"
#include "optics/potential.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <numbers>
#include <sstream>

using namespace korvex;
using korvex::testing::near_rel;
using korvex::testing::stop_lines;

namespace {

constexpr double kPi = std::numbers::pi;

// Relativistic electron wavelength and mass ratio at the voltage in volts, and the Debye-Waller
// B and cell factor P of a crystal, as the absorption calculation defines them.
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
    for (int i = 0; i < nr; ++i) {
        const double r = (i + 0.5) * hr;
        double ring = 0.0;
        for (int j = 0; j < nt; ++j) {
            const double t = (j + 0.5) * ht;
            const double x = r * std::cos(t), y = r * std::sin(t);
            const double xm = x - s / 2, xp = x + s / 2;
            ring += cal_fab(symbol, std::sqrt(xm * xm + y * y)) *
                    cal_fab(symbol, std::sqrt(xp * xp + y * y)) *
                    (1.0 - std::exp(-2.0 * b * (x * x + y * y - s * s / 4.0)));
        }
        sum += ring * r;
    }
    return sum * hr * ht;
}

// The zero-beam integral is radial: 2 pi * int r f(r)^2 (1 - exp(-2 B r^2)) dr, by Simpson's
// rule with the kinks of the tabulated f on panel boundaries.
double bird_king_radial(const std::string& symbol, double b) {
    auto g = [&](double r) {
        const double f = cal_fab(symbol, r);
        return r * f * f * (1.0 - std::exp(-2.0 * b * r * r));
    };
    const int n = 20000; // h = 0.001: every table point is a multiple of 2h
    const double h = 20.0 / n;
    double sum = g(0.0) + g(20.0);
    for (int i = 1; i < n; ++i) sum += (i % 2 ? 4.0 : 2.0) * g(i * h);
    return 2.0 * kPi * sum * h / 3.0;
}

} // namespace

TEST(ScatteringAmplitude, TableParabolaInterpolationAndTail) {
    EXPECT_EQ(cal_fab("Cu", 0.0), 5.6);
    EXPECT_EQ(cal_fab("Cu", -1.0), 5.6);
    // Below the second grid point a parabola with zero slope at s = 0.
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 0.005), 5.6 - (5.6 - 5.587) / 4.0);
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 0.01), 5.587);
    // Grid points and linear interpolation between them.
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 0.26), 2.719);
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 0.27), (2.719 + 2.568) / 2.0);
    EXPECT_TRUE(near_rel(cal_fab("Cu", 0.277008310249307), 2.59059, 5e-6));
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 0.35), 2.123);
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 1.95), (0.165 + 0.15) / 2.0);
    // From s = 2 on: A / (s^2 + E), meeting the last table value at s = 2.
    EXPECT_TRUE(near_rel(cal_fab("Cu", 2.0), 0.15, 1e-14));
    const double a = 29 * 0.023933671181035725, e = a / 0.15 - 4.0;
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 3.0), a / (9.0 + e));
    EXPECT_LT(cal_fab("Cu", 20.0), cal_fab("Cu", 3.0));
}

TEST(ScatteringAmplitude, TheSevenCrystalElementsHaveTables) {
    const std::pair<const char*, double> first[] = {{"Cu", 5.6},    {"Fe", 7.165}, {"Si", 5.828},
                                                    {"Au", 10.573}, {"Ag", 8.671}, {"Al", 5.889},
                                                    {"Mo", 10.26}};
    for (const auto& [sym, f1] : first) {
        EXPECT_TRUE(has_scattering_table(sym)) << sym;
        EXPECT_EQ(cal_fab(sym, 0.0), f1) << sym;
        EXPECT_GT(cal_fab(sym, 1.99), cal_fab(sym, 2.01)) << sym;
    }
    EXPECT_TRUE(near_rel(cal_fab("Mo", 2.0), 0.216, 1e-14));
    EXPECT_DOUBLE_EQ(cal_fab("Au-x", 1.0), 1.208);
    // Symbols without a table leave the value as it was.
    EXPECT_FALSE(has_scattering_table("Li"));
    EXPECT_FALSE(has_scattering_table("cu"));
    EXPECT_EQ(cal_fab("Li", 0.3, -7.0), -7.0);
    EXPECT_EQ(cal_fab("C", 0.3, 1.5), 1.5);
}

TEST(BirdKing, CopperG200RealCoefficients) {
    std::ostringstream log;
    const auto zero = birdking(200000.0, "Cu", 1, {0, 0, 0}, 0, log);
    const auto row = birdking(200000.0, "Cu", 3, {2, 0, 0}, 0, log);
    EXPECT_EQ(zero.a, 3.61);
    EXPECT_EQ(row.a, 3.61);
    ASSERT_EQ(zero.u.size(), 1u);
    ASSERT_EQ(row.u.size(), 3u);
    EXPECT_TRUE(near_rel(zero.u[0], 0.151557, 5e-6));
    EXPECT_TRUE(near_rel(row.u[0], 0.0672405, 5e-6));
    EXPECT_TRUE(near_rel(row.u[1], 0.0295765, 5e-6));
    EXPECT_TRUE(near_rel(row.u[2], 0.0133594, 5e-6));
    EXPECT_TRUE(near_rel(zero.u[0] * lorentzfactor(200000.0), 0.210877, 5e-6));
    // B = 0.544802 and P = 0.0270638 behind them.
    EXPECT_TRUE(near_rel(zero.u[0] / 5.6, 0.0270638, 5e-6));
    const double s = 0.277008310249307;
    EXPECT_TRUE(near_rel(-std::log(row.u[0] / (zero.u[0] / 5.6 * cal_fab("Cu", s))) / (s * s),
                         0.544802, 5e-6));
    for (double ui : row.ui) EXPECT_EQ(ui, 0.0); // no absorption: exact zeros
    EXPECT_EQ(log.str(), "");
}

TEST(BirdKing, NoReflectionsStillGivesTheLatticeConstant) {
    std::ostringstream log;
    const auto r = birdking(200000.0, "Fe", 0, {1, 1, 0}, 1, log);
    EXPECT_EQ(r.a, 2.8664);
    EXPECT_TRUE(r.u.empty());
    EXPECT_TRUE(r.ui.empty());
    EXPECT_EQ(
        stop_lines([&] {
            birdking(200000.0, "Xx", 1, {0, 0, 0}, 0, log);
        }),
        std::vector<std::string>{"No this element found in the subroutine CrystalParameter."});
}

TEST(BirdKing, AbsorptionAgreesWithIndependentIntegration) {
    std::ostringstream log;
    const auto zero = birdking(200000.0, "Cu", 1, {0, 0, 0}, 1, log);
    const auto row = birdking(200000.0, "Cu", 2, {2, 0, 0}, 1, log);
    const Optics o = optics(200000.0, "Cu");
    const double pre = o.p * 2.0 * o.gamma * o.lambda;
    EXPECT_TRUE(near_rel(zero.ui[0], pre * bird_king_radial("Cu", o.b), 2e-5));
    for (int m = 1; m <= 2; ++m) {
        const double s = m * 2.0 / (2.0 * 3.61);
        const double expect = pre * bird_king_polar("Cu", s, o.b) * std::exp(-o.b * s * s);
        EXPECT_TRUE(near_rel(row.ui[static_cast<std::size_t>(m - 1)], expect, 1e-4)) << m;
    }
    // Absorption is a few per cent of the real potential at low order.
    EXPECT_GT(zero.ui[0] / zero.u[0], 0.01);
    EXPECT_LT(zero.ui[0] / zero.u[0], 0.1);
    EXPECT_EQ(log.str(), "");
}

TEST(BirdKing, ForbiddenReflectionsVanish) {
    std::ostringstream log;
    // fcc: mixed parity; (1 0 0) at m = 2 is (2 0 0).
    const auto cu100 = birdking(200000.0, "Cu", 4, {1, 0, 0}, 1, log);
    const auto cu200 = birdking(200000.0, "Cu", 2, {2, 0, 0}, 1, log);
    EXPECT_EQ(cu100.u[0], 0.0);
    EXPECT_EQ(cu100.ui[0], 0.0);
    EXPECT_EQ(cu100.u[2], 0.0);
    EXPECT_EQ(cu100.ui[2], 0.0);
    EXPECT_EQ(cu100.u[1], cu200.u[0]);
    EXPECT_EQ(cu100.ui[1], cu200.ui[0]);
    EXPECT_EQ(cu100.u[3], cu200.u[1]);
    EXPECT_GT(cu200.ui[0], 0.0);
    // fcc (1 1 1) and (2 2 0) are allowed.
    EXPECT_GT(birdking(200000.0, "Al", 1, {1, 1, 1}, 0, log).u[0], 0.0);
    // bcc: h + k + l odd.
    const auto fe100 = birdking(200000.0, "Fe", 2, {1, 0, 0}, 0, log);
    EXPECT_EQ(fe100.u[0], 0.0);
    EXPECT_GT(fe100.u[1], 0.0);
    EXPECT_GT(birdking(200000.0, "Mo", 1, {1, 1, 0}, 0, log).u[0], 0.0);
    EXPECT_EQ(birdking(200000.0, "Mo", 1, {1, 1, 1}, 0, log).u[0], 0.0);
    // Negative indices follow the same rules.
    EXPECT_EQ(birdking(200000.0, "Fe", 1, {-1, 0, 0}, 0, log).u[0], 0.0);
}

TEST(BirdKing, DiamondStructureFactor) {
    std::ostringstream log;
    const auto si111 = birdking(200000.0, "Si", 4, {1, 1, 1}, 1, log);
    const Optics o = optics(200000.0, "Si");
    // Without the structure factor all eight atoms would add in phase.
    auto in_phase = [&](int m) {
        const double s = m * std::sqrt(3.0) / (2.0 * 5.42);
        return o.p * cal_fab("Si", s) * std::exp(-o.b * s * s);
    };
    EXPECT_TRUE(near_rel(si111.u[0], std::cos(3.0 * kPi / 4.0) * in_phase(1), 1e-12));
    EXPECT_LT(si111.ui[0], 0.0);
    EXPECT_EQ(si111.u[1], 0.0); // (2 2 2)
    EXPECT_EQ(si111.ui[1], 0.0);
    EXPECT_TRUE(near_rel(si111.u[2], std::cos(9.0 * kPi / 4.0) * in_phase(3), 1e-12));
    EXPECT_TRUE(near_rel(si111.u[3], -in_phase(4), 1e-12)); // (4 4 4)
    // (2 0 0) is forbidden, (4 0 0) has the factor cos(pi) = -1; mixed (1 1 0) is forbidden.
    const auto si200 = birdking(200000.0, "Si", 2, {2, 0, 0}, 0, log);
    EXPECT_EQ(si200.u[0], 0.0);
    EXPECT_LT(si200.u[1], 0.0);
    EXPECT_EQ(birdking(200000.0, "Si", 1, {1, 1, 0}, 0, log).u[0], 0.0);
    // The zero beam keeps all atoms in phase.
    EXPECT_TRUE(near_rel(birdking(200000.0, "Si", 1, {0, 0, 0}, 0, log).u[0], o.p * 5.828, 1e-12));
}

TEST(Gauss2, AnalyticIntegrals) {
    std::ostringstream log;
    auto disc = [](double x) {
        const double y = std::sqrt(std::max(0.0, 400.0 - x * x));
        return std::pair<double, double>{-y, y};
    };
    auto one = [](double) { return 1.0; };
    // Gaussian over the disc of radius 20: pi (1 - exp(-400)).
    EXPECT_TRUE(near_rel(gauss2(
                             -20, 20, 1e-4, 1e-6, disc, one,
                             [](double x, double y) { return std::exp(-(x * x + y * y)); }, log),
                         kPi, 1e-7));
    // Area of the disc: the inner limits matter. The square-root edge of the outer integrand
    // is the hard case; the scheme still meets its relative tolerance of 1e-5.
    EXPECT_TRUE(
        near_rel(gauss2(
                     -20, 20, 1e-4, 1e-6, disc, one, [](double, double) { return 1.0; }, log),
                 400.0 * kPi, 1e-5));
    // The outer weight multiplies the inner integral: int_0^1 x int_0^x y^2 dy dx = 1/15.
    EXPECT_TRUE(
        near_rel(gauss2(
                     0, 1, 1e-4, 1e-6,
                     [](double x) {
                         return std::pair<double, double>{0.0, x};
                     },
                     [](double x) { return x; }, [](double, double y) { return y * y; }, log),
                 1.0 / 15.0, 1e-13));
    EXPECT_EQ(log.str(), "");
}

TEST(Gauss2, InnerLevelLimitUsesThePartialTotalAndGoesOn) {
    auto unit = [](double) { return std::pair<double, double>{0.0, 1.0}; };
    auto one = [](double) { return 1.0; };
    const std::string line = "  number of iterations = 20 = limiting value";
    // A step at y = 2/3: every panel kept pending lies left of the step (value 1), every panel
    // accepted right of it, so abandoning the pending ones leaves nothing.
    {
        std::ostringstream log;
        const double r = gauss2(
            0, 1, 1e-12, 1e-12, unit, one,
            [](double, double y) { return y < 2.0 / 3.0 ? 1.0 : 0.0; }, log);
        EXPECT_EQ(r, 0.0);
        const auto lines = korvex::testing::split_lines(log.str());
        // One message per inner integral: 16 + 2 * 16 outer nodes, accepted at once.
        EXPECT_EQ(lines.size(), 48u);
        for (const auto& l : lines) EXPECT_EQ(l, line);
    }
    // Mirrored: the pending panels hold nothing, the accepted ones all of the integral.
    {
        std::ostringstream log;
        const double r = gauss2(
            0, 1, 1e-12, 1e-12, unit, one,
            [](double, double y) { return y >= 1.0 / 3.0 ? 1.0 : 0.0; }, log);
        EXPECT_TRUE(near_rel(r, 2.0 / 3.0, 1e-9));
        EXPECT_EQ(korvex::testing::split_lines(log.str()).front(), line);
    }
}

TEST(Gauss2, OuterLevelLimitStops) {
    std::ostringstream log;
    // Zero tolerances can never be met.
    const auto lines = stop_lines([&] {
        gauss2(
            0, 1, 0.0, 0.0,
            [](double) {
                return std::pair<double, double>{0.0, 1.0};
            },
            [](double) { return 1.0; }, [](double x, double y) { return x * y; }, log);
    });
    EXPECT_EQ(lines, std::vector<std::string>{" number of iterations = 80 = limiting value"});
}
