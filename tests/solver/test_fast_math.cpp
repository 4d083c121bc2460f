// The propagator's exp, sin and cos within 2 ulp of the C library over the slices' ranges.
#include "solver/fast_math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace korvex::solver;

TEST(FastMath, ExpSinCosWithinTwoUlpOfTheLibrary) {
    std::mt19937_64 rng(7);
    const double ulp = std::numeric_limits<double>::epsilon();
    auto within = [&](double got, double want, double scale) {
        return std::abs(got - want) <= 2.0 * ulp * scale;
    };
    for (const double range : {1e-3, 1.0, 4.0, 100.0, 1e4, kTrigMax}) {
        std::uniform_real_distribution<double> u(-range, range);
        for (int i = 0; i < 20000; ++i) {
            const double x = i < 8 ? (i - 4) * 1.5707963267948966 : u(rng);
            double s = 0.0, c = 0.0;
            sin_cos(x, s, c);
            // Absolute error: the amplitudes are sums of terms of order 1.
            ASSERT_TRUE(within(s, std::sin(x), 1.0) && within(c, std::cos(x), 1.0))
                << x << ": " << s - std::sin(x) << " " << c - std::cos(x);
        }
    }
    std::uniform_real_distribution<double> v(-kExpMax, kExpMax);
    for (int i = 0; i < 100000; ++i) {
        const double x = i < 3 ? (i - 1) * kExpMax : i < 100 ? v(rng) * 1e-3 : v(rng);
        ASSERT_TRUE(within(exp_reduced(x), std::exp(x), std::exp(x))) << x;
    }
}
