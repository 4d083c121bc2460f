#include "output/grey_levels.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

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

    // The values as mapped, highlights set to the limit: read in place, not copied (an image
    // copy per picture was new memory every time).
    const double* a = img.values.data();
    const std::size_t n = img.values.size();
    double limit = std::numeric_limits<double>::infinity();
    auto at = [&](int i, int j) {
        const double v = a[static_cast<std::size_t>(i - 1) +
                           static_cast<std::size_t>(nx) * static_cast<std::size_t>(j - 1)];
        return v > limit ? limit : v;
    };

    // Highlights: only meaningful for intensities, where the mean is a scale of the picture.
    double sum = 0.0;
    bool negative = false;
    for (std::size_t k = 0; k < n; ++k) {
        sum += a[k];
        negative = negative || a[k] < 0.0;
    }
    if (!negative) {
        const double cap = 10000.0 * (sum / static_cast<double>(n));
        if (std::any_of(a, a + n, [&](double v) { return v > cap; })) limit = g.clip = cap;
    }

    double edges = 0.0;
    for (int i = 1; i <= nx; ++i) edges += at(i, 1) + at(i, ny);
    g.background = std::max(edges / (2.0 * nx), 1.0e-10);

    bool any = false;
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) {
            const double v = at(i, j);
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
