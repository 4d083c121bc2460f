// The sextic (Stroh) field against the isotropic closed forms at A = 1, the Cu screw along a
// two-fold axis in closed form, and for general orientations: numerical derivatives, stress
// equilibrium, the Burgers jump and no net force around the line.
#include "defects/edge.hpp"
#include "defects/elasticity.hpp"
#include "defects/gradient_files.hpp"
#include "defects/stroh.hpp"
#include "fixture.hpp"

using namespace korvex;
using namespace korvex::testing;

namespace {

const Vec3 kCube[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const std::pair<double, double> kPoints[] = {{-3.0, -2.0}, {0.7, 0.3}, {2.0, 1.5}, {-1.0, 4.0}};

// The dislocation with E1 = e1, E3 = line (E2 = E3 x E1), Burgers vector b_frame in that frame.
StrohDislocation make(const CubicElastic& c, const Vec3& e1, const Vec3& line, const Vec3& b) {
    return {c,
            coordinates_transfer(kCube[0], kCube[1], kCube[2], e1, cross_product(line, e1), line),
            b};
}

// Stress sigma(i, j) = C'_ijkl du_k/dx_l at (x, y) (the gradient D is (l, k)-indexed).
Mat3 stress(const StrohDislocation& s, double x, double y) {
    const Mat3 d = s.gradient(x, y);
    Mat3 sig;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                for (int l = 0; l < 2; ++l)
                    sig(i + 1, j + 1) += s.stiffness(i, j, k, l) * d(l + 1, k + 1);
    return sig;
}

} // namespace

// C11 - C12 = 2 C44: edge (nu = C12 / 2(C12 + C44)) and screw of several orientations give the
// isotropic gradients, and displacements up to a constant.
TEST(Stroh, IsotropicLimit) {
    const CubicElastic iso{3.0, 1.0, 1.0};
    const Vec3 edges[][2] = {
        {{1, 1, 0}, {1, -1, 2}}, {{1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}, {3, 0, -1}}};
    for (const auto& [b, l] : edges) {
        const StrohDislocation s = make(iso, b, l, {1, 0, 0});
        const Vec3 u0 = s.displacement(1, 1), e0 = edge::edge_displacement(1, 1, 0.25);
        for (auto [x, y] : kPoints) {
            const Mat3 d = s.gradient(x, y), e = edge::cal_edge(x, y, 0.25, 0.0);
            const Vec3 u = s.displacement(x, y), eu = edge::edge_displacement(x, y, 0.25);
            for (int k = 0; k < 9; ++k) EXPECT_NEAR(d.a[k], e.a[k], 1e-10 / std::hypot(x, y));
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(u[k] - u0[k], eu[k] - e0[k], 1e-10) << x << y;
        }
    }
    for (const Vec3& l : {Vec3{1, 1, 0}, Vec3{1, 1, 1}, Vec3{1, 2, 5}}) {
        const StrohDislocation s = make(iso, perpendicular_vector(l), l, {0, 0, 1});
        for (auto [x, y] : kPoints) {
            const Mat3 d = s.gradient(x, y), w{{0, 0, -y, 0, 0, x, 0, 0, 0}};
            EXPECT_NEAR(s.displacement(x, y)[2], std::atan2(y, x) / (2 * kPi), 1e-10);
            for (int k = 0; k < 9; ++k)
                EXPECT_NEAR(d.a[k], w.a[k] / (2 * kPi * (x * x + y * y)), 1e-10 / std::hypot(x, y));
        }
    }
}

// Cu screw along [1 1 0], cut normal [0 0 1]: u3 = arg(x1 + sqrt(C'55 / C'44) i x2) / 2 pi (the
// ratio 0.558 of the published peer result), also as the model's amplitude-phase column g.R
// (g = 2 0 0, g.b = 1, sample axes = cube axes).
TEST(Stroh, CopperScrewAlongTwoFoldAxis) {
    const StrohDislocation s = make(elastic_constants("Cu"), {-1, 1, 0}, {1, 1, 0}, {0, 0, 1});
    const double r = std::sqrt(s.stiffness(0, 2, 0, 2) / s.stiffness(1, 2, 1, 2));
    EXPECT_NEAR(r, 0.5579, 1e-3);
    DefectRun run(2, "screw.ini", screw_ini("1 2 1 1 0", "0 0 0", "0 0 1") + "anisotropic\n");
    run.st.sample = "Cu";
    for (auto [x, y] : kPoints) {
        const Vec3 u = s.displacement(x, y);
        EXPECT_NEAR(u[2], std::atan2(r * y, x) / (2 * kPi), 1e-9);
        EXPECT_NEAR(std::abs(u[0]) + std::abs(u[1]), 0.0, 1e-9);
        run.column(7, 5 * x, 5 * y);
        EXPECT_NEAR(run.st.g_r(1, 1, beam(1)),
                    std::atan2(r * 130, 5 * (y - x) / std::sqrt(2.0)) / (2 * kPi), 1e-9);
    }
}

// The gradient-file tool's anisotropic edge (its file's last record) is the edge model's field,
// core damping included: g.grad R / a = the model's phase gradient.
TEST(Stroh, GradientToolFollowsTheEdgeModel) {
    DefectRun run(1, "edge.ini",
                  edge_ini("1 2 1 1 0", "20 15 80", "1 -1 2", 0.31, 1.0) + "anisotropic\n");
    run.st.sample = "Cu";
    const auto model = edge::EdgeSlice::make(run.st, edge::read_edge_config(run.st.f_defect));
    EdgeDislocation e = read_edge_configuration(run.st.f_defect);
    e.constants = elastic_constants("Cu");
    const EdgeGradient tool(
        e, GradientBox{.size = {64, 48, 200}, .foil = {0, 0, 1}, .v_g = {2, 0, 0}, .lat_c = 3.61});
    for (auto [x, y] : kPoints) {
        const Vec3 p{20 + 3 * x, 15 + 2 * y, 80 + x * y},
            m = model.phase_gradient({3 * x, 2 * y, x * y});
        const Gradient d = tool(p);
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_TRUE(near_rel(2 * d[k][0] / 3.61, m[k], 1e-12, 1e-15));
    }
}

// The optional last record: the last word that is not blank decides; a number (the form's
// relaxation indicator) or nothing means isotropic; another word is refused, and so is the
// isotropic surface relaxation with the anisotropic field.
TEST(Stroh, ElasticityRecord) {
    for (const auto& [text, aniso] : {std::pair{"", false},
                                      {"0  relax\nANISOTROPIC x\n\n \n", true},
                                      {"'anisotropic'\n", true},
                                      {"anisotropic\n0, x\n", false}}) {
        RecordReader r("f.ini", text);
        EXPECT_EQ(read_elasticity(r) == Elasticity::anisotropic, aniso) << text;
    }
    DefectRun relaxed(2, "screw.ini",
                      screw_ini("1 1 0 0 1", "0 0 0", "1 0 0", "1") + "anisotropic");
    EXPECT_EQ(stop_lines([&] { relaxed.slice(1); }),
              Lines{"The surface relaxation of the screw dislocation is isotropic: it cannot be "
                    "used with \"anisotropic\""});
    RecordReader bad("f.ini", "x\n0\nanisotropc 1\n");
    EXPECT_EQ(read_error([&] { read_elasticity(bad); }),
              "Error reading \"f.ini\": record 3 holds \"anisotropc\", but the elasticity is "
              "\"isotropic\" or \"anisotropic\"");
}

// Mixed dislocations of low symmetry in crystals with A above and below 1: gradient = numerical
// derivative, div sigma = 0, u jumps by b across the cut (x1 < 0), zero net force on a circle.
TEST(Stroh, EquilibriumJumpAndDerivatives) {
    const Vec3 b{0.3, -0.5, 0.8};
    for (const char* xtal : {"Cu", "Fe", "Mo", "Al"}) {
        const StrohDislocation s = make(elastic_constants(xtal), {1, 2, -1}, {2, -1, 0.5}, b);
        const double h = 1e-5;
        for (auto [x, y] : kPoints) {
            const Mat3 d = s.gradient(x, y), sx = stress(s, x + h, y), sx_ = stress(s, x - h, y),
                       sy = stress(s, x, y + h), sy_ = stress(s, x, y - h);
            const double scale = 1.0 / std::hypot(x, y);
            for (int k = 0; k < 3; ++k) {
                const Vec3 du = s.displacement(x + h, y), du_ = s.displacement(x - h, y),
                           dv = s.displacement(x, y + h), dv_ = s.displacement(x, y - h);
                EXPECT_NEAR(d(1, k + 1), (du[k] - du_[k]) / (2 * h), 1e-8 * scale) << xtal;
                EXPECT_NEAR(d(2, k + 1), (dv[k] - dv_[k]) / (2 * h), 1e-8 * scale) << xtal;
                EXPECT_NEAR(sx(k + 1, 1) - sx_(k + 1, 1) + sy(k + 1, 2) - sy_(k + 1, 2), 0.0,
                            2e-9 * scale * scale)
                    << xtal;
                EXPECT_NEAR(s.displacement(x - 5, 1e-13)[k] - s.displacement(x - 5, -1e-13)[k],
                            b[k], 1e-9);
            }
        }
        Vec3 force{};
        const int m = 64;
        for (int t = 0; t < m; ++t) {
            const double a = 2 * kPi * (t + 0.5) / m, c = std::cos(a), sn = std::sin(a);
            const Mat3 sig = stress(s, 2 * c, 2 * sn);
            for (int i = 0; i < 3; ++i)
                force[i] += (sig(i + 1, 1) * c + sig(i + 1, 2) * sn) * 2 * 2 * kPi / m;
        }
        EXPECT_LT(magnitude(force), 1e-7) << xtal;
    }
}
