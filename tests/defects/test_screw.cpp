// Screw dislocation: invisibility with and without surface relaxation, signs, the regularised
// angle gradient and the relaxation distortion against numerical derivatives, the single
// column of the amplitude-phase job, and the checks of the configuration.
#include "defects/screw.hpp"
#include "dislocation_support.hpp"
#include "state/reader.hpp"

#include <cmath>
#include <numbers>
#include <sstream>

using namespace korvex;
using namespace korvex::testing;
using korvex::screw::Site;

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
const std::string kRelaxWarning = " Surface Relaxation indicator only can be 0 or 1\n";

class ScrewTest : public ::testing::Test {
  protected:
    State make(const std::string& ca, const std::string& ini, double f_g = 1.0, Grid g = {}) {
        dir.write("screw.ini", ini);
        State st = cu_state(ca, f_g, g);
        st.f_defect = dir.str() + "screw.ini";
        st.defect_model = 2;
        st.out = &console;
        return st;
    }
    void fill(State& st, int islice) { make_defect_field(st)->fill_slice(st, islice); }
    void column(State& st, int islice) { make_defect_field(st)->fill_column(st, islice); }

    ScratchDir dir;
    std::ostringstream console;
};

// Centre of column (i, j) and slice l of the default grid, relative to `o`.
Vec3 at(int i, int j, int l, const Vec3& o) {
    return {(i - 0.5) * 8.0 - o[0], (j - 0.5) * 8.0 - o[1], (l - 0.5) * 20.0 - o[2]};
}

} // namespace

TEST_F(ScrewTest, InvisibleWithoutRelaxationWhenGDotBVanishes) {
    for (const char* ca : {"yes", "no"}) {
        State st = make(ca, screw_ini("1 2 0 1 1", "30 20 90", "0 1 -1"));
        for (int l : {1, 5, 10}) {
            st.s_g_r.fill(1.0);
            fill(st, l);
            for (int n = 1; n <= 5; ++n) EXPECT_EQ(max_abs(st.s_g_r, n), 0.0) << ca << n;
        }
    }
}

TEST_F(ScrewTest, WithRelaxationOnlyTheSurfaceTermsRemain) {
    // A screw normal to the foil (b = [0 0 1], g.b = 0) entering at (30, 20, 0).
    const Vec3 o{30, 20, 0};
    for (const char* ca : {"yes", "no"}) {
        State st = make(ca, screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "1"));
        for (int l : {1, 4, 10}) {
            fill(st, l);
            for (int j = 1; j <= 6; ++j)
                for (int i = 1; i <= 8; ++i) {
                    const Vec3 d = screw::surfacerelaxscrewdistortion(at(i, j, l, o), 200.0);
                    for (int n = 1; n <= 5; ++n) {
                        const double tau = std::tan(st.mtx_q(n).imag());
                        const double want = st.mtx_beams(n) * 2.0 * (tau * d[0] + d[2]);
                        EXPECT_TRUE(near_rel(st.s_g_r(i, j, n), want, 1e-14, 1e-18));
                    }
                }
            EXPECT_GT(max_abs(st.s_g_r, beam(1)), 1e-6) << ca << l;
        }
    }
}

TEST_F(ScrewTest, GradientIsTheRegularisedDerivativeOfTheAngle) {
    // An inclined screw, b = 1/2[1 0 1] (g.b = 1), cut plane (1 0 -1).
    const Vec3 o{20, 15, 80};
    const Vec3 e3 = scaled({1, 0, 1}, 1 / std::sqrt(2.0)),
               e2 = scaled({1, 0, -1}, 1 / std::sqrt(2.0));
    const Vec3 e1 = cross_product(e2, e3);
    auto theta = [&](const Vec3& p) { return std::atan2(dot(p, e2), dot(p, e1)) / kTwoPi; };
    for (const char* ca : {"yes", "no"}) {
        State st = make(ca, screw_ini("1 2 1 0 1", "20 15 80", "1 0 -1"));
        const int l = 3;
        fill(st, l);
        const double h = 1e-4;
        for (int j = 1; j <= 6; ++j)
            for (int i = 1; i <= 8; ++i) {
                const Vec3 p = at(i, j, l, o);
                auto f = [&](double dx, double dz) { return theta({p[0] + dx, p[1], p[2] + dz}); };
                const double r2 = std::pow(dot(p, e1), 2) + std::pow(dot(p, e2), 2);
                const double soft = r2 / (r2 + screw::kCore);
                const double ddz = (f(0, h) - f(0, -h)) / (2 * h) * soft;
                const double ddx = (f(h, 0) - f(-h, 0)) / (2 * h) * soft;
                for (int n = 1; n <= 5; ++n) {
                    const double tau = std::tan(st.mtx_q(n).imag());
                    const double want = st.mtx_beams(n) * (ddz + tau * ddx); // g.b = 1
                    EXPECT_TRUE(near_rel(st.s_g_r(i, j, n), want, 1e-6, 1e-12))
                        << ca << " pixel " << i << "," << j << " beam " << n;
                }
            }
    }
}

TEST(ScrewRelaxation, DistortionIsTheGradientOfTheDisplacement) {
    const double t = 200.0, h = 1e-4;
    for (int terms : {100, 101}) {
        for (const Vec3& p : {Vec3{12, 7, 5}, Vec3{-3, 25, 60}, Vec3{40, -9, 150},
                              Vec3{-6, -4, 197}, Vec3{0.5, 30, 100}}) {
            auto u1 = [&](double dx, double dy, double dz) {
                return screw::relax_displacement({p[0] + dx, p[1] + dy, p[2] + dz}, t, terms)[0];
            };
            const Vec3 d = screw::relax_distortion(p, t, terms);
            const Vec3 num{(u1(h, 0, 0) - u1(-h, 0, 0)) / (2 * h),
                           (u1(0, h, 0) - u1(0, -h, 0)) / (2 * h),
                           (u1(0, 0, h) - u1(0, 0, -h)) / (2 * h)};
            for (std::size_t e = 0; e < 3; ++e)
                EXPECT_TRUE(near_rel(d[e], num[e], 1e-6, 1e-12)) << terms << " component " << e;
        }
    }
    // The routines of the slice differ by one image pair: a tiny, alternating tail.
    const Vec3 p{12, 7, 5};
    const Vec3 d100 = screw::relax_distortion(p, t, 100);
    const Vec3 d101 = screw::surfacerelaxscrewdistortion(p, t);
    EXPECT_TRUE(near_rel(d101[2], d100[2], 1e-4));
    EXPECT_NE(d101[2], d100[2]);
}

TEST(ScrewRelaxation, TableAgreesWithTheDirectSum) {
    // The per-slice table must reproduce the series term for term, to rounding, wherever the
    // columns lie: near and far from the line, near either surface, for a line point placed off
    // the entrance surface (depths outside the foil), thin and thick foils.
    int compared = 0;
    for (double t : {60.0, 200.0, 1000.0})
        for (double z : {0.5, 3.0, t / 3, t / 2, t - 0.5, -40.0, t + 25.0}) {
            const screw::RelaxTable table(z, t, 101);
            for (double x : {-700.0, -33.3, -1.0, 0.0, 1e-3, 4.0, 150.0})
                for (double y : {-250.0, -2.5, 0.0, 0.25, 17.0, 900.0}) {
                    const Vec3 ref = screw::relax_distortion({x, y, z}, t, 101);
                    const Vec3 got = table.distortion(x, y);
                    const double scale =
                        std::max({std::abs(ref[0]), std::abs(ref[1]), std::abs(ref[2]), 1e-300});
                    for (std::size_t e = 0; e < 3; ++e)
                        EXPECT_TRUE(near_rel(got[e], ref[e], 1e-12, 1e-14 * scale))
                            << "t " << t << " z " << z << " x " << x << " y " << y << " e " << e;
                    ++compared;
                }
        }
    EXPECT_EQ(compared, 3 * 7 * 7 * 6);
}

TEST(ScrewRelaxation, SurfaceLimitsAndSymmetry) {
    const double t = 200.0;
    // Displacement azimuthal, antisymmetric about the mid-plane and zero on it.
    const Vec3 u = screw::surfacerelaxscrewdisplacement({9, 4, 30}, t);
    const Vec3 v = screw::surfacerelaxscrewdisplacement({9, 4, t - 30}, t);
    EXPECT_EQ(u[2], 0.0);
    EXPECT_TRUE(near_rel(9 * u[0] + 4 * u[1], 0.0, 0.0, 1e-15));
    EXPECT_TRUE(near_rel(v[0], -u[0], 1e-12));
    EXPECT_EQ(screw::surfacerelaxscrewdisplacement({9, 4, t / 2}, t)[0], 0.0);
    // Near the surface of a very thick plate the series is the single-surface image term:
    // azimuthal displacement rho / (z + R) / 2 pi.
    const double x = 6, y = 8, z = 5, big = 1e7;
    const double rho = 10.0, r = std::sqrt(z * z + rho * rho);
    const Vec3 w = screw::surfacerelaxscrewdisplacement({x, y, z}, big);
    EXPECT_TRUE(near_rel(w[0], rho / (z + r) / kTwoPi * y / rho, 1e-5));
    // On the line the relaxation is taken as zero.
    for (double zz : {0.0, 50.0, 200.0}) {
        EXPECT_EQ(screw::surfacerelaxscrewdisplacement({0, 0, zz}, t), (Vec3{0, 0, 0}));
        EXPECT_EQ(screw::surfacerelaxscrewdistortion({0, 0, zz}, t), (Vec3{0, 0, 0}));
    }
}

TEST_F(ScrewTest, ColumnOnTheLineIsFinite) {
    // The line through the centre of column (4, 3), normal to the foil, with relaxation, and
    // inclined without it.
    for (const auto& [ini, l] : {std::pair{screw_ini("1 1 0 0 1", "28 20 0", "1 0 0", "1"), 5},
                                 std::pair{screw_ini("1 2 1 0 1", "28 20 90", "1 0 -1", "0"), 5}}) {
        State st = make("no", ini);
        fill(st, l);
        for (int n = 1; n <= 5; ++n)
            for (int j = 1; j <= 6; ++j)
                for (int i = 1; i <= 8; ++i) EXPECT_TRUE(std::isfinite(st.s_g_r(i, j, n)));
    }
}

TEST_F(ScrewTest, SingleColumnCarriesDisplacementAndDistortion) {
    // Screw along x (b = [1 0 0], g.b = 2) at depth 100, cut plane (0 0 1) = the foil plane.
    const std::string ini = screw_ini("1 1 1 0 0", "30 20 100", "0 0 1");
    State mesh = make("no", ini);
    fill(mesh, 4);
    State col = make("no", ini);
    col.s_g_r.fill(5.0);
    col.g_r.fill(5.0);
    col.colxy = {-10.0, -8.0}; // column (3, 2): x - x0 = -10, y - y0 = -8
    column(col, 4);
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(col.s_g_r(1, 1, n), mesh.s_g_r(3, 2, n));
        EXPECT_EQ(col.s_g_r(2, 1, n), 0.0);
        EXPECT_EQ(col.g_r(8, 6, n), 0.0);
    }
    EXPECT_EQ(col.g_r(1, 1, beam(0)), 0.0);
    EXPECT_EQ(col.g_r(1, 1, beam(-1)), -col.g_r(1, 1, beam(1)));
    EXPECT_NE(col.g_r(1, 1, beam(1)), 0.0);

    // Going round the line: the phase change through the depth on the cut side (y < 0) and on
    // the other side (y > 0) add up to one full turn, g.b cycles for the beam g.
    auto change = [&](double y) {
        col.colxy = {0.0, y};
        column(col, 5); // depth 90, 10 above the line
        const double before = col.g_r(1, 1, beam(1));
        column(col, 6); // depth 110
        return col.g_r(1, 1, beam(1)) - before;
    };
    const double cut_side = change(-30.0), other_side = change(30.0);
    EXPECT_TRUE(near_rel(std::abs(cut_side) + std::abs(other_side), 2.0, 1e-12));
    EXPECT_GT(std::abs(cut_side), 1.5);
}

TEST_F(ScrewTest, DisplacementWithRelaxation) {
    State st = make("yes", screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "1"));
    st.colxy = {7.0, -5.0};
    column(st, 2);
    const Vec3 u = screw::surfacerelaxscrewdisplacement({7.0, -5.0, 30.0}, 200.0);
    for (int n = 1; n <= 5; ++n)
        EXPECT_TRUE(near_rel(st.g_r(1, 1, n), st.mtx_beams(n) * 2.0 * u[0], 1e-14, 1e-18));
    EXPECT_NE(st.g_r(1, 1, beam(1)), 0.0);
}

TEST_F(ScrewTest, UnknownRelaxationIndicatorWarnsOncePerSliceAndRunsWithout) {
    State plain = make("no", screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "0"));
    fill(plain, 3);
    State odd = make("no", screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "2"));
    fill(odd, 3);
    fill(odd, 4);
    EXPECT_EQ(console.str(), kRelaxWarning + kRelaxWarning);
    fill(odd, 3);
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(max_abs(odd.s_g_r, n), 0.0); // g.b = 0, no relaxation
}

TEST_F(ScrewTest, Checks) {
    const std::vector<std::string> cut{
        "For a screw dislocation, Burgers vector must lay on the cut_plane"};
    for (const char* c : {"1 -0.9999999999 0", "0 0.000001 1", "1 0 0"}) {
        State st = make("yes", screw_ini("1 2 1 1 0", "30 20 90", c));
        EXPECT_EQ(stop_lines([&] { fill(st, 1); }), cut) << c;
    }
    for (const char* c : {"1 -1 0", "0 0 1", "1 -1 1"}) {
        State st = make("yes", screw_ini("1 2 1 1 0", "30 20 90", c));
        EXPECT_NO_THROW(fill(st, 1)) << c;
    }
    State relax = make("yes", screw_ini("1 2 1 0 1", "30 20 0", "0 1 0", "1"));
    EXPECT_EQ(stop_lines([&] { fill(relax, 1); }),
              (std::vector<std::string>{
                  "Surface relaxation model only available for screw disloations",
                  "perpendicular to the foil (in current version, also perpendicular",
                  "to diffraction vector"}));

    State st = make("yes", screw_ini("1 2 1 0 1", "30 20 90", "0 1 0"));
    EXPECT_EQ(stop_lines([&] { screw::cal_screw(st, 1, "strain", Site::mesh); }),
              std::vector<std::string>{"Please choose either displacement or distortion field"});
    EXPECT_NO_THROW(screw::cal_screw(st, 1, "displacement", Site::mesh));
    State ca = make("maybe", screw_ini("1 2 1 0 1", "30 20 90", "0 1 0"));
    EXPECT_EQ(stop_lines([&] { fill(ca, 1); }),
              std::vector<std::string>{"Please make right choice for the Column Approximation"});
    State zero_b = make("yes", screw_ini("0 2 1 0 1", "30 20 90", "0 1 0"));
    EXPECT_EQ(stop_lines([&] { fill(zero_b, 1); }).size(), 1u);

    st.f_defect = dir.str() + "absent.ini";
    EXPECT_THROW(fill(st, 1), ReadError);
}

TEST_F(ScrewTest, ExampleConfiguration) {
    State st = make("no", "", 1.0, Grid{64, 64, 200, 64.0, 64.0, 200.0});
    st.f_defect = std::string(KORVEX_SOURCE_DIR) + "/examples/screw/screw.ini";
    fill(st, 90);
    EXPECT_GT(max_abs(st.s_g_r, beam(1)), 1e-3);
    for (int n = 1; n <= 5; ++n)
        for (int j = 1; j <= 64; ++j)
            for (int i = 1; i <= 64; ++i) ASSERT_TRUE(std::isfinite(st.s_g_r(i, j, n)));
}
