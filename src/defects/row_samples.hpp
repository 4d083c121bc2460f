// The depth rates of a stretch of an image row from a field sampled at every 16th column where
// it is smooth, at every 4th or 2nd where that is not smooth enough. A defect's field away from
// its lines changes over lengths of the order of the distance to them: a cubic through four
// samples a few columns apart then meets the field within a small fraction of it, and the
// columns between take that cubic instead of their own evaluation.
//
// The error of the cubic in the middle of four samples h apart is at most 9/16 h^4 / 4! times
// the field's fourth derivative, and the fourth difference of five neighbouring samples is h^4
// times that derivative somewhere among them. An interval is interpolated only where both
// fourth differences around it, times four times that factor (0.1), weighted by the beams'
// largest weights, stay within the tolerance; otherwise its columns are evaluated. A field that
// is not finite at a sample fails the test. The columns of `zone` (those near the defect's
// lines) are always evaluated.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace korvex {

inline constexpr int kSampleStep = 2;    // the finest sampling
inline constexpr int kSampleMargin = 8;  // columns around a defect's lines always evaluated
inline constexpr int kSampleCoarse = 16; // the first sampling, refined where it fails (16, 4, 2)

struct RowSampleScratch {
    std::vector<int> cols;      // the columns to evaluate
    std::vector<double> e1, e3; // their values, in the order of `cols`
    struct Level {              // the samples of a stretch at one sampling step
        std::vector<int> at;
        std::vector<double> c1, c3;
    };
    std::array<Level, 3> level; // at 16, 4 and 2 columns
};

namespace detail {

// The weights of a cubic through samples -1, 0, 1, 2 at the fractions q / h, q = 0 .. h - 1:
// w[j][q] for sample j - 1 (each weight's row contiguous, so that a stretch vectorises).
template <int H> constexpr std::array<std::array<double, H>, 4> cubic_fractions() {
    std::array<std::array<double, H>, 4> w{};
    for (std::size_t q = 0; q < H; ++q) {
        const double f = static_cast<double>(q) / H, fp = f + 1.0, fm = f - 1.0, f2 = f - 2.0;
        w[0][q] = -f * fm * f2 / 6.0;
        w[1][q] = fp * fm * f2 / 2.0;
        w[2][q] = -fp * f * f2 / 2.0;
        w[3][q] = fp * f * fm / 6.0;
    }
    return w;
}
inline constexpr auto kFractionsCoarse = cubic_fractions<kSampleCoarse>();
inline constexpr auto kFractions4 = cubic_fractions<4>();
inline constexpr auto kFractions2 = cubic_fractions<2>();

// The next finer sampling step after h, 1 (every column) after the finest.
constexpr int finer(int h) {
    return h > 4 ? h / 4 : h / 2;
}

// Columns a..b sampled every h columns, the intervals that fail sampled every finer(h), and so
// on down to single columns, which go to s.cols to be evaluated.
template <class Exact>
void sample_stretch(int a, int b, int h, int depth, int first, double tol, double w1, double w3,
                    Exact& exact, double* g1, double* g3, RowSampleScratch& s) {
    if (h < kSampleStep || b - a + 1 < 2 * h) { // too short to gain
        if (h > kSampleStep) {
            sample_stretch(a, b, finer(h), depth + 1, first, tol, w1, w3, exact, g1, g3, s);
            return;
        }
        for (int i = a; i <= b; ++i) s.cols.push_back(i);
        return;
    }
    // Samples k = -2 .. K + 2 at a + k h (index k + 2); K intervals cover a .. b. A
    // refinement below uses the next level's vectors.
    const int K = (b - a + h - 1) / h;
    const std::size_t ns = static_cast<std::size_t>(K + 5);
    RowSampleScratch::Level& lv = s.level[static_cast<std::size_t>(depth)];
    lv.at.resize(ns);
    lv.c1.resize(ns);
    lv.c3.resize(ns);
    std::vector<int>& at = lv.at;
    const std::vector<double>& c1 = lv.c1;
    const std::vector<double>& c3 = lv.c3;
    for (std::size_t k = 0; k < ns; ++k) at[k] = a + (static_cast<int>(k) - 2) * h;
    exact(at.data(), static_cast<int>(ns), lv.c1.data(), lv.c3.data());
    const auto d4 = [](const std::vector<double>& c, std::size_t k) { // around sample k
        return std::abs(c[k - 2] - 4.0 * c[k - 1] + 6.0 * c[k] - 4.0 * c[k + 1] + c[k + 2]);
    };
    int fail_from = -1; // the first column of a run of failed intervals
    for (int k = 0; k <= K; ++k) {
        const std::size_t m = static_cast<std::size_t>(k + 2); // sample k's index
        const int c0 = a + k * h;
        bool ok = false;
        if (k < K) {
            const double est = 0.1 * (w3 * std::max(d4(c3, m), d4(c3, m + 1)) +
                                      w1 * std::max(d4(c1, m), d4(c1, m + 1)));
            ok = est <= tol; // false for a NaN
        }
        if (fail_from >= 0 && (ok || k == K)) { // the run ends before sample k
            sample_stretch(fail_from, std::min(c0 - 1, b), finer(h), depth + 1, first, tol, w1, w3,
                           exact, g1, g3, s);
            fail_from = -1;
        }
        if (c0 > b) break;
        g1[c0 - first] = c1[m];
        g3[c0 - first] = c3[m];
        if (k == K) break;
        if (!ok) {
            if (fail_from < 0) fail_from = c0 + 1;
            continue;
        }
        const int top = std::min(c0 + h - 1, b);
        const auto weights = [&](std::size_t j) {
            return h == kSampleCoarse ? kFractionsCoarse[j].data()
                   : h == 4           ? kFractions4[j].data()
                                      : kFractions2[j].data();
        };
        const double *W0 = weights(0), *W1 = weights(1), *W2 = weights(2), *W3 = weights(3);
        const double a1 = c1[m - 1], b1 = c1[m], d1 = c1[m + 1], e1 = c1[m + 2];
        const double a3 = c3[m - 1], b3 = c3[m], d3 = c3[m + 1], e3 = c3[m + 2];
        double* o1 = g1 + (c0 - first);
        double* o3 = g3 + (c0 - first);
        const int nq = top - c0;
#pragma omp simd
        for (int q = 1; q <= nq; ++q) {
            o1[q] = ((W0[q] * a1 + W1[q] * b1) + W2[q] * d1) + W3[q] * e1;
            o3[q] = ((W0[q] * a3 + W1[q] * b3) + W2[q] * d3) + W3[q] * e3;
        }
    }
}

} // namespace detail

// G1 and G3 of columns first..last into g1, g3 (indexed from `first`); `exact(cols, count, o1,
// o3)` evaluates the field at `count` columns (any column numbers, also outside the image),
// leaving a value that is not finite where the field is not; such a value is stored as given.
// `zones`: sorted, disjoint stretches of columns always evaluated. `w1`, `w3`: the largest
// weights of G1 and G3 in a beam's term; `tol` the error allowed in a term.
template <class Exact>
void sampled_rates(int first, int last, std::span<const std::array<int, 2>> zones, double tol,
                   double w1, double w3, Exact&& exact, double* g1, double* g3,
                   RowSampleScratch& s) {
    s.cols.clear();
    int from = first; // the first column not yet taken
    const auto between = [&](int a, int b) {
        if (a <= b)
            detail::sample_stretch(a, b, kSampleCoarse, 0, first, tol, w1, w3, exact, g1, g3, s);
    };
    for (const std::array<int, 2>& z : zones) {
        const int z0 = std::max(from, z[0]), z1 = std::min(last, z[1]);
        if (z0 > z1) continue;
        between(from, z0 - 1);
        for (int i = z0; i <= z1; ++i) s.cols.push_back(i);
        from = z1 + 1;
    }
    between(from, last);
    if (s.cols.empty()) return;
    s.e1.resize(s.cols.size());
    s.e3.resize(s.cols.size());
    exact(s.cols.data(), static_cast<int>(s.cols.size()), s.e1.data(), s.e3.data());
    for (std::size_t k = 0; k < s.cols.size(); ++k) {
        g1[s.cols[k] - first] = s.e1[k];
        g3[s.cols[k] - first] = s.e3[k];
    }
}

} // namespace korvex
