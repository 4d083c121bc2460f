// The crystal table, the wave quantities and the beam geometry they give; the vector helpers.
#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "optics/vectors.hpp"
#include "support/testing.hpp"

using namespace korvex::testing;

namespace {

// Cu, g (2 0 0), 200 kV, beams first..last, at the condition (g, cond g).
State copper_row(int first, int last, double cond) {
    State st;
    st.voltage = 200.0, st.lat_c = crystalparameter("Cu").a, st.v_g = {2, 0, 0};
    st.n_pixel_x = st.n_pixel_y = st.n_slice = 1, st.n_beams = last - first + 1;
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
    cal_wave_quantities(st.input(), st.optics());
    cal_mtx_g(st.input(), st.optics());
    geometry(st.n_beams, st.g, st.mtx_g, st.k, cond, st.mtx_q, st.s_g);
    return st;
}

// The largest difference of two vectors or (through their elements) matrices.
template <class A> double off(const A& a, const A& b) {
    double m = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
    return m;
}
double off(const Mat3& a, const Mat3& b) {
    return off(a.a, b.a);
}

} // namespace

// Column and slice centres of a grid of 1 Angstrom cells (off-by-half faults).
TEST(CalSample, SlicesOfOneAngstrom) {
    State st;
    st.size_x = st.n_pixel_x = 10, st.size_y = st.n_pixel_y = 4, st.size_z = st.n_slice = 100;
    st.n_beams = 2;
    allocate_arrays(st);
    cal_sample(st.input(), st.grid());
    EXPECT_EQ(st.effslicenumber, 100);
    EXPECT_EQ(std::tuple(st.sliceposition(1), st.slicethickness(1), st.sliceposition(100)),
              std::tuple(0.5, 1.0, 99.5));
    EXPECT_EQ(std::tuple(st.p_x(1), st.p_x(10), st.p_y(4), st.unit_x, st.unit_z),
              std::tuple(0.5, 9.5, 3.5, 1.0, 1.0));
}

// Beams -2 .. 4 at (g, g) and (g, 3g): every wave vector (m g - cond g / 2, kz0 + s_g) ends on
// the sphere of radius k (tilt tangents spaced by g / kz0); beams 0 and cond lie on it (the
// incident beam at minus the Bragg angle of cond g), the others mirror about cond / 2, with s_g
// close to m (cond - m) g^2 / 2k. The wave quantities against the relativistic electron
// wavelength h / sqrt(2 m e V (1 + e V / 2 m c^2)) and Bragg's law for the (2 0 0) planes.
TEST(Geometry, WaveVectorsOnTheEwaldSphere) {
    for (const int cond : {1, 3}) {
        const State st = copper_row(-2, 4, cond);
        EXPECT_TRUE(near_rel(st.d, st.lat_c / 2.0, 1e-12) && near_rel(st.g * st.d, 1.0, 1e-12));
        EXPECT_TRUE(near_rel(st.wavelength, electron_wavelength(200.0), 5e-4));
        EXPECT_TRUE(near_rel(st.k * st.wavelength, 1.0, 1e-12));
        EXPECT_TRUE(near_rel(2.0 * st.d * std::sin(st.b_angle), st.wavelength, 1e-12));
        const double g = st.g, kz0 = std::sqrt(st.k * st.k - 0.25 * cond * cond * g * g);
        for (int n = 1; n <= 7; ++n) {
            const int m = n - 3;
            const double x = (m - 0.5 * cond) * g, s = st.s_g(n);
            EXPECT_EQ(std::pair(st.mtx_g(n), st.mtx_q(n).real()), std::pair(m * g, 0.0));
            EXPECT_TRUE(near_rel(std::tan(st.mtx_q(n).imag()), x / kz0, 1e-12)) << m;
            EXPECT_TRUE(near_rel(std::hypot(x, kz0 + s), st.k, 1e-14)) << m;
            EXPECT_TRUE(near_rel(s, m * (cond - m) * g * g / (2 * st.k), 5e-3, 1e-15)) << m;
            const int mirror = n + cond - 2 * m; // the beam cond - m
            EXPECT_TRUE(mirror > 7 || mirror < 1 || std::abs(s - st.s_g(mirror)) <= 1e-15) << m;
        }
        EXPECT_EQ(st.s_g(3), 0.0);
        EXPECT_NEAR(st.s_g(3 + cond), 0.0, 1e-15);
        // The incident beam at the Bragg angle of cond g: sin = cond sin(Bragg angle of g).
        EXPECT_NEAR(std::sin(-st.mtx_q(3).imag()), cond * std::sin(st.b_angle), 1e-15);
    }
}

// The element is named by its first two characters, case mattering; anything else stops.
TEST(CrystalParameter, LookUpByTheFirstTwoCharactersAndLorentzFactor) {
    const CrystalParams cu = crystalparameter("Cu"), cu2 = crystalparameter("Cu-annealed");
    EXPECT_EQ(std::tuple(cu.a, cu.atoms, cu.msd), std::tuple(cu2.a, cu2.atoms, cu2.msd));
    for (const std::string bad : {"cu", "C", "", "Li"})
        EXPECT_EQ(stop_lines([&] { crystalparameter(bad); }),
                  (Lines{"No this element found in the subroutine CrystalParameter.",
                         "Read: \"" + bad + "\" (known: Ag, Al, Au, Cu, Mo, Si, Fe)"}))
            << bad;

    // gamma = 1 + eV / m c^2 (511.0 keV), to the fourth decimal, at every 100 kV step, matched
    // within one volt (exclusive); other voltages stop with two records.
    for (int i = 1; i <= 10; ++i)
        for (double dv : {0.0, 0.99, -0.99})
            EXPECT_NEAR(lorentzfactor(i * 1e5 + dv), 1.0 + i * 100.0 / 510.999, 1e-4) << i;
    EXPECT_EQ(
        stop_lines([] { lorentzfactor(250000.0); }),
        (Lines{"ERROR: No Lorentz Factor found for", "       accelerating voltage V = 250000.0"}));
    for (double v : {200001.0, 0.0}) EXPECT_EQ(stop_lines([&] { lorentzfactor(v); }).size(), 2u);
}

// Frame changes: axis lengths do not matter, the crystal vector g lands on sample x, the transpose
// undoes the change; a general matrix inverted, a singular one refused at any scale.
TEST(Vectors, FramesAndInverse) {
    EXPECT_LE(off(coordinates_transfer({2, 0, 0}, {0, 5, 0}, {0, 0, 0.1}, {7, 0, 0}, {0, 0.3, 0},
                                       {0, 0, 9}),
                  Mat3::identity()),
              0.0);
    const Vec3 z{0, 0, 1}, x{1, 1, 0};
    const Mat3 c = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, x, cross_product(z, x), z);
    const Vec3 g = mul(c, Vec3{1, 1, 0});
    EXPECT_LE(off(g, {std::sqrt(2.0), 0, 0}), 1e-15);
    EXPECT_LE(off(mul(c, real_matrix_transpose(c)), Mat3::identity()), 1e-15);
    EXPECT_LE(off(mul_t(c, g), {1, 1, 0}), 1e-15);

    const Mat3 a{{2, -1, 0, 1, 3, 2, 0.5, 4, -1}}, s{{1, 2, 3, 2, 4, 6, 0, 1, 1}};
    EXPECT_LE(off(mul(a, inverse_three_real_matrix(a)), Mat3::identity()), 1e-14);
    EXPECT_EQ(stop_lines([&] { inverse_three_real_matrix(s); }).size(), 1u);
    const Mat3 tiny{{1e-9, 0, 0, 0, 1e-9, 0, 0, 0, 1e-9}};
    EXPECT_NEAR(inverse_three_real_matrix(tiny)(2, 2), 1e9, 1e-3);
}

// Strictly inside only (edges and vertices are outside), either orientation, the third
// component ignored; a degenerate triangle stops.
TEST(Vectors, PointTriangleAndPerpendicularVector) {
    const Vec3 a{0, 0, 5}, b{4, 0, -1}, c{0, 3, 0};
    EXPECT_EQ(point_triangle({1, 1, 100}, a, b, c), 1);
    EXPECT_EQ(point_triangle({1, 1, 0}, a, c, b), 1);
    for (const Vec3& p : {Vec3{3, 3, 0}, Vec3{-0.1, 1, 0}, Vec3{2, 0, 0}, Vec3{0, 0, 0}})
        EXPECT_EQ(point_triangle(p, a, b, c), 0) << p[0] << ' ' << p[1];
    EXPECT_EQ(stop_lines([&] {
                  point_triangle({1, 1, 0}, a, {1, 1, 0}, {2, 2, 7});
              }),
              Lines{"POINT A B C ARE NOT VERTEXES OF A TRIANGLE"});

    // The first small integer vector perpendicular in the search order; none possible stops.
    const std::pair<Vec3, Vec3> cases[] = {
        {{1, 1, 1}, {1, 0, -1}}, {{1, 1, 0}, {0, 0, 1}}, {{1, 2, 3}, {1, 1, -1}}};
    for (const auto& [v, w] : cases) EXPECT_EQ(perpendicular_vector(v), w) << v[0] << v[1] << v[2];
    for (const Vec3 v : {Vec3{0, 0, 0}, Vec3{1.0, std::sqrt(2.0), std::acos(-1.0)}})
        EXPECT_EQ(stop_lines([&] { perpendicular_vector(v); }).size(), 1u) << v[1];
}
