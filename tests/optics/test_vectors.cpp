#include "optics/vectors.hpp"
#include "support/testing.hpp"

using namespace korvex::testing;

namespace {
// The largest difference of two vectors or (through their elements) matrices.
template <class A> double off(const A& a, const A& b) {
    double m = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
    return m;
}
double off(const Mat3& a, const Mat3& b) {
    return off(a.a, b.a);
}
} // namespace

// Frame changes: axis lengths do not matter, the crystal vector g lands on sample x, the transpose
// undoes the change; a general matrix inverted, a singular one refused at any scale.
TEST(Vectors, FramesAndInverse) {
    EXPECT_LE(off(coordinates_transfer({2, 0, 0}, {0, 5, 0}, {0, 0, 0.1}, {7, 0, 0}, {0, 0.3, 0},
                                       {0, 0, 9}),
                  Mat3::identity()),
              0.0);
    const Vec3 z{0, 0, 1}, x{1, 1, 0};
    const Mat3 c = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, x, cross_product(z, x), z);
    const Vec3 g = mul(c, Vec3{1, 1, 0});
    EXPECT_LE(off(g, {std::sqrt(2.0), 0, 0}), 1e-15);
    EXPECT_LE(off(mul(c, real_matrix_transpose(c)), Mat3::identity()), 1e-15);
    EXPECT_LE(off(mul_t(c, g), {1, 1, 0}), 1e-15);

    const Mat3 a{{2, -1, 0, 1, 3, 2, 0.5, 4, -1}}, s{{1, 2, 3, 2, 4, 6, 0, 1, 1}};
    EXPECT_LE(off(mul(a, inverse_three_real_matrix(a)), Mat3::identity()), 1e-14);
    EXPECT_EQ(stop_lines([&] { inverse_three_real_matrix(s); }).size(), 1u);
    const Mat3 tiny{{1e-9, 0, 0, 0, 1e-9, 0, 0, 0, 1e-9}};
    EXPECT_NEAR(inverse_three_real_matrix(tiny)(2, 2), 1e9, 1e-3);
}

// Strictly inside only (edges and vertices are outside), either orientation, the third
// component ignored; a degenerate triangle stops.
TEST(Vectors, PointTriangleAndPerpendicularVector) {
    const Vec3 a{0, 0, 5}, b{4, 0, -1}, c{0, 3, 0};
    EXPECT_EQ(point_triangle({1, 1, 100}, a, b, c), 1);
    EXPECT_EQ(point_triangle({1, 1, 0}, a, c, b), 1);
    for (const Vec3& p : {Vec3{3, 3, 0}, Vec3{-0.1, 1, 0}, Vec3{2, 0, 0}, Vec3{0, 0, 0}})
        EXPECT_EQ(point_triangle(p, a, b, c), 0) << p[0] << ' ' << p[1];
    EXPECT_EQ(stop_lines([&] {
                  point_triangle({1, 1, 0}, a, {1, 1, 0}, {2, 2, 7});
              }),
              Lines{"POINT A B C ARE NOT VERTEXES OF A TRIANGLE"});

    // The first small integer vector perpendicular in the search order; none possible stops.
    const std::pair<Vec3, Vec3> cases[] = {
        {{1, 1, 1}, {1, 0, -1}}, {{1, 1, 0}, {0, 0, 1}}, {{1, 2, 3}, {1, 1, -1}}};
    for (const auto& [v, w] : cases) EXPECT_EQ(perpendicular_vector(v), w) << v[0] << v[1] << v[2];
    for (const Vec3 v : {Vec3{0, 0, 0}, Vec3{1.0, std::sqrt(2.0), std::acos(-1.0)}})
        EXPECT_EQ(stop_lines([&] { perpendicular_vector(v); }).size(), 1u) << v[1];
}
