#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "support/testing.hpp"

#include <cmath>

using namespace korvex;
using korvex::testing::near_rel;

namespace {

State grid_state(double sx, double sy, double sz) {
    State st;
    st.size_x = sx;
    st.size_y = sy;
    st.size_z = sz;
    st.n_pixel_x = nint(sx);
    st.n_pixel_y = nint(sy);
    st.n_slice = nint(sz);
    st.n_beams = 2;
    allocate_arrays(st);
    return st;
}

// Cu, g (2 0 0), 200 kV, beams first..last.
State copper_row(int first, int last) {
    State st;
    st.voltage = 200.0;
    st.lat_c = crystalparameter("Cu").a;
    st.v_g = {2, 0, 0};
    st.n_pixel_x = st.n_pixel_y = st.n_slice = 1;
    st.n_beams = last - first + 1;
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
    cal_wave_quantities(st);
    cal_mtx_g(st);
    return st;
}

} // namespace

TEST(CalSample, SlicesOfOneAngstrom) {
    State st = grid_state(10.0, 4.0, 100.0);
    cal_sample(st);
    EXPECT_EQ(st.size, (Vec3{10.0, 4.0, 100.0}));
    EXPECT_EQ(st.n_xyz, (std::array<int, 3>{10, 4, 100}));
    EXPECT_EQ(st.effslicenumber, 100);
    ASSERT_EQ(st.sliceposition.size(), 100);
    ASSERT_EQ(st.slicethickness.size(), 100);
    EXPECT_EQ(st.sliceposition(1), 0.5);
    EXPECT_EQ(st.slicethickness(1), 1.0);
    EXPECT_EQ(st.sliceposition(1) + 0.5 * st.slicethickness(1), 1.0);
    EXPECT_EQ(st.sliceposition(100), 99.5);
    EXPECT_EQ(st.p_x(1), 0.5);
    EXPECT_EQ(st.p_x(10), 9.5);
    EXPECT_EQ(st.p_y(4), 3.5);
    EXPECT_EQ(st.unit_x, 1.0);
    EXPECT_EQ(st.unit_z, 1.0);
}

TEST(Geometry, CopperBeamsMinusOneToThreeAtTheBraggCondition) {
    State st = copper_row(-1, 3);
    EXPECT_TRUE(near_rel(st.mtx_g(1), -0.554017, 5e-6));
    EXPECT_EQ(st.mtx_g(2), 0.0);
    geometry(st.n_beams, st.g, st.mtx_g, st.k, 1.0, st.mtx_q, st.s_g);
    const double tilt[] = {-0.0208312, -0.0069446, 0.0069446, 0.0208312, 0.0347098};
    const double sg[] = {-0.00769576, 0.0, 0.0, -0.00769576, -0.0230917};
    for (int n = 1; n <= 5; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        EXPECT_EQ(st.mtx_q(n).real(), 0.0);
        EXPECT_TRUE(near_rel(st.mtx_q(n).imag(), tilt[i], 1e-5)) << n;
        EXPECT_TRUE(near_rel(st.s_g(n), sg[i], 5e-6)) << n;
    }
    // The incident beam is tilted by minus the Bragg angle; 0 and g lie exactly on the sphere.
    EXPECT_DOUBLE_EQ(st.mtx_q(2).imag(), -st.b_angle);
    EXPECT_EQ(st.s_g(2), 0.0);
    EXPECT_EQ(st.s_g(3), 0.0);
    EXPECT_EQ(st.s_g(1), st.s_g(4));
}

TEST(Geometry, ExactBraggConditionForAnyMultiple) {
    State st = copper_row(-2, 4);
    geometry(st.n_beams, st.g, st.mtx_g, st.k, 3.0, st.mtx_q, st.s_g);
    EXPECT_EQ(st.s_g(3), 0.0);          // beam 0
    EXPECT_NEAR(st.s_g(6), 0.0, 1e-15); // beam 3
    // Mirror symmetry about f_g / 2 = 1.5: beams 1 and 2 share their excitation error.
    EXPECT_NEAR(st.s_g(4), st.s_g(5), 1e-15);
    EXPECT_GT(st.s_g(4), 0.0); // inside the Ewald sphere
}

TEST(Geometry, SymmetricIncidence) {
    State st = copper_row(-1, 2);
    geometry(st.n_beams, st.g, st.mtx_g, st.k, 0.0, st.mtx_q, st.s_g);
    for (int n = 1; n <= st.n_beams; ++n) {
        const double mg = st.mtx_beams(n) * st.g;
        EXPECT_DOUBLE_EQ(st.mtx_q(n).imag(), std::atan(mg / st.k));
        EXPECT_DOUBLE_EQ(st.s_g(n) + st.k, std::sqrt(st.k * st.k - mg * mg));
    }
    EXPECT_EQ(st.s_g(2), 0.0);
    EXPECT_EQ(st.s_g(1), st.s_g(3));
}
