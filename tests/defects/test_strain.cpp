// Strain field from gradient files: checks, messages, the sign of the depth derivative, the
// streamed reading against reading the files from their start, and agreement with the
// analytic edge-dislocation field.
#include "defects/defect.hpp"
#include "defects/gradient_files.hpp"
#include "optics/vectors.hpp"
#include "state/reader.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <fstream>

using namespace korvex;
using korvex::testing::ScratchDir;
using korvex::testing::stop_lines;

namespace {

const std::array<const char*, 3> kSuffix{".dX", ".dY", ".dZ"};

// Cu, g = (2 0 0), zone [001], 200 kV, beams -1..3 in the condition (g, 1g).
State strain_state(const std::string& f_defect, const std::string& ca, std::array<int, 3> n,
                   Vec3 size) {
    State st;
    st.n_pixel_x = n[0];
    st.n_pixel_y = n[1];
    st.n_slice = n[2];
    st.n_beams = 5;
    allocate_arrays(st);
    st.size = size;
    st.n_xyz = n;
    st.size_x = size[0];
    st.size_y = size[1];
    st.size_z = size[2];
    st.foil = {0, 0, 1};
    st.v_g = {2, 0, 0};
    st.co_x = st.v_g;
    st.lat_c = 3.61;
    st.g = magnitude(st.v_g) / st.lat_c;
    st.k = 39.8884;
    st.ca = ca;
    st.defect = "3D-strain";
    st.defect_model = 7;
    st.f_defect = f_defect;
    const double t = 0.5 * st.g, kz0 = std::sqrt(st.k * st.k - t * t);
    for (int b = 1; b <= st.n_beams; ++b) {
        st.mtx_beams(b) = b - 2;
        st.mtx_g(b) = st.mtx_beams(b) * st.g;
        st.mtx_q(b) = ca == "yes" ? cplx{} : cplx(0.0, std::atan((st.mtx_g(b) - t) / kz0));
    }
    return st;
}

GradientBox box_of(const State& st) {
    GradientBox b;
    b.size = st.size;
    b.cells = st.n_xyz;
    b.foil = st.foil;
    b.v_g = st.v_g;
    b.lat_c = st.lat_c;
    return b;
}

std::string config(const std::string& base) {
    return "{Data for the strain field of an atomistic box}\n" + std::string(67, '=') + "\n'" +
           base + "'   base name of the gradient files\n";
}

// The edge dislocation used by several tests: b = 1/2[110], line [1-10] through the middle.
EdgeDislocation test_edge(const State& st) {
    EdgeDislocation e;
    e.b_m = 1;
    e.b_n = 2;
    e.b_dir = {1, 1, 0};
    e.line = {1, -1, 0};
    e.point = {0.5 * st.size[0] + 0.3, 0.5 * st.size[1] - 0.2, 0.5 * st.size[2] + 0.1};
    e.nu = 0.3;
    e.r0 = 1.0;
    return e;
}

// A strain run in a scratch directory: configuration "strain.ini" naming base "box".
struct StrainRun {
    ScratchDir dir;
    std::string base = dir.str() + "box";
    State st;
    StrainRun(const std::string& ca, std::array<int, 3> n, Vec3 size)
        : st(strain_state(dir.str() + "strain.ini", ca, n, size)) {
        dir.write("strain.ini", config(base));
    }
    void write(const GradientFn& f) { write_gradient_files(base, box_of(st), f); }
};

// What reading the files from their start for one slice gives (x, y, z derivative records of
// the wanted slice, every record of the files read).
std::array<std::vector<Vec3>, 3> reread_slice(const std::string& base, const State& st,
                                              int islice) {
    std::array<std::vector<Vec3>, 3> out;
    for (std::size_t f = 0; f < 3; ++f) {
        RecordReader r(base + kSuffix[f]);
        r.skip(12);
        for (int l = 1; l <= st.n_xyz[2]; ++l)
            for (int c = 0; c < st.n_xyz[0] * st.n_xyz[1]; ++c) {
                Vec3 v{};
                r.read(v);
                if (l == islice) out[f].push_back(v);
            }
    }
    return out;
}

// s_g_r(i, j, n) from one slice of gradients.
double reference_term(const State& st, const std::array<std::vector<Vec3>, 3>& d, int i, int j,
                      int n) {
    const BeamTilts bt = beam_tilts(st);
    const double gl = magnitude(st.v_g);
    const Vec3 gh{st.g * st.v_g[0] / gl, st.g * st.v_g[1] / gl, st.g * st.v_g[2] / gl};
    const std::size_t c = static_cast<std::size_t>((i - 1) + st.n_xyz[0] * (j - 1));
    const double gx = gh[0] * d[0][c][0] + gh[1] * d[0][c][1] + gh[2] * d[0][c][2];
    const double gz = gh[0] * d[2][c][0] + gh[1] * d[2][c][1] + gh[2] * d[2][c][2];
    const double m = bt.order(n);
    return st.ca == "yes" ? -(m * gz) : m * (bt.tan_tilt(n) * gx - gz);
}

void expect_reference(const StrainRun& run, int islice) {
    const auto d = reread_slice(run.base, run.st, islice);
    const State& st = run.st;
    for (int n = 1; n <= st.n_beams; ++n)
        for (int j = 1; j <= st.n_xyz[1]; ++j)
            for (int i = 1; i <= st.n_xyz[0]; ++i)
                ASSERT_EQ(st.s_g_r(i, j, n), reference_term(st, d, i, j, n))
                    << "slice " << islice << " column " << i << "," << j << " beam " << n;
}

} // namespace

TEST(Strain, ZeroGradientGivesNoStrain) {
    for (const char* ca : {"yes", "no"}) {
        StrainRun run(ca, {6, 4, 5}, {6.0, 4.0, 5.0});
        run.write(zero_gradient);
        auto field = make_defect_field(run.st);
        for (int l = 1; l <= 5; ++l) {
            run.st.s_g_r.fill(9.0);
            field->fill_slice(run.st, l);
            for (std::size_t k = 0; k < run.st.s_g_r.size(); ++k)
                ASSERT_EQ(run.st.s_g_r.data()[k], 0.0) << ca << " slice " << l;
        }
    }
}

// Hand-written files on a 1 x 1 x 1 grid: the depth derivative enters with a negative sign,
// the y derivatives are read but unused, and the transmitted beam gets nothing.
TEST(Strain, DepthDerivativeEntersNegatively) {
    for (const char* ca : {"yes", "no"}) {
        StrainRun run(ca, {1, 1, 1}, {2.0, 3.0, 4.0});
        const std::string head = " nx\n 1\n ny\n 1\n nz\n 1\n dx\n 2.0\n dy\n 3.0\n dz\n 4.0\n";
        run.dir.write("box.dX", head + " 0.02 0.3 0.4\n");
        run.dir.write("box.dY", head + " 1e3 -2e3 5e2\n");
        run.dir.write("box.dZ", head + " 0.01, 0.7, 0.9   trailing label\n");
        auto field = make_strain_field();
        field->fill_slice(run.st, 1);
        const State& st = run.st;
        const BeamTilts bt = beam_tilts(st);
        const double gx = st.g * 0.02, gz = st.g * 0.01; // g along [100]
        for (int n = 1; n <= st.n_beams; ++n) {
            const int m = st.mtx_beams(n);
            const double want = std::string(ca) == "yes" ? -m * gz : m * (bt.tan_tilt(n) * gx - gz);
            EXPECT_NEAR(st.s_g_r(1, 1, n), want, 1e-16) << ca << " beam " << n;
        }
        EXPECT_EQ(st.s_g_r(1, 1, 2), 0.0); // transmitted beam
        EXPECT_LT(st.s_g_r(1, 1, 3), 0.0); // beam g: -g dRx/dz with dRx/dz > 0 in the file
    }
}

TEST(Strain, GridMismatchesStopAtTheFirstSlice) {
    const char* counts = "The numbers of cells in system and atomic box are not coincide";
    const char* units = "The units of cells in system and atomic box are not coincide";
    {
        StrainRun run("no", {4, 3, 5}, {4.0, 3.0, 5.0});
        GradientBox other = box_of(run.st);
        other.cells[2] = 6;
        other.size[2] = 6.0; // same cell size, one slice more
        write_gradient_files(run.base, other, zero_gradient);
        auto field = make_strain_field();
        EXPECT_EQ(stop_lines([&] { field->fill_slice(run.st, 1); }),
                  std::vector<std::string>{counts});
    }
    {
        StrainRun run("no", {4, 3, 5}, {4.0, 3.0, 5.0});
        GradientBox other = box_of(run.st);
        other.size[1] = 3.3; // same counts, cells 1.1 Angstrom wide along y
        write_gradient_files(run.base, other, zero_gradient);
        auto field = make_strain_field();
        EXPECT_EQ(stop_lines([&] { field->fill_slice(run.st, 1); }),
                  std::vector<std::string>{units});
    }
    {
        // Only the ".dX" header disagrees: every file must describe the grid.
        StrainRun run("no", {4, 3, 5}, {4.0, 3.0, 5.0});
        run.write(zero_gradient);
        GradientBox other = box_of(run.st);
        other.cells[0] = 2;
        other.size[0] = 2.0;
        write_gradient_files(run.dir.str() + "other", other, zero_gradient);
        std::filesystem::rename(run.dir.str() + "other.dX", run.base + ".dX");
        auto field = make_strain_field();
        EXPECT_EQ(stop_lines([&] { field->fill_slice(run.st, 1); }),
                  std::vector<std::string>{counts});
    }
}

TEST(Strain, MissingFileStopsEvenWhenUnused) {
    const std::array<const char*, 3> msg{
        "error in reading the input file for the strin field dU/dX",
        "error in reading the input file for the strin field dU/dY",
        "error in reading the input file for the strin field dU/dZ"};
    for (std::size_t f = 0; f < 3; ++f) {
        StrainRun run("yes", {3, 2, 2}, {3.0, 2.0, 2.0});
        run.write(zero_gradient);
        std::filesystem::remove(run.base + kSuffix[f]);
        auto field = make_strain_field();
        EXPECT_EQ(stop_lines([&] { field->fill_slice(run.st, 1); }),
                  std::vector<std::string>{msg[f]});
    }
}

TEST(Strain, ColumnApproximationOtherThanYesOrNoStops) {
    StrainRun run("half", {3, 2, 2}, {3.0, 2.0, 2.0});
    run.write(zero_gradient);
    auto field = make_strain_field();
    EXPECT_EQ(stop_lines([&] { field->fill_slice(run.st, 1); }),
              std::vector<std::string>{"Please make right choice for the Column Approximation"});
}

// Streaming gives, slice after slice, what reading the files from the start gives; so do a
// second pass through the foil and a jump over slices.
TEST(Strain, StreamingEqualsRereading) {
    for (const char* ca : {"no", "yes"}) {
        StrainRun run(ca, {7, 5, 6}, {14.0, 5.0, 9.0});
        run.write(EdgeGradient(test_edge(run.st), box_of(run.st)));
        auto field = make_defect_field(run.st);
        for (int pass = 0; pass < 2; ++pass)
            for (int l = 1; l <= 6; ++l) {
                field->fill_slice(run.st, l);
                expect_reference(run, l);
            }
        field->fill_slice(run.st, 2);
        expect_reference(run, 2);
        field->fill_slice(run.st, 5);
        expect_reference(run, 5);
        field->fill_slice(run.st, 1);
        expect_reference(run, 1);
    }
}

// A file that ends early or holds a record that is not a number stops the run with the
// reader's message naming the file and the record; the slices before it are served.
TEST(Strain, ShortOrBadFileStopsWithTheReadersMessage) {
    {
        StrainRun run("no", {3, 2, 3}, {3.0, 2.0, 3.0});
        run.write(zero_gradient);
        auto lines = korvex::testing::read_lines(run.base + ".dZ");
        lines.pop_back();
        std::ofstream(run.base + ".dZ") << [&] {
            std::string s;
            for (const auto& l : lines) s += l + "\n";
            return s;
        }();
        auto field = make_strain_field();
        field->fill_slice(run.st, 1);
        field->fill_slice(run.st, 2);
        try {
            field->fill_slice(run.st, 3);
            ADD_FAILURE() << "a short file must stop the run";
        } catch (const ReadError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("box.dZ"), std::string::npos) << m;
            EXPECT_NE(m.find("29"), std::string::npos) << m; // 12 + 17 records
        }
    }
    {
        // Slice 2 (records 19..24): ".dZ" bad at its second cell, ".dX" at its fourth. Read
        // in step, the ".dZ" record comes first.
        StrainRun run("no", {3, 2, 3}, {3.0, 2.0, 3.0});
        run.write(zero_gradient);
        auto spoil = [&](const char* suffix, int record) {
            auto lines = korvex::testing::read_lines(run.base + suffix);
            lines[static_cast<std::size_t>(record - 1)] = " 0 zero 0";
            std::string s;
            for (const auto& l : lines) s += l + "\n";
            std::ofstream(run.base + suffix) << s;
        };
        spoil(".dZ", 20);
        spoil(".dX", 22);
        auto field = make_strain_field();
        field->fill_slice(run.st, 1);
        try {
            field->fill_slice(run.st, 2);
            ADD_FAILURE() << "a bad record must stop the run";
        } catch (const ReadError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("box.dZ\", record 20"), std::string::npos) << m;
        }
    }
}

// Gradient files made from the analytic edge field give the edge model's strain term:
// m_n (G1 tan + G3) with G(e) = |b| sum_r S(e, r) g'(r), written out here in the dislocation
// frame, independently of the displacement gradients the files hold.
TEST(Strain, EdgeFieldFilesMatchTheEdgeFormula) {
    for (const char* ca : {"no", "yes"}) {
        StrainRun run(ca, {9, 8, 7}, {18.0, 16.0, 14.0});
        State& st = run.st;
        const EdgeDislocation e = test_edge(st);
        run.write(EdgeGradient(e, box_of(st)));

        const Vec3 b = scaled(e.b_dir, e.b_m / e.b_n);
        const Vec3 e2 = cross_product(e.line, b);
        const Mat3 t =
            coordinates_transfer(st.v_g, cross_product(st.foil, st.v_g), st.foil, b, e2, e.line);
        const Mat3 t0 = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, b, e2, e.line);
        const Vec3 gp = mul(t0, st.v_g);
        const double nu = e.nu, pi2 = 2.0 * std::acos(-1.0);
        const BeamTilts bt = beam_tilts(st);

        auto field = make_strain_field();
        double largest = 0.0;
        for (int l = 1; l <= st.n_xyz[2]; ++l) {
            field->fill_slice(st, l);
            for (int j = 1; j <= st.n_xyz[1]; ++j)
                for (int i = 1; i <= st.n_xyz[0]; ++i) {
                    const Vec3 p{(i - 0.5) * 2.0 - e.point[0], (j - 0.5) * 2.0 - e.point[1],
                                 (l - 0.5) * 2.0 - e.point[2]};
                    const Vec3 q = mul(t, p);
                    const double x = q[0], y = q[1];
                    const double r = std::hypot(x, y) + e.r0, r2 = r * r, r4 = r2 * r2;
                    Mat3 d; // d(q, r) = du_r / dx'_q
                    d(1, 1) = ((y * y - x * x) * y / (2 * (1 - nu)) / r4 - y / r2) / pi2;
                    d(2, 1) = ((x * x - y * y) * x / (2 * (1 - nu)) / r4 + x / r2) / pi2;
                    d(1, 2) =
                        -(x * y * y / ((1 - nu) * r4) + x * (1 - 2 * nu) / (2 * (1 - nu)) / r2) /
                        pi2;
                    d(2, 2) =
                        -(y * (1 - 2 * nu) / (2 * (1 - nu)) / r2 - y * x * x / ((1 - nu) * r4)) /
                        pi2;
                    Vec3 g{};
                    for (int a = 1; a <= 3; ++a)
                        for (int rr = 1; rr <= 3; ++rr)
                            for (int qq = 1; qq <= 3; ++qq)
                                g[static_cast<std::size_t>(a - 1)] +=
                                    magnitude(b) * t(qq, a) * d(qq, rr) *
                                    gp[static_cast<std::size_t>(rr - 1)];
                    for (int n = 1; n <= st.n_beams; ++n) {
                        const int m = st.mtx_beams(n);
                        const double want = std::string(ca) == "yes"
                                                ? m * g[2]
                                                : m * (g[0] * bt.tan_tilt(n) + g[2]);
                        largest = std::max(largest, std::abs(want));
                        ASSERT_TRUE(
                            korvex::testing::near_rel(st.s_g_r(i, j, n), want, 1e-12, 1e-17))
                            << ca << " cell " << i << "," << j << "," << l << " beam " << n;
                    }
                }
        }
        EXPECT_GT(largest, 1e-3); // the field is not trivially small
    }
}
