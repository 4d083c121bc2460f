// The tabulated column engine. In every defect model the strain term of beam n has the form
// s_g_r(n) = m_n (G3 + t_n G1), with m_n the beam's order and t_n = tan of its tilt (zero with
// the column approximation), so within a beam condition and for one slice thickness a column's
// slice transfer matrix S = V D V^-1 depends on two scalars only (one when all tilts are
// equal). `TransferTable` holds S, computed by the exact kernel, on a regular grid of (G3, G1)
// and interpolates it with 4-point Lagrange cubics in each scalar (with one scalar, each
// interval's cubic is kept in powers of its fraction). A column whose terms do not have that
// form, or whose scalars lie outside the grid (near a dislocation core), is solved exactly by
// the caller.
//
// Two scalars (no column approximation) make the eigen-states of a beam pair cross nearly
// along a line of the (G3, G1) plane; StrainForm chooses G3 so that this line is G3 = 0, and
// the rough cells along it get tables finer in G3 over their four rows of G1 nodes. Other pairs
// cross along lines that slope across the rows: a rough cell's finer table is sheared along the
// line of the pair crossing nearest to it, so that its rows of G1 nodes follow the crossing.
// Close to where a pair's coupling vanishes no table serves: those columns are solved exactly.
#pragma once

#include "solver/kernels.hpp"
#include "solver/node_columns.hpp"
#include "solver/strain_form.hpp"
#include "state/large_pages.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace korvex::solver {

// 4-point Lagrange weights for nodes -1, 0, 1, 2 at fraction f of the interval [0, 1].
KORVEX_HOT void cubic_weights(double f, double* w) {
    const double fp = f + 1.0, fm = f - 1.0, f2 = f - 2.0;
    w[0] = -f * fm * f2 / 6.0;
    w[1] = fp * fm * f2 / 2.0;
    w[2] = -fp * f * f2 / 2.0;
    w[3] = fp * f * fm / 6.0;
}

// A column of S (2 n doubles) rounded up to whole vectors of 8, the widest registers.
[[gnu::always_inline]] constexpr std::size_t column_doubles(int n) {
    return (2 * static_cast<std::size_t>(n) + 7) / 8 * 8;
}
// Doubles of one node of an n-beam table: 2 n^2, padded so that the last column can be read as
// whole vectors and the next node starts on a vector boundary.
[[gnu::always_inline]] constexpr std::size_t node_doubles(int n) {
    return n <= 0 ? 0
                  : (2 * static_cast<std::size_t>(n) * static_cast<std::size_t>(n - 1) +
                     column_doubles(n) + 7) /
                        8 * 8;
}

// phi <- S phi for one column of n beams (beam r's amplitude at x[stride r], x[stride r + 1]),
// S laid out as a table node, for a beam count known only at run time (see apply_elements for
// a fixed one); `y` is scratch of 4 n doubles.
KORVEX_HOT void apply_transfer(const double* s, int n, double* x, std::ptrdiff_t stride,
                               double* y) {
    const int m = 2 * n;
    double* ya = y;
    double* yb = y + m;
    for (int k = 0; k < m; ++k) ya[k] = yb[k] = 0.0;
    for (int c = 0; c < n; ++c) {
        const double xr = x[stride * c], xi = x[stride * c + 1];
        const double* col = s + static_cast<std::size_t>(m) * c;
        KORVEX_LANES
        for (int k = 0; k < m; ++k) {
            ya[k] += col[k] * xr;
            yb[k] += col[k] * xi;
        }
    }
    for (int r = 0; r < n; ++r) {
        x[stride * r] = ya[2 * r] - yb[2 * r + 1];
        x[stride * r + 1] = ya[2 * r + 1] + yb[2 * r];
    }
}

// The grid of one slice thickness: node (k3, k1) at G3 = k3 h3, G1 = k1 h1 for |k3| <= K3,
// |k1| <= K1, each holding S column by column: column c at [2 n c, 2 n c + 2 n), the complex
// numbers of its n rows one after another (real, imaginary). A column of S is thus one
// contiguous vector of 2 n doubles, and phi' = S phi is a sum of such vectors times the real and
// imaginary parts of phi (see `apply_transfer`).
struct TransferTable {
    double dz = 0.0;
    double h3 = 0.0, h1 = 1.0;
    int K3 = 0, K1 = 0;
    int n = 0;
    double per_slice = 0.0;
    // Megabytes for a fine grid: in huge pages where the kernel gives them.
    std::vector<double, LargePageAllocator<double>> nodes;
    // Cells (by their node (k3, k1)) whose interpolant was found off by more than the error
    // allowed: the columns in them are solved exactly. Near an avoided crossing of two
    // eigenvalues the first-order absorption of the two states mixes within a narrow range of
    // the scalar, faster than any node spacing from the smooth bound follows.
    std::vector<unsigned char> rough;
    // A rough cell gets a table of its own, sub = sub_steps() times finer in G3: node i at
    // G3 = (k3 + (i - 1) / sub) h3, i = 0 .. sub + 2, on each of the cell's sub_rows() rows of
    // G1 nodes, row after row. sub_of[cell] is its first
    // node in sub_nodes, or -1 (solved exactly).
    // With two scalars the crossings are narrower (two pairs may cross along one line, one of
    // them weakly coupled) and slope across the cell: kSub2 steps per cell in G3 (twice as many
    // where that is not enough), kSub1 in G1 (rows at G1 = (k1 + (r - 1) / kSub1) h1,
    // r = 0 .. kSub1 + 2). A crossing line G3 = G3_0 + sigma G1 through the cell shears its
    // table (`SubShape`): node i of row r lies at
    // G3 = (k3 + (i - 1 - pad) / steps + shear (f1_r - 1/2)) h3 with f1_r = (r - 1) / kSub1 and
    // shear = sigma h1 / h3, so that each row follows the line with the spacing unchanged, and
    // holds steps + 3 + 2 pad nodes, pad enough for the shear.
    static constexpr int kSub = 64, kSub2 = 256, kSub1 = 4;
    struct SubShape {
        int steps = kSub, pad = 0;
        double shear = 0.0;
    };
    std::vector<std::ptrdiff_t> sub_of;
    std::vector<SubShape> sub_shape;
    std::vector<double, LargePageAllocator<double>> sub_nodes;
    // With one scalar, each interval's cubic in powers of its fraction f, S = S_0 + f (C_1 +
    // f (C_2 + f C_3)) with S_0 its first node: three multiplications and additions per element
    // where the four nodes' weights take four and three, and no weights to form. The same
    // polynomial as the nodes' Lagrange cubic; C_1..C_3 of grid cell k3 at
    // cubic[(k3 + K3) 3 node_size()], of interval j of finer table b (sub_of / (kSub + 3)) at
    // sub_cubic[(b kSub + j) 3 node_size()]. Made by make_cubics once the table is complete.
    // Where C_3 is below a quarter of the error allowed in a slice in every element (a grid
    // refined for its rough cells, every finer table) the interval is evaluated as a quadratic,
    // two multiplications and additions per element: `third` (per grid cell) and `sub_third`
    // (per finer interval) are 1 where C_3 is needed.
    std::vector<double, LargePageAllocator<double>> cubic, sub_cubic;
    std::vector<unsigned char> third, sub_third;
    int sub_steps() const { return K1 > 0 ? kSub2 : kSub; }
    int sub_rows() const { return K1 > 0 ? kSub1 + 3 : 1; }
    // In G1 a finer table interpolates quadratically through its three rows nearest to the
    // column (a fourth row would cost a third more per column; at a quarter of the grid's G1
    // step the quadratic's error, about h^3 / 16 times the third derivative, is within the
    // checks' bound). The first of those rows and their weights for a fraction f1 of a cell's G1
    // step.
    static constexpr int kSubRowsUsed = 3;
    static int sub_row(double f1, double* w1) {
        const double f = f1 * kSub1;
        const int p = std::clamp(static_cast<int>(std::floor(f + 0.5)), 0, kSub1);
        const double x = f - p; // from the middle row, within [-1/2, 1/2]
        w1[0] = 0.5 * x * (x - 1.0);
        w1[1] = (1.0 - x) * (1.0 + x);
        w1[2] = 0.5 * x * (x + 1.0);
        w1[3] = 0.0;
        return p;
    }
    // Nodes between two rows: of the grid, of a finer table.
    std::size_t row_nodes() const { return static_cast<std::size_t>(2 * K3 + 1); }
    static std::size_t sub_row_nodes(const SubShape& s) {
        return static_cast<std::size_t>(s.steps + 2 * s.pad) + 3;
    }
    // The interval j of a finer table's row and the fraction f within it for a column at u3
    // (G3 / h3) and fraction f1 of its cell (k3, .) in G1.
    KORVEX_HOT static int sub_interval(const SubShape& s, double u3, int k3, double f1, double& f) {
        const double x = (u3 - s.shear * (f1 - 0.5) - k3) * s.steps + s.pad;
        const int j = std::clamp(static_cast<int>(std::floor(x)), 0, s.steps + 2 * s.pad - 1);
        f = x - j;
        return j;
    }

    // The coefficients of `cubic` and `sub_cubic` from the nodes (one scalar only; nothing with
    // two). From nodes a, b, c, d at -1, 0, 1, 2: C_1 = c - (2a + 3b + d) / 6,
    // C_2 = (a + c) / 2 - b, C_3 = ((d - a) + 3 (b - c)) / 6.
    void make_cubics() {
        cubic.clear();
        sub_cubic.clear();
        third.clear();
        sub_third.clear();
        if (K1 != 0 || nodes.empty()) return;
        const std::size_t ns = node_size();
        // The coefficients of the interval whose first node (at -1) is `a`; whether C_3 counts.
        const auto fill = [ns, this](const double* a, double* out) {
            const double *b = a + ns, *c = b + ns, *d = c + ns;
            double c3 = 0.0;
            for (std::size_t e = 0; e < ns; ++e) {
                out[e] = c[e] - (2.0 * a[e] + 3.0 * b[e] + d[e]) / 6.0;
                out[ns + e] = (a[e] + c[e]) / 2.0 - b[e];
                out[2 * ns + e] = ((d[e] - a[e]) + 3.0 * (b[e] - c[e])) / 6.0;
                c3 = std::max(c3, std::abs(out[2 * ns + e]));
            }
            return static_cast<unsigned char>(!(c3 <= per_slice / 4.0));
        };
        cubic.assign(row_nodes() * 3 * ns, 0.0);
        third.assign(row_nodes(), 1);
        for (int k3 = 1 - K3; k3 <= K3 - 2; ++k3)
            third[static_cast<std::size_t>(k3 + K3)] =
                fill(node(k3 - 1, 0), cubic.data() + static_cast<std::size_t>(k3 + K3) * 3 * ns);
        const std::size_t per = static_cast<std::size_t>(kSub + 3) * ns;
        const std::size_t blocks = sub_nodes.size() / per;
        sub_cubic.assign(blocks * kSub * 3 * ns, 0.0);
        sub_third.assign(blocks * kSub, 1);
        for (std::size_t b = 0; b < blocks; ++b)
            for (int j = 0; j < kSub; ++j) {
                const std::size_t i = b * kSub + static_cast<std::size_t>(j);
                sub_third[i] = fill(sub_nodes.data() + b * per + static_cast<std::size_t>(j) * ns,
                                    sub_cubic.data() + i * 3 * ns);
            }
    }

    // Whether the cells at zero strain are served (smooth, or rough with a finer table): most
    // columns of an image lie there, away from any core. When they are not, the table would
    // solve nearly every column exactly after the cost of its lookups, so the engine solves
    // every column directly instead.
    bool serves_small_strains() const {
        if (rough.empty()) return false;
        for (int k1 = K1 > 0 ? -1 : 0; k1 <= 0; ++k1)
            for (int k3 = -1; k3 <= 0; ++k3) {
                const std::size_t cell = index(k3, k1);
                if (rough[cell] && sub_of[cell] < 0) return false;
            }
        return true;
    }

    std::size_t node_size() const { return node_doubles(n); }
    std::size_t index(int k3, int k1) const {
        return static_cast<std::size_t>((k1 + K1) * (2 * K3 + 1) + (k3 + K3));
    }
    KORVEX_HOT double* node(int k3, int k1) { return nodes.data() + index(k3, k1) * node_size(); }
    KORVEX_HOT const double* node(int k3, int k1) const {
        return nodes.data() + index(k3, k1) * node_size();
    }
    KORVEX_HOT const double* grid_cubic(int k3) const {
        return cubic.data() + static_cast<std::size_t>(k3 + K3) * 3 * node_size();
    }
    // Interval j of the one-scalar finer table of `cell`: its first node (at the interval's
    // start), its coefficients.
    KORVEX_HOT const double* sub_first(std::size_t cell, int j) const {
        return sub_nodes.data() + (sub_of[cell] + j + 1) * static_cast<std::ptrdiff_t>(node_size());
    }
    KORVEX_HOT std::size_t sub_interval_of(std::size_t cell, int j) const {
        return static_cast<std::size_t>(sub_of[cell] / (kSub + 3) * kSub + j);
    }
    KORVEX_HOT const double* sub_cubic_of(std::size_t cell, int j) const {
        return sub_cubic.data() + sub_interval_of(cell, j) * 3 * node_size();
    }

    // The spacing: a cubic through four nodes misses a function by at most 9/16 h^4 / 4! times
    // its fourth derivative, and S = exp(i pi dz A) with A's diagonal moving by 2 m_n per unit
    // of a scalar has derivatives bounded by (2 pi dz max|m_n|)^k (max|m_n t_n| for G1). Each
    // scalar gets half of `slice_error`, the error allowed in one slice; the range stops at
    // `max_scalar` or where the table would outgrow `max_bytes`. `refine`
    // divides the spacing in G3; `max_nodes` > 0 keeps only |k| <= max_nodes in each scalar.
    // Returns false when the table had to shrink.
    bool plan(const StrainForm& f, double slice_dz, double slice_error, double max_scalar,
              std::size_t max_bytes, int refine = 1, int max_nodes = 0) {
        dz = slice_dz;
        n = static_cast<int>(f.m.size());
        double m3 = 0.0, m1 = 0.0;
        for (std::size_t r = 0; r < f.m.size(); ++r) {
            m3 = std::max(m3, std::abs(f.m[r]));
            m1 = std::max(m1, std::abs(f.m[r] * f.t[r]));
        }
        const double budget = f.dims == 2 ? slice_error / 2.0 : slice_error;
        auto spacing = [&](double mm) {
            const double d = 2.0 * kPi * std::abs(dz) * mm;
            return std::pow(budget / (9.0 / 16.0 / 24.0), 0.25) / std::max(d, 1e-300);
        };
        h3 = spacing(m3) / refine;
        K3 = static_cast<int>(std::min(max_scalar / h3, 1e6)) + 2;
        K1 = 0;
        if (f.dims == 2) {
            h1 = spacing(m1);
            K1 = static_cast<int>(std::min(max_scalar / h1, 1e6)) + 2;
        }
        // With one scalar each node also starts a cell's three coefficients (make_cubics).
        const auto bytes = [&] {
            return static_cast<double>(2 * K3 + 1) * (2 * K1 + 1) * node_size() * sizeof(double) *
                   (f.dims == 2 ? 1 : 4);
        };
        bool whole = true;
        while (bytes() > static_cast<double>(max_bytes) && (K3 > 2 || K1 > 2)) {
            whole = false;
            K3 = std::max(2, K3 * 3 / 4);
            K1 = std::max(f.dims == 2 ? 2 : 0, K1 * 3 / 4);
        }
        if (max_nodes > 0) { // a look at the smallest strains only
            K3 = std::min(K3, max_nodes);
            K1 = std::min(K1, max_nodes);
        }
        nodes.assign(static_cast<std::size_t>(2 * K3 + 1) * (2 * K1 + 1) * node_size(), 0.0);
        rough.assign(static_cast<std::size_t>(2 * K3 + 1) * (2 * K1 + 1), 0);
        sub_of.assign(rough.size(), -1);
        sub_shape.assign(rough.size(), SubShape{});
        sub_nodes.clear();
        per_slice = slice_error;
        return whole;
    }

    // phi <- S(g3, g1) phi for one column (laid out as in `apply_transfer`; s scratch of
    // node_size() doubles, y of 4 n); false, with phi untouched, when the stencil leaves the grid
    // or the cell is solved exactly. With one scalar each column of S is formed in registers from
    // the interval's cubic and used at once: S is never stored.
    template <int N>
    KORVEX_HOT bool transfer(double g3, double g1, double* x, std::ptrdiff_t stride, double* s,
                             double* y) const {
        if constexpr (N > 0) {
            if (K1 == 0) {
                const double u3 = g3 / h3;
                if (!(std::abs(u3) < K3 - 2)) return false;
                const int k3 = static_cast<int>(std::floor(u3));
                const std::size_t cell = index(k3, 0);
                if (!rough[cell]) {
                    cubic_transfer<N>(u3 - k3, node(k3, 0), grid_cubic(k3),
                                      third[static_cast<std::size_t>(k3 + K3)], x, stride);
                    return true;
                }
                if (sub_of[cell] < 0) return false;
                const double f = (u3 - k3) * kSub;
                const int j = std::clamp(static_cast<int>(std::floor(f)), 0, kSub - 1);
                cubic_transfer<N>(f - j, sub_first(cell, j), sub_cubic_of(cell, j),
                                  sub_third[sub_interval_of(cell, j)], x, stride);
                return true;
            }
        }
        if (!interpolate<N>(g3, g1, s)) return false;
        if constexpr (N > 0)
            detail::apply_elements<N>([&](std::size_t at) { return detail::node_lanes(s + at); }, x,
                                      stride);
        else
            apply_transfer(s, n, x, stride, y);
        return true;
    }

    // The cells and fractions of a row of columns, with scalars g3[0, count), in a one-scalar
    // table, computed together as vectors (the numbers `transfer` computes column by column);
    // then `at` tells each column where its transfer lies.
    struct RowStencil {
        // The fraction in the cell and in the cell's finer table, both formed for every column:
        // at the Bragg condition half of an edge dislocation's columns lie in the rough cells
        // around zero strain.
        std::vector<double> f, fs;
        std::vector<int> k, j; // the cell (INT_MIN: outside), the finer table's interval
    };
    void locate_row(int count, const double* g3, RowStencil& st) const {
        const std::size_t nc = static_cast<std::size_t>(count);
        if (st.k.size() < nc) {
            st.f.resize(nc);
            st.fs.resize(nc);
            st.k.resize(nc);
            st.j.resize(nc);
        }
        double* ff = st.f.data();
        double* fs = st.fs.data();
        int* kk = st.k.data();
        int* jj = st.j.data();
        const double lim = K3 - 2;
        KORVEX_LANES
        for (int c = 0; c < count; ++c) {
            // Selects, not branches, so that the loop vectorises: a column outside (or NaN)
            // takes the cell at zero and is then marked.
            const double u = g3[c] / h3;
            const bool inside = std::abs(u) < lim;
            const double u3 = inside ? u : 0.0;
            const int k3 = static_cast<int>(std::floor(u3));
            const double f = (u3 - k3) * kSub;
            const int j = std::min(std::max(static_cast<int>(std::floor(f)), 0), kSub - 1);
            ff[c] = u3 - k3;
            fs[c] = f - j;
            kk[c] = inside ? k3 : std::numeric_limits<int>::min();
            jj[c] = j;
        }
    }
    // Column c of the row located in `st`: its interval's first node S_0, with its coefficients
    // `coef`, whether C_3 counts (`cubic3`) and the column's fraction `f` (see `cubic_transfer`),
    // or null when the column is solved exactly.
    KORVEX_HOT const double* at(const RowStencil& st, std::size_t c, const double*& coef,
                                bool& cubic3, double& f) const {
        const int k3 = st.k[c];
        if (k3 == std::numeric_limits<int>::min()) return nullptr;
        const std::size_t cell = index(k3, 0);
        if (!rough[cell]) {
            coef = grid_cubic(k3);
            cubic3 = third[static_cast<std::size_t>(k3 + K3)];
            f = st.f[c];
            return node(k3, 0);
        }
        if (sub_of[cell] < 0) return nullptr;
        coef = sub_cubic_of(cell, st.j[c]);
        cubic3 = sub_third[sub_interval_of(cell, st.j[c])];
        f = st.fs[c];
        return sub_first(cell, st.j[c]);
    }
    // phi <- S phi with S = S_0 + f (C_1 + f (C_2 + f C_3)) (see `cubic`), without C_3 unless
    // `cubic3`.
    template <int N>
    KORVEX_HOT void cubic_transfer(double f, const double* s0, const double* coef, bool cubic3,
                                   double* x, std::ptrdiff_t stride) const {
        // The last pair of columns read together stays within the node.
        static_assert(N <= 0 || 2 * N * ((N - 2) / 2 * 2) + (4 * N + 7) / 8 * 8 <=
                                    static_cast<int>(node_doubles(N)));
        if (cubic3)
            detail::cubic_and_apply<N, 3>(f, s0, coef, node_doubles(N), x, stride);
        else
            detail::cubic_and_apply<N, 2>(f, s0, coef, node_doubles(N), x, stride);
    }

    // S at (g3, g1) into s (node_size() doubles); false when the stencil leaves the grid.
    template <int N> KORVEX_HOT bool interpolate(double g3, double g1, double* s) const {
        const double u3 = g3 / h3, u1 = g1 / h1;
        if (!(std::abs(u3) < K3 - 2) || !(K1 > 0 ? std::abs(u1) < K1 - 2 : u1 == 0.0)) return false;
        const int k3 = static_cast<int>(std::floor(u3));
        const int k1 = K1 > 0 ? static_cast<int>(std::floor(u1)) : 0;
        const std::size_t cell = index(k3, k1);
        if (!rough[cell]) {
            interpolate_in<N>(k3, u3 - k3, k1, u1 - k1, s);
            return true;
        }
        if (sub_of[cell] < 0) return false;
        double f = 0.0;
        const int j = sub_interval(sub_shape[cell], u3, k3, u1 - k1, f);
        sub_interpolate<N>(sub_nodes.data() +
                               sub_of[cell] * static_cast<std::ptrdiff_t>(node_size()),
                           sub_row_nodes(sub_shape[cell]), j, f, u1 - k1, s);
        return true;
    }

    // S at fraction f of interval j (and fraction f1 between the middle rows of G1 nodes) of the
    // finer table whose node 0 is at `sub`, its rows `along` nodes apart.
    template <int N>
    KORVEX_HOT void sub_interpolate(const double* sub, std::size_t along, int j, double f,
                                    double f1, double* s) const {
        const std::size_t ns = N > 0 ? node_doubles(N) : node_size();
        double w3[4];
        cubic_weights(f, w3);
        if (K1 == 0) {
            const double* p = sub + static_cast<std::size_t>(j) * ns;
            combine<N>(w3, p, p + ns, p + 2 * ns, p + 3 * ns, s, false);
            return;
        }
        double w1[4], w[4];
        const int first = sub_row(f1, w1);
        for (int r = 0; r < kSubRowsUsed; ++r) {
            for (int i = 0; i < 4; ++i) w[i] = w3[i] * w1[r];
            const double* p =
                sub +
                (static_cast<std::size_t>(first + r) * along + static_cast<std::size_t>(j)) * ns;
            combine<N>(w, p, p + ns, p + 2 * ns, p + 3 * ns, s, r > 0);
        }
    }

    // With two scalars, the cells and weights of a row of columns (scalars g3, g1), as
    // locate_row finds them with one; then `at2` tells each column where its transfer lies.
    struct RowStencil2 {
        std::vector<double> w3, w1;       // 4 weights per column, in G3 (grid or finer) and G1
        std::vector<std::size_t> at;      // first node, in nodes from the grid's or the finer start
        std::vector<std::size_t> apart;   // nodes between the rows of G1
        std::vector<unsigned char> where; // 0: solved exactly, 1: grid, 2: finer table
    };
    void locate_row2(int count, const double* g3, const double* g1, RowStencil2& st) const {
        const std::size_t nc = static_cast<std::size_t>(count);
        if (st.at.size() < nc) {
            st.w3.resize(4 * nc);
            st.w1.resize(4 * nc);
            st.at.resize(nc);
            st.apart.resize(nc);
            st.where.resize(nc);
        }
        const double lim3 = K3 - 2, lim1 = K1 - 2;
        for (std::size_t c = 0; c < nc; ++c) {
            const double u3 = g3[c] / h3, u1 = g1[c] / h1;
            st.where[c] = 0;
            if (!(std::abs(u3) < lim3) || !(std::abs(u1) < lim1)) continue;
            const int k3 = static_cast<int>(std::floor(u3));
            const int k1 = static_cast<int>(std::floor(u1));
            const std::size_t cell = index(k3, k1);
            if (!rough[cell]) {
                cubic_weights(u1 - k1, &st.w1[4 * c]);
                cubic_weights(u3 - k3, &st.w3[4 * c]);
                st.at[c] = index(k3 - 1, k1 - 1);
                st.apart[c] = row_nodes();
                st.where[c] = 1;
            } else if (sub_of[cell] >= 0) {
                double f = 0.0;
                const int j = sub_interval(sub_shape[cell], u3, k3, u1 - k1, f);
                cubic_weights(f, &st.w3[4 * c]);
                const int r = sub_row(u1 - k1, &st.w1[4 * c]);
                st.apart[c] = sub_row_nodes(sub_shape[cell]);
                st.at[c] = static_cast<std::size_t>(sub_of[cell]) +
                           static_cast<std::size_t>(r) * st.apart[c] + static_cast<std::size_t>(j);
                st.where[c] = 2;
            }
        }
    }
    // Column c of a row located by locate_row2: its first node, the nodes between its rows and
    // its weights; null when the column is solved exactly. `finer`: from a finer table (three
    // rows of G1 nodes, not four).
    KORVEX_HOT const double* at2(const RowStencil2& st, std::size_t c, std::size_t& rows_apart,
                                 const double*& w3, const double*& w1, bool& finer) const {
        if (st.where[c] == 0) return nullptr;
        finer = st.where[c] == 2;
        w3 = &st.w3[4 * c];
        w1 = &st.w1[4 * c];
        const std::size_t ns = node_size();
        rows_apart = st.apart[c] * ns;
        return (st.where[c] == 1 ? nodes.data() : sub_nodes.data()) + st.at[c] * ns;
    }
    // phi <- S phi with S interpolated over the 4 x 4 nodes from `a` (rows `rows_apart` doubles
    // apart), as interpolate_in forms it, or over 4 x 3 of a finer table, as sub_interpolate.
    template <int N>
    KORVEX_HOT void interpolated_transfer2(const double* w3, const double* w1, const double* a,
                                           std::size_t rows_apart, bool finer, double* x,
                                           std::ptrdiff_t stride) const {
        if (finer)
            detail::interpolate_and_apply2<N, kSubRowsUsed>(w3, w1, a, node_doubles(N), rows_apart,
                                                            x, stride);
        else
            detail::interpolate_and_apply2<N, 4>(w3, w1, a, node_doubles(N), rows_apart, x, stride);
    }

    // S at fractions (f3, f1) of the cell at node (k3, k1).
    template <int N>
    KORVEX_HOT void interpolate_in(int k3, double f3, int k1, double f1, double* s) const {
        double w3[4];
        cubic_weights(f3, w3);
        if (K1 == 0) {
            combine<N>(w3, node(k3 - 1, 0), node(k3, 0), node(k3 + 1, 0), node(k3 + 2, 0), s,
                       false);
            return;
        }
        double w1[4], w[4];
        cubic_weights(f1, w1);
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) w[i] = w3[i] * w1[j];
            const int kj = k1 + j - 1;
            combine<N>(w, node(k3 - 1, kj), node(k3, kj), node(k3 + 1, kj), node(k3 + 2, kj), s,
                       j > 0);
        }
    }

  private:
    // s (+)= w0 a + w1 b + w2 c + w3 d over a whole node.
    template <int N>
    KORVEX_HOT void combine(const double* w, const double* a, const double* b, const double* c,
                            const double* d, double* s, bool add) const {
        const std::size_t ns = N > 0 ? node_doubles(N) : node_size();
        const double w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
        if (add) {
            KORVEX_LANES
            for (std::size_t e = 0; e < ns; ++e)
                s[e] += ((w0 * a[e] + w1 * b[e]) + w2 * c[e]) + w3 * d[e];
        } else {
            KORVEX_LANES
            for (std::size_t e = 0; e < ns; ++e)
                s[e] = ((w0 * a[e] + w1 * b[e]) + w2 * c[e]) + w3 * d[e];
        }
    }
};

} // namespace korvex::solver
