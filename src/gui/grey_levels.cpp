#include "gui/grey_levels.hpp"

#include "state/error.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cmath>

namespace korvex {

GreyLevels grey_levels(const ImageData& img, int levels) {
    const int nx = img.nx(), ny = img.ny();
    if (nx < 1 || ny < 1) halt("An empty image cannot be shown");
    if (levels < 2) halt("An image needs at least two grey levels");
    GreyLevels r;
    Array2<double> a = img.values;

    double sum = 0.0;
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) sum += a(i, j);
    r.mean = sum / (static_cast<double>(nx) * ny);
    // Isolated extreme values (a column through a singular point) would otherwise push every
    // other pixel into the darkest levels.
    r.clip = 10000.0 * r.mean;
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) a(i, j) = std::min(a(i, j), r.clip);

    double edge = 0.0;
    for (int i = 1; i <= nx; ++i) edge += a(i, 1) + a(i, ny);
    r.background = std::max(edge / (2.0 * nx), 1.0e-10);

    r.max = r.min = a(1, 1);
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) {
            r.max = std::max(r.max, a(i, j));
            r.min = std::min(r.min, a(i, j));
        }

    // -b/min has no finite value for a minimum of zero; it is shown as Infinity.
    const std::string negative_contrast =
        r.min == 0.0 ? std::string("Infinity") : list_real(-r.background / r.min);
    r.lines = {
        " max: " + list_real(r.max) + " min: " + list_real(r.min),
        " Max: " + list_real(r.max) + " Min: " + list_real(r.min) + " Background " +
            list_real(r.background),
        " Contrast: " + list_real(r.max / r.background) + " " + negative_contrast,
    };

    r.level.resize(nx, ny);
    const double range = r.max - r.min;
    const int top = levels - 1;
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) {
            int g = 0;
            if (range > 0.0) {
                if (a(i, j) >= r.max)
                    g = top;
                else
                    g = std::clamp(static_cast<int>((a(i, j) - r.min) * top / range), 0, top);
            }
            r.level(i, ny + 1 - j) = g;
        }
    return r;
}

} // namespace korvex
