// phi <- S phi with S interpolated column by column from table nodes (a cubic in powers of the
// fraction with one scalar, Lagrange weights of 4 x 4 or 4 x 3 nodes with two), without storing
// S. A node holds its n columns 2 n doubles apart, each column the rows' complex numbers one
// after another (real, imaginary), as the amplitudes lie in memory; a column is read as whole
// vectors of the machine's register width: 8 doubles with AVX-512, 4 with AVX, 2 otherwise. (A
// vector wider than the registers is split by the compiler through memory: on an AVX2 machine
// 8-double vectors made the table engine five times slower.)
//
// The sums of a column's vectors times the real parts of the amplitudes, and times their
// imaginary parts, give the new amplitudes by one swap of neighbouring lanes and an alternate
// subtraction and addition, so that they are stored straight back, in their own order.
//
// Where 2 n is no multiple of the width, a column alone leaves lanes of its last vector idle
// (5 beams, 8 lanes: 10 doubles in 16 lanes). Two neighbouring columns then go together (20
// doubles in 24 lanes), and the second is moved down to lane 0 in registers. Every element of S
// and of the sums takes the same operations in the same order whatever the width and the
// grouping, so the results are the same bits on every machine.
#pragma once

#include "solver/rotations.hpp"
#include "state/vector_width.hpp"

#include <cstddef>
#include <cstring>
#include <utility>

namespace korvex::solver::detail {

inline constexpr int kNodeWidth = kVectorDoubles;
using NodeLanes = double __attribute__((vector_size(8 * kNodeWidth)));

KORVEX_HOT NodeLanes node_lanes(const double* p) {
    NodeLanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// x in every lane (a broadcast, where adding x to a zero vector costs an addition).
KORVEX_HOT NodeLanes splat(double x) {
    NodeLanes v;
    for (int i = 0; i < kNodeWidth; ++i) v[i] = x;
    return v;
}

// Lanes r .. r + kNodeWidth - 1 of the 2 kNodeWidth lanes of (lo, hi).
template <int R, int... I>
KORVEX_HOT NodeLanes lanes_from(NodeLanes lo, NodeLanes hi, std::integer_sequence<int, I...>) {
#if defined(__clang__)
    return __builtin_shufflevector(lo, hi, (R + I)...);
#else
    using Index = long long __attribute__((vector_size(8 * kNodeWidth)));
    return __builtin_shuffle(lo, hi, Index{(R + I)...});
#endif
}
template <int R> KORVEX_HOT NodeLanes lanes_from(NodeLanes lo, NodeLanes hi) {
    return lanes_from<R>(lo, hi, std::make_integer_sequence<int, kNodeWidth>{});
}

// a - swap(b) in the even lanes, a + swap(b) in the odd ones, swap exchanging each even lane
// with the odd one above it: with a = sum of S's columns times the real parts and b the same
// times the imaginary parts, the new complex numbers (real, imaginary) lane by lane.
template <int... I>
KORVEX_HOT NodeLanes complex_sum(NodeLanes a, NodeLanes b, std::integer_sequence<int, I...>) {
#if defined(__clang__)
    const NodeLanes s = __builtin_shufflevector(b, b, (I ^ 1)...);
    const NodeLanes d = a - s, u = a + s;
    return __builtin_shufflevector(d, u, (I % 2 == 0 ? I : I + kNodeWidth)...);
#else
    using Index = long long __attribute__((vector_size(8 * kNodeWidth)));
    const NodeLanes s = __builtin_shuffle(b, Index{(I ^ 1)...});
    const NodeLanes d = a - s, u = a + s;
    return __builtin_shuffle(d, u, Index{(I % 2 == 0 ? I : I + kNodeWidth)...});
#endif
}

// phi <- S phi, `element(at)` giving the 8 doubles of S from `at` (an offset in a node) as
// whole vectors; `x`: the column's amplitudes, beam r's at x[stride r] (real) and x[stride r + 1]
// (imaginary), replaced by the new ones.
template <int N, class Element>
KORVEX_HOT void apply_elements(const Element& element, double* x, std::ptrdiff_t stride) {
    constexpr int W = kNodeWidth;
    static_assert(W % 2 == 0, "a complex number per pair of lanes");
    constexpr int V = (2 * N + W - 1) / W;  // vectors of one column
    constexpr int VP = (4 * N + W - 1) / W; // of two neighbouring columns
    // The sums start from the first column's products (not from zero: one addition less per
    // vector, and the same values but for the sign of an exact zero).
    NodeLanes ya[V], yb[V];
    int col = 0;
    if constexpr (VP < 2 * V) {
        constexpr int shift = 2 * N % W, first = 2 * N / W;
        for (; col + 1 < N; col += 2) {
            const std::size_t o = static_cast<std::size_t>(2 * N * col);
            NodeLanes e[VP];
            for (int q = 0; q < VP; ++q) e[q] = element(o + static_cast<std::size_t>(W * q));
            const double* x0 = x + stride * col;
            const double* x1 = x0 + stride;
            const double xr0 = x0[0], xi0 = x0[1], xr1 = x1[0], xi1 = x1[1];
            for (int j = 0; j < V; ++j) {
                ya[j] = col == 0 ? e[j] * xr0 : ya[j] + e[j] * xr0;
                yb[j] = col == 0 ? e[j] * xi0 : yb[j] + e[j] * xi0;
            }
            for (int j = 0; j < V; ++j) {
                const int q = first + j;
                const NodeLanes s = lanes_from<shift>(e[q], e[q + 1 < VP ? q + 1 : q]);
                ya[j] += s * xr1;
                yb[j] += s * xi1;
            }
        }
    }
    for (; col < N; ++col) {
        const std::size_t o = static_cast<std::size_t>(2 * N * col);
        const double xr = x[stride * col], xi = x[stride * col + 1];
        for (int j = 0; j < V; ++j) {
            const NodeLanes e = element(o + static_cast<std::size_t>(W * j));
            ya[j] = col == 0 ? e * xr : ya[j] + e * xr;
            yb[j] = col == 0 ? e * xi : yb[j] + e * xi;
        }
    }
    for (int j = 0; j < V; ++j) {
        const NodeLanes y = complex_sum(ya[j], yb[j], std::make_integer_sequence<int, W>{});
        for (int p = 0; p < W / 2; ++p) {
            const int r = W / 2 * j + p;
            if (r < N)
                std::memcpy(x + stride * r, reinterpret_cast<const double*>(&y) + 2 * p,
                            2 * sizeof(double));
        }
    }
}

// S = S_0 + f (C_1 + f (C_2 + f C_3)) from the first node `s0` and the coefficients `c`
// (C_1, C_2, C_3, `ns` doubles apart), applied as above; with Degree 2 without C_3.
template <int N, int Degree>
KORVEX_HOT void cubic_and_apply(double f, const double* s0, const double* c, std::size_t ns,
                                double* x, std::ptrdiff_t stride) {
    static_assert(Degree == 2 || Degree == 3);
    const double* c2 = c + ns;
    const double* c3 = c2 + ns;
    const NodeLanes fv = splat(f);
    apply_elements<N>(
        [&](std::size_t at) {
            const NodeLanes q =
                Degree == 3 ? node_lanes(c3 + at) * fv + node_lanes(c2 + at) : node_lanes(c2 + at);
            return (q * fv + node_lanes(c + at)) * fv + node_lanes(s0 + at);
        },
        x, stride);
}

// Sums of four consecutive nodes from `a` (`ns` doubles each) with weights w3 over R rows of
// them (`rows_apart` doubles apart), row r weighted w1[r]: node (i, r) weighted w3[i] w1[r]; the
// rows are summed in order, as TransferTable::interpolate_in (R = 4) and sub_interpolate (R = 3)
// sum them.
template <int N, int R>
KORVEX_HOT void interpolate_and_apply2(const double* w3, const double* w1, const double* a,
                                       std::size_t ns, std::size_t rows_apart, double* x,
                                       std::ptrdiff_t stride) {
    static_assert(R == 3 || R == 4);
    double w[16];
    for (int r = 0; r < R; ++r)
        for (int i = 0; i < 4; ++i) w[4 * r + i] = w3[i] * w1[r];
    const auto row = [&](int r, std::size_t at) {
        const double* p = a + static_cast<std::size_t>(r) * rows_apart + at;
        const double* q = w + 4 * r;
        return ((splat(q[0]) * node_lanes(p) + splat(q[1]) * node_lanes(p + ns)) +
                splat(q[2]) * node_lanes(p + 2 * ns)) +
               splat(q[3]) * node_lanes(p + 3 * ns);
    };
    apply_elements<N>(
        [&](std::size_t at) {
            if constexpr (R == 4)
                return ((row(0, at) + row(1, at)) + row(2, at)) + row(3, at);
            else
                return (row(0, at) + row(1, at)) + row(2, at);
        },
        x, stride);
}

} // namespace korvex::solver::detail
