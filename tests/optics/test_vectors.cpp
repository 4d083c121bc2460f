#include "optics/vectors.hpp"
#include "support/testing.hpp"

#include <cmath>

using namespace korvex;
using korvex::testing::stop_lines;

namespace {
void expect_mat_near(const Mat3& a, const Mat3& b, double tol) {
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) EXPECT_NEAR(a(i, j), b(i, j), tol) << i << "," << j;
}
} // namespace

TEST(Vectors, MagnitudeAndCrossProduct) {
    EXPECT_EQ(magnitude({3, 4, 12}), 13.0);
    EXPECT_EQ(cross_product({1, 0, 0}, {0, 1, 0}), (Vec3{0, 0, 1}));
    EXPECT_EQ(cross_product({0, 0, 1}, {2, 0, 0}), (Vec3{0, 2, 0})); // foil x g = sample y
    EXPECT_EQ(cross_product({1, 2, 3}, {4, 5, 6}), (Vec3{-3, 6, -3}));
}

TEST(Vectors, CoordinatesTransfer) {
    // Same axes, any lengths: the identity.
    const Mat3 t =
        coordinates_transfer({2, 0, 0}, {0, 5, 0}, {0, 0, 0.1}, {7, 0, 0}, {0, 0.3, 0}, {0, 0, 9});
    expect_mat_near(t, Mat3::identity(), 0.0);
    // Crystal axes to the sample frame of zone [0 0 1] and g (1 1 0).
    const Vec3 z{0, 0, 1}, x{1, 1, 0};
    const Vec3 y = cross_product(z, x);
    const Mat3 c = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, x, y, z);
    const Vec3 g = mul(c, Vec3{1, 1, 0});
    EXPECT_NEAR(g[0], std::sqrt(2.0), 1e-15);
    EXPECT_NEAR(g[1], 0.0, 1e-15);
    EXPECT_NEAR(g[2], 0.0, 1e-15);
    // An orthonormal change of frame is undone by the transpose.
    expect_mat_near(mul(c, real_matrix_transpose(c)), Mat3::identity(), 1e-15);
    const Vec3 back = mul_t(c, g);
    EXPECT_NEAR(back[0], 1.0, 1e-15);
    EXPECT_NEAR(back[1], 1.0, 1e-15);
}

TEST(Vectors, InverseOfThreeByThree) {
    Mat3 a;
    a.a = {2, -1, 0, 1, 3, 2, 0.5, 4, -1};
    const Mat3 b = inverse_three_real_matrix(a);
    expect_mat_near(mul(a, b), Mat3::identity(), 1e-14);
    expect_mat_near(mul(b, a), Mat3::identity(), 1e-14);
    Mat3 t = real_matrix_transpose(a);
    EXPECT_EQ(t(1, 2), a(2, 1));
    EXPECT_EQ(t(3, 1), a(1, 3));
    // A singular matrix is refused, at any scale.
    Mat3 s;
    s.a = {1, 2, 3, 2, 4, 6, 0, 1, 1};
    EXPECT_EQ(stop_lines([&] { inverse_three_real_matrix(s); }).size(), 1u);
    Mat3 tiny;
    tiny.a = {1e-9, 0, 0, 0, 1e-9, 0, 0, 0, 1e-9};
    EXPECT_NEAR(inverse_three_real_matrix(tiny)(2, 2), 1e9, 1e-3);
}

TEST(Vectors, PointTriangle) {
    const Vec3 a{0, 0, 5}, b{4, 0, -1}, c{0, 3, 0};
    EXPECT_EQ(point_triangle({1, 1, 100}, a, b, c), 1); // the third component plays no part
    EXPECT_EQ(point_triangle({1, 1, 0}, a, c, b), 1);   // either orientation
    EXPECT_EQ(point_triangle({3, 3, 0}, a, b, c), 0);
    EXPECT_EQ(point_triangle({-0.1, 1, 0}, a, b, c), 0);
    EXPECT_EQ(point_triangle({2, 0, 0}, a, b, c), 0); // on an edge
    EXPECT_EQ(point_triangle({0, 0, 0}, a, b, c), 0); // on a vertex
    EXPECT_EQ(stop_lines([&] {
                  point_triangle({1, 1, 0}, a, {1, 1, 0}, {2, 2, 7});
              }),
              std::vector<std::string>{"POINT A B C ARE NOT VERTEXES OF A TRIANGLE"});
}

TEST(Vectors, PerpendicularVector) {
    EXPECT_EQ(perpendicular_vector({1, 1, 1}), (Vec3{1, 0, -1}));
    EXPECT_EQ(perpendicular_vector({1, 0, 0}), (Vec3{0, 1, 0}));
    EXPECT_EQ(perpendicular_vector({1, 1, 0}), (Vec3{0, 0, 1}));
    EXPECT_EQ(perpendicular_vector({0, 0, 1}), (Vec3{1, 0, 0}));
    const Vec3 w = perpendicular_vector({1, 2, 3});
    EXPECT_EQ(w[0] * 1 + w[1] * 2 + w[2] * 3, 0.0);
    EXPECT_EQ(w, (Vec3{1, 1, -1})); // the first of minimal length is (-1, -1, 1)
    // No direction to be perpendicular to, or none exactly perpendicular in the range.
    EXPECT_EQ(stop_lines([] { perpendicular_vector({0, 0, 0}); }).size(), 1u);
    EXPECT_EQ(stop_lines([] {
                  perpendicular_vector({1.0, std::sqrt(2.0), std::acos(-1.0)});
              }).size(),
              1u);
}
