// Stacking-fault tetrahedron: the face files, the faces' markers, styles and geometry.
#include "defects/defect.hpp"
#include "defects/tetrahedron.hpp"
#include "loop_fixture.hpp"
#include "state/reader.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <map>
#include <set>
#include <sstream>

using namespace korvex;
using korvex::testing::loop_state;
using korvex::testing::ScratchDir;
using korvex::testing::split_lines;

namespace {

constexpr double kPi = 3.141592653589793;
const char* const kFaces[4] = {"alpha", "beta", "gamma", "delta"};

std::string tetra_text(const std::string& style, const Vec3& centroid, double edge) {
    std::ostringstream s;
    s.precision(17);
    s << "   {Data for the stacking fault tetrahedron}\n"
      << std::string(67, '=') << "\n"
      << style << "  style\n"
      << centroid[0] << ' ' << centroid[1] << ' ' << centroid[2] << "  centroid\n"
      << edge << "  edge\n0.3  Poisson\n1.0  core\n";
    return s.str();
}

struct TetraRun {
    ScratchDir dir;
    State st;
    std::unique_ptr<DefectField> field;
    TetraRun(const std::string& style, const Vec3& centroid, double edge, int n = 40,
             Vec3 foil = {0, 0, 1}, Vec3 v_g = {2, 0, 0})
        : st(loop_state(n, n, n, n, n, n, "no", foil, v_g)) {
        dir.write("tetrahedron.ini", tetra_text(style, centroid, edge));
        st.f_defect = dir.str() + "tetrahedron.ini";
        st.rundir = dir.str();
        st.defect = "tetrahedron";
        st.defect_model = 6;
        field = make_defect_field(st);
    }
    void slice(int l) { field->fill_slice(st, l); }
    bool any(const Array3<double>& a) const {
        for (std::size_t q = 0; q < a.size(); ++q)
            if (a.data()[q] != 0.0) return true;
        return false;
    }
};

// The three vertices of a face, in sample coordinates, from its configuration file.
std::vector<Vec3> face_vertices(const State& st, const std::string& path) {
    RecordReader r(path);
    std::string style;
    double m, n;
    Vec3 b, f, centre, normal, pole;
    double radius;
    int sides;
    r.skip(2);
    r.read(style);
    r.read(m, n, b);
    r.read(m, n, f);
    r.read(radius);
    r.read(centre);
    r.read(normal);
    r.read(pole);
    r.read(sides);
    // Unit sample axes in crystal components.
    const Vec3 ex = scaled(st.co_x, 1.0 / magnitude(st.co_x));
    const Vec3 ez = scaled(st.foil, 1.0 / magnitude(st.foil));
    const Vec3 ey = cross_product(ez, ex);
    auto to_sample = [&](const Vec3& c) {
        const Vec3 u = scaled(c, 1.0 / magnitude(c));
        return Vec3{dot(u, ex), dot(u, ey), dot(u, ez)};
    };
    const Vec3 e2 = to_sample(pole), e3 = to_sample(cross_product(normal, pole));
    std::vector<Vec3> v;
    for (int k = 0; k < sides; ++k) {
        const double phi = 2.0 * kPi * k / sides - kPi / sides;
        v.push_back({centre[0] + radius * (std::cos(phi) * e2[0] + std::sin(phi) * e3[0]),
                     centre[1] + radius * (std::cos(phi) * e2[1] + std::sin(phi) * e3[1]),
                     centre[2] + radius * (std::cos(phi) * e2[2] + std::sin(phi) * e3[2])});
    }
    return v;
}

double distance(const Vec3& a, const Vec3& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                     (a[2] - b[2]) * (a[2] - b[2]));
}

} // namespace

TEST(Tetrahedron, FaceFilesHaveTheLoopLayoutAtEverySlice) {
    TetraRun run("faulted", {40, 40, 40}, 50.0, 8);
    run.slice(1);
    std::map<std::string, std::string> first;
    for (const char* f : kFaces) first[f] = run.dir.read(std::string(f) + ".ini");
    run.slice(5);
    for (const char* f : kFaces) EXPECT_EQ(run.dir.read(std::string(f) + ".ini"), first[f]) << f;

    const auto a = split_lines(first["alpha"]);
    ASSERT_EQ(a.size(), 12u);
    EXPECT_EQ(a[0], "            {Data for the triangle loop in alpha plane}");
    EXPECT_EQ(a[1], std::string(67, '='));
    EXPECT_EQ(a[2], " faulted");
    EXPECT_EQ(a[3], " 1.0 12.0 -1.0 1.0 -1.0");
    EXPECT_EQ(a[4], " 1.0 12.0 -1.0 1.0 -1.0");
    EXPECT_EQ(a[5], " 28.86751346"); // 50 / sqrt 3
    // The face lies 50 / (2 sqrt 6) from the centroid, against its normal [-1 1 -1].
    const double s = 50.0 / (2.0 * std::sqrt(6.0)) / std::sqrt(3.0);
    RecordReader r("alpha", first["alpha"]);
    r.skip(6);
    Vec3 centre{};
    r.read(centre);
    EXPECT_NEAR(centre[0], 40.0 + s, 1e-7);
    EXPECT_NEAR(centre[1], 40.0 - s, 1e-7);
    EXPECT_NEAR(centre[2], 40.0 + s, 1e-7);
    EXPECT_EQ(a[7], " -1.0 1.0 -1.0");
    EXPECT_EQ(a[8], " -1.0 1.0 2.0"); // normal x reference
    EXPECT_EQ(a[9], " 3");
    EXPECT_EQ(a[10], " 0.3");
    EXPECT_EQ(a[11], " 1.0");
    EXPECT_EQ(split_lines(first["delta"])[0],
              "            {Data for the triangle loop in delta plane}");
    EXPECT_EQ(split_lines(first["gamma"])[3], " 1.0 12.0 -1.0 -1.0 1.0");
}

TEST(Tetrahedron, FacesCloseIntoARegularTetrahedron) {
    // With a zone axis that mixes the crystal axes, the four triangles written for the faces
    // must share their vertices: four corners, three faces each, all edges of length a.
    const Vec3 centroid{20, 20, 20};
    TetraRun run("faulted", centroid, 30.0, 8, {1, 1, 0}, {1, -1, 1});
    run.slice(1);
    std::vector<Vec3> corners;
    std::vector<int> count;
    for (const char* f : kFaces)
        for (const Vec3& v : face_vertices(run.st, run.dir.str() + f + ".ini")) {
            std::size_t c = 0;
            while (c < corners.size() && distance(corners[c], v) > 1e-6) ++c;
            if (c == corners.size()) {
                corners.push_back(v);
                count.push_back(0);
            }
            ++count[c];
        }
    ASSERT_EQ(corners.size(), 4u);
    for (int c : count) EXPECT_EQ(c, 3);
    Vec3 mean{};
    for (const Vec3& v : corners)
        for (int i = 0; i < 3; ++i) mean[i] += v[i] / 4.0;
    EXPECT_LT(distance(mean, centroid), 1e-6);
    for (std::size_t p = 0; p < 4; ++p)
        for (std::size_t q = p + 1; q < 4; ++q)
            EXPECT_NEAR(distance(corners[p], corners[q]), 30.0, 1e-6);
}

TEST(Tetrahedron, ColumnsThroughItCrossTwoMarkedFaces) {
    TetraRun run("faulted", {12, 12, 12}, 14.0, 24);
    // A column near the centre, off the projected edges (a column exactly under an edge
    // lies on the boundary of both faces and crosses neither).
    const int ic = 13, jc = 11;
    Vec3 total{}; // its jumps over the whole foil
    for (int l = 1; l <= 24; ++l) {
        run.slice(l);
        for (int c = 0; c < 3; ++c) total[c] += run.st.s_f(ic, jc, c + 1);
    }
    std::set<int> markers;
    for (std::size_t q = 0; q < run.st.projection.size(); ++q)
        markers.insert(run.st.projection.data()[q]);
    EXPECT_EQ(markers, (std::set<int>{0, 2, 4, 6, 8}));
    const int p1 = run.st.projection(ic, jc, 1), p2 = run.st.projection(ic, jc, 2);
    ASSERT_NE(p1, 0);
    ASSERT_NE(p2, 0);
    EXPECT_NE(p1, p2);
    // Entering and leaving, the column takes the fault of each face once.
    const Vec3 f1 = kTetrahedronFaces[static_cast<std::size_t>(p1 / 2 - 1)].burgers;
    const Vec3 f2 = kTetrahedronFaces[static_cast<std::size_t>(p2 / 2 - 1)].burgers;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(total[c], (f1[c] + f2[c]) / 12.0, 1e-15);
    // A column outside the projected tetrahedron is never marked.
    EXPECT_EQ(run.st.projection(2, 2, 1), 0);
}

TEST(Tetrahedron, PerfectFacesGiveNoJumpPureFaultsNoStrain) {
    TetraRun perfect("perfect", {12, 12, 12}, 14.0, 24);
    TetraRun pure("pureSF", {12, 12, 12}, 14.0, 24);
    bool strain = false, jump = false;
    for (int l = 1; l <= 24; ++l) {
        perfect.slice(l);
        pure.slice(l);
        EXPECT_FALSE(perfect.any(perfect.st.s_f)) << l;
        EXPECT_FALSE(pure.any(pure.st.s_g_r)) << l;
        strain = strain || perfect.any(perfect.st.s_g_r);
        jump = jump || pure.any(pure.st.s_f);
    }
    EXPECT_TRUE(strain);
    EXPECT_TRUE(jump);
    EXPECT_NE(perfect.st.projection(13, 11, 1), 0);
}

TEST(Tetrahedron, FarOutsideTheImageLeavesThePerfectCrystal) {
    TetraRun run("faulted", {-5000, -5000, 20}, 24.0, 16);
    double largest = 0.0;
    for (int l = 1; l <= 16; ++l) {
        run.slice(l);
        for (std::size_t q = 0; q < run.st.s_g_r.size(); ++q)
            largest = std::max(largest, std::abs(run.st.s_g_r.data()[q]));
        EXPECT_FALSE(run.any(run.st.s_f));
    }
    EXPECT_LT(largest, 1e-9);
    for (std::size_t q = 0; q < run.st.projection.size(); ++q)
        ASSERT_EQ(run.st.projection.data()[q], 0);
}

TEST(Tetrahedron, SingleColumnOfTheAmplitudePhaseJobIsTheGridColumn) {
    TetraRun run("faulted", {12, 12, 12}, 14.0, 24);
    run.slice(10);
    const Array3<double> grid = run.st.s_g_r;
    run.st.colxy = {14.5 - 12.0, 8.5 - 12.0}; // column (15, 9) from the centroid
    run.field->fill_column(run.st, 10);
    for (int n = 1; n <= 5; ++n)
        EXPECT_TRUE(korvex::testing::near_rel(run.st.s_g_r(1, 1, n), grid(15, 9, n), 1e-6, 1e-12))
            << n;
    EXPECT_NE(grid(15, 9, 3), 0.0);
}
