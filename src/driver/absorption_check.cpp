#include "driver/absorption_check.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvex {

std::optional<std::string> first_order_absorption_warning(const State& st) {
    if (st.iabs == 0 || st.absorption != Absorption::first_order || st.n_beams < 2)
        return std::nullopt;
    const int n = st.n_beams;
    double s_scale = 0.0;
    for (int a = 1; a <= n; ++a) s_scale = std::max(s_scale, std::abs(st.s_g(a)));
    const double absorption = std::abs(st.ui0);
    std::string why;
    // The weakest coupled pair of beams with equal excitation errors.
    int pa = 0, pb = 0;
    double weakest = HUGE_VAL;
    for (int a = 1; a <= n; ++a)
        for (int b = a + 1; b <= n; ++b) {
            if (std::abs(st.s_g(a) - st.s_g(b)) > 1e-9 * (1.0 + s_scale * 1e6)) continue;
            const int d = std::abs(st.mtx_beams(a) - st.mtx_beams(b));
            if (d < 1 || d > n - 1) continue;
            const double coupling = std::abs(st.u(d));
            if (coupling < weakest) weakest = coupling, pa = a, pb = b;
        }
    char b[200];
    if (pa > 0 && 2.0 * weakest < absorption) {
        std::snprintf(b, sizeof b,
                      " * WARNING: beams %dg and %dg have equal excitation errors and split by "
                      "only 2 |U(%dg)| = %.3g, below the absorption U'(0) = %.3g (1/A^2)\n",
                      st.mtx_beams(pa), st.mtx_beams(pb),
                      std::abs(st.mtx_beams(pa) - st.mtx_beams(pb)), 2.0 * weakest, absorption);
        why += b;
    }
    if (st.u0 > 0.0 && absorption > kStrongAbsorption * st.u0) {
        std::snprintf(b, sizeof b,
                      " * WARNING: strong absorption: U'(0) is %.1f %% of U(0) (a heavy "
                      "element)\n",
                      100.0 * absorption / st.u0);
        why += b;
    }
    if (why.empty()) return std::nullopt;
    return why + " * First-order absorption is unreliable here (errors of 0.01 and more in the "
                 "intensities): run with --absorption=exact\n";
}

} // namespace korvex
