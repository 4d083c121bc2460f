// Displacement gradients of an angular dislocation in an isotropic infinite medium.
//
// An angular dislocation is made of two semi-infinite straight dislocations meeting at the
// origin: one leg runs along +z, the other in the y-z plane along (0, sin beta, cos beta).
// A regular polygonal loop is the sum of one angular dislocation per vertex: the leg along a
// side and the continuation of the preceding side beyond the vertex cancel pairwise, so only
// the sides remain. The gradients below are the derivatives of the closed-form displacement
// (the elastic part with its 1/(8 pi (1 - nu)) terms and the solid-angle part b * Omega / 4pi
// of the cut surface between the legs); they are written out term by term, in the order the
// intermediate quantities are needed, so that the field of a whole loop costs one pass per
// vertex.
#pragma once

#include "state/state.hpp"

#include <cmath>

namespace korvex {

// Nine gradient vectors: `ux` is grad u (components d/dx, d/dy, d/dz) for a unit Burgers
// component along x, `vy` grad v for a unit component along y, and so on.
struct AngularGradients {
    Vec3 ux{}, vx{}, wx{};
    Vec3 uy{}, vy{}, wy{};
    Vec3 uz{}, vz{}, wz{};
};

// The field at (x, y, z) of the angular dislocation with its vertex at the origin; (eta, zeta)
// are the coordinates of the same point across and along the second leg
// (eta = y cos(beta) - z sin(beta), zeta = y sin(beta) + z cos(beta), computed by the caller in
// that leg's own frame). `eps` (Angstrom^2) is added to r^2 to keep the core finite.
inline AngularGradients cal_strain_anglur(double x, double y, double z, double eta, double zeta,
                                          double cb, double sb, double nu, double eps) {
    constexpr double pi = 3.141592653589793;
    AngularGradients g;
    const double r = std::sqrt(z * z + eps + x * x + y * y);
    const double q1 = r - zeta;
    const double q2 = (r - z) * r;
    const double q3 = q1 * r;
    const double q4 = q2 * q2;
    const double q5 = q3 * q3;
    const double K = 1.0 / ((1.0 - nu) * 8.0 * pi);
    const double q6 = y * eta;
    const double q7 = eta * eta + x * x;
    const double q8 = x * x * cb;
    const double q9 = q6 + q8;
    const double q10 = x + x;
    const double q11 = x * r * sb;
    const double q12 = q11 * q11 + q9 * q9;
    const double q13 = (-(y / (y * y + x * x)) + eta / q7 +
                        ((r * sb + (x * x * sb) / r) * q9 - r * q10 * sb * cb * x) / q12) /
                       (4.0 * pi);
    const double q14 = x * cb;
    const double q15 = x * y;
    const double q16 = y + y;
    const double q17 = q16 * cb - z * sb;
    const double q18 =
        (((q15 * sb * q9) / r - q17 * q11) / q12 + x / (y * y + x * x) - (q14 / q7)) / (4.0 * pi);
    const double q19 =
        ((q15 * r * sb * sb + (q9 * sb * x * z) / r) / q12 + (x * sb) / q7) / (4.0 * pi);
    const double q20 = q10 - (x * z) / r;
    const double q21 = q10 - (x * zeta) / r;
    const double q22 = x * eta;
    g.ux[0] = ((y * q2 - q20 * q15) / q4 - (eta * q3 - q22 * q21) / q5) * K + q13;
    const double q23 = y * z;
    const double q24 = (y * z * cb) / r;
    const double q25 = q16 - q23 / r;
    const double q26 = r * r;
    g.ux[1] = ((x * q2 - q25 * q15) / q4 -
               (q14 * q3 - (((q16 - (y * y * sb) / r) - r * sb) - q24) * q22) / q5) *
                  K +
              q18;
    const double q27 = q26 * r;
    const double q28 = z * z + q26;
    const double q29 = z + z;
    const double q30 = q29 - (q23 * sb) / r;
    g.ux[2] = (q15 / q27 - (-(x * sb) * q3 - (q30 - (q28 * cb) / r) * q22) / q5) * K + q19;
    const double q31 = 1.0 - nu * 2.0;
    const double q32 = q1 * q1;
    g.vx[0] = K * ((q14 / q3 - x / q2) * q31 - ((q20 * y * y) / q4) +
                   (-((r * q22 * sb) / q5) + ((q21 * q6) / q5)));
    const double q33 = sb * cb;
    const double q34 = y / r - sb;
    const double q35 = z * cb;
    const double q36 = q16 - ((y * y + q26) * sb) / r;
    const double q37 = (q28 * cb) / r;
    const double q38 = ((q34 * cb) / q1 - y / q2) * q31;
    g.vx[1] =
        (q38 + ((q1 * q33 - q34 * eta * sb) / q32 - (q17 * q3 - (q36 - (y * q35) / r) * q6) / q5) +
         (q16 * q2 - q25 * y * y) / q4) *
        K;
    const double q39 = z / r - cb;
    const double q40 = ((q39 * cb) / q1 - (z / r - 1.0) / (r - z)) * q31;
    const double q41 = eta * z;
    g.vx[2] = (q40 + y * y / q27 +
               ((-(sb * sb * q1) - eta * sb * q39) / q32 -
                (-(y * sb) * q3 - q6 * ((q29 - (z * y * sb) / r) - q37)) / q5)) *
              K;
    g.wx[0] =
        K * (((-((r * q22 * cb) / q5) + (q15 / q27)) + ((q21 * q41) / q5)) - (x * q31 * sb) / q3);
    const double q42 = q36 - (q23 * cb) / r;
    g.wx[1] = ((((q1 * cb * cb - q34 * eta * cb) / q32 - (r - y * y / r) / q26) -
                (z * q3 * cb - q42 * q41) / q5) -
               (q34 * q31 * sb) / q1) *
              K;
    const double q43 = q30 - q37;
    const double q44 = y * cb;
    g.wx[2] = ((((-q33 * q1 - eta * cb * q39) / q32 + (q23 / q27)) -
                ((q44 - q29 * sb) * q3 - q41 * q43) / q5) -
               (q39 * q31 * sb) / q1) *
              K;
    g.uy[0] = ((((q3 + q3) * cb * x - q21 * q8) / q5 - ((q2 + q2) * x - q20 * x * x) / q4) -
               ((x * cb) / q3 - x / q2) * q31) *
              K;
    g.uy[1] = ((-(((q36 - q24) * q8) / q5) + ((q25 * x * x) / q4)) - q38) * K;
    const double q45 = q29 - q28 / r;
    g.uy[2] = ((-((q8 * q43) / q5) + ((q45 * x * x) / q4)) - q40) * K;
    g.vy[0] =
        (((q44 / q3 - q33 / q1) - y / q2) +
         x * ((-(((q10 - (zeta * x) / r) * q44) / q5) + ((q11 * cb) / q5)) + ((q20 * y) / q4))) *
            K +
        q13;
    const double q46 = x * K;
    g.vy[1] =
        (((q3 * cb - q42 * q44) / q5 + ((q34 * q33) / q32)) - (q2 - q25 * y) / q4) * q46 + q18;
    g.vy[2] = q46 * ((-((q44 * q43) / q5) + ((q33 * q39) / q32)) + ((q45 * y) / q4)) + q19;
    const double q47 = cb * cb;
    g.wy[0] = K * ((-(x / q27) + (-((q35 * q21) / q5) + ((x * r * cb * cb) / q5))) * x + 1.0 / r +
                   (q35 / q3 - q47 / q1));
    g.wy[1] = (-(y / q27) + (-((q35 * q42) / q5) + ((q34 * q47) / q32))) * q46;
    const double q48 = K * sb;
    g.wy[2] = (-(z / q27) + ((q3 * cb - q35 * q43) / q5 + ((q47 * q39) / q32))) * q46;
    g.uz[0] = ((x * q31) / q3 - ((q3 + q3) * x - x * x * q21) / q5) * q48;
    g.uz[1] = ((q31 * q34) / q1 + ((x * x * q42) / q5)) * q48;
    g.uz[2] = ((q39 * q31) / q1 + ((((q29 - (sb * y * z) / r) - q37) * x * x) / q5)) * q48;
    const double q49 = x * q48;
    g.vz[0] = ((-((sb * x * r) / q5) + ((y * q21) / q5)) * x + (sb / q1 - y / q3)) * q48;
    g.vz[1] = (-((q34 * sb) / q32) - (q3 - y * q42) / q5) * q49;
    g.vz[2] = q49 * (-((sb * q39) / q32) + ((y * q43) / q5));
    g.wz[0] = (x * (-((x * cb * r) / q5) + ((q21 * z) / q5)) + (cb / q1 - z / q3)) * q48 + q13;
    g.wz[1] = (-((q34 * cb) / q32) + ((q42 * z) / q5)) * q49 + q18;
    g.wz[2] = (-((q39 * cb) / q32) - (q3 - z * q43) / q5) * q49 + q19;
    return g;
}

// grad (g . u) of the angular dislocation for Burgers vector b, both given in its frame:
// D has the columns grad u, grad v, grad w (grad u = b1 ux + b2 uy + b3 uz, ...), and the
// result is D . g.
inline Vec3 contract_gradients(const AngularGradients& a, const Vec3& b, const Vec3& g) {
    Vec3 out{};
    for (std::size_t q = 0; q < 3; ++q) {
        const double du = b[0] * a.ux[q] + b[1] * a.uy[q] + b[2] * a.uz[q];
        const double dv = b[0] * a.vx[q] + b[1] * a.vy[q] + b[2] * a.vz[q];
        const double dw = b[0] * a.wx[q] + b[1] * a.wy[q] + b[2] * a.wz[q];
        out[q] = du * g[0] + dv * g[1] + dw * g[2];
    }
    return out;
}

} // namespace korvex
