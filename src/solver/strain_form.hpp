// The form every defect model gives a column's strain terms: s_g_r(n) = m_n (G3 + t_n G1), two
// scalars per column, which the table engine recovers and checks.
#pragma once

#include "solver/kernels.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace korvex::solver {

// How a column's strain terms map onto the table's scalars, fixed for a beam condition.
struct StrainForm {
    int dims = 0;             // 0: nothing to tabulate, 1: G3 only, 2: G3 and G1
    int a = -1, b = -1;       // beams the scalars are recovered from
    std::vector<double> m, t; // order and tan(tilt) of each beam
    std::vector<double> s;    // each beam's excitation error (when given)

    // Decides the form from the beams' orders and tilts (n values each). With two scalars and
    // the beams' excitation errors `s_g`, G3 is measured from the line of the (G3, G1) plane
    // along which the pair of beams nearest to crossing at zero strain crosses (their terms
    // 2 (s_g + s_g_r) equal): G3' = G3 - c G1 and t_n' = t_n + c leave every term as it is, and
    // the pair's narrow avoided crossing then lies along G3' = 0, across few cells of the table.
    // (The tilts grow linearly with the order, so every pair crossing at zero strain crosses
    // along the same line.)
    static StrainForm make(int n, const double* order, const double* tan_tilt,
                           const double* s_g = nullptr) {
        StrainForm f;
        f.m.assign(order, order + n);
        f.t.assign(tan_tilt, tan_tilt + n);
        if (s_g) f.s.assign(s_g, s_g + n);
        // G3 from the beam of largest order; G1 from the beam whose tilt differs most from it.
        for (int r = 0; r < n; ++r)
            if (f.m[r] != 0.0 && (f.a < 0 || std::abs(f.m[r]) > std::abs(f.m[f.a]))) f.a = r;
        if (f.a < 0) return f;
        f.dims = 1;
        double spread = 0.0;
        for (int r = 0; r < n; ++r)
            if (f.m[r] != 0.0 && std::abs(f.t[r] - f.t[f.a]) > spread) {
                spread = std::abs(f.t[r] - f.t[f.a]);
                f.b = r;
            }
        if (f.b >= 0) f.dims = 2;
        if (f.dims == 2 && s_g) {
            double nearest = std::numeric_limits<double>::infinity(), c = 0.0;
            for (int a = 0; a < n; ++a)
                for (int b = a + 1; b < n; ++b) {
                    const double dm = f.m[a] - f.m[b];
                    if (dm == 0.0) continue;
                    const double at = std::abs((s_g[b] - s_g[a]) / dm);
                    if (at < nearest) {
                        nearest = at;
                        c = (f.m[b] * f.t[b] - f.m[a] * f.t[a]) / dm;
                    }
                }
            for (double& t : f.t) t += c;
        }
        return f;
    }

    // With two scalars: the slope dG3/dG1 of the line along which the beam pair crossing
    // nearest to (g3, g1) crosses, G3 = (s_b - s_a) / (m_a - m_b) + sigma G1 with
    // sigma = (m_b t_b - m_a t_a) / (m_a - m_b) (the pair's terms 2 (s_g + s_g_r) equal there);
    // 0 without the excitation errors.
    double crossing_slope(double g3, double g1) const {
        double nearest = std::numeric_limits<double>::infinity(), slope = 0.0;
        if (dims != 2 || s.size() != m.size()) return 0.0;
        for (std::size_t i = 0; i < m.size(); ++i)
            for (std::size_t j = i + 1; j < m.size(); ++j) {
                const double dm = m[i] - m[j];
                if (dm == 0.0) continue;
                const double sigma = (m[j] * t[j] - m[i] * t[i]) / dm;
                const double at = std::abs((s[j] - s[i]) / dm + sigma * g1 - g3);
                if (at < nearest) {
                    nearest = at;
                    slope = sigma;
                }
            }
        return slope;
    }

    // Recovers (G3, G1) from a column's terms sgr[r * stride]; false when any beam departs from
    // m_n (G3 + t_n G1) by more than kFormTol (plus the rounding of the larger terms). A term
    // off by kFormTol moves a column's phase by at most 2 pi kFormTol per Angstrom of foil, under
    // 1e-7 for any foil up to 10 um; the models' own rounding is some 1e-16 of the terms.
    static constexpr double kFormTol = 1e-12;
    bool recover(const double* sgr, std::ptrdiff_t stride, double& g3, double& g1) const {
        unsigned char ok = 0;
        recover_row(sgr, stride, 1, &g3, &g1, &ok);
        return ok != 0;
    }

    // The same for `count` neighbouring columns at once (column c's terms at sgr[c + r * stride]),
    // a loop over the columns that vectorises.
    // N > 0 is the beam count known when compiling: the check over the beams then unrolls.
    template <int N = 0>
    void recover_row(const double* sgr, std::ptrdiff_t stride, int count, double* g3, double* g1,
                     unsigned char* ok) const {
        if (dims == 0) {
            for (int c = 0; c < count; ++c) ok[c] = 0;
            return;
        }
        const int n = N > 0 ? N : static_cast<int>(m.size());
        const double* sa = sgr + a * stride;
        const double* sb = sgr + (dims == 2 ? b : a) * stride;
        const double ma = m[a], mb = m[dims == 2 ? b : a], ta = t[a];
        const double dt = dims == 2 ? t[a] - t[b] : 1.0;
        const double* mm = m.data();
        const double* tt = t.data();
        KORVEX_LANES
        for (int c = 0; c < count; ++c) {
            // With one scalar sb is sa: u1 is then exactly zero, without a branch in the loop.
            const double ra = sa[c] / ma;
            const double u1 = (ra - sb[c] / mb) / dt;
            const double u3 = ra - ta * u1;
            int fits = 1;
            for (int r = 0; r < n; ++r) {
                const double want = mm[r] * (u3 + tt[r] * u1);
                const double x = sgr[c + r * stride];
                fits &= std::abs(x - want) <= kFormTol * (1.0 + std::abs(x) + std::abs(want));
            }
            g3[c] = u3;
            g1[c] = u1;
            ok[c] = static_cast<unsigned char>(fits);
        }
    }
};

} // namespace korvex::solver
