// Polygonal loop: loop styles, fault crossings and projection markers, stops.
#include "defects/defect.hpp"
#include "defects/pgloop.hpp"
#include "loop_fixture.hpp"
#include "state/reader.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <vector>

using namespace korvex;
using korvex::testing::loop_state;
using korvex::testing::PgLoopConfig;
using korvex::testing::ScratchDir;
using korvex::testing::stop_lines;

namespace {

constexpr double kPi = 3.141592653589793;

// Whether the column centre (x, y) lies inside the horizontal regular polygon of `cfg`
// (normal [0 0 1], pole along the sample x axis): +1 inside, -1 outside, 0 too close to an
// edge to tell.
int inside_polygon(const PgLoopConfig& cfg, double x, double y) {
    const int n = cfg.nsides;
    std::vector<double> vx(static_cast<std::size_t>(n)), vy(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        // Vertices on the circle, half a side angle before each side's middle.
        const double phi = 2.0 * kPi * k / n - kPi / n;
        vx[static_cast<std::size_t>(k)] = cfg.position[0] + cfg.radius * std::cos(phi);
        vy[static_cast<std::size_t>(k)] = cfg.position[1] + cfg.radius * std::sin(phi);
    }
    int sign = 1;
    for (int k = 0; k < n; ++k) {
        const auto a = static_cast<std::size_t>(k), b = static_cast<std::size_t>((k + 1) % n);
        const double ex = vx[b] - vx[a], ey = vy[b] - vy[a];
        const double c = (ex * (y - vy[a]) - ey * (x - vx[a])) / std::hypot(ex, ey);
        if (std::abs(c) < 1e-9) return 0;
        if (c < 0) sign = -1;
    }
    return sign;
}

struct LoopRun {
    ScratchDir dir;
    State st;
    std::unique_ptr<DefectField> field;
    LoopRun(const PgLoopConfig& cfg, int nz = 16, double sz = 16.0, const std::string& ca = "no")
        : st(loop_state(32, 32, nz, 32.0, 32.0, sz, ca)) {
        dir.write("pgLoop.ini", cfg.text());
        st.f_defect = dir.str() + "pgLoop.ini";
        st.defect = "pg_loop";
        st.defect_model = 5;
        field = make_defect_field(st);
    }
    void slice(int l) { field->fill_slice(st, l); }
    bool any_jump() const {
        for (std::size_t q = 0; q < st.s_f.size(); ++q)
            if (st.s_f.data()[q] != 0.0) return true;
        return false;
    }
    bool any_strain() const {
        for (std::size_t q = 0; q < st.s_g_r.size(); ++q)
            if (st.s_g_r.data()[q] != 0.0) return true;
        return false;
    }
};

PgLoopConfig hexagon() {
    PgLoopConfig s;
    // Centred on the column (17, 17): the spoke along y runs through column centres.
    s.position = {16.5, 16.5, 8.3};
    return s;
}

} // namespace

TEST(PgLoop, FaultedLoopJumpsOnceInsideItsPolygon) {
    const PgLoopConfig cfg = hexagon();
    LoopRun run(cfg);
    int checked = 0;
    for (int l = 1; l <= 16; ++l) {
        run.slice(l);
        EXPECT_TRUE(run.any_strain());
        for (int j = 1; j <= 32; ++j)
            for (int i = 1; i <= 32; ++i) {
                const int in = inside_polygon(cfg, i - 0.5, j - 0.5);
                if (in == 0) continue;
                // Only slice 9 (centre 8.5) lies within 1/1.9 of a slice of the plane z = 8.3.
                const bool jump = l == 9 && in > 0;
                for (int c = 1; c <= 3; ++c)
                    ASSERT_EQ(run.st.s_f(i, j, c), jump ? 1.0 / 3.0 : 0.0)
                        << "slice " << l << " column " << i << ' ' << j;
                if (l >= 9) {
                    EXPECT_EQ(run.st.projection(i, j, 1), in > 0 ? 1 : 0) << i << ' ' << j;
                    EXPECT_EQ(run.st.projection(i, j, 2), 0);
                    ++checked;
                }
            }
    }
    EXPECT_GT(checked, 0);
    // The columns on the spoke through the centre belong to the loop too.
    EXPECT_EQ(run.st.projection(17, 17, 1), 1);
    EXPECT_EQ(run.st.projection(17, 25, 1), 1);
    // The loop variables of the state.
    EXPECT_EQ(run.st.loopstyle, "faulted");
    EXPECT_EQ(run.st.nsides, 6);
    EXPECT_DOUBLE_EQ(run.st.l_radius, 10.0);
    EXPECT_EQ(run.st.l_z, (Vec3{0.0, 1.0, 0.0}));
    EXPECT_DOUBLE_EQ(run.st.b_sf_m / run.st.b_sf_n, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(run.st.poissonsratio, 0.3);
}

TEST(PgLoop, PureFaultHasNoStrainAndPerfectLoopNoJump) {
    PgLoopConfig pure = hexagon();
    pure.style = "pureSF";
    LoopRun a(pure);
    PgLoopConfig perfect = hexagon();
    perfect.style = "perfect";
    LoopRun b(perfect);
    PgLoopConfig faulted = hexagon();
    LoopRun c(faulted);
    bool jumped = false;
    for (int l = 1; l <= 16; ++l) {
        a.slice(l);
        b.slice(l);
        c.slice(l);
        EXPECT_FALSE(a.any_strain()) << l;
        EXPECT_FALSE(b.any_jump()) << l;
        jumped = jumped || a.any_jump();
        // The perfect loop has the strain of the faulted one, the pure fault its jumps.
        for (std::size_t q = 0; q < b.st.s_g_r.size(); ++q)
            ASSERT_EQ(b.st.s_g_r.data()[q], c.st.s_g_r.data()[q]);
        for (std::size_t q = 0; q < a.st.s_f.size(); ++q)
            ASSERT_EQ(a.st.s_f.data()[q], c.st.s_f.data()[q]);
    }
    EXPECT_TRUE(jumped);
    // The perfect loop still marks the columns that cross it.
    for (std::size_t q = 0; q < b.st.projection.size(); ++q)
        ASSERT_EQ(b.st.projection.data()[q], c.st.projection.data()[q]);
    EXPECT_EQ(b.st.projection(17, 17, 1), 1);
}

TEST(PgLoop, JumpOnlyWithinTheSlabAroundThePlane) {
    // Slices 2 Angstrom thick: the plane must lie within 2/1.9 = 1.0526 of a slice centre.
    auto jumps = [](double depth) {
        PgLoopConfig s = hexagon();
        s.position[2] = depth;
        LoopRun run(s, 10, 20.0);
        std::vector<int> slices;
        for (int l = 1; l <= 10; ++l) {
            run.st.projection.fill(0); // every slice judged on its own
            run.slice(l);
            if (run.st.s_f(17, 17, 1) != 0.0) slices.push_back(l);
        }
        return slices;
    };
    EXPECT_EQ(jumps(9.0), (std::vector<int>{5}));     // centre of slice 5
    EXPECT_EQ(jumps(7.94), (std::vector<int>{4}));    // 0.94 from slice 4, 1.06 from slice 5
    EXPECT_EQ(jumps(7.96), (std::vector<int>{4, 5})); // 1.04 from slice 5
}

TEST(PgLoop, ColumnCrossingTheSameLoopAgainGetsNoSecondJump) {
    // The plane z = 8 lies halfway between the centres of slices 8 and 9: both are close
    // enough, only the first crossing counts.
    PgLoopConfig s = hexagon();
    s.position[2] = 8.0;
    LoopRun run(s);
    std::vector<int> slices;
    for (int l = 1; l <= 16; ++l) {
        run.slice(l);
        if (run.st.s_f(17, 17, 1) != 0.0) slices.push_back(l);
    }
    EXPECT_EQ(slices, (std::vector<int>{8}));
    EXPECT_EQ(run.st.projection(17, 17, 1), 1);
    EXPECT_EQ(run.st.projection(17, 17, 2), 0);
}

TEST(PgLoop, SecondLoopMarksTheSecondProjectionPlane) {
    const PgLoopConfig s = hexagon();
    ScratchDir dir;
    dir.write("pgLoop.ini", s.text());
    dir.write("alpha.ini", s.text());
    State st = loop_state(32, 32, 16, 32.0, 32.0, 16.0);
    const std::string first = dir.str() + "pgLoop.ini", second = dir.str() + "alpha.ini";
    auto run = [&](const std::string& file) {
        st.s_f.fill(0.0);
        pgloop(st, file, 9, st.s_g_r, st.s_f, false);
        return st.s_f(17, 17, 3);
    };
    EXPECT_EQ(run(first), 1.0 / 3.0);
    EXPECT_EQ(st.projection(17, 17, 1), 1);
    EXPECT_EQ(run(second), 1.0 / 3.0); // another loop: its own jump
    EXPECT_EQ(st.projection(17, 17, 1), 1);
    EXPECT_EQ(st.projection(17, 17, 2), 2);
    EXPECT_EQ(run(second), 0.0); // each loop once
    EXPECT_EQ(run(first), 0.0);
    EXPECT_EQ(st.projection(17, 17, 2), 2);
    EXPECT_EQ(loop_marker("/run/beta.ini"), 4);
    EXPECT_EQ(loop_marker("gamma.ini"), 6);
    EXPECT_EQ(loop_marker("delta.ini"), 8);
    EXPECT_EQ(loop_marker("pgLoop.ini"), 1);
}

TEST(PgLoop, ColumnApproximationKeepsTheDepthTermWithItsSign) {
    const PgLoopConfig s = hexagon();
    LoopRun no(s, 16, 16.0, "no");
    LoopRun yes(s, 16, 16.0, "yes");
    no.slice(6);
    yes.slice(6);
    const BeamTilts t = beam_tilts(no.st);
    int nonzero = 0;
    for (int j = 1; j <= 32; j += 3)
        for (int i = 1; i <= 32; i += 3) {
            // Beams of order m: m (G1 tan + G3) without, m G3 with the approximation.
            const double g3 = yes.st.s_g_r(i, j, 3); // m = 1
            const double g1 = (no.st.s_g_r(i, j, 3) - g3) / t.tan_tilt(3);
            EXPECT_EQ(yes.st.s_g_r(i, j, 2), 0.0);
            EXPECT_EQ(no.st.s_g_r(i, j, 2), 0.0);
            for (int n : {1, 4, 5}) {
                const double m = t.order(n);
                EXPECT_NEAR(yes.st.s_g_r(i, j, n), m * g3, 1e-12 * std::abs(g3) + 1e-300);
                EXPECT_NEAR(no.st.s_g_r(i, j, n), m * (g1 * t.tan_tilt(n) + g3),
                            1e-9 * (std::abs(g1) + std::abs(g3)));
            }
            if (g3 != 0.0) ++nonzero;
        }
    EXPECT_GT(nonzero, 50);
}

TEST(PgLoop, StopsOnBadInput) {
    PgLoopConfig s = hexagon();
    s.style = "twisted";
    LoopRun bad_style(s);
    EXPECT_EQ(stop_lines([&] { bad_style.slice(1); }),
              (std::vector<std::string>{"LOOPSTYLE DEFINED WRONG IN THE INITIAL FILE"}));

    LoopRun half(hexagon(), 16, 16.0, "half");
    EXPECT_EQ(stop_lines([&] { half.slice(1); }),
              (std::vector<std::string>{"Please make right choice for the Column Approximation"}));

    s = hexagon();
    s.nsides = 2;
    LoopRun two(s);
    const auto lines = stop_lines([&] { two.slice(1); });
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "POINT A B C ARE NOT VERTEXES OF A TRIANGLE");

    s = hexagon();
    s.polar = s.normal; // no loop plane
    LoopRun flat(s);
    EXPECT_FALSE(stop_lines([&] { flat.slice(1); }).empty());

    LoopRun missing(hexagon());
    missing.st.f_defect = missing.dir.str() + "nothere.ini";
    try {
        missing.slice(1);
        ADD_FAILURE() << "a missing file must stop the run";
    } catch (const ReadError& e) {
        EXPECT_NE(std::string(e.what()).find("nothere.ini"), std::string::npos) << e.what();
    }
}

TEST(PgLoop, SingleColumnOfTheAmplitudePhaseJobIsTheGridColumn) {
    LoopRun run(hexagon());
    run.slice(7);
    const Array3<double> grid = run.st.s_g_r;
    run.st.colxy = {19.5 - 16.5, 12.5 - 16.5}; // column (20, 13) from the loop centre
    run.field->fill_column(run.st, 7);
    for (int n = 1; n <= 5; ++n) EXPECT_DOUBLE_EQ(run.st.s_g_r(1, 1, n), grid(20, 13, n)) << n;
    EXPECT_NE(grid(20, 13, 3), 0.0);
}
