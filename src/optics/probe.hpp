// The incident directions of a convergent probe and the beams they send onto a detector.
//
// Geometry (sample frame: x along g, y = foil x g, z along the foil normal into the foil). The
// probe axis is the incident direction of the diffraction condition (g,ng) (see geometry()):
// u0 = (-t, 0, kz0) / k with t = n g / 2. A direction of the probe is tilted from u0 by the angle
// (along, across): `along` towards +x (towards +g), `across` towards +y, both in radians, so that
// its unit vector is
//     u = cos(theta) u0 + sin(theta) (along e_x + across e_y) / theta,  theta = |(along, across)|,
// with e_x = (kz0, 0, t) / k (in the x-z plane, normal to u0) and e_y = (0, 1, 0); theta is then
// exactly the angle between u and the axis. Its wave vector is K = k u, and beam m of the row has
// the excitation error (1/Angstrom; positive inside the Ewald sphere, the convention of geometry())
//     s_m = sqrt(k^2 - (K_x + m g)^2 - K_y^2) - K_z.
// To first order in the tilt, s_m moves by -m g along (a tilt towards +g brings the reflections
// of positive order out of the sphere); the tilt across the row enters only at second order,
// through K_y^2 and K_z (docs/scanning.md). The formula is used as it stands, to all orders.
// Beam m leaves the foil's exit face with the same tangential components (K_x + m g, K_y) (the
// foil normal is z), so its exit direction is
//     E_m = (K_x + m g, K_y, sqrt(k^2 - (K_x + m g)^2 - K_y^2)),
// at the angle atan2(|E_m x u0|, E_m . u0) from the probe axis: about |(along + m 2 theta_B,
// across)| with 2 theta_B = g / k, the scattering angle of g.
#pragma once

#include "state/state.hpp"

#include <vector>

namespace korvex {

struct ProbeDirection {
    double along = 0.0, across = 0.0; // tilt from the probe axis, rad
    double weight = 1.0;              // share in the incoherent sum (the weights add to 1)
    bool axis() const { return along == 0.0 && across == 0.0; }
};

// The probe disc of semi-angle `alpha` (rad) sampled by `count` directions of equal weight
// 1/count: the disc is cut into `count` cells of equal area, a central disc and rings, and each
// cell is represented by one direction (its centre, and on a ring the radius that halves the
// ring's area, at even angular steps). Rings i = 1, 2, ... hold about 6 i cells each, the last
// ring what remains (1 + 6 + 12 = 19 fill two rings exactly); odd rings start at azimuth 0 (along
// +g), even rings half a step on. Every ring is symmetric under across -> -across, to the last
// bit (a point on the row, at azimuth 0 or pi, has across exactly 0). One direction
// (the axis) when `count` is 1 or alpha is 0.
std::vector<ProbeDirection> probe_directions(double alpha, int count);

// Unit vector of the direction (frame above), for the probe axis of condition n.
Vec3 direction_vector(double k, double g, double condition_n, const ProbeDirection& d);

// s_g(n) of every beam of the row (orders mtx_g(n) / g) for the direction; the axis gives
// geometry()'s values exactly. NaN where a beam has left the Ewald sphere.
void direction_excitation_errors(int n, double g, const Array1<double>& mtx_g, double k,
                                 double condition_n, const ProbeDirection& d, Array1<double>& s_g);

// The angle (rad) between the exit direction of the beam with reflection length `mg` (m g,
// 1/Angstrom) of the direction and the probe axis; NaN where the beam does not leave the foil.
double exit_angle(double k, double g, double condition_n, const ProbeDirection& d, double mg);

// The weights a detector of collection semi-angles inner .. outer (rad) gives the beams of the
// row (reflection lengths mtx_g(1..n)) of every direction: at d * n + (i - 1) the weight of
// direction d where the exit angle of its beam i lies in [inner, outer), else 0.
std::vector<double> detector_weights(double inner, double outer,
                                     const std::vector<ProbeDirection>& dirs, int n,
                                     const Array1<double>& mtx_g, double k, double g,
                                     double condition_n);

} // namespace korvex
