#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "support/testing.hpp"

#include <cmath>

using namespace korvex;
using korvex::testing::near_rel;

namespace {
// Cu, g (2 0 0), 200 kV, beams first..last, at the condition (g, f_g g).
State copper_row(int first, int last, double f_g) {
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
    geometry(st.n_beams, st.g, st.mtx_g, st.k, f_g, st.mtx_q, st.s_g);
    return st;
}
} // namespace

// Column and slice centres of a grid of 1 Angstrom cells (off-by-half faults).
TEST(CalSample, SlicesOfOneAngstrom) {
    State st;
    st.size_x = st.n_pixel_x = 10;
    st.size_y = st.n_pixel_y = 4;
    st.size_z = st.n_slice = 100;
    st.n_beams = 2;
    allocate_arrays(st);
    cal_sample(st);
    EXPECT_EQ(st.effslicenumber, 100);
    EXPECT_EQ(std::tuple(st.sliceposition(1), st.slicethickness(1), st.sliceposition(100)),
              std::tuple(0.5, 1.0, 99.5));
    EXPECT_EQ(std::tuple(st.p_x(1), st.p_x(10), st.p_y(4), st.unit_x, st.unit_z),
              std::tuple(0.5, 9.5, 3.5, 1.0, 1.0));
}

// Worked beam tilts and excitation errors; the incident beam is tilted by minus the Bragg
// angle and 0 and g lie exactly on the sphere.
TEST(Geometry, CopperBeamsMinusOneToThreeAtTheBraggCondition) {
    const State st = copper_row(-1, 3, 1.0);
    EXPECT_TRUE(near_rel(st.mtx_g(1), -0.554017, 5e-6));
    EXPECT_EQ(st.mtx_g(2), 0.0);
    const double tilt[] = {-0.0208312, -0.0069446, 0.0069446, 0.0208312, 0.0347098};
    const double sg[] = {-0.00769576, 0.0, 0.0, -0.00769576, -0.0230917};
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(st.mtx_q(n).real(), 0.0);
        EXPECT_TRUE(near_rel(st.mtx_q(n).imag(), tilt[n - 1], 1e-5)) << n;
        EXPECT_TRUE(near_rel(st.s_g(n), sg[n - 1], 5e-6)) << n;
    }
    EXPECT_DOUBLE_EQ(st.mtx_q(2).imag(), -st.b_angle);
    EXPECT_EQ(std::tuple(st.s_g(2), st.s_g(3)), std::tuple(0.0, 0.0));
    EXPECT_EQ(st.s_g(1), st.s_g(4));
}

// Mirror symmetry of the excitation errors about f_g / 2: for f_g = 3 the beams 0 and 3 are
// exactly on the sphere, 1 and 2 equally inside it.
TEST(Geometry, ExactBraggConditionForAnyMultiple) {
    const State st = copper_row(-2, 4, 3.0);
    EXPECT_EQ(st.s_g(3), 0.0);          // beam 0
    EXPECT_NEAR(st.s_g(6), 0.0, 1e-15); // beam 3
    EXPECT_NEAR(st.s_g(4), st.s_g(5), 1e-15);
    EXPECT_GT(st.s_g(4), 0.0);
}
