// The convergent probe: the quadrature of its disc, each direction's excitation errors, and the
// exit angles that decide which beams reach a detector.
#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "optics/probe.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <cmath>

using namespace korvex::testing;

namespace {

constexpr double kK = 39.8884, kG = 0.554017; // Cu (2 0 0) at 200 kV, 1/Angstrom

Array1<double> row(int first, int last) {
    Array1<double> mg(last - first + 1);
    for (int n = 1; n <= mg.size(); ++n) mg(n) = (first + n - 1) * kG;
    return mg;
}

} // namespace

// Equal weights adding to 1, the axis first, every direction inside the disc, the set mirrored
// across the row, and the spread of a uniformly lit disc (mean square tilt alpha^2 / 2) ever
// closer as the directions grow; one direction (the axis) for a single direction or no
// convergence.
TEST(ProbeQuadrature, EqualCellsOfTheDiscMirroredAcrossTheRow) {
    const double alpha = 5e-3;
    double last_error = 1.0;
    for (int count : {1, 2, 3, 7, 8, 16, 19, 37, 61, 127}) {
        const auto dirs = probe_directions(alpha, count);
        ASSERT_EQ(static_cast<int>(dirs.size()), count);
        EXPECT_TRUE(dirs.front().axis());
        double w = 0.0, r2 = 0.0;
        for (const auto& d : dirs) {
            w += d.weight;
            EXPECT_EQ(d.weight, dirs.front().weight);
            EXPECT_LT(std::hypot(d.along, d.across), alpha);
            r2 += d.weight * (d.along * d.along + d.across * d.across);
            const bool mirrored = std::any_of(dirs.begin(), dirs.end(), [&](const auto& e) {
                return e.along == d.along && e.across == -d.across;
            });
            EXPECT_TRUE(mirrored) << count << " " << d.along << " " << d.across;
        }
        EXPECT_NEAR(w, 1.0, 1e-14);
        // The cells' own spread is missing from the points': the error falls as the cells shrink.
        const double error = std::abs(r2 / (alpha * alpha / 2) - 1.0);
        if (count >= 7) {
            EXPECT_LT(error, 0.6 / count) << count;
        }
        if (count >= 19) {
            EXPECT_LT(error, last_error) << count;
        }
        if (count >= 7) last_error = error;
    }
    EXPECT_EQ(probe_directions(0.0, 19).size(), 1u);
    EXPECT_EQ(probe_directions(alpha, 1).size(), 1u);
}

// The axis gives geometry()'s excitation errors bit for bit and exit angles 0 (beam 0) and the
// scattering angle 2 asin(g / 2k) (beam 1 at the Bragg condition); a tilt along g moves s_m by
// -m g tilt to first order, a tilt across the row only at second order; a direction tilted by
// theta sends its beam 0 out at theta.
TEST(ProbeGeometry, ExcitationErrorsAndExitAnglesOfATiltedDirection) {
    const Array1<double> mg = row(-2, 3);
    const int n = mg.size();
    Array1<cplx> q(n);
    Array1<double> s_axis(n), s(n), s2(n);
    for (double cond : {1.0, 0.0, -1.5, 3.0}) {
        geometry(n, kG, mg, kK, cond, q, s_axis);
        direction_excitation_errors(n, kG, mg, kK, cond, ProbeDirection{}, s);
        for (int i = 1; i <= n; ++i) EXPECT_EQ(s(i), s_axis(i));
        const double a = 1e-4;
        direction_excitation_errors(n, kG, mg, kK, cond, {a, 0.0, 1.0}, s);
        for (int i = 1; i <= n; ++i)
            EXPECT_NEAR(s(i) - s_axis(i), -mg(i) * a, 2e-3 * std::abs(mg(i) * a) + 1e-12) << i;
        direction_excitation_errors(n, kG, mg, kK, cond, {0.0, 10 * a, 1.0}, s);
        direction_excitation_errors(n, kG, mg, kK, cond, {0.0, 20 * a, 1.0}, s2);
        for (int i = 1; i <= n; ++i) {
            if (mg(i) == 0.0) continue;
            EXPECT_LT(std::abs(s(i) - s_axis(i)), 1e-2 * std::abs(mg(i) * 10 * a)) << i;
            EXPECT_NEAR((s2(i) - s_axis(i)) / (s(i) - s_axis(i)), 4.0, 1e-3) << i;
        }
        for (const auto& d : probe_directions(5e-3, 19))
            EXPECT_NEAR(exit_angle(kK, kG, cond, d, 0.0), std::hypot(d.along, d.across), 1e-12);
    }
    EXPECT_LT(exit_angle(kK, kG, 1.0, ProbeDirection{}, 0.0), 1e-15);
    EXPECT_NEAR(exit_angle(kK, kG, 1.0, ProbeDirection{}, kG), 2 * std::asin(kG / (2 * kK)), 1e-15);
    // Beam m of a direction tilted along g leaves near its tilt plus m times 2 theta_B.
    EXPECT_NEAR(exit_angle(kK, kG, 1.0, {2e-3, 0.0, 1.0}, -kG), 2 * std::asin(kG / (2 * kK)) - 2e-3,
                1e-6);
    // A beam beyond the sphere's reach has no excitation error and no exit.
    Array1<double> far(1), s_far(1);
    far(1) = 2.5 * kK;
    direction_excitation_errors(1, kG, far, kK, 1.0, {1e-3, 0.0, 1.0}, s_far);
    EXPECT_TRUE(std::isnan(s_far(1)));
    EXPECT_TRUE(std::isnan(exit_angle(kK, kG, 1.0, {1e-3, 0.0, 1.0}, far(1))));
}

// A bright-field detector as wide as the probe takes beam 0 of every direction and nothing else;
// an annulus around the first-order discs takes beams -1 and 1 of every direction; weights are
// the directions'.
TEST(ProbeGeometry, DetectorsTakeTheBeamsWhoseExitFallsOnThem) {
    const Array1<double> mg = row(-2, 2);
    const auto dirs = probe_directions(5e-3, 19);
    const double two_theta = 2 * std::asin(kG / (2 * kK)); // about 13.9 mrad
    const auto bf = detector_weights(0.0, 5e-3, dirs, 5, mg, kK, kG, 1.0);
    const auto adf = detector_weights(two_theta - 5e-3, two_theta + 5e-3, dirs, 5, mg, kK, kG, 1.0);
    double sum_bf = 0.0, sum_adf = 0.0;
    for (std::size_t d = 0; d < dirs.size(); ++d)
        for (int i = 1; i <= 5; ++i) {
            const double b = bf[d * 5 + std::size_t(i - 1)], a = adf[d * 5 + std::size_t(i - 1)];
            EXPECT_EQ(b, i == 3 ? dirs[d].weight : 0.0);
            EXPECT_EQ(a, i == 2 || i == 4 ? dirs[d].weight : 0.0) << d << " " << i;
            sum_bf += b, sum_adf += a;
        }
    EXPECT_NEAR(sum_bf, 1.0, 1e-14);
    EXPECT_NEAR(sum_adf, 2.0, 1e-14);
}
