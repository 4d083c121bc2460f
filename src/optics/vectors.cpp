#include "optics/vectors.hpp"

#include "state/error.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cmath>

namespace korvex {

double magnitude(const Vec3& v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

double dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3 cross_product(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vec3 scaled(const Vec3& v, double s) {
    return {v[0] * s, v[1] * s, v[2] * s};
}

Vec3 mul(const Mat3& m, const Vec3& v) {
    Vec3 r{};
    for (int i = 1; i <= 3; ++i) r[i - 1] = m(i, 1) * v[0] + m(i, 2) * v[1] + m(i, 3) * v[2];
    return r;
}

Vec3 mul_t(const Mat3& m, const Vec3& v) {
    Vec3 r{};
    for (int i = 1; i <= 3; ++i) r[i - 1] = m(1, i) * v[0] + m(2, i) * v[1] + m(3, i) * v[2];
    return r;
}

Mat3 mul(const Mat3& a, const Mat3& b) {
    Mat3 r;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            r(i, j) = a(i, 1) * b(1, j) + a(i, 2) * b(2, j) + a(i, 3) * b(3, j);
    return r;
}

Mat3 coordinates_transfer(const Vec3& x1, const Vec3& x2, const Vec3& x3, const Vec3& y1,
                          const Vec3& y2, const Vec3& y3) {
    const std::array<Vec3, 3> x{scaled(x1, 1.0 / magnitude(x1)), scaled(x2, 1.0 / magnitude(x2)),
                                scaled(x3, 1.0 / magnitude(x3))};
    const std::array<Vec3, 3> y{scaled(y1, 1.0 / magnitude(y1)), scaled(y2, 1.0 / magnitude(y2)),
                                scaled(y3, 1.0 / magnitude(y3))};
    Mat3 t;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            t(i, j) = dot(y[static_cast<std::size_t>(i - 1)], x[static_cast<std::size_t>(j - 1)]);
    return t;
}

Mat3 real_matrix_transpose(const Mat3& a) {
    Mat3 t;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) t(i, j) = a(j, i);
    return t;
}

Mat3 inverse_three_real_matrix(const Mat3& a) {
    Mat3 c; // cofactors
    c(1, 1) = a(2, 2) * a(3, 3) - a(2, 3) * a(3, 2);
    c(1, 2) = -(a(2, 1) * a(3, 3) - a(2, 3) * a(3, 1));
    c(1, 3) = a(2, 1) * a(3, 2) - a(2, 2) * a(3, 1);
    c(2, 1) = -(a(1, 2) * a(3, 3) - a(1, 3) * a(3, 2));
    c(2, 2) = a(1, 1) * a(3, 3) - a(1, 3) * a(3, 1);
    c(2, 3) = -(a(1, 1) * a(3, 2) - a(1, 2) * a(3, 1));
    c(3, 1) = a(1, 2) * a(2, 3) - a(1, 3) * a(2, 2);
    c(3, 2) = -(a(1, 1) * a(2, 3) - a(1, 3) * a(2, 1));
    c(3, 3) = a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1);
    const double det = a(1, 1) * c(1, 1) + a(1, 2) * c(1, 2) + a(1, 3) * c(1, 3);
    double scale = 0.0;
    for (double v : a.a) scale = std::max(scale, std::abs(v));
    if (!(std::abs(det) > 1e-12 * scale * scale * scale))
        halt("The matrix to be inverted is singular (determinant " + list_real(det) + ")");
    Mat3 b;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) b(i, j) = c(j, i) / det;
    return b;
}

int point_triangle(const Vec3& p, const Vec3& a, const Vec3& b, const Vec3& c) {
    auto side = [](const Vec3& o, const Vec3& s, const Vec3& q) {
        return (s[0] - o[0]) * (q[1] - o[1]) - (s[1] - o[1]) * (q[0] - o[0]);
    };
    const double area = side(a, b, c);
    if (area == 0.0) halt("POINT A B C ARE NOT VERTEXES OF A TRIANGLE");
    const double s1 = side(a, b, p), s2 = side(b, c, p), s3 = side(c, a, p);
    if (area > 0) return (s1 > 0 && s2 > 0 && s3 > 0) ? 1 : 0;
    return (s1 < 0 && s2 < 0 && s3 < 0) ? 1 : 0;
}

Vec3 perpendicular_vector(const Vec3& v) {
    if (v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0)
        halt("No perpendicular vector can be chosen for the zero vector");
    bool found = false;
    Vec3 w{};
    double wlen = 0.0;
    for (int c1 = -10; c1 <= 10; ++c1)
        for (int c2 = -10; c2 <= 10; ++c2)
            for (int c3 = -10; c3 <= 10; ++c3) {
                if (c1 == 0 && c2 == 0 && c3 == 0) continue;
                if (v[0] * c1 + v[1] * c2 + v[2] * c3 != 0.0) continue;
                const Vec3 c{double(c1), double(c2), double(c3)};
                const double len = magnitude(c);
                if (!found) {
                    w = c;
                    wlen = len;
                    found = true;
                } else if (len < wlen) {
                    w = scaled(c, -1.0);
                    wlen = len;
                }
            }
    if (!found)
        halt("No integer vector with components from -10 to 10 is perpendicular to the given "
             "direction");
    return w;
}

} // namespace korvex
