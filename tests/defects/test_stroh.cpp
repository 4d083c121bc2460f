// The sextic (Stroh) field: isotropic limit, closed form, equilibrium; its use by the models.
#include "defects/edge.hpp"
#include "driver/defect_files.hpp"
#include "driver/gradient_files.hpp"
#include "fixture.hpp"

using namespace korvex::testing;

namespace {

const std::pair<double, double> kPoints[] = {{-3.0, -2.0}, {0.7, 0.3}, {2.0, 1.5}, {-1.0, 4.0}};

// E1 = e1, E3 = line, E2 = E3 x E1; b along E1, E2, E3.
StrohDislocation make(const CubicElastic& c, const Vec3& e1, const Vec3& line, const Vec3& b) {
    const Vec3 e2 = cross_product(line, e1);
    return {c, coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, e1, e2, line), b};
}

// sigma(i, j) = C'_ijkl du_k/dx_l.
Mat3 stress(const StrohDislocation& s, double x, double y) {
    const Mat3 d = s.gradient(x, y);
    Mat3 sig;
    for (int i = 0; i < 9; ++i)
        for (int k = 0; k < 3; ++k)
            for (int l = 0; l < 2; ++l)
                sig.a[i] += s.stiffness(i / 3, i % 3, k, l) * d(l + 1, k + 1);
    return sig;
}

} // namespace

// C11 - C12 = 2 C44 (nu = 1/4): edges (b along E1) and screws (b along E3) of several lines give
// the isotropic gradients.
TEST(Stroh, IsotropicLimitAndCopperScrewAlongTwoFoldAxis) {
    const Vec3 cases[][3] = {
        {{1, 1, 0}, {1, -1, 2}, {1, 0, 0}}, {{1, 0, 0}, {0, 1, 0}, {1, 0, 0}},
        {{1, 2, 3}, {3, 0, -1}, {1, 0, 0}}, {{1, -1, 0}, {1, 1, 0}, {0, 0, 1}},
        {{1, -1, 0}, {1, 1, 1}, {0, 0, 1}}, {{2, -1, 0}, {1, 2, 5}, {0, 0, 1}}};
    for (const auto& [e1, l, b] : cases) {
        const StrohDislocation s = make({3.0, 1.0, 1.0}, e1, l, b);
        for (auto [x, y] : kPoints) {
            Mat3 e = edge::cal_edge(x, y, 0.25, 0.0);
            for (double& v : e.a) v *= b[0];
            e(1, 3) = -b[2] * y / (2 * kPi * (x * x + y * y));
            e(2, 3) = b[2] * x / (2 * kPi * (x * x + y * y));
            for (int k = 0; k < 9; ++k)
                EXPECT_NEAR(s.gradient(x, y).a[k], e.a[k], 1e-10 / std::hypot(x, y)) << l[2];
        }
    }

    // Cu screw along [1 1 0], cut normal [0 0 1]: u3 = arg(x1 + sqrt(C'55 / C'44) i x2) / 2 pi (the
    // published ratio 0.558), also as the model's single-column g.R (g.b = 1).
    const StrohDislocation s = make(elastic_constants("Cu"), {-1, 1, 0}, {1, 1, 0}, {0, 0, 1});
    const double r = std::sqrt(s.stiffness(0, 2, 0, 2) / s.stiffness(1, 2, 1, 2));
    EXPECT_NEAR(r, 0.5579, 1e-3);
    DefectRun run(2, "screw.ini", screw_ini("1 2 1 1 0", "0 0 0", "0 0 1") + "anisotropic\n");
    run.st.sample = "Cu";
    for (auto [x, y] : kPoints) {
        EXPECT_NEAR(s.displacement(x, y)[2], std::atan2(r * y, x) / (2 * kPi), 1e-9);
        run.column(7, 5 * x, 5 * y);
        EXPECT_NEAR(run.st.g_r(1, 1, beam(1)),
                    std::atan2(r * 130, 5 * (y - x) / std::sqrt(2.0)) / (2 * kPi), 1e-9);
    }
}

// Mixed dislocations of low symmetry, A above and below 1: gradient = numerical derivative,
// div sigma = 0, u jumps by b across the cut, no net force on a circle.
TEST(Stroh, EquilibriumJumpDerivativesAndTheElasticityRecord) {
    const Vec3 b{0.3, -0.5, 0.8};
    const double h = 1e-5;
    for (const char* xtal : {"Cu", "Fe", "Mo", "Al"}) {
        const StrohDislocation s = make(elastic_constants(xtal), {1, 2, -1}, {2, -1, 0.5}, b);
        for (auto [x, y] : kPoints) {
            const Mat3 d = s.gradient(x, y), sx = stress(s, x + h, y), sx_ = stress(s, x - h, y),
                       sy = stress(s, x, y + h), sy_ = stress(s, x, y - h);
            const Vec3 ux = s.displacement(x + h, y), ux_ = s.displacement(x - h, y),
                       uy = s.displacement(x, y + h), uy_ = s.displacement(x, y - h);
            const Vec3 up = s.displacement(x - 5, 1e-13), down = s.displacement(x - 5, -1e-13);
            const double r = std::hypot(x, y);
            for (int k = 0; k < 3; ++k) {
                const std::size_t c = static_cast<std::size_t>(k);
                EXPECT_NEAR(d(1, k + 1), (ux[c] - ux_[c]) / (2 * h), 1e-8 / r) << xtal;
                EXPECT_NEAR(d(2, k + 1), (uy[c] - uy_[c]) / (2 * h), 1e-8 / r) << xtal;
                EXPECT_NEAR(sx(k + 1, 1) - sx_(k + 1, 1) + sy(k + 1, 2) - sy_(k + 1, 2), 0.0,
                            2e-9 / (r * r))
                    << xtal;
                EXPECT_NEAR(up[c] - down[c], b[c], 1e-9) << xtal;
            }
        }
        Vec3 force{};
        for (int t = 0; t < 64; ++t) {
            const double a = 2 * kPi * (t + 0.5) / 64, c = std::cos(a), sn = std::sin(a);
            const Mat3 sig = stress(s, 2 * c, 2 * sn);
            for (int i = 0; i < 3; ++i) force[i] += sig(i + 1, 1) * c + sig(i + 1, 2) * sn;
        }
        EXPECT_LT(magnitude(force), 1e-8) << xtal;
    }

    // The last record's last word decides (a number or nothing: isotropic); other words and
    // relaxation with "anisotropic" are refused. The gradient tool's anisotropic edge is the edge
    // model's field.
    RecordReader r("f.ini", "0 x\nANISOTROPIC x\n\n \n"), bad("f.ini", "x\n0\nanisotropc 1\n");
    EXPECT_EQ(read_elasticity(r), Elasticity::anisotropic);
    EXPECT_TRUE(
        contains(read_error([&] { read_elasticity(bad); }), "record 3 holds \"anisotropc\""));
    DefectRun relaxed(2, "s.ini", screw_ini("1 1 0 0 1", "0 0 0", "1 0 0", "1") + "anisotropic");
    EXPECT_EQ(stop_lines([&] { relaxed.slice(1); }).at(0).find("The surface relaxation"), 0u);
    DefectRun run(1, "e.ini", edge_ini("1 2 1 1 0", "20 15 80", "1 -1 2", 0.31, 1) + "anisotropic");
    run.st.sample = "Cu";
    const auto model = edge::EdgeSlice::make(run.st, edge::read_edge_config(run.st.f_defect));
    EdgeDislocation e = read_edge_configuration(run.st.f_defect);
    e.constants = elastic_constants("Cu");
    const EdgeGradient tool(e, GradientBox{{64, 48, 200}, {}, {0, 0, 1}, {2, 0, 0}, 3.61});
    for (auto [x, y] : kPoints) {
        const Vec3 m = model.phase_gradient({3 * x, 2 * y, x * y});
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_TRUE(near_rel(2 * tool({20 + 3 * x, 15 + 2 * y, 80 + x * y})[k][0] / 3.61, m[k],
                                 1e-12, 1e-15));
    }
}
