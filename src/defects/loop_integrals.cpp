#include "defects/loop_integrals.hpp"

#include <cmath>
#include <numbers>

namespace korvex {

EllipticKE elliptic_ke(double m, double m1) {
    constexpr double pi = std::numbers::pi;
    double a = 1.0, b = std::sqrt(m1), c = std::sqrt(m);
    double sum = 0.5 * c * c, weight = 0.5;
    for (int it = 0; it < 40 && std::abs(c) > 1e-17 * a; ++it) {
        c = 0.5 * (a - b);
        const double an = 0.5 * (a + b);
        b = std::sqrt(a * b);
        a = an;
        weight *= 2.0;
        sum += weight * c * c;
    }
    EllipticKE ke;
    ke.k = pi / (2.0 * a);
    ke.e = ke.k * (1.0 - sum);
    return ke;
}

LoopIntegrals loop_integrals(double au, double v) {
    constexpr double pi = std::numbers::pi;
    double z = std::abs(au), rho = std::max(v, kLoopCoreRadius);
    // Next to the loop line: out to the core radius along the same direction.
    const double d = std::hypot(rho - 1.0, z);
    if (d < kLoopCoreRadius) {
        if (d == 0.0) {
            rho = 1.0 + kLoopCoreRadius;
        } else {
            rho = 1.0 + (rho - 1.0) * kLoopCoreRadius / d;
            z *= kLoopCoreRadius / d;
        }
    }
    const double z2 = z * z;
    const double a2 = (1.0 - rho) * (1.0 - rho) + z2; // distance to the nearest point of the ring
    const double b2 = (1.0 + rho) * (1.0 + rho) + z2; // ... and to the farthest
    const double beta = std::sqrt(b2);
    const double m = 4.0 * rho / b2, m1 = a2 / b2;
    const EllipticKE ke = elliptic_ke(m, m1);
    const double K = ke.k, E = ke.e;
    // Their z-derivatives: dK/dm = (E - m1 K) / (2 m m1), dE/dm = (E - K) / (2 m),
    // dm/dz = -2 z m / b2.
    const double Kz = -z * (b2 * E - a2 * K) / (a2 * b2);
    const double Ez = -z * (E - K) / b2;

    LoopIntegrals in;
    const double d1 = pi * a2 * beta;
    const double dlog = z * (2.0 / a2 + 1.0 / b2); // d/dz of log(a2 beta), over nothing
    // Ring vector potential: ((2 - m) K - 2 E) / (pi sqrt(m rho)).
    in.i10 = beta * ((2.0 - m) * K - 2.0 * E) / (2.0 * pi * rho);
    // Axial field and minus its z-derivative.
    const double n1 = (1.0 - rho * rho - z2) * E + a2 * K;
    const double n1z = -2.0 * z * E + (1.0 - rho * rho - z2) * Ez + 2.0 * z * K + a2 * Kz;
    in.i01 = n1 / d1;
    in.i02 = -(n1z - n1 * dlog) / d1;
    // Radial field and minus its z-derivative.
    const double n2 = (1.0 + rho * rho + z2) * E - a2 * K;
    const double n2z = 2.0 * z * E + (1.0 + rho * rho + z2) * Ez - 2.0 * z * K - a2 * Kz;
    in.i11 = z * n2 / (d1 * rho);
    in.i12 = -(n2 + z * n2z - z * n2 * dlog) / (d1 * rho);
    return in;
}

} // namespace korvex
