#include "optics/probe.hpp"

#include "optics/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvex {

std::vector<ProbeDirection> probe_directions(double alpha, int count) {
    if (count <= 1 || !(alpha > 0.0)) return {ProbeDirection{}};
    const double w = 1.0 / count;
    // The rings: the fewest of nominal 6 i cells that hold count - 1 directions.
    int rings = 1;
    while (1 + 3 * rings * (rings + 1) < count) ++rings;
    std::vector<int> cells;
    for (int i = 1, left = count - 1; i <= rings; ++i) {
        const int c = i == rings ? left : std::min(6 * i, left);
        cells.push_back(c);
        left -= c;
    }
    std::vector<ProbeDirection> dirs{{0.0, 0.0, w}};
    int inside = 1; // cells within the ring's inner edge
    for (int i = 1; i <= rings; ++i) {
        const int c = cells[static_cast<std::size_t>(i - 1)];
        if (c == 0) continue;
        // Edges of the ring enclosing `inside` and `inside + c` cells of area pi alpha^2 / count.
        const double r_in2 = alpha * alpha * inside / count;
        const double r_out2 = alpha * alpha * (inside + c) / count;
        const double rho = std::sqrt(0.5 * (r_in2 + r_out2));
        const double start = i % 2 == 1 ? 0.0 : 0.5;
        const std::size_t first = dirs.size();
        for (int q = 0; q < c; ++q) {
            // The mirror of a point across the row is made from it, so that the two agree to the
            // last bit but for the sign of `across`.
            const int mirror = start == 0.0 ? (c - q) % c : c - 1 - q;
            if (mirror < q) {
                const ProbeDirection& m = dirs[first + static_cast<std::size_t>(mirror)];
                dirs.push_back({m.along, -m.across, w});
                continue;
            }
            const double phi = 2.0 * std::numbers::pi * (q + start) / c;
            dirs.push_back({rho * std::cos(phi), mirror == q ? 0.0 : rho * std::sin(phi), w});
        }
        inside += c;
    }
    return dirs;
}

Vec3 direction_vector(double k, double g, double condition_n, const ProbeDirection& d) {
    const double t = condition_n * g * 0.5;
    const double kz0 = std::sqrt(k * k - t * t);
    const Vec3 u0{-t / k, 0.0, kz0 / k}, ex{kz0 / k, 0.0, t / k};
    const double theta = std::hypot(d.along, d.across);
    if (theta == 0.0) return u0;
    const double c = std::cos(theta), s = std::sin(theta) / theta;
    return {c * u0[0] + s * d.along * ex[0], s * d.across, c * u0[2] + s * d.along * ex[2]};
}

void direction_excitation_errors(int n, double g, const Array1<double>& mtx_g, double k,
                                 double condition_n, const ProbeDirection& d, Array1<double>& s_g) {
    if (d.axis()) {
        Array1<cplx> q(n);
        geometry(n, g, mtx_g, k, condition_n, q, s_g);
        return;
    }
    const Vec3 u = direction_vector(k, g, condition_n, d);
    const double kx = k * u[0], ky = k * u[1], kz = k * u[2];
    for (int i = 1; i <= n; ++i) {
        const double x = kx + mtx_g(i);
        const double r = k * k - x * x - ky * ky;
        s_g(i) = r >= 0.0 ? std::sqrt(r) - kz : NAN;
    }
}

double exit_angle(double k, double g, double condition_n, const ProbeDirection& d, double mg) {
    const Vec3 u0 = direction_vector(k, g, condition_n, ProbeDirection{});
    const Vec3 u = direction_vector(k, g, condition_n, d);
    const double ex = k * u[0] + mg, ey = k * u[1];
    const double r = k * k - ex * ex - ey * ey;
    if (!(r >= 0.0)) return NAN;
    const double ez = std::sqrt(r);
    const double cx = ey * u0[2] - ez * u0[1], cy = ez * u0[0] - ex * u0[2],
                 cz = ex * u0[1] - ey * u0[0];
    const double dot = ex * u0[0] + ey * u0[1] + ez * u0[2];
    return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), dot);
}

std::vector<double> detector_weights(double inner, double outer,
                                     const std::vector<ProbeDirection>& dirs, int n,
                                     const Array1<double>& mtx_g, double k, double g,
                                     double condition_n) {
    std::vector<double> w(dirs.size() * static_cast<std::size_t>(std::max(n, 0)), 0.0);
    for (std::size_t d = 0; d < dirs.size(); ++d)
        for (int i = 1; i <= n; ++i) {
            const double a = exit_angle(k, g, condition_n, dirs[d], mtx_g(i));
            if (a >= inner && a < outer)
                w[d * static_cast<std::size_t>(n) + static_cast<std::size_t>(i - 1)] =
                    dirs[d].weight;
        }
    return w;
}

} // namespace korvex
