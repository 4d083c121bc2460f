// Straight dislocations: edge and screw invisibility, gradients, core, relaxation, phase, checks;
// the sextic (Stroh) field's isotropic limit, closed form, equilibrium and its use by the models.
#include "fixture.hpp"

using namespace korvex::testing;

namespace {

constexpr double kTwoPi = 2.0 * kPi;

// An edge (model 1) or screw (model 2) dislocation, as the configuration text says.
DefectRun disl(const std::string& ca, const std::string& ini) {
    const bool edge = ini.find("edge") != std::string::npos;
    return DefectRun(edge ? 1 : 2, edge ? "edge.ini" : "screw.ini", ini, ca);
}

// The terms of slice l are m (G_z + tan(tilt) G_x) for the phase gradient G(p - o) at every
// column centre p of the default grid.
template <class F>
void expect_terms(const State& st, int l, const Vec3& o, double rel, double abs, F&& grad) {
    for (int j = 1; j <= 6; ++j)
        for (int i = 1; i <= 8; ++i) {
            const Vec3 g =
                grad(Vec3{(i - 0.5) * 8.0 - o[0], (j - 0.5) * 8.0 - o[1], (l - 0.5) * 20.0 - o[2]});
            for (int n = 1; n <= 5; ++n)
                EXPECT_TRUE(near_rel(st.s_g_r(i, j, n),
                                     st.mtx_beams(n) * (g[2] + std::tan(st.mtx_q(n).imag()) * g[0]),
                                     rel, abs))
                    << static_cast<int>(st.ca) << " column " << i << "," << j << " beam " << n;
        }
}

// Gradient of `f` by central differences: x and z, and y too when `all`.
template <class F> Vec3 numeric_gradient(F&& f, const Vec3& p, bool all = false) {
    Vec3 g{};
    for (std::size_t e = 0; e < 3; e += all ? 1 : 2) g[e] = central_difference(f, p, e, 1e-4);
    return g;
}

// g.R in cycles at p for g = (2 0 0) from the isotropic edge field written out afresh.
double edge_phase(const Vec3& b, const Vec3& l, double nu, const Vec3& p) {
    auto unit = [](Vec3 v) { return scaled(v, 1.0 / magnitude(v)); };
    const Vec3 e1 = unit(b), e3 = unit(l), e2 = unit(cross_product(e3, e1));
    const double x = dot(p, e1), y = dot(p, e2), r2 = x * x + y * y;
    const double u1 = (std::atan2(y, x) + x * y / (2 * (1 - nu) * r2)) / kTwoPi;
    const double u2 =
        -((1 - 2 * nu) / (4 * (1 - nu)) * std::log(r2) + (x * x - y * y) / (4 * (1 - nu) * r2)) /
        kTwoPi;
    return magnitude(b) * 2.0 * (u1 * e1[0] + u2 * e2[0]);
}

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

// An inclined screw (g.b = 1): the derivatives of the angle about the line softened by
// r^2 / (r^2 + core). One normal to the foil, g.b = 0, relaxed: g D of the relaxation distortion.
TEST(Dislocation, GradientsOfEdgeAndScrewAndTheScrewsPhase) {
    const Vec3 e3 = scaled({1, 0, 1}, 1 / std::sqrt(2.0)),
               e2 = scaled({1, 0, -1}, 1 / std::sqrt(2.0));
    const Vec3 e1 = cross_product(e2, e3);
    auto theta = [&](const Vec3& p) { return std::atan2(dot(p, e2), dot(p, e1)) / kTwoPi; };
    for (const char* ca : {"yes", "no"}) {
        DefectRun run = disl(ca, screw_ini("1 2 1 0 1", "20 15 80", "1 0 -1"));
        expect_terms(run.slice(3).st, 3, {20, 15, 80}, 1e-6, 1e-12, [&](const Vec3& p) {
            const double r2 = std::pow(dot(p, e1), 2) + std::pow(dot(p, e2), 2);
            return scaled(numeric_gradient(theta, p), r2 / (r2 + screw::kCore));
        });
        DefectRun relax = disl(ca, screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "1"));
        for (int l : {1, 4, 10}) {
            expect_terms(relax.slice(l).st, l, {30, 20, 0}, 1e-14, 1e-18, [](const Vec3& p) {
                return scaled(screw::surfacerelaxscrewdistortion(p, 200.0), 2.0);
            });
            EXPECT_GT(max_abs(relax.st.s_g_r, beam(1)), 1e-6) << ca << l;
        }
    }

    // The single column's phase g.R: odd in the beam order, one turn g.b around the line, and with
    // relaxation m g u_x of the relaxation displacement.
    // Screw along x (b = [1 0 0], g.b = 2) at depth 100, cut plane (0 0 1) = the foil plane.
    DefectRun run = disl("no", screw_ini("1 1 1 0 0", "30 20 100", "0 0 1"));
    run.st.g_r.fill(5.0);
    run.column(4, -10.0, -8.0);
    const auto& gr = run.st.g_r;
    EXPECT_EQ(std::tuple(gr(1, 1, beam(0)), gr(8, 6, beam(1)), gr(1, 1, beam(-1))),
              std::tuple(0.0, 0.0, -gr(1, 1, beam(1))));
    EXPECT_NE(gr(1, 1, beam(1)), 0.0);
    auto change = [&](double y) { // depth 90 to 110 across the line
        run.column(5, 0.0, y);
        const double before = run.st.g_r(1, 1, beam(1));
        run.column(6, 0.0, y);
        return run.st.g_r(1, 1, beam(1)) - before;
    };
    const double cut_side = change(-30.0), other_side = change(30.0);
    EXPECT_TRUE(near_rel(std::abs(cut_side) + std::abs(other_side), 2.0, 1e-12));
    EXPECT_GT(std::abs(cut_side), 1.5);

    DefectRun relax = disl("yes", screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "1"));
    relax.column(2, 7.0, -5.0);
    const Vec3 u = screw::surfacerelaxscrewdisplacement({7.0, -5.0, 30.0}, 200.0);
    EXPECT_NE(u[0], 0.0);
    for (int n = 1; n <= 5; ++n)
        EXPECT_TRUE(
            near_rel(relax.st.g_r(1, 1, n), relax.st.mtx_beams(n) * 2 * u[0], 1e-14, 1e-18));

    // An inclined edge with r0 = 0: the isotropic displacement, its terms the derivatives of it.
    DefectRun erun = disl("no", edge_ini("1 2 1 1 0", "20 15 80", "1 -1 2", 0.31, 0.0));
    const State& est = erun.slice(3).st;
    const auto eframe = edge::EdgeSlice::make(est, edge::read_edge_config(est.f_defect));
    auto ephase = [&](const Vec3& p) {
        return edge_phase(scaled({1, 1, 0}, 0.5), {1, -1, 2}, 0.31, p);
    };
    expect_terms(est, 3, {20, 15, 80}, 1e-6, 1e-12, [&](const Vec3& p) {
        EXPECT_TRUE(near_rel(eframe.phase(p), ephase(p), 1e-12, 1e-14));
        return numeric_gradient(ephase, p);
    });
}

// A line through the centre of column (4, 3): every term finite, the edge's zero on the line,
// the core constant softening the field next to it.
TEST(Dislocation, InvisibilityColumnOnTheLineExamplesAndChecks) {
    auto edge = [](const char* ca, double r0) {
        return disl(ca, edge_ini("1 2 1 1 0", "28 20 90", "1 -1 2", 0.3, r0));
    };
    for (double r0 : {0.0, 2.0}) {
        DefectRun run = edge("no", r0);
        const State& st = run.slice(5).st;
        EXPECT_TRUE(all_finite(st.s_g_r));
        for (int n = 1; n <= 5; ++n) EXPECT_EQ(st.s_g_r(4, 3, n), 0.0) << r0;
        EXPECT_NE(st.s_g_r(5, 3, beam(1)), 0.0);
    }
    EXPECT_LT(std::abs(edge("yes", 4.0).slice(5).st.s_g_r(5, 3, beam(1))),
              std::abs(edge("yes", 0.0).slice(5).st.s_g_r(5, 3, beam(1))));
    for (const auto& ini : {screw_ini("1 1 0 0 1", "28 20 0", "1 0 0", "1"),
                            screw_ini("1 2 1 0 1", "28 20 90", "1 0 -1", "0")})
        EXPECT_TRUE(all_finite(disl("no", ini).slice(5).st.s_g_r));

    // The shipped examples give a finite field with contrast; the edge along y the same in each
    // row.
    for (const auto& [model, file, l] :
         {std::tuple{1, "edge/edge.ini", 100}, std::tuple{2, "screw/screw.ini", 90}}) {
        DefectRun run(model, "unused.ini", "", "no", {64, 64, 200, 64.0, 64.0, 200.0});
        run.st.f_defect = std::string(KORVEX_SOURCE_DIR) + "/examples/" + file;
        const State& st = run.slice(l).st;
        EXPECT_TRUE(max_abs(st.s_g_r, beam(1)) > 1e-3 && all_finite(st.s_g_r)) << file;
        for (int j = 2; j <= 64 && model == 1; ++j)
            EXPECT_EQ(st.s_g_r(20, j, beam(1)), st.s_g_r(20, 1, beam(1)));
    }

    // g.b = 0 and g.(b x l) = 0 (edge), g.b = 0 without relaxation (screw): no contrast, with or
    // without the column approximation; "half" is "no" for the edge model.
    for (const char* ca : {"yes", "no"})
        for (const auto& ini : {edge_ini("1 2 0 1 1", "30 20 90", "1 0 0", 0.3, 1),
                                screw_ini("1 2 0 1 1", "30 20 90", "0 1 -1")}) {
            DefectRun inv = disl(ca, ini);
            for (int l : {1, 5, 10}) {
                inv.st.s_g_r.fill(1.0);
                EXPECT_FALSE(any_nonzero(inv.slice(l).st.s_g_r)) << ca << ini << l;
            }
        }
    const std::string ini = edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2", 0.31, 0.5);
    DefectRun half = disl("half", ini), no = disl("no", ini);
    EXPECT_TRUE(same_bits(half.slice(3).slice(4).st.s_g_r, no.slice(4).st.s_g_r));
    EXPECT_GT(max_abs(no.st.s_g_r, beam(1)), 1e-4);

    // Refused configurations with their messages ("*": any stop; degenerate vectors gave NaN).
    const Lines perp{"The dislocation line is not perpendicular to v_b_edge"};
    const Lines cut{"For a screw dislocation, Burgers vector must lay on the cut_plane"};
    const Lines approx{"Please make right choice for the Column Approximation",
                       "This defect model takes the column approximation \"yes\", \"no\" or "
                       "\"half\" (record 8 of the input parameter file)",
                       "Read: (none of yes, no, half)"},
        any{"*"}, none{};
    auto e = [](const char* b, const char* line) { return edge_ini(b, "30 20 90", line); };
    auto s = [](const char* b, const char* plane) { return screw_ini(b, "30 20 90", plane); };
    // b = [0 0 1]: b.l is the third component of the line; the limit is 1e-4 on either side.
    // clang-format off
    const std::tuple<std::string, const char*, Lines> cases[] = {
        {e("1 1 0 0 1", "1 0 1e-4"), "yes", perp}, {e("1 1 0 0 1", "1 0 -1e-4"), "yes", perp},
        {e("1 1 0 0 1", "1 0 -3"), "yes", perp},   {e("1 1 0 0 1", "1 0 5e-5"), "yes", none},
        {e("1 1 0 0 1", "1 0 -5e-5"), "yes", none}, {e("0 2 1 1 0", "1 -1 2"), "yes", any},
        {e("1 2 1 1 0", "0 0 0"), "yes", any},     {e("1 0 1 1 0", "1 -1 2"), "yes", any},
        {e("1 2 1 1 0", "1 -1 2"), "maybe", approx},
        {s("1 2 1 1 0", "1 -0.9999999999 0"), "yes", cut}, {s("1 2 1 1 0", "0 0.000001 1"), "yes", cut},
        {s("1 2 1 1 0", "1 -1 0"), "yes", none},   {s("1 2 1 1 0", "1 -1 1"), "yes", none},
        {s("0 2 1 0 1", "0 1 0"), "yes", any},     {s("1 2 1 0 1", "0 1 0"), "maybe", approx},
        {screw_ini("1 2 1 0 1", "30 20 0", "0 1 0", "1"), "yes",
         {"Surface relaxation model only available for screw disloations",
          "perpendicular to the foil (in current version, also perpendicular",
          "to diffraction vector"}},
    };
    // clang-format on
    for (const auto& [text, ca, want] : cases) {
        DefectRun run = disl(ca, text);
        if (want.empty()) {
            EXPECT_NO_THROW(run.slice(1)) << text;
        } else if (want == any) {
            EXPECT_FALSE(stop_lines([&] { run.slice(1); }).empty()) << text;
        } else {
            // One line: the first of a message that goes on with the record and the values.
            const Lines got = stop_lines([&] { run.slice(1); });
            EXPECT_EQ(want.size() == 1 ? Lines{got.at(0)} : got, want) << text;
            if (want == perp || want == cut) {
                EXPECT_TRUE(got.size() == 3 && contains(got[1], "record 5") &&
                            got[2].starts_with("Read: "))
                    << got.back();
            }
        }
    }
    DefectRun odd = disl("no", screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "0"));
    EXPECT_EQ(stop_lines([&] {
                  screw::cal_screw(odd.st, odd.st.work(), screw::read_screw_config(odd.st.f_defect),
                                   1, "strain", screw::Site::mesh);
              }),
              Lines{"Please choose either displacement or distortion field"});
    DefectRun two = disl("no", screw_ini("1 1 0 0 1", "30 20 0", "1 0 0", "2"));
    const Lines relax = stop_lines([&] { two.slice(1); });
    EXPECT_TRUE(relax.size() == 2 && relax[1] == "Read: 2" &&
                relax[0].find("record 6: Surface Relaxation indicator only can be 0 or 1") !=
                    std::string::npos)
        << relax.at(0);
}

// The relaxation distortion is the gradient of the displacement (both series lengths, which
// differ by a tiny tail); the per-slice table reproduces the series to rounding near and far
// from the line, near either surface, outside the foil, in thin and thick foils. The displacement
// is azimuthal, odd about the mid-plane; near the surface of a very thick plate the
// single-surface image term rho / (z + R) / 2 pi; zero on the line.
TEST(ScrewRelaxation, DistortionIsTheGradientOfTheDisplacementAndTheTableItsSum) {
    for (int terms : {100, 101})
        for (const Vec3& p : {Vec3{12, 7, 5}, Vec3{-3, 25, 60}, Vec3{40, -9, 150},
                              Vec3{-6, -4, 197}, Vec3{0.5, 30, 100}}) {
            const Vec3 num = numeric_gradient(
                [&](const Vec3& q) { return screw::relax_displacement(q, 200.0, terms)[0]; }, p,
                true);
            for (std::size_t e = 0; e < 3; ++e)
                EXPECT_TRUE(
                    near_rel(screw::relax_distortion(p, 200.0, terms)[e], num[e], 1e-6, 1e-12))
                    << terms << " component " << e;
        }
    const double d100 = screw::relax_distortion({12, 7, 5}, 200.0, 100)[2];
    const double d101 = screw::surfacerelaxscrewdistortion({12, 7, 5}, 200.0)[2];
    EXPECT_TRUE(near_rel(d101, d100, 1e-4) && d101 != d100) << d101 - d100;
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
                }
        }
    auto u = [](const Vec3& p, double t = 200.0) {
        return screw::surfacerelaxscrewdisplacement(p, t);
    };
    EXPECT_EQ(std::pair(u({9, 4, 30})[2], u({9, 4, 100})[0]), std::pair(0.0, 0.0));
    EXPECT_TRUE(near_rel(9 * u({9, 4, 30})[0] + 4 * u({9, 4, 30})[1], 0.0, 0.0, 1e-15));
    EXPECT_TRUE(near_rel(u({9, 4, 170})[0], -u({9, 4, 30})[0], 1e-12));
    const double r = std::sqrt(125.0); // z = 5, rho = 10
    EXPECT_TRUE(near_rel(u({6, 8, 5}, 1e7)[0], 10.0 / (5 + r) / kTwoPi * 8 / 10.0, 1e-5));
    for (double zz : {0.0, 50.0, 200.0})
        EXPECT_FALSE(any_nonzero(u({0, 0, zz})) ||
                     any_nonzero(screw::surfacerelaxscrewdistortion({0, 0, zz}, 200.0)));
}

// C11 - C12 = 2 C44 (nu = 1/4): edges (b along E1) and screws (b along E3) of several lines give
// the isotropic gradients.
TEST(Stroh, IsotropicLimitCopperScrewEquilibriumAndTheElasticityRecord) {
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

    // Mixed dislocations of low symmetry, A above and below 1: gradient = numerical derivative,
    // div sigma = 0, u jumps by b across the cut, no net force on a circle.
    const Vec3 bm{0.3, -0.5, 0.8};
    const double step = 1e-5;
    for (const char* xtal : {"Cu", "Fe", "Mo", "Al"}) {
        const StrohDislocation mixed = make(elastic_constants(xtal), {1, 2, -1}, {2, -1, 0.5}, bm);
        for (auto [x, y] : kPoints) {
            const Mat3 d = mixed.gradient(x, y), sx = stress(mixed, x + step, y),
                       sx_ = stress(mixed, x - step, y), sy = stress(mixed, x, y + step),
                       sy_ = stress(mixed, x, y - step);
            const Vec3 ux = mixed.displacement(x + step, y), ux_ = mixed.displacement(x - step, y),
                       uy = mixed.displacement(x, y + step), uy_ = mixed.displacement(x, y - step);
            const Vec3 up = mixed.displacement(x - 5, 1e-13),
                       down = mixed.displacement(x - 5, -1e-13);
            const double rr = std::hypot(x, y);
            for (int k = 0; k < 3; ++k) {
                const std::size_t c = static_cast<std::size_t>(k);
                EXPECT_NEAR(d(1, k + 1), (ux[c] - ux_[c]) / (2 * step), 1e-8 / rr) << xtal;
                EXPECT_NEAR(d(2, k + 1), (uy[c] - uy_[c]) / (2 * step), 1e-8 / rr) << xtal;
                EXPECT_NEAR(sx(k + 1, 1) - sx_(k + 1, 1) + sy(k + 1, 2) - sy_(k + 1, 2), 0.0,
                            2e-9 / (rr * rr))
                    << xtal;
                EXPECT_NEAR(up[c] - down[c], bm[c], 1e-9) << xtal;
            }
        }
        Vec3 force{};
        for (int t = 0; t < 64; ++t) {
            const double a = 2 * kPi * (t + 0.5) / 64, c = std::cos(a), sn = std::sin(a);
            const Mat3 sig = stress(mixed, 2 * c, 2 * sn);
            for (int i = 0; i < 3; ++i) force[i] += sig(i + 1, 1) * c + sig(i + 1, 2) * sn;
        }
        EXPECT_LT(magnitude(force), 1e-8) << xtal;
    }

    // The last record's last word decides (a number or nothing: isotropic); other words and
    // relaxation with "anisotropic" are refused. The gradient tool's anisotropic edge is the edge
    // model's field.
    RecordReader rr("f.ini", "0 x\nANISOTROPIC x\n\n \n"), bad("f.ini", "x\n0\nanisotropc 1\n");
    EXPECT_EQ(read_elasticity(rr), Elasticity::anisotropic);
    EXPECT_TRUE(
        contains(read_error([&] { read_elasticity(bad); }), "record 3 holds \"anisotropc\""));
    DefectRun relaxed(2, "s.ini", screw_ini("1 1 0 0 1", "0 0 0", "1 0 0", "1") + "anisotropic");
    EXPECT_EQ(stop_lines([&] { relaxed.slice(1); }).at(0).find("The surface relaxation"), 0u);
    DefectRun edge_run(1, "e.ini",
                       edge_ini("1 2 1 1 0", "20 15 80", "1 -1 2", 0.31, 1) + "anisotropic");
    edge_run.st.sample = "Cu";
    const auto model =
        edge::EdgeSlice::make(edge_run.st, edge::read_edge_config(edge_run.st.f_defect));
    EdgeDislocation e = read_edge_configuration(edge_run.st.f_defect);
    e.constants = elastic_constants("Cu");
    const EdgeGradient tool(e, GradientBox{{64, 48, 200}, {}, {0, 0, 1}, {2, 0, 0}, 3.61});
    for (auto [x, y] : kPoints) {
        const Vec3 m = model.phase_gradient({3 * x, 2 * y, x * y});
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_TRUE(near_rel(2 * tool({20 + 3 * x, 15 + 2 * y, 80 + x * y})[k][0] / 3.61, m[k],
                                 1e-12, 1e-15));
    }

    // The anisotropic edge filled row by row: the terms of its whole slice (the isotropic
    // models: DefectModels).
    const Array3<double> whole = edge_run.slice(4).st.s_g_r;
    edge_run.st.s_g_r.fill(7.0);
    const RowFill rows = edge_run.field->rows_of_slice(edge_run.st, edge_run.st.work(), 4);
    for (int j = edge_run.st.n_xyz[1]; j >= 1; --j) rows(j);
    EXPECT_TRUE(same_bits(edge_run.st.s_g_r, whole));
}
