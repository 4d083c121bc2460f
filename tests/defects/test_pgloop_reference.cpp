// The angular-dislocation field and its loops against independent evaluations (the displacement,
// the term-by-term form, the infinitesimal loop). Terms cancel far from a loop: the fast field
// must agree to 1e-12 of the sum of the terms' magnitudes (the rounding scale of those sums).
#include "fixture.hpp"

#include <random>

using namespace korvex::testing;

namespace {

constexpr double kTolerance = 1e-12;

// grad u_i for a unit Burgers component c (u_0, u_1, u_2 = u, v, w).
const Vec3& grad(const AngularGradients& a, std::size_t i, std::size_t c) {
    const Vec3* g[3][3] = {{&a.ux, &a.uy, &a.uz}, {&a.vx, &a.vy, &a.vz}, {&a.wx, &a.wy, &a.wz}};
    return *g[i][c];
}

AngularGradients gradients_at(const Vec3& p, double cb, double sb, double eps) {
    return angular_strain(p[0], p[1], p[2], p[1] * cb - p[2] * sb, p[1] * sb + p[2] * cb, cb, sb,
                          0.3, eps);
}

// Displacement of an angular dislocation, legs along +z and (0, sin beta, cos beta): the elastic
// part (Yoffe; Comninou and Dundurs) plus b times the solid angle of the cut over 4 pi.
Vec3 angular_displacement(const Vec3& p, double beta, const Vec3& b) {
    const double x = p[0], y = p[1], z = p[2], ca = std::cos(beta), sa = std::sin(beta);
    const double eta = y * ca - z * sa, zeta = y * sa + z * ca, r = magnitude(p);
    const double nu = 0.3, K = 1.0 / (8.0 * kPi * (1.0 - nu)), m = 1.0 - 2.0 * nu;
    const double lz = std::log(r - z), lzeta = std::log(r - zeta);
    const double rz = r * (r - z), rzeta = r * (r - zeta);
    Vec3 u{};
    u[0] += b[0] * K * (x * y / rz - x * eta / rzeta);
    u[1] +=
        b[0] * K * (eta * sa / (r - zeta) - y * eta / rzeta + y * y / rz + m * (ca * lzeta - lz));
    u[2] += b[0] * K * (eta * ca / (r - zeta) - y / r - eta * z / rzeta - m * sa * lzeta);
    u[0] += b[1] * K * (x * x * ca / rzeta - x * x / rz - m * (ca * lzeta - lz));
    u[1] += b[1] * x * K * (y * ca / rzeta - sa * ca / (r - zeta) - y / rz);
    u[2] += b[1] * x * K * (z * ca / rzeta - ca * ca / (r - zeta) + 1.0 / r);
    u[0] += b[2] * sa * K * (m * lzeta - x * x / rzeta);
    u[1] += b[2] * x * sa * K * (sa / (r - zeta) - y / rzeta);
    u[2] += b[2] * x * sa * K * (ca / (r - zeta) - z / rzeta);
    // The wedge's solid angle (Van Oosterom and Strackee, the far vertices at infinity).
    const Vec3 R1{-x, -y, -z}, e1{0, 0, 1}, e2{0, sa, ca};
    const double den = r * (1.0 + dot(e1, e2)) + dot(R1, e1) + dot(R1, e2);
    const double omega = 2.0 * std::atan2(dot(R1, cross_product(e1, e2)), den);
    for (std::size_t i = 0; i < 3; ++i) u[i] += b[i] * omega / (4.0 * kPi);
    return u;
}

// sum over i, c of |g_i b_c grad u_i (c)|.
Vec3 term_magnitudes(const AngularGradients& a, const Vec3& b, const Vec3& g) {
    Vec3 m{};
    for (std::size_t q = 0; q < 3; ++q)
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t c = 0; c < 3; ++c) m[q] += std::abs(g[i] * b[c] * grad(a, i, c)[q]);
    return m;
}

// grad (g . u) of the loop `f` at p (from its centre) side by side through angular_strain; in
// `scale` the sum of the magnitudes of the terms.
Vec3 reference_gradient(const State& st, const PgLoopFile& f, const Vec3& p, Vec3& scale) {
    const int n = f.nsides;
    const double rc = f.radius * std::cos(kPi / n), rs = f.radius * std::sin(kPi / n);
    const double cb = std::cos(2.0 * kPi / n), sb = std::sin(2.0 * kPi / n);
    const Vec3 lz = cross_product(f.normal, f.polar);
    const Mat3 t1 = coordinates_transfer(st.co_x, cross_product(st.foil, st.co_x), st.foil,
                                         f.normal, f.polar, lz);
    const Mat3 t1c = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, f.normal, f.polar, lz);
    auto side = [&](int k, const Mat3& t) { // the frame t turned about the normal to side k
        const double c = std::cos(2.0 * kPi * k / n), s = std::sin(2.0 * kPi * k / n);
        return mul(
            coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, c, s}, {0, -s, c}),
            t);
    };
    Vec3 sum{}, prev = mul(side(n - 1, t1), p);
    scale = {};
    for (int k = 0; k < n; ++k) {
        const Mat3 t2 = side(k, t1), t2c = side(k, t1c);
        Mat3 abs_t2 = t2;
        for (double& v : abs_t2.a) v = std::abs(v);
        const Vec3 xi = mul(t2, p), b = mul(t2c, scaled(f.b_dir, f.b_m / f.b_n)),
                   g = mul(t2c, st.v_g);
        const AngularGradients a =
            angular_strain(xi[0], xi[1] - rc, xi[2] + rs, prev[1] - rc, prev[2] - rs, cb, sb,
                           f.poissonsratio, f.correction);
        const Vec3 s = mul_t(t2, contract_gradients(a, b, g));
        const Vec3 m = mul_t(abs_t2, term_magnitudes(a, b, g));
        for (std::size_t q = 0; q < 3; ++q) sum[q] += s[q], scale[q] += m[q];
        prev = xi;
    }
    return sum;
}

// Every column and beam of the slice's s_g_r agrees with the sum over the loops.
void expect_slice_matches(const State& st, const std::vector<PgLoopFile>& loops, int islice,
                          const std::string& what) {
    const BeamTilts tilts = beam_tilts(st);
    const int nx = st.n_xyz[0], ny = st.n_xyz[1];
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) {
            std::array<double, 6> ref{}, scale{}; // by beam
            for (const PgLoopFile& f : loops) {
                const Vec3 p{(i - 0.5) * st.size[0] / nx - f.position[0],
                             (j - 0.5) * st.size[1] / ny - f.position[1],
                             (islice - 0.5) * st.size[2] / st.n_xyz[2] - f.position[2]};
                Vec3 s{}, g = reference_gradient(st, f, p, s);
                if (!all_finite(g)) g = s = {}; // on a leg: the column is left unstrained
                for (int n = 1; n <= 5; ++n) {
                    const int m = tilts.order(n);
                    const double t = st.ca == ColumnApprox::no ? tilts.tan_tilt(n) : 0.0;
                    ref[n] += m * (g[0] * t + g[2]);
                    scale[n] += std::abs(m) * (s[0] * std::abs(t) + s[2]);
                }
            }
            for (int n = 1; n <= 5; ++n)
                ASSERT_LE(std::abs(st.s_g_r(i, j, n) - ref[n]), kTolerance * scale[n])
                    << what << ": column " << i << ' ' << j << " beam " << n << ": "
                    << st.s_g_r(i, j, n) << " against " << ref[n] << ", term scale " << scale[n];
            EXPECT_TRUE(i < nx || j < ny || ref[3] != 0.0) << what; // an odd row's last
        }
}

std::string pg_loop(const std::string& style, const std::string& burgers, const std::string& radius,
                    const std::string& centre, const std::string& nsides, double core) {
    return config("{Data for the polygonal loop in Crystal}",
                  {style, burgers, "1 3 1 1 1", radius, centre, "1 1 1", "1 -1 0", nsides, "0.3",
                   std::to_string(core)});
}

} // namespace

// angular_strain is the derivative of the displacement, and the fast form agrees with it term
// by term: random points, many close to the legs or their plane, polygons of 3 to 12 sides, with
// and without a core term, random b and g (the derivatives away from the legs, without core).
TEST(AngularDislocation, GradientsAgainstTheDisplacementAndTheFastForm) {
    std::mt19937 gen(17);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 4000; ++trial) {
        const int nsides = std::array{3, 4, 6, 12}[trial % 4];
        const double eps = trial / 4 % 2, beta = 2.0 * kPi / nsides;
        const double cb = std::cos(beta), sb = std::sin(beta);
        const AngularConstants c(cb, sb, 0.3, eps);
        const Vec3 b{u(gen), u(gen), u(gen)}, g{3 * u(gen), 3 * u(gen), 3 * u(gen)};
        const double along = 200.0 * u(gen), off = std::pow(10.0, 2.0 * u(gen));
        Vec3 p{off * u(gen), 100.0 * u(gen), 100.0 * u(gen)};
        // Without a core term the formula loses its digits beside a leg: near them only with it.
        const int kind = eps > 0.0 ? trial / 8 % 4 : trial / 8 % 2 * 3;
        if (kind == 0) p[0] = 100.0 * u(gen);
        if (kind == 1) p = {p[0], off * u(gen), along}; // near the leg along z
        if (kind == 2)                                  // near the other leg
            p = {p[0], along * sb + off * u(gen) * cb, along * cb - off * u(gen) * sb};
        if (kind == 3) p[0] = 1e-3 * off * u(gen); // near the plane of the legs
        const double eta = p[1] * cb - p[2] * sb, zeta = p[1] * sb + p[2] * cb;
        const AngularGradients a = gradients_at(p, cb, sb, eps);
        const Vec3 ref = contract_gradients(a, b, g), scale = term_magnitudes(a, b, g);
        const Vec3 fast =
            angular_gradient_dot(p[0], p[1], p[2], eta, zeta, c, AngularWeights(b, g, sb));
        ASSERT_TRUE(all_finite(ref));
        if (kind == 0 && eps == 0.0) {
            const auto gu = [&](const Vec3& q) { return dot(g, angular_displacement(q, beta, b)); };
            Vec3 num{};
            for (std::size_t j = 0; j < 3; ++j) num[j] = central_difference(gu, p, j, 1e-4);
            const double s = std::max({std::abs(num[0]), std::abs(num[1]), std::abs(num[2])});
            for (std::size_t q = 0; q < 3; ++q)
                ASSERT_TRUE(near_rel(ref[q], num[q], 1e-5, 1e-7 * s))
                    << "sides " << nsides << " d/dx_" << q;
        }
        for (std::size_t q = 0; q < 3; ++q)
            ASSERT_LE(std::abs(fast[q] - ref[q]), kTolerance * scale[q])
                << "sides " << nsides << " core " << eps << " point " << p[0] << ' ' << p[1] << ' '
                << p[2] << " component " << q;
    }
    // On a leg the field is undefined in both forms without a core term, finite with it.
    const AngularGradients core = gradients_at({0.0, 1e-3, 2.0}, 0.0, 1.0, 1.0);
    for (std::size_t i = 0; i < 9; ++i) EXPECT_TRUE(all_finite(grad(core, i / 3, i % 3)));
    const double cb = 0.5, sb = std::sqrt(0.75);
    const Vec3 b{0.2, -0.4, 0.7}, g{1.0, 2.0, -1.0};
    for (const Vec3& p : {Vec3{0.0, 0.0, 5.0}, Vec3{0.0, 5.0 * sb, 5.0 * cb}}) {
        EXPECT_FALSE(all_finite(contract_gradients(gradients_at(p, cb, sb, 0.0), b, g)));
        EXPECT_FALSE(all_finite(
            angular_gradient_dot(p[0], p[1], p[2], p[1] * cb - p[2] * sb, p[1] * sb + p[2] * cb,
                                 AngularConstants(cb, sb, 0.3, 0.0), AngularWeights(b, g, sb))));
    }
}

// Slices on 65 x 63 columns (taken in pairs, an odd row's last alone): a hexagon of radius 60 with
// a mixed b, with and without the approximation and the core term; a tetrahedron of edge 100.
TEST(PgLoopReference, SlicesMatchTheTermByTermFieldAndTheFarFieldAnInfinitesimalLoop) {
    const std::string tetra =
        config("{tetrahedron}", {"faulted", "128 128 150", "100.0", "0.3", "1"});
    auto hexagon = [](double core) {
        return pg_loop("faulted", "1 2 0 1 1", "60.0", "128 128 150", "6", core);
    };
    const std::tuple<std::string, const char*, int> cases[] = {{hexagon(1.0), "no", 150},
                                                               {hexagon(1.0), "yes", 100},
                                                               {hexagon(0.0), "no", 151},
                                                               {tetra, "no", 150}};
    for (const auto& [text, ca, l] : cases) {
        DefectRun run(text == tetra ? 6 : 5, "loop.ini", text, ca,
                      {65, 63, 300, 256.0, 256.0, 300.0});
        // The faces the model hands its loops (their files: SliceOutputs).
        std::vector<PgLoopFile> loops;
        for (int face = 0; face < 4 && text == tetra; ++face)
            loops.push_back(
                tetrahedron_face_loop(run.st, read_tetrahedron_file(run.st.f_defect), face));
        if (text != tetra) loops = {read_pgloop_file(run.st.f_defect)};
        expect_slice_matches(run.slice(l).st, loops, l,
                             (text == tetra ? "tetrahedron ca " : "hexagon ca ") + std::string(ca) +
                                 " slice " + std::to_string(l));
    }

    // Far from a small polygon its field is that of an infinitesimal loop of the same area, sign
    // included (the next multipole is smaller by about (R / r)^2).
    DefectRun small(5, "loop.ini", pg_loop("perfect", "1 2 1 1 0", "2.0", "0 0 0", "12", 0.0), "no",
                    cube(4));
    const PgLoopKernel kernel(small.st, read_pgloop_file(small.st.f_defect));
    const double R = 2.0, b = std::sqrt(0.5), area = 6.0 * R * R * std::sin(kPi / 6.0);
    const Vec3 nhat = scaled({1, 1, 1}, 1.0 / std::sqrt(3.0)),
               bhat = scaled({1, 1, 0}, 1.0 / std::sqrt(2.0));
    const double ghkl = 2.0; // sample axes = crystal axes here
    for (const Vec3& p : {Vec3{40.0, 25.0, 30.0}, Vec3{-35.0, 20.0, -45.0}, Vec3{15.0, -50.0, 35.0},
                          Vec3{-30.0, -30.0, -30.0}}) {
        const Vec3 grad = kernel.gradient(p);
        const LoopDerivatives d = infinitesimal_loop_terms(p[0], p[1], p[2], nhat, bhat, 0.3,
                                                           -(area / kPi) * b / (8.0 * (1.0 - 0.3)));
        const double scale = std::max(std::abs(d.dx), std::abs(d.dz)) * ghkl;
        EXPECT_NEAR(grad[2], ghkl * d.dz, 0.02 * scale) << p[0] << ' ' << p[1];
        EXPECT_NEAR(grad[0], ghkl * d.dx, 0.02 * scale) << p[0] << ' ' << p[1];
    }
}
