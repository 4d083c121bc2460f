#include "driver/finite_check.hpp"

#include "state/error.hpp"
#include "state/fmt.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

namespace korvex {

namespace {

bool finite(double v) {
    return std::isfinite(v);
}
bool finite(const cplx& v) {
    return std::isfinite(v.real()) && std::isfinite(v.imag());
}

// Whether n doubles are all finite: a NaN or an infinity has every exponent bit set. An
// integer test of each value, so that the scan vectorises.
bool all_finite(const double* p, std::size_t n) {
    constexpr std::uint64_t kExponent = 0x7FF0000000000000ULL;
    std::uint64_t bad = 0;
#pragma omp parallel for reduction(| : bad) schedule(static)
    for (std::size_t e = 0; e < n; ++e)
        bad |= static_cast<std::uint64_t>((std::bit_cast<std::uint64_t>(p[e]) & kExponent) ==
                                          kExponent);
    return bad == 0;
}

// The position of the first non-finite element, as (i, j, n); {0, 0, 0} when all are finite.
template <class T> std::array<int, 3> first_bad(const Array3<T>& a) {
    // A complex number is two doubles in a row.
    const auto* p = reinterpret_cast<const double*>(a.data());
    if (all_finite(p, a.size() * (sizeof(T) / sizeof(double)))) return {0, 0, 0};
    for (int n = 1; n <= a.n3(); ++n)
        for (int j = 1; j <= a.n2(); ++j)
            for (int i = 1; i <= a.n1(); ++i)
                if (!finite(a(i, j, n))) return {i, j, n};
    return {0, 0, 0};
}

template <class T> void check(const State& st, const Array3<T>& a, int islice, const char* what) {
    const auto [i, j, n] = first_bad(a);
    if (n == 0) return;
    halt({std::string("The ") + what + " turned non-finite: beam " +
              std::to_string(st.mtx_beams(n)) + "g, column (" + std::to_string(i) + ", " +
              std::to_string(j) + "), slice " + std::to_string(islice) + ".",
          "No image of this condition is written; check the defect configuration."});
}

} // namespace

void check_finite_strain(const State& st, int islice) {
    check(st, st.s_g_r, islice, "strain term");
}

void check_finite_strain(const State& st, const Array3<double>& s_g_r, int islice) {
    check(st, s_g_r, islice, "strain term");
}

void check_finite_amplitudes(const State& st, int islice) {
    check(st, st.phi_grid, islice, "amplitude");
}

} // namespace korvex
