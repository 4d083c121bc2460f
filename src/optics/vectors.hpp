// Small vector and 3x3 matrix routines shared by the defect models and the entry form.
// Vectors are three reals in whatever frame the caller uses; matrices are indexed (row, col)
// from 1, as the formulas are written.
#pragma once

#include "state/state.hpp"

#include <array>
#include <vector>

namespace korvex {

struct Mat3 {
    std::array<double, 9> a{}; // row-major storage
    double& operator()(int r, int c) { return a[static_cast<std::size_t>((r - 1) * 3 + (c - 1))]; }
    double operator()(int r, int c) const {
        return a[static_cast<std::size_t>((r - 1) * 3 + (c - 1))];
    }
    static Mat3 identity() {
        Mat3 m;
        m(1, 1) = m(2, 2) = m(3, 3) = 1.0;
        return m;
    }
};

double magnitude(const Vec3& v);
double dot(const Vec3& a, const Vec3& b);
Vec3 cross_product(const Vec3& a, const Vec3& b);
Vec3 scaled(const Vec3& v, double s);
// m * v and transpose(m) * v.
Vec3 mul(const Mat3& m, const Vec3& v);
Vec3 mul_t(const Mat3& m, const Vec3& v);
Mat3 mul(const Mat3& a, const Mat3& b);

// t(i, j) = y_i . x_j with every axis normalised: new coordinates = t * old coordinates.
Mat3 coordinates_transfer(const Vec3& x1, const Vec3& x2, const Vec3& x3, const Vec3& y1,
                          const Vec3& y2, const Vec3& y3);

Mat3 real_matrix_transpose(const Mat3& a);

// Inverse by cofactors over the determinant. Refuses a singular matrix (|det| tiny against the
// size of the entries) with a message.
Mat3 inverse_three_real_matrix(const Mat3& a);

// 1 when p lies strictly inside the triangle a b c (first two components only), else 0.
// Stops with "POINT A B C ARE NOT VERTEXES OF A TRIANGLE" when a, b, c are on one line.
int point_triangle(const Vec3& p, const Vec3& a, const Vec3& b, const Vec3& c);

// A short integer vector perpendicular to v, searched over components -10..10. Refuses
// v = (0, 0, 0) and a v with no exactly perpendicular integer vector in that range.
Vec3 perpendicular_vector(const Vec3& v);

} // namespace korvex
