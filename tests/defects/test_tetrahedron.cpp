// Stacking-fault tetrahedron: the face files, the faces' markers, styles and geometry.
#include "defects/tetrahedron.hpp"
#include "fixture.hpp"
#include "state/reader.hpp"

#include <set>

using namespace korvex;
using namespace korvex::testing;

namespace {

constexpr double kPi = 3.141592653589793;
const char* const kFaces[4] = {"alpha", "beta", "gamma", "delta"};

DefectRun tetra_run(const std::string& style, const std::string& centroid, const std::string& edge,
                    int n = 24, Vec3 foil = {0, 0, 1}, Vec3 v_g = {2, 0, 0}) {
    return DefectRun(
        6, "tetrahedron.ini",
        config("{Data for the stacking fault tetrahedron}", {style, centroid, edge, "0.3", "1.0"}),
        "no", cube(n), 1.0, foil, v_g);
}

// The corners of a face, in sample coordinates, from its configuration file.
std::vector<Vec3> face_vertices(const State& st, const std::string& path) {
    RecordReader r(path);
    double radius;
    Vec3 centre, normal, pole;
    int sides;
    r.skip(5); // header, style, Burgers vector, fault
    r.read(radius);
    r.read(centre);
    r.read(normal);
    r.read(pole);
    r.read(sides);
    const Vec3 ex = scaled(st.co_x, 1.0 / magnitude(st.co_x));
    const Vec3 ez = scaled(st.foil, 1.0 / magnitude(st.foil)), ey = cross_product(ez, ex);
    auto to_sample = [&](const Vec3& c) {
        const Vec3 u = scaled(c, 1.0 / magnitude(c));
        return Vec3{dot(u, ex), dot(u, ey), dot(u, ez)};
    };
    const Vec3 e2 = to_sample(pole), e3 = to_sample(cross_product(normal, pole));
    std::vector<Vec3> v;
    for (int k = 0; k < sides; ++k) {
        const double phi = 2.0 * kPi * k / sides - kPi / sides;
        Vec3 p;
        for (std::size_t i = 0; i < 3; ++i)
            p[i] = centre[i] + radius * (std::cos(phi) * e2[i] + std::sin(phi) * e3[i]);
        v.push_back(p);
    }
    return v;
}

double distance(const Vec3& a, const Vec3& b) {
    return magnitude({a[0] - b[0], a[1] - b[1], a[2] - b[2]});
}

} // namespace

// The four faces are written as triangle loops, one file per face; with a zone axis that
// mixes the crystal axes they must share their corners: four corners, three faces each,
// centred on the centroid, all edges of length a.
TEST(Tetrahedron, FacesCloseIntoARegularTetrahedron) {
    const Vec3 centroid{20, 20, 20};
    DefectRun run = tetra_run("faulted", "20 20 20", "30.0", 8, {1, 1, 0}, {1, -1, 1});
    run.slice(1);
    std::vector<Vec3> corners;
    std::vector<int> count;
    for (const std::string f : kFaces) {
        EXPECT_EQ(split_lines(run.dir.read(f + ".ini"))[0],
                  "            {Data for the triangle loop in " + f + " plane}");
        for (const Vec3& v : face_vertices(run.st, run.dir.str() + f + ".ini")) {
            std::size_t c = 0;
            while (c < corners.size() && distance(corners[c], v) > 1e-6) ++c;
            if (c == corners.size()) {
                corners.push_back(v);
                count.push_back(0);
            }
            ++count[c];
        }
    }
    ASSERT_EQ(corners.size(), 4u);
    EXPECT_EQ(count, (std::vector<int>{3, 3, 3, 3}));
    Vec3 mean{};
    for (const Vec3& v : corners)
        for (std::size_t i = 0; i < 3; ++i) mean[i] += v[i] / 4.0;
    EXPECT_LT(distance(mean, centroid), 1e-6);
    for (std::size_t p = 0; p < 4; ++p)
        for (std::size_t q = p + 1; q < 4; ++q)
            EXPECT_NEAR(distance(corners[p], corners[q]), 30.0, 1e-6);
}

// A column through the tetrahedron (off the projected edges, where it would lie on the
// boundary of two faces and cross neither) enters and leaves through two faces, is marked with
// both, and takes the fault of each once; columns outside are never marked.
TEST(Tetrahedron, ColumnsThroughItCrossTwoMarkedFaces) {
    DefectRun run = tetra_run("faulted", "12 12 12", "14.0");
    const int ic = 13, jc = 11;
    Vec3 total{};
    for (int l = 1; l <= 24; ++l) {
        run.slice(l);
        for (std::size_t c = 0; c < 3; ++c) total[c] += run.st.s_f(ic, jc, int(c) + 1);
    }
    const std::set<int> markers(run.st.projection.data(),
                                run.st.projection.data() + run.st.projection.size());
    EXPECT_EQ(markers, (std::set<int>{0, 2, 4, 6, 8}));
    const int p1 = run.st.projection(ic, jc, 1), p2 = run.st.projection(ic, jc, 2);
    ASSERT_TRUE(p1 != 0 && p2 != 0 && p1 != p2) << p1 << ' ' << p2;
    const Vec3 f1 = kTetrahedronFaces[std::size_t(p1 / 2 - 1)].burgers;
    const Vec3 f2 = kTetrahedronFaces[std::size_t(p2 / 2 - 1)].burgers;
    for (std::size_t c = 0; c < 3; ++c) EXPECT_NEAR(total[c], (f1[c] + f2[c]) / 12.0, 1e-15);
    EXPECT_EQ(run.st.projection(2, 2, 1), 0);
}

// The style reaches every face: perfect faces give no jump, pure faults no strain.
TEST(Tetrahedron, Styles) {
    DefectRun perfect = tetra_run("perfect", "12 12 12", "14.0");
    DefectRun pure = tetra_run("pureSF", "12 12 12", "14.0");
    bool strain = false, jump = false;
    for (int l = 1; l <= 24; ++l) {
        EXPECT_FALSE(any_nonzero(perfect.slice(l).st.s_f)) << l;
        EXPECT_FALSE(any_nonzero(pure.slice(l).st.s_g_r)) << l;
        strain = strain || any_nonzero(perfect.st.s_g_r);
        jump = jump || any_nonzero(pure.st.s_f);
    }
    EXPECT_TRUE(strain && jump);
    EXPECT_NE(perfect.st.projection(13, 11, 1), 0);
}
