// The optics of a beam condition: the crystal table, the wave quantities and the beam geometry
// they give, the vector helpers; scattering amplitudes, Fourier coefficients and absorption.
#include "optics/crystal.hpp"
#include "optics/geometry.hpp"
#include "optics/potential.hpp"
#include "optics/vectors.hpp"
#include "support/testing.hpp"

#include <numbers>
#include <tuple>

using namespace korvex::testing;

namespace {

// Cu, g (2 0 0), 200 kV, beams first..last, at the condition (g, cond g).
State copper_row(int first, int last, double cond) {
    State st;
    st.voltage = 200.0, st.lat_c = crystalparameter("Cu").a, st.v_g = {2, 0, 0};
    st.n_pixel_x = st.n_pixel_y = st.n_slice = 1, st.n_beams = last - first + 1;
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
    cal_wave_quantities(st.input(), st.optics());
    cal_mtx_g(st.input(), st.optics());
    geometry(st.n_beams, st.g, st.mtx_g, st.k, cond, st.mtx_q, st.s_g);
    return st;
}

// The largest difference of two vectors or (through their elements) matrices.
template <class A> double off(const A& a, const A& b) {
    double m = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
    return m;
}
double off(const Mat3& a, const Mat3& b) {
    return off(a.a, b.a);
}

constexpr double kPi = std::numbers::pi;
using Range = std::pair<double, double>;

// Relativistic wavelength and mass ratio at the voltage in volts, and the Debye-Waller B and
// cell factor P of a crystal, as the absorption calculation defines them.
struct Optics {
    double lambda, gamma, b, p;
};
Optics optics(double volts, const std::string& symbol) {
    const CrystalParams c = crystalparameter(symbol);
    return {12.264306 / std::sqrt(volts) / std::sqrt(1.0 + 9.78467e-7 * volts),
            1.0 + volts / 511000.0, 8.0 * kPi * kPi * c.msd, c.atoms / (kPi * std::pow(c.a, 3))};
}

// The Bird-King integral by an independent rule: midpoints in polar coordinates over the disc
// of radius 20 1/Angstrom (accurate to a few 1e-5 with this grid).
double bird_king_polar(const std::string& symbol, double s, double b) {
    const int nr = 2000, nt = 250;
    const double hr = 20.0 / nr, ht = 2.0 * kPi / nt;
    double sum = 0.0;
    for (int i = 0; i < nr; ++i)
        for (int j = 0; j < nt; ++j) {
            const double r = (i + 0.5) * hr, t = (j + 0.5) * ht;
            const double x = r * std::cos(t), y = r * std::sin(t);
            sum += r * cal_fab(symbol, std::hypot(x - s / 2, y)) *
                   cal_fab(symbol, std::hypot(x + s / 2, y)) *
                   (1.0 - std::exp(-2.0 * b * (x * x + y * y - s * s / 4.0)));
        }
    return sum * hr * ht;
}

// The zero-beam integral is radial: 2 pi * int r f(r)^2 (1 - exp(-2 B r^2)) dr, by Simpson's
// rule with h = 0.001, so that the kinks of the tabulated f lie on panel boundaries.
double bird_king_radial(const std::string& symbol, double b) {
    auto g = [&](double r) {
        const double f = cal_fab(symbol, r);
        return r * f * f * (1.0 - std::exp(-2.0 * b * r * r));
    };
    const int n = 20000;
    const double h = 20.0 / n;
    double sum = g(0.0) + g(20.0);
    for (int i = 1; i < n; ++i) sum += (i % 2 ? 4.0 : 2.0) * g(i * h);
    return 2.0 * kPi * sum * h / 3.0;
}

} // namespace

// Beams -2 .. 4 at (g, g) and (g, 3g): every wave vector (m g - cond g / 2, kz0 + s_g) ends on
// the sphere of radius k (tilt tangents spaced by g / kz0); beams 0 and cond lie on it (the
// incident beam at minus the Bragg angle of cond g), the others mirror about cond / 2, with s_g
// close to m (cond - m) g^2 / 2k. The wave quantities against the relativistic electron
// wavelength h / sqrt(2 m e V (1 + e V / 2 m c^2)) and Bragg's law for the (2 0 0) planes.
TEST(Geometry, CrystalTableWaveVectorsSliceCentresAndVectors) {
    for (const int cond : {1, 3}) {
        const State st = copper_row(-2, 4, cond);
        EXPECT_TRUE(near_rel(st.d, st.lat_c / 2.0, 1e-12) && near_rel(st.g * st.d, 1.0, 1e-12));
        EXPECT_TRUE(near_rel(st.wavelength, electron_wavelength(200.0), 5e-4));
        EXPECT_TRUE(near_rel(st.k * st.wavelength, 1.0, 1e-12));
        EXPECT_TRUE(near_rel(2.0 * st.d * std::sin(st.b_angle), st.wavelength, 1e-12));
        const double g = st.g, kz0 = std::sqrt(st.k * st.k - 0.25 * cond * cond * g * g);
        for (int n = 1; n <= 7; ++n) {
            const int m = n - 3;
            const double x = (m - 0.5 * cond) * g, s = st.s_g(n);
            EXPECT_EQ(std::pair(st.mtx_g(n), st.mtx_q(n).real()), std::pair(m * g, 0.0));
            EXPECT_TRUE(near_rel(std::tan(st.mtx_q(n).imag()), x / kz0, 1e-12)) << m;
            EXPECT_TRUE(near_rel(std::hypot(x, kz0 + s), st.k, 1e-14)) << m;
            EXPECT_TRUE(near_rel(s, m * (cond - m) * g * g / (2 * st.k), 5e-3, 1e-15)) << m;
            const int mirror = n + cond - 2 * m; // the beam cond - m
            EXPECT_TRUE(mirror > 7 || mirror < 1 || std::abs(s - st.s_g(mirror)) <= 1e-15) << m;
        }
        EXPECT_EQ(st.s_g(3), 0.0);
        EXPECT_NEAR(st.s_g(3 + cond), 0.0, 1e-15);
        // The incident beam at the Bragg angle of cond g: sin = cond sin(Bragg angle of g).
        EXPECT_NEAR(std::sin(-st.mtx_q(3).imag()), cond * std::sin(st.b_angle), 1e-15);
    }

    // Column and slice centres of a grid of 1 Angstrom cells (off-by-half faults).
    State grid;
    grid.size_x = grid.n_pixel_x = 10, grid.size_y = grid.n_pixel_y = 4,
    grid.size_z = grid.n_slice = 100;
    grid.n_beams = 2;
    allocate_arrays(grid);
    cal_sample(grid.input(), grid.grid());
    EXPECT_EQ(grid.effslicenumber, 100);
    EXPECT_EQ(std::tuple(grid.sliceposition(1), grid.slicethickness(1), grid.sliceposition(100)),
              std::tuple(0.5, 1.0, 99.5));
    EXPECT_EQ(std::tuple(grid.p_x(1), grid.p_x(10), grid.p_y(4), grid.unit_x, grid.unit_z),
              std::tuple(0.5, 9.5, 3.5, 1.0, 1.0));

    // The element is named by its first two characters, case mattering; anything else stops.
    const CrystalParams cu = crystalparameter("Cu"), cu2 = crystalparameter("Cu-annealed");
    EXPECT_EQ(std::tuple(cu.a, cu.atoms, cu.msd), std::tuple(cu2.a, cu2.atoms, cu2.msd));
    // The stop names where the symbol was read (when known) and the symbols the table holds.
    const std::string known = "the crystal symbol (its first two characters, case matters) must "
                              "be one of Ag, Al, Au, Cu, Mo, Si, Fe";
    for (const std::string bad : {"cu", "C", "", "Li"})
        EXPECT_EQ(stop_lines([&] { crystalparameter(bad); }),
                  (Lines{"No this element found in the subroutine CrystalParameter.", known,
                         "Read: \"" + bad + "\""}))
            << bad;
    EXPECT_EQ(stop_lines([] { crystalparameter("cu", "Error reading \"in\", record 4"); }).at(1),
              "Error reading \"in\", record 4: " + known);

    // gamma = 1 + eV / m c^2 (511.0 keV), to the fourth decimal, at every 100 kV step, matched
    // within one volt (exclusive); other voltages stop with two records.
    for (int i = 1; i <= 10; ++i)
        for (double dv : {0.0, 0.99, -0.99})
            EXPECT_NEAR(lorentzfactor(i * 1e5 + dv), 1.0 + i * 100.0 / 510.999, 1e-4) << i;
    EXPECT_EQ(
        stop_lines([] { lorentzfactor(250000.0); }),
        (Lines{"ERROR: No Lorentz Factor found for", "       accelerating voltage V = 250000.0"}));
    for (double v : {200001.0, 0.0}) EXPECT_EQ(stop_lines([&] { lorentzfactor(v); }).size(), 2u);

    // Frame changes: axis lengths do not matter, the crystal vector g lands on sample x, the
    // transpose undoes the change; a general matrix inverted, a singular one refused at any scale.
    EXPECT_LE(off(coordinates_transfer({2, 0, 0}, {0, 5, 0}, {0, 0, 0.1}, {7, 0, 0}, {0, 0.3, 0},
                                       {0, 0, 9}),
                  Mat3::identity()),
              0.0);
    const Vec3 vz{0, 0, 1}, vx{1, 1, 0};
    const Mat3 vc =
        coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, vx, cross_product(vz, vx), vz);
    const Vec3 vg = mul(vc, Vec3{1, 1, 0});
    EXPECT_LE(off(vg, {std::sqrt(2.0), 0, 0}), 1e-15);
    EXPECT_LE(off(mul(vc, real_matrix_transpose(vc)), Mat3::identity()), 1e-15);
    EXPECT_LE(off(mul_t(vc, vg), {1, 1, 0}), 1e-15);

    const Mat3 va{{2, -1, 0, 1, 3, 2, 0.5, 4, -1}}, vs{{1, 2, 3, 2, 4, 6, 0, 1, 1}};
    EXPECT_LE(off(mul(va, inverse_three_real_matrix(va)), Mat3::identity()), 1e-14);
    EXPECT_EQ(stop_lines([&] { inverse_three_real_matrix(vs); }).size(), 1u);
    const Mat3 tiny{{1e-9, 0, 0, 0, 1e-9, 0, 0, 0, 1e-9}};
    EXPECT_NEAR(inverse_three_real_matrix(tiny)(2, 2), 1e9, 1e-3);

    // Strictly inside only (edges and vertices are outside), either orientation, the third
    // component ignored; a degenerate triangle stops.
    const Vec3 ta{0, 0, 5}, tb{4, 0, -1}, tc{0, 3, 0};
    EXPECT_EQ(point_triangle({1, 1, 100}, ta, tb, tc), 1);
    EXPECT_EQ(point_triangle({1, 1, 0}, ta, tc, tb), 1);
    for (const Vec3& p : {Vec3{3, 3, 0}, Vec3{-0.1, 1, 0}, Vec3{2, 0, 0}, Vec3{0, 0, 0}})
        EXPECT_EQ(point_triangle(p, ta, tb, tc), 0) << p[0] << ' ' << p[1];
    EXPECT_EQ(stop_lines([&] {
                  point_triangle({1, 1, 0}, ta, {1, 1, 0}, {2, 2, 7});
              }),
              Lines{"POINT A B C ARE NOT VERTEXES OF A TRIANGLE"});

    // The first small integer vector perpendicular in the search order; none possible stops.
    const std::pair<Vec3, Vec3> cases[] = {
        {{1, 1, 1}, {1, 0, -1}}, {{1, 1, 0}, {0, 0, 1}}, {{1, 2, 3}, {1, 1, -1}}};
    for (const auto& [v, w] : cases) EXPECT_EQ(perpendicular_vector(v), w) << v[0] << v[1] << v[2];
    for (const Vec3 v : {Vec3{0, 0, 0}, Vec3{1.0, std::sqrt(2.0), std::acos(-1.0)}})
        EXPECT_EQ(stop_lines([&] { perpendicular_vector(v); }).size(), 1u) << v[1];
}

// A process keeps the integrals it computed: a later list, in another order and with new
// reflections, gets each reflection's own values, and a change of voltage or of absorption is
// computed afresh.
TEST(BirdKing, KeptIntegralsBelongToTheirReflection) {
    const std::vector<Reflection> first{{3, {1, 1, 1}}, {1, {1, 1, 1}}};
    const std::vector<Reflection> later{{1, {1, 1, 1}}, {2, {1, 1, 1}}, {3, {1, 1, 1}}};
    const auto a = birdking(300000.0, "Ag", first, 1), b = birdking(300000.0, "Ag", later, 1);
    const auto fresh = birdking(300000.0, "Ag", 2, {1, 1, 1}, 1);
    EXPECT_EQ(std::tuple(b.u[0], b.ui[0], b.u[2], b.ui[2], b.ui[1]),
              std::tuple(a.u[1], a.ui[1], a.u[0], a.ui[0], fresh.ui[1]));
    EXPECT_NE(birdking(200000.0, "Ag", first, 1).ui[0], a.ui[0]);
    EXPECT_EQ(birdking(300000.0, "Ag", first, 0).ui, std::vector<double>(2, 0.0));
}

// The absorptive coefficients against independent evaluations of the Bird-King integral.
TEST(BirdKing, ScatteringCoefficientsAbsorptionAndTheirIntegrals) {
    const auto zero = birdking(200000.0, "Cu", 1, {0, 0, 0}, 1);
    const auto row = birdking(200000.0, "Cu", 2, {2, 0, 0}, 1);
    const Optics o = optics(200000.0, "Cu");
    const double pre = o.p * 2.0 * o.gamma * o.lambda;
    EXPECT_TRUE(near_rel(zero.ui[0], pre * bird_king_radial("Cu", o.b), 2e-5));
    for (int m = 1; m <= 2; ++m) {
        const double s = m * 2.0 / (2.0 * 3.61);
        const double expect = pre * bird_king_polar("Cu", s, o.b) * std::exp(-o.b * s * s);
        EXPECT_TRUE(near_rel(row.ui[static_cast<std::size_t>(m - 1)], expect, 1e-4)) << m;
    }
    // Absorption is a few per cent of the real potential at low order.
    EXPECT_TRUE(zero.ui[0] / zero.u[0] > 0.01 && zero.ui[0] / zero.u[0] < 0.1) << zero.ui[0];
    EXPECT_EQ(zero.notes + row.notes, "");

    // U_g = P f(s) exp(-B s^2) times the structure factor of the cell over its atoms: 1 for the
    // allowed reflections of fcc and bcc, zero for the forbidden ones (fcc mixed parity, bcc h + k
    // + l odd, negative indices included, U and U' alike); diamond adds the phase of its second fcc
    // sub-lattice. The reflections of a row are the multiples m (h k l); without absorption U' is
    // zero; an empty row has no coefficients but still the lattice constant.
    auto u = [&](const char* el, std::array<int, 3> hkl, int m, int iabs = 1) {
        const auto r = birdking(200000.0, el, m, hkl, iabs);
        EXPECT_EQ(std::pair(r.a, r.notes), std::pair(crystalparameter(el).a, std::string()));
        return r.u.empty() ? std::pair{0.0, 0.0} : std::pair{r.u.back(), r.ui.back()};
    };
    const std::tuple<const char*, std::array<int, 3>, int, int> cases[] = {
        {"Cu", {1, 0, 0}, 3, 0}, {"Al", {1, 1, 1}, 1, 1}, {"Fe", {-1, 0, 0}, 1, 0},
        {"Mo", {1, 1, 0}, 1, 1}, {"Si", {2, 0, 0}, 1, 0}, {"Si", {2, 0, 0}, 2, -1}};
    for (const auto& [el, hkl, m, sign] : cases) {
        const auto [re, im] = u(el, hkl, m);
        EXPECT_EQ(std::pair((re > 0) - (re < 0), (im > 0) - (im < 0)), std::pair(sign, sign))
            << el << hkl[0] << hkl[1] << hkl[2] << m;
    }
    EXPECT_EQ(u("Cu", {1, 0, 0}, 2), u("Cu", {2, 0, 0}, 1));
    auto in_phase = [&](const char* el, double s) {
        const Optics e = optics(200000.0, el);
        return e.p * cal_fab(el, s) * std::exp(-e.b * s * s);
    };
    for (int m = 1; m <= 3; ++m) {
        const auto [re, im] = u("Cu", {2, 0, 0}, m, 0);
        EXPECT_TRUE(near_rel(re, in_phase("Cu", m / 3.61), 1e-12)) << m;
        EXPECT_EQ(im, 0.0);
    }
    const double phase[] = {std::cos(3.0 * kPi / 4.0), 0.0, std::cos(9.0 * kPi / 4.0), -1.0};
    for (int m = 1; m <= 4; ++m)
        EXPECT_TRUE(near_rel(u("Si", {1, 1, 1}, m).first,
                             phase[m - 1] * in_phase("Si", m * std::sqrt(3.0) / (2.0 * 5.42)),
                             1e-12))
            << m;
    EXPECT_TRUE(near_rel(u("Si", {0, 0, 0}, 1).first, in_phase("Si", 0.0), 1e-12));
    EXPECT_EQ(u("Fe", {1, 1, 0}, 0), std::pair(0.0, 0.0));

    // Beyond s = 2 the Mott-Bethe tail Z 0.0239337 Angstrom / (s^2 + E), meeting the table there;
    // symbols named by their first two characters, unknown ones leaving the value alone.
    const double tail = 29 * 0.023933671181035725, offset = tail / cal_fab("Cu", 2.0) - 4.0;
    EXPECT_DOUBLE_EQ(cal_fab("Cu", 3.0), tail / (9.0 + offset));
    EXPECT_NEAR(cal_fab("Cu", 1.999999999999), cal_fab("Cu", 2.0), 1e-12);
    EXPECT_EQ(cal_fab("Cu", 0.0), cal_fab("Cu-annealed", 0.0));
    for (const char* sym : {"Fe", "Si", "Au", "Ag", "Al", "Mo"})
        EXPECT_TRUE(has_scattering_table(sym) && cal_fab(sym, 1.99) > cal_fab(sym, 2.01)) << sym;
    EXPECT_FALSE(has_scattering_table("Li") || has_scattering_table("cu"));
    EXPECT_EQ(cal_fab("Li", 0.3, -7.0) + cal_fab("C", 0.3, 1.5), -5.5);

    // Against analytic integrals: the area of a disc (the square-root edge of the outer integrand
    // is the hard case), and int_0^1 x int_0^x y^2 dy dx = 1/15 (the outer weight multiplies the
    // inner integral). Tolerances that can never be met: each inner integral gives up after 20
    // levels with a message, and the outer level stops the run after 80.
    std::string log;
    auto disc = [](double x) {
        const double y = std::sqrt(std::max(0.0, 400.0 - x * x));
        return Range{-y, y};
    };
    auto one = [](double) { return 1.0; };
    auto flat = [](double, double) { return 1.0; };
    EXPECT_TRUE(near_rel(gauss2(-20, 20, 1e-4, 1e-6, disc, one, flat, log), 400.0 * kPi, 1e-5));
    auto tri = [](double x) { return Range{0.0, x}; };
    auto x_times = [](double x) { return x; };
    auto y2 = [](double, double y) { return y * y; };
    EXPECT_TRUE(near_rel(gauss2(0, 1, 1e-4, 1e-6, tri, x_times, y2, log), 1.0 / 15.0, 1e-13));
    EXPECT_EQ(log, "");
    auto square = [](double) { return Range{0.0, 1.0}; };
    auto xy = [](double x, double y) { return x * y; };
    EXPECT_EQ(stop_lines([&] { gauss2(0, 1, 0.0, 0.0, square, one, xy, log); }),
              Lines{" number of iterations = 80 = limiting value"});
    EXPECT_EQ(log.rfind("  number of iterations = 20 = limiting value\n", 0), 0u) << log;
}
