// Edge dislocation: invisibility, signs of the beams, the column approximation, the gradient
// against the displacement it comes from, the core, and the checks of the configuration.
#include "defects/edge.hpp"
#include "dislocation_support.hpp"
#include "state/reader.hpp"

#include <cmath>
#include <numbers>
#include <sstream>

using namespace korvex;
using namespace korvex::testing;

namespace {

class EdgeTest : public ::testing::Test {
  protected:
    State make(const std::string& ca, const std::string& ini, double f_g = 1.0, Grid g = {}) {
        dir.write("edge.ini", ini);
        State st = cu_state(ca, f_g, g);
        st.f_defect = dir.str() + "edge.ini";
        st.defect_model = 1;
        st.out = &console;
        return st;
    }
    void fill(State& st, int islice) { make_defect_field(st)->fill_slice(st, islice); }

    ScratchDir dir;
    std::ostringstream console;
};

// g.R in cycles at the sample point p (crystal axes = sample axes here: zone [001], g [200]),
// from the isotropic edge field written out afresh.
double edge_phase(const Vec3& b, const Vec3& l, double nu, const Vec3& p) {
    auto unit = [](Vec3 v) { return scaled(v, 1.0 / magnitude(v)); };
    const Vec3 e1 = unit(b), e3 = unit(l), e2 = unit(cross_product(e3, e1));
    const double x = dot(p, e1), y = dot(p, e2);
    const double r2 = x * x + y * y, pi2 = 2.0 * std::numbers::pi;
    const double u1 = (std::atan2(y, x) + x * y / (2 * (1 - nu) * r2)) / pi2;
    const double u2 =
        -((1 - 2 * nu) / (4 * (1 - nu)) * std::log(r2) + (x * x - y * y) / (4 * (1 - nu) * r2)) /
        pi2;
    const Vec3 g{2, 0, 0};
    return magnitude(b) * (u1 * dot(g, e1) + u2 * dot(g, e2));
}

} // namespace

TEST_F(EdgeTest, InvisibleWhenGDotBAndGDotBxLVanish) {
    // b = 1/2[0 1 1], line along [1 0 0]: g.b = 0 and g.(b x l) = 0.
    for (const char* ca : {"yes", "no"}) {
        State st = make(ca, edge_ini("1 2 0 1 1", "30 20 90", "1 0 0", 0.3, 1.0));
        for (int l : {1, 5, 10}) {
            st.s_g_r.fill(1.0);
            fill(st, l);
            for (int n = 1; n <= 5; ++n) EXPECT_EQ(max_abs(st.s_g_r, n), 0.0) << ca << n;
        }
    }
    // Control: a visible dislocation through the same block gives contrast.
    State st = make("no", edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2"));
    fill(st, 5);
    EXPECT_GT(max_abs(st.s_g_r, beam(1)), 1e-4);
}

TEST_F(EdgeTest, BeamSignsAndColumnApproximation) {
    const std::string ini = edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2", 0.31, 0.5);
    // f_g = 0: the beams g and -g are tilted symmetrically about the z axis.
    State yes = make("yes", ini, 0.0);
    State no = make("no", ini, 0.0);
    fill(yes, 4);
    fill(no, 4);
    const double tan1 = std::tan(no.mtx_q(beam(1)).imag());
    bool lateral_seen = false;
    for (int j = 1; j <= 6; ++j)
        for (int i = 1; i <= 8; ++i) {
            // Transmitted beam: nothing; "yes": odd in the beam order.
            EXPECT_EQ(yes.s_g_r(i, j, beam(0)), 0.0);
            EXPECT_EQ(no.s_g_r(i, j, beam(0)), 0.0);
            EXPECT_EQ(yes.s_g_r(i, j, beam(-1)), -yes.s_g_r(i, j, beam(1)));
            EXPECT_EQ(yes.s_g_r(i, j, beam(2)), 2.0 * yes.s_g_r(i, j, beam(1)));
            // "no": the depth part is that of "yes", the lateral part m * tan(tilt) * dG/dx is
            // even in m for symmetric tilts.
            const double sp = no.s_g_r(i, j, beam(1)), sm = no.s_g_r(i, j, beam(-1));
            const double scale = std::abs(yes.s_g_r(i, j, beam(1))) + 1e-12;
            EXPECT_TRUE(near_rel(0.5 * (sp - sm), yes.s_g_r(i, j, beam(1)), 1e-12, 1e-12 * scale));
            const double lateral = 0.5 * (sp + sm);
            if (std::abs(lateral) > 1e-3 * scale) lateral_seen = true;
            // The lateral part grows with the tilt: beam 3 has three times beam 1's order.
            const double tan3 = std::tan(no.mtx_q(beam(3)).imag());
            const double dgdx = lateral / tan1;
            EXPECT_TRUE(near_rel(no.s_g_r(i, j, beam(3)),
                                 3.0 * (yes.s_g_r(i, j, beam(1)) + tan3 * dgdx), 1e-9, 1e-15));
        }
    EXPECT_TRUE(lateral_seen);
    // "half" is treated as "no".
    State half = make("half", ini, 0.0);
    fill(half, 4);
    for (int n = 1; n <= 5; ++n)
        for (int j = 1; j <= 6; ++j)
            for (int i = 1; i <= 8; ++i) EXPECT_EQ(half.s_g_r(i, j, n), no.s_g_r(i, j, n));
}

TEST_F(EdgeTest, GradientAgreesWithNumericalDerivativeOfDisplacement) {
    // An inclined line, r0 = 0 so the gradient formulas are the exact derivatives.
    const Vec3 b = scaled({1, 1, 0}, 0.5), l{1, -1, 2};
    const double nu = 0.31;
    const Vec3 origin{20, 15, 80};
    State st = make("no", edge_ini("1 2 1 1 0", "20 15 80", "1 -1 2", nu, 0.0), 1.0);
    const int islice = 3;
    fill(st, islice);
    const edge::EdgeSlice frame = edge::EdgeSlice::make(st, edge::read_edge_config(st.f_defect));
    const double h = 1e-4;
    int checked = 0;
    for (int j = 1; j <= 6; ++j)
        for (int i = 1; i <= 8; ++i) {
            const Vec3 p{(i - 0.5) * 8.0 - origin[0], (j - 0.5) * 8.0 - origin[1],
                         (islice - 0.5) * 20.0 - origin[2]};
            auto at = [&](double dx, double dz) {
                return edge_phase(b, l, nu, {p[0] + dx, p[1], p[2] + dz});
            };
            // The model's own displacement is the field the test differentiates.
            EXPECT_TRUE(near_rel(frame.phase(p), at(0, 0), 1e-12, 1e-14));
            const double ddz = (at(0, h) - at(0, -h)) / (2 * h);
            const double ddx = (at(h, 0) - at(-h, 0)) / (2 * h);
            for (int n = 1; n <= 5; ++n) {
                const int m = st.mtx_beams(n);
                const double want = m * (ddz + std::tan(st.mtx_q(n).imag()) * ddx);
                EXPECT_TRUE(near_rel(st.s_g_r(i, j, n), want, 1e-6, 1e-12))
                    << "pixel " << i << "," << j << " beam " << m;
            }
            ++checked;
        }
    EXPECT_EQ(checked, 48);
}

TEST_F(EdgeTest, ColumnOnTheLine) {
    // The line passes exactly through the centre of column (4, 3) at the depth of slice 5.
    const std::string point = "28 20 90";
    for (double r0 : {0.0, 2.0}) {
        State st = make("no", edge_ini("1 2 1 1 0", point, "1 -1 2", 0.3, r0));
        fill(st, 5);
        for (int n = 1; n <= 5; ++n) {
            for (int j = 1; j <= 6; ++j)
                for (int i = 1; i <= 8; ++i) EXPECT_TRUE(std::isfinite(st.s_g_r(i, j, n)));
            // On the line the strain vanishes (with r0 = 0: by choice; otherwise by symmetry).
            EXPECT_EQ(st.s_g_r(4, 3, n), 0.0) << r0;
        }
        EXPECT_NE(st.s_g_r(5, 3, beam(1)), 0.0);
    }
    // The core constant softens the field next to the core.
    State sharp = make("yes", edge_ini("1 2 1 1 0", "28 20 90", "1 -1 2", 0.3, 0.0));
    fill(sharp, 5);
    const double s0 = sharp.s_g_r(5, 3, beam(1));
    State soft = make("yes", edge_ini("1 2 1 1 0", "28 20 90", "1 -1 2", 0.3, 4.0));
    fill(soft, 5);
    EXPECT_LT(std::abs(soft.s_g_r(5, 3, beam(1))), std::abs(s0));
}

TEST_F(EdgeTest, SingleColumnAtColxyRelativeToTheLine) {
    const std::string ini = edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2", 0.3, 0.5);
    State mesh = make("no", ini);
    fill(mesh, 6);
    State col = make("no", ini);
    col.s_g_r.fill(7.0);
    // Column (7, 2) lies at x - x0 = 22, y - y0 = -8.
    col.colxy = {22.0, -8.0};
    make_defect_field(col)->fill_column(col, 6);
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(col.s_g_r(1, 1, n), mesh.s_g_r(7, 2, n));
        EXPECT_EQ(col.s_g_r(2, 1, n), 0.0);
        EXPECT_EQ(col.s_g_r(8, 6, n), 0.0);
    }
}

TEST_F(EdgeTest, ReportsSliceAndKeepsParameters) {
    State st = make("yes", edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2", 0.34, 0.5));
    fill(st, 3);
    fill(st, 4);
    EXPECT_EQ(console.str(), " m= 3\n m= 4\n");
    EXPECT_EQ(st.v_b, (Vec3{1, 1, 0}));
    EXPECT_EQ(st.b_p_m, 1.0);
    EXPECT_EQ(st.b_p_n, 2.0);
    EXPECT_EQ(st.l_position, (Vec3{30, 20, 90}));
    EXPECT_EQ(st.poissonsratio, 0.34);
}

TEST_F(EdgeTest, Checks) {
    const std::vector<std::string> not_perp{
        "The dislocation line is not perpendicular to v_b_edge"};
    // b = [0 0 1]: b.l is the third component of the line; the limit is 1e-4 on either side.
    for (const char* l : {"1 0 1e-4", "1 0 -1e-4", "1 0 0.5", "1 0 -3"}) {
        State st = make("yes", edge_ini("1 1 0 0 1", "30 20 90", l));
        EXPECT_EQ(stop_lines([&] { fill(st, 1); }), not_perp) << l;
    }
    for (const char* l : {"1 0 5e-5", "1 0 -5e-5", "1 1 0"}) {
        State st = make("yes", edge_ini("1 1 0 0 1", "30 20 90", l));
        EXPECT_NO_THROW(fill(st, 1)) << l;
    }
    // Degenerate vectors would fill the image with NaN.
    for (const auto& [b, l] : {std::pair{"0 2 1 1 0", "1 -1 2"}, std::pair{"1 2 1 1 0", "0 0 0"},
                               std::pair{"1 0 1 1 0", "1 -1 2"}}) {
        State st = make("yes", edge_ini(b, "30 20 90", l));
        EXPECT_EQ(stop_lines([&] { fill(st, 1); }).size(), 1u) << b << " / " << l;
    }
    State wrong_ca = make("maybe", edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2"));
    EXPECT_EQ(stop_lines([&] { fill(wrong_ca, 1); }),
              std::vector<std::string>{"Please make right choice for the Column Approximation"});
}

TEST_F(EdgeTest, MissingOrShortFile) {
    State st = make("yes", edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2"));
    st.f_defect = dir.str() + "absent.ini";
    EXPECT_THROW(fill(st, 1), ReadError);
    dir.write("short.ini", config("{edge}", "1 2 1 1 0\n30 20 90\n1 -1 2\n0.3\n"));
    st.f_defect = dir.str() + "short.ini";
    EXPECT_THROW(fill(st, 1), ReadError);
}

TEST_F(EdgeTest, ExampleConfiguration) {
    State st = make("no", "", 1.0, Grid{64, 64, 200, 64.0, 64.0, 200.0});
    st.f_defect = std::string(KORVEX_SOURCE_DIR) + "/examples/edge/edge.ini";
    fill(st, 100);
    EXPECT_GT(max_abs(st.s_g_r, beam(1)), 1e-3);
    // The line runs along y: every row of columns sees the same strain.
    for (int j = 2; j <= 64; ++j) EXPECT_EQ(st.s_g_r(20, j, beam(1)), st.s_g_r(20, 1, beam(1)));
}
