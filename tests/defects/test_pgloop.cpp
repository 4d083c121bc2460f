// Polygonal loop: loop styles, fault crossings and projection markers, stops.
#include "defects/pgloop.hpp"
#include "fixture.hpp"

using namespace korvex;
using namespace korvex::testing;
using Lines = std::vector<std::string>;

namespace {

constexpr double kPi = 3.141592653589793;

// A hexagon of radius 10 in the plane z = depth, centred on column (17, 17) so that the spoke
// along y runs through column centres; Burgers vector and fault 1/3[111].
struct Hexagon {
    std::string style = "faulted", polar = "1 0 0";
    double depth = 8.3;
    int nsides = 6;
    std::string text() const {
        return config("{Data for the polygonal loop in Crystal}",
                      {style, "1 3 1 1 1", "1 3 1 1 1", "10", "16.5 16.5 " + std::to_string(depth),
                       "0 0 1", polar, std::to_string(nsides), "0.3", "1"});
    }
    // +1 inside, -1 outside, 0 too close to an edge to tell for the point (x, y).
    int inside(double x, double y) const {
        int sign = 1;
        for (int k = 0; k < nsides; ++k) {
            const double a = 2 * kPi * k / nsides - kPi / nsides, b = a + 2 * kPi / nsides;
            const double ax = 16.5 + 10 * std::cos(a), ay = 16.5 + 10 * std::sin(a);
            const double ex = 10 * (std::cos(b) - std::cos(a)),
                         ey = 10 * (std::sin(b) - std::sin(a));
            const double c = (ex * (y - ay) - ey * (x - ax)) / std::hypot(ex, ey);
            if (std::abs(c) < 1e-9) return 0;
            if (c < 0) sign = -1;
        }
        return sign;
    }
};

DefectRun pg_run(const Hexagon& h, const std::string& ca = "no", Grid g = kLoopGrid) {
    return DefectRun(5, "pgLoop.ini", h.text(), ca, g);
}

} // namespace

// Only slice 9 (centre 8.5) lies within 1/1.9 of a slice of the plane z = 8.3: the columns
// strictly inside the polygon take the fault 1/3[111] there and are marked in the first
// projection plane from then on, the spoke through the centre included.
TEST(PgLoop, FaultedLoopJumpsOnceInsideItsPolygon) {
    const Hexagon hex;
    DefectRun run = pg_run(hex);
    for (int l = 1; l <= 16; ++l) {
        const State& st = run.slice(l).st;
        EXPECT_TRUE(any_nonzero(st.s_g_r));
        for (int j = 1; j <= 32; ++j)
            for (int i = 1; i <= 32; ++i) {
                const int in = hex.inside(i - 0.5, j - 0.5);
                if (in == 0) continue;
                for (int c = 1; c <= 3; ++c)
                    ASSERT_EQ(st.s_f(i, j, c), l == 9 && in > 0 ? 1.0 / 3.0 : 0.0)
                        << "slice " << l << " column " << i << ' ' << j;
                if (l < 9) continue;
                EXPECT_EQ(st.projection(i, j, 1), in > 0 ? 1 : 0) << i << ' ' << j;
                EXPECT_EQ(st.projection(i, j, 2), 0);
            }
    }
    EXPECT_EQ(run.st.projection(17, 17, 1), 1);
    EXPECT_EQ(run.st.projection(17, 25, 1), 1);
}

// The perfect loop has the strain of the faulted one and no jump, the pure fault its jumps
// and no strain; both mark the columns that cross them.
TEST(PgLoop, PureFaultHasNoStrainAndPerfectLoopNoJump) {
    Hexagon pure, perfect;
    pure.style = "pureSF";
    perfect.style = "perfect";
    DefectRun a = pg_run(pure), b = pg_run(perfect), c = pg_run(Hexagon());
    bool jumped = false;
    for (int l = 1; l <= 16; ++l) {
        a.slice(l);
        b.slice(l);
        c.slice(l);
        EXPECT_FALSE(any_nonzero(a.st.s_g_r)) << l;
        EXPECT_FALSE(any_nonzero(b.st.s_f)) << l;
        jumped = jumped || any_nonzero(a.st.s_f);
        ASSERT_TRUE(same_values(b.st.s_g_r, c.st.s_g_r)) << l;
        ASSERT_TRUE(same_values(a.st.s_f, c.st.s_f)) << l;
    }
    EXPECT_TRUE(jumped);
    EXPECT_TRUE(same_values(b.st.projection, c.st.projection));
    EXPECT_EQ(b.st.projection(17, 17, 1), 1);
}

// The plane must lie within slice thickness / 1.9 of a slice centre, and a column crossing the
// same loop again gets no second jump.
TEST(PgLoop, JumpOnlyWithinTheSlabAndOnlyOnce) {
    auto jumps = [](double depth, int nz, double dz, bool judge_each) {
        Hexagon h;
        h.depth = depth;
        DefectRun run = pg_run(h, "no", {32, 32, nz, 32.0, 32.0, nz * dz});
        std::vector<int> slices;
        for (int l = 1; l <= nz; ++l) {
            if (judge_each) run.st.projection.fill(0);
            if (run.slice(l).st.s_f(17, 17, 1) != 0.0) slices.push_back(l);
        }
        return slices;
    };
    // Slices 2 Angstrom thick: within 2 / 1.9 = 1.0526.
    EXPECT_EQ(jumps(9.0, 10, 2.0, true), (std::vector<int>{5}));
    EXPECT_EQ(jumps(7.94, 10, 2.0, true), (std::vector<int>{4}));    // 0.94 / 1.06
    EXPECT_EQ(jumps(7.96, 10, 2.0, true), (std::vector<int>{4, 5})); // 1.04 from slice 5
    // Slices 1 Angstrom thick, the plane halfway between slices 8 and 9.
    EXPECT_EQ(jumps(8.0, 16, 1.0, false), (std::vector<int>{8}));
}

TEST(PgLoop, StopsOnBadInput) {
    auto stop = [](const Hexagon& h, const char* ca = "no") {
        DefectRun run = pg_run(h, ca);
        return stop_lines([&] { run.slice(1); });
    };
    Hexagon style, two, flat;
    style.style = "twisted";
    two.nsides = 2;
    flat.polar = "0 0 1"; // no loop plane
    EXPECT_EQ(stop(style), Lines{"LOOPSTYLE DEFINED WRONG IN THE INITIAL FILE"});
    EXPECT_EQ(stop(two).at(0), "POINT A B C ARE NOT VERTEXES OF A TRIANGLE");
    EXPECT_FALSE(stop(flat).empty());
    EXPECT_EQ(stop(Hexagon(), "half"),
              Lines{"Please make right choice for the Column Approximation"});
}
