// phi <- S phi with S = w0 S_0 + w1 S_1 + w2 S_2 + w3 S_3 interpolated column by column from
// four consecutive table nodes, without storing S. A node holds its n columns 2 n doubles
// apart (real parts of the rows, then imaginary parts), each read as whole vectors of the
// machine's register width: 8 doubles with AVX-512, 4 with AVX, 2 otherwise. (A vector wider
// than the registers is split by the compiler through memory: on an AVX2 machine 8-double
// vectors made the table engine five times slower.)
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

// phi <- S phi, `element(at)` giving the 8 doubles of S from `at` (an offset in a node) as
// whole vectors; `re`, `im`: the column's amplitudes, replaced by the new ones.
template <int N, class Element>
KORVEX_HOT void apply_elements(const Element& element, double* re, double* im) {
    constexpr int W = kNodeWidth;
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
            const double xr0 = re[col], xi0 = im[col], xr1 = re[col + 1], xi1 = im[col + 1];
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
        const double xr = re[col], xi = im[col];
        for (int j = 0; j < V; ++j) {
            const NodeLanes e = element(o + static_cast<std::size_t>(W * j));
            ya[j] = col == 0 ? e * xr : ya[j] + e * xr;
            yb[j] = col == 0 ? e * xi : yb[j] + e * xi;
        }
    }
    double ra[W * V], rb[W * V];
    std::memcpy(ra, ya, sizeof ra);
    std::memcpy(rb, yb, sizeof rb);
    for (int r = 0; r < N; ++r) {
        re[r] = ra[r] - rb[N + r];
        im[r] = ra[N + r] + rb[r];
    }
}

// `a`: the first of the four nodes, `ns` doubles each.
template <int N>
KORVEX_HOT void interpolate_and_apply(const double* w, const double* a, std::size_t ns, double* re,
                                      double* im) {
    const double* b = a + ns;
    const double* c = b + ns;
    const double* d = c + ns;
    const NodeLanes w0 = splat(w[0]), w1 = splat(w[1]), w2 = splat(w[2]), w3 = splat(w[3]);
    apply_elements<N>(
        [&](std::size_t at) {
            return ((w0 * node_lanes(a + at) + w1 * node_lanes(b + at)) + w2 * node_lanes(c + at)) +
                   w3 * node_lanes(d + at);
        },
        re, im);
}

// The same over R x 4 nodes: R rows (`rows_apart` doubles apart) of four consecutive nodes
// from `a`, node (i, r) weighted w3[i] w1[r]; the rows are summed in order, as
// TransferTable::interpolate_in (R = 4) and sub_interpolate (R = 3) sum them.
template <int N, int R>
KORVEX_HOT void interpolate_and_apply2(const double* w3, const double* w1, const double* a,
                                       std::size_t ns, std::size_t rows_apart, double* re,
                                       double* im) {
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
        re, im);
}

} // namespace korvex::solver::detail
