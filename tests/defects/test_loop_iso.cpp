// Circular loop: the infinitesimal model against its displacement, the table look-up, the
// choice of far and near field, the maps written every slice.
#include "defects/defect.hpp"
#include "defects/loop_iso.hpp"
#include "loop_fixture.hpp"
#include "state/image_file.hpp"
#include "state/reader.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <filesystem>
#include <sstream>

using namespace korvex;
using korvex::testing::loop_state;
using korvex::testing::near_rel;
using korvex::testing::ScratchDir;
using korvex::testing::stop_lines;

namespace {

constexpr double kPi = 3.141592653589793;

std::string loop_ini(double radius, const std::string& model, const Vec3& pos = {16, 16, 8},
                     const Vec3& normal = {1, 1, 1}, const std::string& b = "1 3 1 1 1") {
    std::ostringstream s;
    s.precision(17);
    s << "   {Data for the circular loop}\n"
      << std::string(67, '=') << "\n"
      << b << "  Burgers vector\n"
      << radius << "  radius\n"
      << pos[0] << ' ' << pos[1] << ' ' << pos[2] << "  position\n"
      << normal[0] << ' ' << normal[1] << ' ' << normal[2] << "  normal\n"
      << "0.3  Poisson\n"
      << model << "  model\n";
    return s.str();
}

// A table whose value at (q, r) is q + 1000 r, so that the value read tells where.
std::string index_table() {
    std::string s = " header\n";
    for (int r = 1; r <= 200; ++r) {
        s += std::to_string(0.02 * r);
        for (int q = 1; q <= 200; ++q) s += ' ' + std::to_string(q + 1000 * r) + ".0";
        s += '\n';
    }
    return s;
}

std::string zero_table() {
    std::string s = " header\n";
    for (int r = 1; r <= 200; ++r) {
        s += "0.0";
        for (int q = 1; q <= 200; ++q) s += " 0.0";
        s += '\n';
    }
    return s;
}

struct LoopRun {
    ScratchDir dir;
    State st;
    std::unique_ptr<DefectField> field;
    std::ostringstream console;
    explicit LoopRun(const std::string& ini, const std::string& ca = "no", int n = 32)
        : st(loop_state(n, n, 16, n, n, 16.0, ca)) {
        dir.enter();
        dir.write("loop.ini", ini);
        st.f_out = "run.txt";
        st.defect = "loop";
        st.defect_model = 3;
        st.out = &console;
        field = make_defect_field(st);
    }
    void slice(int l) { field->fill_slice(st, l); }
};

// Displacement component along x of an infinitesimal loop of area A (Kroupa):
// u = -A / (8 pi (1 - nu)) [(1 - 2 nu)(N (B.r) + B (N.r) - (B.N) r) / r^3
//                           + 3 (N.r)(B.r) r / r^5].
double kroupa_ux(double x, double y, double z, const Vec3& N, const Vec3& B, double nu,
                 double area) {
    const double r = std::sqrt(x * x + y * y + z * z);
    const double rn = x * N[0] + y * N[1] + z * N[2], rb = x * B[0] + y * B[1] + z * B[2];
    const double bn = dot(B, N);
    return -area / (8.0 * kPi * (1.0 - nu)) *
           ((1.0 - 2.0 * nu) * (N[0] * rb + B[0] * rn - bn * x) / std::pow(r, 3) +
            3.0 * rn * rb * x / std::pow(r, 5));
}

} // namespace

TEST(LoopIso, InfinitesimalTermsAreDerivativesOfTheLoopDisplacement) {
    const double nu = 0.3, R = 5.0, b = 0.4;
    const Vec3 N = scaled(Vec3{1, 2, -2}, 1.0 / 3.0);
    const Vec3 B = scaled(Vec3{2, -1, 2}, 1.0 / 3.0);
    const double cb = -R * R * b / (8.0 * (1.0 - nu));
    const double area = kPi * R * R * b; // b folded into the area
    const double h = 1e-4;
    for (const Vec3& p : {Vec3{3.0, 1.0, 2.0}, Vec3{-4.0, 2.5, -1.5}, Vec3{0.5, -3.0, 6.0}}) {
        const LoopDerivatives d = infinitesimal_loop_terms(p[0], p[1], p[2], N, B, nu, cb);
        const double dz = (kroupa_ux(p[0], p[1], p[2] + h, N, B, nu, area) -
                           kroupa_ux(p[0], p[1], p[2] - h, N, B, nu, area)) /
                          (2 * h);
        const double dx = (kroupa_ux(p[0] + h, p[1], p[2], N, B, nu, area) -
                           kroupa_ux(p[0] - h, p[1], p[2], N, B, nu, area)) /
                          (2 * h);
        EXPECT_TRUE(near_rel(d.dz, dz, 1e-6, 1e-12));
        EXPECT_TRUE(near_rel(d.dx, dx, 1e-6, 1e-12));
    }
    const LoopDerivatives centre = infinitesimal_loop_terms(0, 0, 0, N, B, nu, cb);
    EXPECT_EQ(centre.dx, 0.0);
    EXPECT_EQ(centre.dz, 0.0);
}

TEST(LoopIso, InfinitesimalModelUsesTheLateralTermOnlyWithoutTheApproximation) {
    LoopRun no(loop_ini(8.0, "infinitesimal"), "no");
    no.slice(5);
    const Array3<double> with_tilt = no.st.s_g_r;
    no.st.ca = "half";
    no.slice(5);
    const BeamTilts t = beam_tilts(no.st);
    // Column (20, 13) of slice 5 relative to the centre (16, 16, 8).
    const double x = 19.5 - 16.0, y = 12.5 - 16.0, z = 4.5 - 8.0;
    const Vec3 N = scaled(Vec3{1, 1, 1}, 1.0 / std::sqrt(3.0)); // sample axes = crystal axes
    const double b = std::sqrt(3.0) / 3.0;
    const LoopDerivatives d = infinitesimal_loop_terms(x, y, z, N, N, 0.3, -64.0 * b / (8.0 * 0.7));
    for (int n = 1; n <= 5; ++n) {
        const double m = t.order(n);
        EXPECT_TRUE(near_rel(no.st.s_g_r(20, 13, n), m * 2.0 * d.dz, 1e-12, 1e-300)) << n;
        EXPECT_TRUE(
            near_rel(with_tilt(20, 13, n), m * 2.0 * (t.tan_tilt(n) * d.dx + d.dz), 1e-12, 1e-300))
            << n;
    }
    // The transmitted beam is never strained.
    for (int j = 1; j <= 32; ++j)
        for (int i = 1; i <= 32; ++i) ASSERT_EQ(with_tilt(i, j, 2), 0.0);
}

TEST(LoopIso, TableIndexIsTheNearestSinglePrecisionGridPoint) {
    EXPECT_EQ(loop_table_index(0.0), 1);
    EXPECT_EQ(loop_table_index(0.01), 1);
    EXPECT_EQ(loop_table_index(0.02), 1);
    EXPECT_EQ(loop_table_index(0.0299), 1);
    EXPECT_EQ(loop_table_index(0.0301), 2);
    EXPECT_EQ(loop_table_index(1.0), 50);
    // 100.5 - 1e-6 steps of exactly 0.02, but more than 100.5 steps of the single-precision
    // 0.019999999552965164: the grid of the tables decides.
    EXPECT_EQ(loop_table_index(0.02 * (100.5 - 1e-6)), 101);
    // Never past the tables.
    EXPECT_EQ(loop_table_index(4.0), 200);
    EXPECT_EQ(loop_table_index(4.5), 200);
    EXPECT_EQ(loop_table_index(1e9), 200);
}

TEST(LoopIso, NearFieldReadsTheTableAtTheNearestPoint) {
    // A loop of radius 70 with its normal along the sample y axis: p = Y, and with only I10
    // non-zero the near field reduces to -2 I10 (X / R) (Z b) / (8 R^2 v^3).
    LoopRun run(loop_ini(70.0, "tabulation", {16, 0, 8}, {0, 1, 0}, "1 1 1 0 0"));
    run.dir.write("i01.data", zero_table());
    run.dir.write("i10.data", index_table());
    run.dir.write("i11.data", zero_table());
    run.dir.write("i02.data", zero_table());
    run.dir.write("i12.data", zero_table());
    run.slice(3);
    const double R = 70.0, b = 1.0, z = 8.0 - 2.5;
    const float step = 0.02f;
    int checked = 0, clamped = 0;
    for (int j = 1; j <= 32; ++j)
        for (int i = 1; i <= 32; ++i) {
            const double X = i - 0.5 - 16.0, Y = j - 0.5;
            const double u = Y / R, v = std::sqrt(X * X + z * z) / R;
            const double sgr = run.st.s_g_r(i, j, 3); // m = 1, |g| = 2
            const double i10 = sgr / (-2.0) / (-2.0 * (X / R) * (z * b) / (8 * R * R * v * v * v));
            const long code = std::lround(i10);
            EXPECT_NEAR(i10, static_cast<double>(code), 1e-6 * std::abs(i10));
            const int q = u > step ? static_cast<int>(std::lround(u / step)) : 1;
            const int r = v > step ? static_cast<int>(std::lround(v / step)) : 1;
            EXPECT_EQ(code, q + 1000 * r) << i << ' ' << j;
            ++checked;
        }
    EXPECT_EQ(checked, 32 * 32);
    // Far along the axis: |u| beyond the tables but v below 3, clamped to the last column.
    LoopRun far(loop_ini(70.0, "tabulation", {16, -300, 8}, {0, 1, 0}, "1 1 1 0 0"));
    for (const char* t : {"i01.data", "i11.data", "i02.data", "i12.data"})
        far.dir.write(t, zero_table());
    far.dir.write("i10.data", index_table());
    far.slice(3);
    for (int i = 1; i <= 32; ++i) {
        const double X = i - 0.5 - 16.0, Y = 0.5 + 300.0;
        const double v = std::sqrt(X * X + z * z) / R;
        const double i10 =
            far.st.s_g_r(i, 1, 3) / (-2.0) / (-2.0 * (X / R) * (z * b) / (8 * R * R * v * v * v));
        EXPECT_EQ(std::lround(i10) % 1000, 200) << Y / R;
        ++clamped;
    }
    EXPECT_EQ(clamped, 32);
}

TEST(LoopIso, SmallLoopNeverOpensATable) {
    // No table files exist: a loop of radius below 60 uses the far field everywhere.
    LoopRun run(loop_ini(50.0, "tabulation"));
    run.slice(4);
    const double R = 50.0, b = std::sqrt(3.0) / 3.0;
    LoopGeometry lg;
    lg.b = b;
    lg.radius = R;
    lg.c1 = lg.c2 = 1.0 / std::sqrt(3.0);
    lg.c3 = -1.0 / std::sqrt(3.0);
    const double expect = -2.0 * loop_far_field(lg, 7.5 - 16.0, 20.5 - 16.0, 8.0 - 3.5);
    EXPECT_TRUE(near_rel(run.st.s_g_r(8, 21, 3), expect, 1e-14));
    EXPECT_NE(expect, 0.0);
    EXPECT_TRUE(run.console.str().empty());

    // A larger one must read them; without them the reader stops the run naming the file.
    LoopRun big(loop_ini(70.0, "tabulation"));
    try {
        big.slice(1);
        ADD_FAILURE() << "the tables are missing";
    } catch (const ReadError& e) {
        EXPECT_NE(std::string(e.what()).find("i01.data"), std::string::npos) << e.what();
    }
}

TEST(LoopIso, UnknownModelIsReportedOncePerSlice) {
    LoopRun run(loop_ini(70.0, "spline"));
    run.slice(1);
    run.slice(2);
    EXPECT_EQ(run.console.str(), " Distortion field calculation method has been NOT selected\n"
                                 " Distortion field calculation method has been NOT selected\n");
    // Model "integral" evaluates the near field with zero integrals, silently.
    LoopRun integral(loop_ini(70.0, "integral"));
    integral.slice(1);
    EXPECT_TRUE(integral.console.str().empty());
    for (std::size_t q = 0; q < integral.st.s_g_r.size(); ++q)
        ASSERT_TRUE(std::isfinite(integral.st.s_g_r.data()[q]));
}

TEST(LoopIso, UndefinedPointsGetZero) {
    LoopGeometry lg;
    lg.b = 0.5;
    lg.radius = 80.0;
    lg.c1 = 0.6;
    lg.c2 = 0.0;
    lg.c3 = 0.8;
    const LoopIntegrals in{1.0, 2.0, 3.0, 4.0, 5.0};
    EXPECT_EQ(loop_far_field(lg, 0, 0, 0), 0.0);
    EXPECT_EQ(loop_near_field(lg, 1.0, 2.0, 0.0, 0.3, in), 0.0);
    EXPECT_EQ(loop_near_field(lg, 1.0, 2.0, 0.3, 0.0, in), 0.0);
    EXPECT_NE(loop_near_field(lg, 1.0, 2.0, 0.3, 0.3, in), 0.0);
    // In a run: the centre column of a loop lying in the plane of a slice centre, on its axis.
    LoopRun run(loop_ini(70.0, "tabulation", {16.5, 16.5, 2.5}, {0, 0, 1}));
    for (const char* t : {"i01.data", "i10.data", "i11.data", "i02.data", "i12.data"})
        run.dir.write(t, index_table());
    for (int l = 1; l <= 16; ++l) {
        run.slice(l);
        for (std::size_t q = 0; q < run.st.s_g_r.size(); ++q)
            ASSERT_TRUE(std::isfinite(run.st.s_g_r.data()[q])) << l;
        EXPECT_EQ(run.st.s_g_r(17, 17, 3), 0.0) << l; // on the axis
    }
}

TEST(LoopIso, MapsOfEveryBeamAreWrittenEverySlice) {
    LoopRun run(loop_ini(8.0, "infinitesimal"));
    run.slice(2);
    const std::string first = run.dir.read("run.txtsgr03");
    run.slice(9);
    for (int n = 1; n <= 5; ++n) {
        const std::string name = "run.txtsgr0" + std::to_string(n);
        ASSERT_TRUE(run.dir.exists(name)) << name;
        const ImageData img = read_image_file(name);
        ASSERT_EQ(img.nx(), 32);
        ASSERT_EQ(img.ny(), 32);
        EXPECT_EQ(img.unit_x, 1.0);
        for (int j = 1; j <= 32; ++j)
            for (int i = 1; i <= 32; ++i)
                ASSERT_TRUE(near_rel(img.values(i, j), run.st.s_g_r(i, j, n), 1e-9, 1e-300));
    }
    EXPECT_NE(run.dir.read("run.txtsgr03"), first); // rewritten with the last slice
    const auto lines = korvex::testing::split_lines(run.dir.read("run.txtsgr02"));
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[0], " width");
    // Beam 0: plain zeros.
    std::istringstream row(lines[8]);
    std::string item;
    int items = 0;
    while (row >> item) {
        EXPECT_EQ(item, "0.0");
        ++items;
    }
    EXPECT_EQ(items, 32);
    EXPECT_FALSE(run.dir.exists("run.txtsgr06"));
}

TEST(LoopIso, MissingLoopIniStopsWithTheReadersMessage) {
    ScratchDir dir;
    dir.enter();
    State st = loop_state(4, 4, 4, 4, 4, 4);
    st.defect_model = 3;
    auto field = make_defect_field(st);
    try {
        field->fill_slice(st, 1);
        ADD_FAILURE() << "loop.ini is missing";
    } catch (const ReadError& e) {
        EXPECT_NE(std::string(e.what()).find("loop.ini"), std::string::npos) << e.what();
    }
}

TEST(LoopIso, TablesAreTakenAgainWhenTheirFilesChange) {
    LoopRun run(loop_ini(70.0, "tabulation", {16, 0, 8}, {0, 1, 0}, "1 1 1 0 0"));
    for (const char* t : {"i01.data", "i11.data", "i02.data", "i12.data"})
        run.dir.write(t, zero_table());
    run.dir.write("i10.data", index_table());
    run.slice(3);
    EXPECT_NE(run.st.s_g_r(5, 5, 3), 0.0);
    run.dir.write("i10.data", zero_table());
    run.slice(3);
    EXPECT_EQ(run.st.s_g_r(5, 5, 3), 0.0);
    std::filesystem::remove(run.dir.path() / "i10.data");
    EXPECT_THROW(run.slice(3), ReadError);
}

TEST(LoopIso, SingleColumnOfTheAmplitudePhaseJobIsTheGridColumn) {
    for (const char* model : {"infinitesimal", "tabulation"}) {
        LoopRun run(loop_ini(model[0] == 'i' ? 8.0 : 40.0, model));
        run.slice(6);
        const Array3<double> grid = run.st.s_g_r;
        run.st.colxy = {19.5 - 16.0, 12.5 - 16.0}; // column (20, 13) from the loop centre
        run.field->fill_column(run.st, 6);
        for (int n = 1; n <= 5; ++n)
            EXPECT_DOUBLE_EQ(run.st.s_g_r(1, 1, n), grid(20, 13, n)) << model << ' ' << n;
        EXPECT_NE(grid(20, 13, 3), 0.0) << model;
    }
}
