#include "driver/grey_levels.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace korvex {

namespace {

// The integer part of t, a level computed in floating point. (A - min)*(levels - 1) rounds
// before the division, so a value that lies exactly on a level boundary (the largest value
// itself, or 6 in 1..6 over 100 levels) can come out a hair below it; anything closer to the
// level above than the rounding of the formula could cause (1e-10 of a level against some
// 1e-13) counts as that level. The guards keep a value that is not a number, or an
// overflowing range, from becoming an undefined conversion.
int grey_level(double t, int top) {
    if (!(t >= 0.0)) return 0;
    if (t >= top) return top;
    const int k = static_cast<int>(t);
    return t > k + 1 - 1e-10 ? k + 1 : k;
}

} // namespace

GreyLevels grey_levels(const ImageData& img, int levels) {
    if (levels < 2) throw std::invalid_argument("grey_levels: at least two levels are needed");
    GreyLevels g;
    const int nx = img.nx(), ny = img.ny();
    g.level.resize(nx, ny);
    if (nx < 1 || ny < 1) return g;

    std::vector<double> a(img.values.data(), img.values.data() + img.values.size());
    auto at = [&](int i, int j) -> double& {
        return a[static_cast<std::size_t>(i - 1) +
                 static_cast<std::size_t>(nx) * static_cast<std::size_t>(j - 1)];
    };

    // Highlights: only meaningful for intensities, where the mean is a scale of the picture.
    double sum = 0.0;
    bool negative = false;
    for (double v : a) {
        sum += v;
        negative = negative || v < 0.0;
    }
    if (!negative) {
        const double limit = 10000.0 * (sum / static_cast<double>(a.size()));
        bool clipped = false;
        for (double& v : a)
            if (v > limit) {
                v = limit;
                clipped = true;
            }
        if (clipped) g.clip = limit;
    }

    double edges = 0.0;
    for (int i = 1; i <= nx; ++i) edges += at(i, 1) + at(i, ny);
    g.background = std::max(edges / (2.0 * nx), 1.0e-10);

    bool any = false;
    for (double v : a) {
        if (std::isnan(v)) continue;
        if (!any) g.min = g.max = v;
        g.min = std::min(g.min, v);
        g.max = std::max(g.max, v);
        any = true;
    }
    if (!(g.max > g.min)) {
        // All equal: nothing to map, a middle grey says so better than black.
        g.uniform = any;
        if (any) g.level.fill(uniform_level(levels));
        return g;
    }

    const double range = g.max - g.min;
    const int top = levels - 1;
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i)
            g.level(i, j) = grey_level((at(i, j) - g.min) * top / range, top);
    return g;
}

} // namespace korvex
