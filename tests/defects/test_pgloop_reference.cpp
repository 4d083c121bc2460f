// The loop models' fast field against the straightforward evaluation: every angular
// dislocation through cal_strain_anglur (the nine gradient vectors, one quotient per term),
// contracted with the side's Burgers vector and g and turned back to the sample frame, side
// after side, face after face.
//
// Far from a loop the sides' fields cancel to a small remainder, and so do the terms inside
// each angular dislocation; there the reference's own rounding error reaches 1e-9 of its
// value, and any other order of the same sums differs from it by as much. The two are
// therefore compared against the sum of the magnitudes of the terms that are added up (the
// scale of the rounding error of any such sum): they must agree to 1e-12 of it.
#include "defects/angular_dislocation.hpp"
#include "defects/defect.hpp"
#include "defects/pgloop.hpp"
#include "fixture.hpp"
#include "state/fmt.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <random>
#include <sstream>
#include <vector>

using namespace korvex;
using korvex::testing::config;
using korvex::testing::cu_state;
using korvex::testing::Grid;
using korvex::testing::ScratchDir;

namespace {

constexpr double kPi = 3.141592653589793;

constexpr double kTolerance = 1e-12;

// sum over i, c of |g_i b_c G_ic|, G_ic the gradient of u_i for a unit Burgers component c.
Vec3 term_magnitudes(const AngularGradients& a, const Vec3& b, const Vec3& g) {
    const std::array<std::array<const Vec3*, 3>, 3> grad{{
        {&a.ux, &a.uy, &a.uz},
        {&a.vx, &a.vy, &a.vz},
        {&a.wx, &a.wy, &a.wz},
    }};
    Vec3 m{};
    for (std::size_t q = 0; q < 3; ++q)
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t c = 0; c < 3; ++c) m[q] += std::abs(g[i] * b[c] * (*grad[i][c])[q]);
    return m;
}

Mat3 abs(Mat3 t) {
    for (double& v : t.a) v = std::abs(v);
    return t;
}

// The loop's field, term by term.
class ReferenceLoop {
  public:
    ReferenceLoop(const State& st, const PgLoopFile& f) : n_(f.nsides) {
        const double alpha = kPi / n_, beta = 2.0 * kPi / n_;
        rc_ = f.radius * std::cos(alpha);
        rs_ = f.radius * std::sin(alpha);
        cb_ = std::cos(beta);
        sb_ = std::sin(beta);
        nu_ = f.poissonsratio;
        eps_ = f.correction;
        const Vec3 lz = cross_product(f.normal, f.polar);
        const Mat3 t1 = coordinates_transfer(st.co_x, cross_product(st.foil, st.co_x), st.foil,
                                             f.normal, f.polar, lz);
        const Mat3 t1c =
            coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, f.normal, f.polar, lz);
        const Vec3 b = scaled(f.b_dir, f.b_m / f.b_n);
        for (int k = 0; k < n_; ++k) {
            const double theta = 2.0 * kPi * k / n_;
            Mat3 rk;
            rk(1, 1) = 1.0;
            rk(2, 2) = std::cos(theta);
            rk(2, 3) = std::sin(theta);
            rk(3, 2) = -std::sin(theta);
            rk(3, 3) = std::cos(theta);
            t2_.push_back(mul(rk, t1));
            b_.push_back(mul(mul(rk, t1c), b));
            g_.push_back(mul(mul(rk, t1c), st.v_g));
        }
    }

    // grad (g . u) at p, and in `scale` the sum of the magnitudes of its terms.
    Vec3 gradient(const Vec3& p, Vec3& scale) const {
        Vec3 grad{};
        scale = {};
        Vec3 prev = mul(t2_.back(), p);
        for (std::size_t k = 0; k < t2_.size(); ++k) {
            const Vec3 xi = mul(t2_[k], p);
            const AngularGradients a = cal_strain_anglur(
                xi[0], xi[1] - rc_, xi[2] + rs_, prev[1] - rc_, prev[2] - rs_, cb_, sb_, nu_, eps_);
            const Vec3 s = mul_t(t2_[k], contract_gradients(a, b_[k], g_[k]));
            const Vec3 m = mul_t(abs(t2_[k]), term_magnitudes(a, b_[k], g_[k]));
            for (int q = 0; q < 3; ++q) {
                grad[q] += s[q];
                scale[q] += m[q];
            }
            prev = xi;
        }
        return grad;
    }

  private:
    int n_;
    double rc_, rs_, cb_, sb_, nu_, eps_;
    std::vector<Mat3> t2_;
    std::vector<Vec3> b_, g_;
};

struct ReferenceSlice {
    Array3<double> sgr;   // s_g_r
    Array3<double> scale; // the sum of the magnitudes of its terms
};

// s_g_r of the slice from the loops in `files`, added up in that order.
ReferenceSlice reference_slice(const State& st, const std::vector<std::string>& files, int islice) {
    const int nx = st.n_xyz[0], ny = st.n_xyz[1], nb = st.n_beams;
    ReferenceSlice out{Array3<double>(nx, ny, nb), Array3<double>(nx, ny, nb)};
    const BeamTilts tilts = beam_tilts(st);
    const bool lateral = trim(st.ca) == "no";
    for (const std::string& file : files) {
        const PgLoopFile f = read_pgloop_file(file);
        const ReferenceLoop loop(st, f);
        const double z = (islice - 0.5) * st.size[2] / st.n_xyz[2] - f.position[2];
        for (int j = 1; j <= ny; ++j)
            for (int i = 1; i <= nx; ++i) {
                const Vec3 p{(i - 0.5) * st.size[0] / nx - f.position[0],
                             (j - 0.5) * st.size[1] / ny - f.position[1], z};
                Vec3 s{};
                Vec3 g = loop.gradient(p, s);
                if (!std::isfinite(g[0]) || !std::isfinite(g[1]) || !std::isfinite(g[2]))
                    g = s = {};
                for (int n = 1; n <= nb; ++n) {
                    const int m = tilts.order(n);
                    const double t = tilts.tan_tilt(n);
                    out.sgr(i, j, n) += m == 0 ? 0.0 : lateral ? m * (g[0] * t + g[2]) : m * g[2];
                    out.scale(i, j, n) +=
                        std::abs(m) * (lateral ? s[0] * std::abs(t) + s[2] : s[2]);
                }
            }
    }
    return out;
}

// Every column and beam of `sgr` agrees with the reference.
void expect_matches(const Array3<double>& sgr, const ReferenceSlice& ref, const std::string& what) {
    int bad = 0;
    for (int n = 1; n <= sgr.n3(); ++n)
        for (int j = 1; j <= sgr.n2(); ++j)
            for (int i = 1; i <= sgr.n1(); ++i) {
                const double d = std::abs(sgr(i, j, n) - ref.sgr(i, j, n));
                if (d <= kTolerance * ref.scale(i, j, n)) continue;
                if (++bad <= 5)
                    ADD_FAILURE() << what << ": column " << i << ' ' << j << " beam " << n << ": "
                                  << sgr(i, j, n) << " against " << ref.sgr(i, j, n)
                                  << ", term scale " << ref.scale(i, j, n);
            }
    EXPECT_EQ(bad, 0) << what;
}

struct Slice {
    ScratchDir dir;
    State st;
    explicit Slice(const std::string& ca, int nx = 256, int ny = 256)
        : st(cu_state(ca, Grid{nx, ny, 300, 256.0, 256.0, 300.0})) {
        st.rundir = dir.str();
    }
    // Runs the model `model` on the configuration `text` for slice `islice`.
    void run(int model, const std::string& name, const std::string& text, int islice) {
        dir.write(name, text);
        st.f_defect = dir.str() + name;
        st.defect_model = model;
        make_defect_field(st)->fill_slice(st, islice);
    }
};

// A faulted hexagon of radius 60 on (111) in the middle of the 256 x 256 x 300 block.
std::string hexagon(const std::string& burgers, double correction) {
    return config("{Data for the polygonal loop in Crystal}",
                  {"faulted", burgers, "1 3 1 1 1", "60.0", "128 128 150", "1 1 1", "1 -1 0", "6",
                   "0.3", std::to_string(correction)});
}

} // namespace

TEST(PgLoopReference, ContractedFieldOfOneAngularDislocation) {
    // Random points around the vertex, many close to the legs (along z, and in the y-z plane
    // at beta from it) and to the plane x = 0, for the vertex angles of polygons of 3 to 12
    // sides, with and without a core term, random Burgers vectors and g.
    std::mt19937 gen(17);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    int checked = 0;
    for (int nsides : {3, 4, 6, 12})
        for (double eps : {0.0, 1.0}) {
            const double beta = 2.0 * kPi / nsides, cb = std::cos(beta), sb = std::sin(beta);
            const AngularConstants c(cb, sb, 0.3, eps);
            for (int trial = 0; trial < 4000; ++trial) {
                const Vec3 b{u(gen), u(gen), u(gen)}, g{3 * u(gen), 3 * u(gen), 3 * u(gen)};
                const double along = 200.0 * u(gen), off = std::pow(10.0, 2.0 * u(gen));
                double x = off * u(gen), y = 100.0 * u(gen), z = 100.0 * u(gen);
                // Without a core term the formula itself loses its digits within a core
                // radius of a leg (r - zeta or r - z vanishes there): near the legs only with it.
                const int kind = eps > 0.0 ? trial % 4 : trial % 2 * 3;
                switch (kind) {
                case 1: // near the leg along z
                    y = off * u(gen);
                    z = along;
                    break;
                case 2: // near the leg along (0, sin beta, cos beta)
                    y = along * sb + off * u(gen) * cb;
                    z = along * cb - off * u(gen) * sb;
                    break;
                case 3: // near the plane of the legs
                    x = 1e-3 * off * u(gen);
                    break;
                default:
                    x = 100.0 * u(gen);
                }
                const double eta = y * cb - z * sb, zeta = y * sb + z * cb;
                const AngularGradients a = cal_strain_anglur(x, y, z, eta, zeta, cb, sb, 0.3, eps);
                const Vec3 ref = contract_gradients(a, b, g);
                const Vec3 scale = term_magnitudes(a, b, g);
                const Vec3 fast =
                    angular_gradient_dot(x, y, z, eta, zeta, c, AngularWeights(b, g, sb));
                for (std::size_t q = 0; q < 3; ++q) {
                    ASSERT_TRUE(std::isfinite(ref[q]));
                    ASSERT_LE(std::abs(fast[q] - ref[q]), kTolerance * scale[q])
                        << "sides " << nsides << " core " << eps << " point " << x << ' ' << y
                        << ' ' << z << " component " << q << ": " << fast[q] << " against "
                        << ref[q];
                    ++checked;
                }
            }
        }
    EXPECT_EQ(checked, 4 * 2 * 4000 * 3);

    // On a leg without a core term the field is undefined in both forms (the loop model then
    // leaves the column unstrained).
    const double cb = 0.5, sb = std::sqrt(0.75);
    const AngularConstants c(cb, sb, 0.3, 0.0);
    const Vec3 b{0.2, -0.4, 0.7}, g{1.0, 2.0, -1.0};
    for (const Vec3& p : {Vec3{0.0, 0.0, 5.0}, Vec3{0.0, 5.0 * sb, 5.0 * cb}}) {
        const double eta = p[1] * cb - p[2] * sb, zeta = p[1] * sb + p[2] * cb;
        const Vec3 ref = contract_gradients(
            cal_strain_anglur(p[0], p[1], p[2], eta, zeta, cb, sb, 0.3, 0.0), b, g);
        const Vec3 fast =
            angular_gradient_dot(p[0], p[1], p[2], eta, zeta, c, AngularWeights(b, g, sb));
        EXPECT_FALSE(std::isfinite(ref[0]) && std::isfinite(ref[1]) && std::isfinite(ref[2]));
        EXPECT_FALSE(std::isfinite(fast[0]) && std::isfinite(fast[1]) && std::isfinite(fast[2]));
    }
}

TEST(PgLoopReference, HexagonSlicesMatchTheTermByTermField) {
    // The Frank loop has its Burgers vector along the normal, which leaves the terms of the
    // in-plane components unweighted; the mixed loop weights them all.
    for (const char* burgers : {"1 3 1 1 1", "1 2 0 1 1"})
        for (const char* ca : {"no", "yes"})
            for (int islice : {100, 150, 151}) {
                Slice s(ca);
                s.run(5, "pgLoop.ini", hexagon(burgers, islice == 151 ? 0.0 : 1.0), islice);
                expect_matches(
                    s.st.s_g_r, reference_slice(s.st, {s.dir.str() + "pgLoop.ini"}, islice),
                    std::string("b ") + burgers + " ca " + ca + " slice " + std::to_string(islice));
            }
}

TEST(PgLoopReference, RowsOfOddLengthKeepTheirLastColumn) {
    // The columns are taken two at a time; the last of an odd row alone.
    Slice s("no", 37, 23);
    s.run(5, "pgLoop.ini", hexagon("1 2 0 1 1", 1.0), 150);
    const ReferenceSlice ref = reference_slice(s.st, {s.dir.str() + "pgLoop.ini"}, 150);
    expect_matches(s.st.s_g_r, ref, "37 x 23 columns");
    EXPECT_NE(ref.sgr(37, 23, 3), 0.0);
}

TEST(PgLoopReference, TetrahedronSlicesMatchTheTermByTermField) {
    std::ostringstream t;
    t << "   {Data for the stacking fault tetrahedron}\n"
      << std::string(67, '=') << "\nfaulted\n128 128 150\n100.0\n0.3\n1.0\n";
    for (const char* ca : {"no", "yes"})
        for (int islice : {120, 150}) {
            Slice s(ca);
            s.run(6, "tetrahedron.ini", t.str(), islice);
            std::vector<std::string> faces;
            for (const char* f : {"alpha", "beta", "gamma", "delta"})
                faces.push_back(s.dir.str() + f + ".ini");
            expect_matches(s.st.s_g_r, reference_slice(s.st, faces, islice),
                           std::string("ca ") + ca + " slice " + std::to_string(islice));
        }
}
