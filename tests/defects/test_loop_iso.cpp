// Circular loop: the infinitesimal model, the table look-up, the far or near field.
#include "defects/loop_iso.hpp"
#include "fixture.hpp"

using namespace korvex::testing;

namespace {

DefectRun loop_run(const std::string& radius, const std::string& model,
                   const std::string& pos = "16 16 8", const std::string& normal = "1 1 1",
                   const std::string& b = "1 3 1 1 1") {
    return DefectRun(3, "loop.ini",
                     config("{Data for the circular loop}", {b, radius, pos, normal, "0.3", model}),
                     "no", kLoopGrid);
}

// The five tables; with `code` i10.data (or all) holds q + 1000 r at (q, r), the others zeros.
void write_tables(const ScratchDir& dir, bool code = true, bool all = false) {
    for (const std::string t : {"i01", "i10", "i11", "i02", "i12"}) {
        std::string s = " header\n";
        for (int r = 1; r <= 200; ++r) {
            const bool coded = code && (all || t == "i10");
            s += coded ? std::to_string(0.02 * r) : "0.0";
            for (int q = 1; q <= 200; ++q)
                s += coded ? ' ' + std::to_string(q + 1000 * r) + ".0" : " 0.0";
            s += '\n';
        }
        dir.write(t + ".data", s);
    }
}

} // namespace

// The infinitesimal terms are the derivatives of the displacement of a loop of area A (Kroupa),
// taken at the column centre, the lateral term m tan(tilt) dx only for ca "no".
TEST(LoopIso, InfinitesimalTermsAreDerivativesOfTheLoopDisplacement) {
    const double nu = 0.3, R = 5.0, b = 0.4, h = 1e-4;
    const Vec3 N = scaled(Vec3{1, 2, -2}, 1.0 / 3.0), B = scaled(Vec3{2, -1, 2}, 1.0 / 3.0);
    const double cb = -R * R * b / (8.0 * (1.0 - nu)), area = kPi * R * R * b; // b in the area
    for (const Vec3& p : {Vec3{3.0, 1.0, 2.0}, Vec3{-4.0, 2.5, -1.5}, Vec3{0.5, -3.0, 6.0}}) {
        const LoopDerivatives d = infinitesimal_loop_terms(p[0], p[1], p[2], N, B, nu, cb);
        auto u = [&](double dx, double dz) {
            const Vec3 q{p[0] + dx, p[1], p[2] + dz};
            const double r = magnitude(q), rn = dot(q, N), rb = dot(q, B);
            return -area / (8.0 * kPi * (1.0 - nu)) *
                   ((1.0 - 2.0 * nu) * (N[0] * rb + B[0] * rn - dot(B, N) * q[0]) / std::pow(r, 3) +
                    3.0 * rn * rb * q[0] / std::pow(r, 5));
        };
        EXPECT_TRUE(near_rel(d.dz, (u(0, h) - u(0, -h)) / (2 * h), 1e-6, 1e-12));
        EXPECT_TRUE(near_rel(d.dx, (u(h, 0) - u(-h, 0)) / (2 * h), 1e-6, 1e-12));
    }
    const LoopDerivatives centre = infinitesimal_loop_terms(0, 0, 0, N, B, nu, cb);
    EXPECT_EQ(std::pair(centre.dx, centre.dz), std::pair(0.0, 0.0));

    DefectRun run = loop_run("8.0", "infinitesimal");
    const double with_tilt = run.slice(5).st.s_g_r(20, 13, beam(1));
    run.st.ca = ColumnApprox::half;
    const double without = run.slice(5).st.s_g_r(20, 13, beam(1));
    // Column (20, 13) of slice 5 relative to the centre (16, 16, 8); sample = crystal axes.
    const Vec3 n = scaled(Vec3{1, 1, 1}, 1.0 / std::sqrt(3.0));
    const LoopDerivatives d =
        infinitesimal_loop_terms(3.5, -3.5, -3.5, n, n, 0.3, -64.0 / std::sqrt(3.0) / 5.6);
    EXPECT_TRUE(near_rel(without, 2.0 * d.dz, 1e-12));
    EXPECT_TRUE(
        near_rel(with_tilt, 2.0 * (beam_tilts(run.st).tan_tilt(beam(1)) * d.dx + d.dz), 1e-12));
}

// A loop of radius 70, normal along y, only I10 non-zero: the near field is
// -2 I10 (X / R) (Z b) / (7 R^2 v^3), so each column tells which table point it read. Beyond the
// tables the point's own integrals; changed files are read again, a removed one stops the run.
// The table point is the nearest of the single-precision grid of step 0.02, never past the
// tables: 100.5 - 1e-6 steps of exactly 0.02 are more than 100.5 steps of 0.019999999552965164.
TEST(LoopIso, NearFieldReadsTheTableAtTheNearestPoint) {
    // clang-format off
    const std::pair<double, int> index[] = {{0.0, 1}, {0.01, 1}, {0.02, 1}, {0.0299, 1},
        {0.0301, 2}, {1.0, 50}, {0.02 * (100.5 - 1e-6), 101}, {4.0, 200}, {4.5, 200}, {1e9, 200}};
    // clang-format on
    for (const auto& [a, q] : index) EXPECT_EQ(loop_table_index(a), q) << a;
    DefectRun run = loop_run("70.0", "tabulation", "16 0 8", "0 1 0", "1 1 0 1 0");
    write_tables(run.dir);
    const double R = 70.0, z = 8.0 - 2.5;
    auto code = [&](int i, int j, double y0) {
        const double X = i - 0.5 - 16.0, Y = j - 0.5 - y0;
        const double v = std::sqrt(X * X + z * z) / R;
        const double i10 =
            run.st.s_g_r(i, j, beam(1)) / -2.0 / (-2.0 * (X / R) * z / (7 * R * R * v * v * v));
        EXPECT_NEAR(i10, std::round(i10), 1e-6 * std::abs(i10));
        const int q = Y / R > 0.02f ? int(std::lround(Y / R / 0.02f)) : 1;
        const int r = v > 0.02f ? int(std::lround(v / 0.02f)) : 1;
        return std::pair(std::lround(i10), long(std::min(q, 200) + 1000 * r));
    };
    run.slice(3);
    for (int j = 1; j <= 32; ++j)
        for (int i = 1; i <= 32; ++i) {
            const auto [got, want] = code(i, j, 0.0);
            EXPECT_EQ(got, want) << i << ' ' << j;
        }
    run.dir.write("loop.ini", config("{loop}", {"1 1 0 1 0", "70.0", "16 -300 8", "0 1 0", "0.3",
                                                "tabulation"}));
    run.slice(3);
    const LoopGeometry lg{1.0, R, 1.0, 0.0, 0.0, 0.3};
    for (int i = 1; i <= 32; ++i) // |u| > 4: the integrals of the point itself
        EXPECT_TRUE(near_rel(run.st.s_g_r(i, 1, beam(1)),
                             -2.0 * loop_exact_field(lg, i - 16.5, 300.5, z), 1e-12))
            << i;

    run.dir.write("loop.ini",
                  config("{loop}", {"1 1 0 1 0", "70.0", "16 0 8", "0 1 0", "0.3", "tabulation"}));
    write_tables(run.dir, false);
    EXPECT_FALSE(any_nonzero(run.slice(3).st.s_g_r));
    std::filesystem::remove(run.dir.path() / "i10.data");
    EXPECT_THROW(run.slice(3), ReadError);
}

// Below radius 60 the far field serves every column and no table is opened or made.
TEST(LoopIso, SmallLoopNeverOpensATableUnknownModelAndUndefinedPoints) {
    LoopGeometry lg{std::sqrt(3.0) / 3.0,  50.0, 1.0 / std::sqrt(3.0), 1.0 / std::sqrt(3.0),
                    -1.0 / std::sqrt(3.0), 0.3};
    const double expect = -2.0 * loop_far_field(lg, 7.5 - 16.0, 20.5 - 16.0, 8.0 - 3.5);
    DefectRun run = loop_run("50.0", "tabulation");
    EXPECT_TRUE(near_rel(run.slice(4).st.s_g_r(8, 21, 3), expect, 1e-14));
    EXPECT_TRUE(expect != 0.0 && loop_far_field(lg, 0, 0, 0) == 0.0); // zero only at the centre
    EXPECT_FALSE(run.dir.exists("i01.data"));

    // An unknown model is reported at every slice; "integral" runs silently. Where the near field
    // is undefined (in the plane of a loop on a slice centre, on its axis) the terms are zero, not
    // NaN.
    DefectRun spline = loop_run("70.0", "spline");
    spline.slice(1).slice(2);
    const std::string msg = " Distortion field calculation method has been NOT selected\n";
    EXPECT_EQ(spline.console.str(), msg + msg);
    DefectRun integral = loop_run("70.0", "integral");
    EXPECT_TRUE(all_finite(integral.slice(1).st.s_g_r) && integral.console.str().empty());
    // A Burgers vector off the normal: its normal component only, said once a condition.
    DefectRun shear = loop_run("70.0", "integral", "16 16 8", "0 0 1");
    shear.slice(1).slice(2);
    EXPECT_EQ(shear.console.str(), " * WARNING: the circular loop takes only the Burgers vector's "
                                   "component along its normal, 0.333333 of 0.57735\n");

    DefectRun flat = loop_run("70.0", "tabulation", "16.5 16.5 2.5", "0 0 1");
    write_tables(flat.dir, true, true);
    for (int l = 1; l <= 16; ++l) {
        ASSERT_TRUE(all_finite(flat.slice(l).st.s_g_r)) << l;
        EXPECT_EQ(flat.st.s_g_r(17, 17, 3), 0.0) << l; // on the axis
    }
}
