#include "driver/finite_check.hpp"

#include "state/error.hpp"
#include "state/fmt.hpp"

#include <cmath>
#include <string>

namespace korvex {

namespace {

bool finite(double v) {
    return std::isfinite(v);
}
bool finite(const cplx& v) {
    return std::isfinite(v.real()) && std::isfinite(v.imag());
}

// The position of the first non-finite element, as (i, j, n); {0, 0, 0} when all are finite.
template <class T> std::array<int, 3> first_bad(const Array3<T>& a) {
    const T* p = a.data();
    bool all = true;
    for (std::size_t e = 0; e < a.size(); ++e) all &= finite(p[e]);
    if (all) return {0, 0, 0};
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

void check_finite_amplitudes(const State& st, int islice) {
    check(st, st.phi_grid, islice, "amplitude");
}

} // namespace korvex
