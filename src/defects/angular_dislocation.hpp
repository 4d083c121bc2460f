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
#include "state/vector_width.hpp"

#include <array>
#include <cmath>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

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
inline AngularGradients angular_strain(double x, double y, double z, double eta, double zeta,
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

// What the angular dislocations of one loop share: the vertex angle beta, Poisson's ratio and
// the core term, and the constants formed from them.
struct AngularConstants {
    double cb = 0.0, sb = 0.0;   // cos beta, sin beta
    double cb2 = 0.0, sb2 = 0.0; // cos^2 beta, sin^2 beta
    double sbcb = 0.0;           // sin beta cos beta
    double eps = 0.0;            // core term added to r^2, Angstrom^2
    double K = 0.0;              // 1 / (8 pi (1 - nu))
    double m = 0.0;              // 1 - 2 nu
    AngularConstants() = default;
    AngularConstants(double cb_, double sb_, double nu, double eps_)
        : cb(cb_), sb(sb_), cb2(cb_ * cb_), sb2(sb_ * sb_), sbcb(sb_ * cb_), eps(eps_),
          K(1.0 / ((1.0 - nu) * 8.0 * 3.141592653589793)), m(1.0 - nu * 2.0) {}
};

// The Burgers vector b and diffraction vector g of one angular dislocation, both in its frame,
// as the weights g_i b_c of the nine gradient vectors (the gradient of u_i for a unit Burgers
// component c). The weights of the components along z carry the factor sin beta all those
// gradients share; `gb` = g . b weights the solid-angle term, common to u_x, v_y and w_z.
struct AngularWeights {
    double ux = 0.0, vx = 0.0, wx = 0.0;
    double uy = 0.0, vy = 0.0, wy = 0.0;
    double uz = 0.0, vz = 0.0, wz = 0.0; // times sin beta
    double gb = 0.0;
    AngularWeights() = default;
    AngularWeights(const Vec3& b, const Vec3& g, double sb)
        : ux(g[0] * b[0]), vx(g[1] * b[0]), wx(g[2] * b[0]), uy(g[0] * b[1]), vy(g[1] * b[1]),
          wy(g[2] * b[1]), uz(g[0] * b[2] * sb), vz(g[1] * b[2] * sb), wz(g[2] * b[2] * sb),
          gb(g[0] * b[0] + g[1] * b[1] + g[2] * b[2]) {}
};

// Several columns at once, as many as one vector register of the build's machine holds (8 with
// AVX-512, 4 with AVX, else 2): every operation acts on all lanes with the rounding of the
// scalar operation, so each lane gives bit for bit what the scalar evaluation gives.
inline constexpr int kFieldLanes = kVectorDoubles;
using FieldLanes = double __attribute__((vector_size(8 * kFieldLanes)));

inline double lane_sqrt(double v) {
    return std::sqrt(v);
}
inline FieldLanes lane_sqrt(FieldLanes v) {
#if defined(__AVX512F__)
    // Masked form with v as the pass-through: the plain intrinsic's undefined pass-through
    // trips GCC 12's uninitialised-value warning.
    const __m512d x = reinterpret_cast<__m512d>(v);
    return reinterpret_cast<FieldLanes>(_mm512_mask_sqrt_pd(x, static_cast<__mmask8>(0xFF), x));
#elif defined(__AVX__)
    return reinterpret_cast<FieldLanes>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(v)));
#elif defined(__SSE2__)
    return reinterpret_cast<FieldLanes>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v)));
#else
    for (int l = 0; l < kFieldLanes; ++l) v[l] = std::sqrt(v[l]);
    return v;
#endif
}

// grad (g . u) of one angular dislocation, in its frame: the same field as
// contract_gradients(angular_strain(...), b, g), evaluated for a whole loop per column,
// for one column (Real = double) or kFieldLanes (Real = FieldLanes). The quantities are those of
// angular_strain (same names), with two changes that alter only the last bits: each
// gradient vector is weighted and summed as soon as it is formed instead of being stored, and
// the quotients by q1 to q5, q26, q27, q32 and r - z (products of r, r - zeta and r - z)
// become products with the reciprocals of those three, as a division costs several times a
// product. The quotients by r alone, which feed differences that cancel near the legs
// (y / r - sin beta, ...), and the solid angle, whose terms cancel near the lines of the legs,
// are formed exactly as there: the result then stays within 1e-12 of the sum of the
// magnitudes of its terms from that evaluation.
// With `kEdge` the Burgers vector lies along x, normal to the plane of the legs (the weights
// along y and z are taken as zero): only the gradients for that component are formed.
template <class Real, bool kEdge = false>
inline std::array<Real, 3> angular_gradient_dot(Real x, Real y, Real z, Real eta, Real zeta,
                                                const AngularConstants& c,
                                                const AngularWeights& w) {
    constexpr double pi = 3.141592653589793;
    const double cb = c.cb, sb = c.sb, m = c.m;
    const Real r = lane_sqrt(z * z + c.eps + x * x + y * y);
    const Real q1 = r - zeta;
    const Real rz = r - z;
    const Real q2 = rz * r;
    const Real q3 = q1 * r;
    const Real ir = 1.0 / r;
    const Real iq1 = 1.0 / q1;
    const Real irz = 1.0 / rz;
    const Real iq2 = ir * irz;   // 1 / q2
    const Real iq3 = ir * iq1;   // 1 / q3
    const Real iq4 = iq2 * iq2;  // 1 / q4
    const Real iq5 = iq3 * iq3;  // 1 / q5
    const Real iq32 = iq1 * iq1; // 1 / q32
    const Real ir2 = ir * ir;    // 1 / q26
    const Real ir3 = ir2 * ir;   // 1 / q27
    const Real x2 = x * x, y2 = y * y;

    // Gradient of the solid angle over 4 pi.
    const Real q6 = y * eta;
    const Real q7 = eta * eta + x2;
    const Real q8 = x2 * cb;
    const Real q9 = q6 + q8;
    const Real q10 = x + x;
    const Real q11 = x * r * sb;
    const Real q12 = q11 * q11 + q9 * q9;
    const Real q13 = (-(y / (y * y + x * x)) + eta / q7 +
                      ((r * sb + (x * x * sb) / r) * q9 - r * q10 * sb * cb * x) / q12) /
                     (4.0 * pi);
    const Real q14 = x * cb;
    const Real q15 = x * y;
    const Real q16 = y + y;
    const Real q17 = q16 * cb - z * sb;
    const Real q18 =
        (((q15 * sb * q9) / r - q17 * q11) / q12 + x / (y * y + x * x) - (q14 / q7)) / (4.0 * pi);
    const Real q19 =
        ((q15 * r * sb * sb + (q9 * sb * x * z) / r) / q12 + (x * sb) / q7) / (4.0 * pi);

    // The elastic part.
    const Real q20 = q10 - (x * z) / r;
    const Real q21 = q10 - (x * zeta) / r;
    const Real q22 = x * eta;
    const Real q23 = y * z;
    const Real q24 = (q23 * cb) / r;
    const Real q25 = q16 - q23 / r;
    const Real q26 = r * r;
    const Real q28 = z * z + q26;
    const Real q29 = z + z;
    const Real q30 = q29 - (q23 * sb) / r;
    const Real q34 = y / r - sb;
    const Real q35 = z * cb;
    const Real q36 = q16 - ((y2 + q26) * sb) / r;
    const Real q37 = (q28 * cb) / r;
    const Real q38 = (q34 * cb * iq1 - y * iq2) * m;
    const Real q39 = z / r - cb;
    const Real q40 = (q39 * cb * iq1 - (z / r - 1.0) * irz) * m;
    const Real q41 = eta * z;
    const Real q42 = q36 - (q23 * cb) / r;
    const Real q43 = q30 - q37;
    const Real q44 = y * cb;

    // Unit Burgers component along x: grad u, grad v, grad w without K and the solid angle.
    const Real ux1 = (y * q2 - q20 * q15) * iq4 - (eta * q3 - q22 * q21) * iq5;
    const Real ux2 = (x * q2 - q25 * q15) * iq4 -
                     (q14 * q3 - (((q16 - (y2 * sb) / r) - r * sb) - q24) * q22) * iq5;
    const Real ux3 = q15 * ir3 - (-(x * sb) * q3 - q43 * q22) * iq5;
    const Real vx1 = (q14 * iq3 - x * iq2) * m - q20 * y2 * iq4 + (q21 * q6 - r * q22 * sb) * iq5;
    const Real vx2 = q38 + (q1 * c.sbcb - q34 * eta * sb) * iq32 -
                     (q17 * q3 - (q36 - (y * q35) / r) * q6) * iq5 + (q16 * q2 - q25 * y2) * iq4;
    const Real vx3 = q40 + y2 * ir3 + (-(c.sb2 * q1) - eta * sb * q39) * iq32 -
                     (-(y * sb) * q3 - q6 * q43) * iq5;
    const Real wx1 = (q21 * q41 - r * q22 * cb) * iq5 + q15 * ir3 - x * m * sb * iq3;
    const Real wx2 = (q1 * c.cb2 - q34 * eta * cb) * iq32 - (r - y2 / r) * ir2 -
                     (z * q3 * cb - q42 * q41) * iq5 - q34 * m * sb * iq1;
    const Real wx3 = (-c.sbcb * q1 - eta * cb * q39) * iq32 + q23 * ir3 -
                     ((q44 - q29 * sb) * q3 - q41 * q43) * iq5 - q39 * m * sb * iq1;
    if constexpr (kEdge) {
        const Real d1 = w.ux * ux1 + w.vx * vx1 + w.wx * wx1;
        const Real d2 = w.ux * ux2 + w.vx * vx2 + w.wx * wx2;
        const Real d3 = w.ux * ux3 + w.vx * vx3 + w.wx * wx3;
        return {c.K * d1 + w.gb * q13, c.K * d2 + w.gb * q18, c.K * d3 + w.gb * q19};
    } else {
        const Real q45 = q29 - q28 / r;
        // Along y; the gradients of v and w along y and z carry a factor x, applied below.
        const Real uy1 = ((q3 + q3) * cb * x - q21 * q8) * iq5 - ((q2 + q2) * x - q20 * x2) * iq4 -
                         (x * cb * iq3 - x * iq2) * m;
        const Real uy2 = q25 * x2 * iq4 - (q36 - q24) * q8 * iq5 - q38;
        const Real uy3 = q45 * x2 * iq4 - q8 * q43 * iq5 - q40;
        const Real vy1 = (q44 * iq3 - c.sbcb * iq1 - y * iq2) +
                         x * ((q11 * cb - q21 * q44) * iq5 + q20 * y * iq4);
        const Real vy2 = (q3 * cb - q42 * q44) * iq5 + q34 * c.sbcb * iq32 - (q2 - q25 * y) * iq4;
        const Real vy3 = q45 * y * iq4 - q44 * q43 * iq5 + c.sbcb * q39 * iq32;
        const Real wy1 =
            (-(x * ir3) + (x * r * c.cb2 - q35 * q21) * iq5) * x + ir + (q35 * iq3 - c.cb2 * iq1);
        const Real wy2 = q34 * c.cb2 * iq32 - y * ir3 - q35 * q42 * iq5;
        const Real wy3 = (q3 * cb - q35 * q43) * iq5 + c.cb2 * q39 * iq32 - z * ir3;
        // Along z, all without their common factor sin beta (in the weights).
        const Real uz1 = x * m * iq3 - ((q3 + q3) * x - x2 * q21) * iq5;
        const Real uz2 = m * q34 * iq1 + x2 * q42 * iq5;
        const Real uz3 = q39 * m * iq1 + q43 * x2 * iq5;
        const Real vz1 = (y * q21 - sb * x * r) * iq5 * x + (sb * iq1 - y * iq3);
        const Real vz2 = -(q34 * sb * iq32) - (q3 - y * q42) * iq5;
        const Real vz3 = y * q43 * iq5 - sb * q39 * iq32;
        const Real wz1 = x * (q21 * z - x * cb * r) * iq5 + (cb * iq1 - z * iq3);
        const Real wz2 = q42 * z * iq5 - q34 * cb * iq32;
        const Real wz3 = -(q39 * cb * iq32) - (q3 - z * q43) * iq5;

        const Real d1 = w.ux * ux1 + w.vx * vx1 + w.wx * wx1 + w.uy * uy1 + w.vy * vy1 +
                        w.wy * wy1 + w.uz * uz1 + w.vz * vz1 + w.wz * wz1;
        const Real d2 = w.ux * ux2 + w.vx * vx2 + w.wx * wx2 + w.uy * uy2 + w.uz * uz2 +
                        x * (w.vy * vy2 + w.wy * wy2 + w.vz * vz2 + w.wz * wz2);
        const Real d3 = w.ux * ux3 + w.vx * vx3 + w.wx * wx3 + w.uy * uy3 + w.uz * uz3 +
                        x * (w.vy * vy3 + w.wy * wy3 + w.vz * vz3 + w.wz * wz3);
        return {c.K * d1 + w.gb * q13, c.K * d2 + w.gb * q18, c.K * d3 + w.gb * q19};
    }
}

} // namespace korvex
