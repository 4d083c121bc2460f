// Exact absorption against a Taylor series, an integration of the equations, first order.
#include "solver/fixture.hpp"
#include "support/testing.hpp"

#include <numbers>

using namespace korvex::testing;
using Cm = std::vector<cplx>; // n x n, column-major

namespace {

Cm mul(const Cm& a, const Cm& b, int n) {
    Cm c(a.size());
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) c[i + n * j] += a[i + n * k] * b[k + n * j];
    return c;
}

// exp(m) by scaling, a 40-term Taylor series and squaring.
Cm expm(Cm m, int n) {
    double norm = 0.0;
    for (const cplx& x : m) norm += std::abs(x);
    int s = 0;
    while (norm > 0.1) norm /= 2, ++s;
    for (cplx& x : m) x = std::ldexp(1.0, -s) * x;
    Cm e(m.size()), term(m.size());
    for (int i = 0; i < n; ++i) e[i + n * i] = term[i + n * i] = 1.0;
    for (int k = 1; k <= 40; ++k) {
        term = mul(term, m, n);
        for (std::size_t i = 0; i < e.size(); ++i) e[i] += (term[i] /= double(k));
    }
    while (s-- > 0) e = mul(e, e, n);
    return e;
}

// The amplitude of beam n (from 1) of the first column.
cplx amplitude(const State& st, int n) {
    return st.phi_grid(1, 1, n) / std::sqrt(st.k);
}

} // namespace

// Five beams (three off the Bragg condition), slices of two thicknesses: the product of the slice
// transfers is the exponential of the whole foil's matrix; the first-order method differs.
TEST(ExactAbsorption, FiveBeamWholeFoilExponential) {
    const ColumnSetup s{.first = -2, .last = 2, .nslice = 7, .thickness = 1000.0};
    State st = make_state(s), fo = make_state(s);
    for (int l = 1; l <= 7; ++l) st.slicethickness(l) = l <= 3 ? 100.0 : 175.0;
    st.absorption = Absorption::exact, fo.absorption = Absorption::first_order;
    run_slices(st), run_slices(fo);
    const int n = st.n_beams;
    std::vector<double> sgr(static_cast<std::size_t>(n), 0.0);
    matrix_h(n, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, st.h);
    Cm m(static_cast<std::size_t>(n * n));
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < n; ++r)
            m[r + n * c] = cplx(0.0, std::numbers::pi * 1000.0) * st.h(r + 1, c + 1);
    const Cm e = expm(m, n);
    double diff = 0.0;
    for (int r = 0; r < n; ++r) { // the transmitted beam is beam 3
        EXPECT_NEAR(std::abs(amplitude(st, r + 1) - e[r + n * 2]), 0.0, 1e-9) << r;
        diff = std::max(
            diff, std::abs(std::norm(amplitude(fo, r + 1)) - std::norm(amplitude(st, r + 1))));
    }
    EXPECT_GT(diff, 1e-4);
}

// A column beside an edge at depth 400 (terms like m x / (x^2 + (z - 400)^2)), the strain taken
// at the slice centres: second-order convergence to RK4 (step 0.25) of d phi / dz = i pi H phi.
TEST(ExactAbsorption, StrainedColumnConvergesToTheEquations) {
    const auto g3 = [](double z) { return 0.3 * 40.0 / (1600.0 + (z - 400.0) * (z - 400.0)); };
    ColumnSetup s{.first = -2, .last = 2, .nslice = 1, .thickness = 800.0, .defect = "edge"};
    State ref = make_state(s);
    const int n = ref.n_beams;
    std::vector<double> sgr(static_cast<std::size_t>(n));
    const auto f = [&](double z, const Cm& y, double a, const Cm& k) { // i pi H(z) (y + a k)
        for (int r = 0; r < n; ++r) sgr[r] = ref.mtx_beams(r + 1) * g3(z);
        matrix_h(n, ref.s_g, sgr.data(), ref.mtx_bg, ref.ui0, ref.u, ref.ui, ref.h);
        Cm d(y.size());
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                d[r] += cplx(0.0, std::numbers::pi) * ref.h(r + 1, c + 1) * (y[c] + a * k[c]);
        return d;
    };
    Cm y(static_cast<std::size_t>(n));
    y[2] = 1.0;
    const double h = 0.25;
    for (double z = 0.0; z < 800.0 - 1e-9; z += h) {
        const Cm k1 = f(z, y, 0.0, y), k2 = f(z + h / 2, y, h / 2, k1),
                 k3 = f(z + h / 2, y, h / 2, k2), k4 = f(z + h, y, h, k3);
        for (std::size_t i = 0; i < y.size(); ++i)
            y[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
    }
    double last = 0.0;
    for (const int ns : {32, 64, 128, 256}) {
        s.nslice = ns;
        State st = make_state(s);
        st.absorption = Absorption::exact;
        run_slices(st, [&](State&, int l) {
            for (int r = 1; r <= n; ++r)
                st.s_g_r(1, 1, r) = st.mtx_beams(r) * g3(st.sliceposition(l));
        });
        double e = 0.0;
        for (int r = 0; r < n; ++r) e = std::max(e, std::abs(amplitude(st, r + 1) - y[r]));
        EXPECT_TRUE(ns == 32 || std::abs(last / e - 4.0) <= 0.25) << ns << ": " << last / e;
        last = e;
    }
}

// Without absorption both methods agree: strained columns, the lateral shift, a fault jump.
TEST(ExactAbsorption, AgreesWithFirstOrderWithoutAbsorption) {
    ColumnSetup s{.first = -1, .last = 3, .npx = 5, .npy = 3, .nslice = 8, .ca = "no"};
    s.defect = "edge", s.absorption = false;
    State a = make_state(s), b = make_state(s);
    a.s_f(2, 2, 1) = b.s_f(2, 2, 1) = 0.25;
    a.absorption = Absorption::first_order, b.absorption = Absorption::exact;
    const auto strain = [](State& x, int l) { fill_strain(x, l); };
    run_slices(a, strain), run_slices(b, strain);
    // The first-order eigenvectors are converged to about 1e-8 (the Jacobi sweep limit).
    double diff = 0.0;
    for (std::size_t i = 0; i < a.phi_grid.size(); ++i)
        diff = std::max(diff, std::abs(a.phi_grid.data()[i] - b.phi_grid.data()[i]));
    EXPECT_LT(diff / std::sqrt(a.k), 3e-8);
}
