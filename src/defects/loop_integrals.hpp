// The loop integrals of a circular prismatic dislocation loop in an isotropic medium.
//
// In units of the loop radius R, with u the signed height above the loop plane and v the
// distance from the loop axis, the field of the loop is built from the Lipschitz-Hankel
// integrals (Kroupa, Czech. J. Phys. B 10 (1960) 284)
//
//     J(0, n; p) = integral over k from 0 to infinity of J1(k) Jn(k v) k^p exp(-k |u|) dk,
//
// of which the near field takes five, named I<n><p>: I01 = J(1,0;1), I10 = J(1,1;0),
// I11 = J(1,1;1), I02 = J(1,0;2), I12 = J(1,1;2). They are those of a ring current:
// I10 is its vector potential, I01 and I11 the axial and radial parts of its magnetic field,
// I02 and I12 their |u|-derivatives with the sign reversed. All five follow in closed form
// from the complete elliptic integrals K and E of the parameter m = 4v / ((1 + v)^2 + u^2).
#pragma once

namespace korvex {

struct LoopIntegrals {
    double i01 = 0.0, i10 = 0.0, i11 = 0.0, i02 = 0.0, i12 = 0.0;
};

// Points closer than this (in units of R) to the loop line are taken at this distance from it,
// along the same direction, and points closer to the axis on a cylinder of this radius: the
// field is finite everywhere and smooth on the axis.
inline constexpr double kLoopCoreRadius = 1e-3;

// The five integrals at |u| = au >= 0 and v >= 0 (the core and axis limits above applied).
LoopIntegrals loop_integrals(double au, double v);

// K(m) and E(m) together, by the arithmetic-geometric mean, given m and m1 = 1 - m (m1 passed
// separately so that it keeps its precision next to the loop line).
struct EllipticKE {
    double k = 0.0, e = 0.0;
};
EllipticKE elliptic_ke(double m, double m1);

} // namespace korvex
