#include "driver/grey_levels.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace korvex {

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
    const double range = g.max - g.min;
    if (!(range > 0.0)) return g; // all equal (or nothing to map): every level 0

    const int top = levels - 1;
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) {
            const double t = (at(i, j) - g.min) * top / range;
            // The guards keep a value that is not a number, or a range that overflowed,
            // from becoming an undefined conversion.
            g.level(i, j) = t >= 0.0 ? (t < top ? static_cast<int>(t) : top) : 0;
        }
    return g;
}

} // namespace korvex
