// The column solvers: the structure matrix's eigen-solution and its batch kernel, the table
// engine against the exact one (two-scalar fields, exact fallbacks, threads), exact absorption
// against a Taylor series, an integration of the equations, first order.
#include "solver/fixture.hpp"
#include "solver/table.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <numbers>
#include <omp.h>
#include <random>
#include <utility>

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

Array2<double> from_rows(int n, std::initializer_list<double> rows) {
    Array2<double> a(n, n);
    auto it = rows.begin();
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) a(r, c) = *it++;
    return a;
}

// max |A V - V diag(e)| relative to the Frobenius norm of A.
double eigen_residual(const Array2<double>& a, const Array2<double>& v, const Array1<double>& e) {
    const int n = a.n1();
    double worst = 0.0, fro = 0.0;
    for (int c = 1; c <= n; ++c)
        for (int r = 1; r <= n; ++r) {
            double s = 0.0;
            for (int m = 1; m <= n; ++m) s += a(r, m) * v(m, c);
            worst = std::max(worst, std::abs(s - v(r, c) * e(c)));
            fro += a(r, c) * a(r, c);
        }
    return worst / std::sqrt(fro);
}

} // namespace

// Intensities within 1e-5 of the exact engine, with either absorption (tables of first-order or
// exact transfers); the column at the core (beyond the table) and the one off the form get the
// exact engine's bits; one and two threads give the same bits.
TEST(TableEngine, AgreesWithTheExactEngineAndEnginesVouchOnlyForFiniteValues) {
    const std::pair<const char*, const char*> runs[] = {{"first-order", "yes"},
                                                        {"first-order", "no"},
                                                        {"first-order", "half"},
                                                        {"exact", "yes"},
                                                        {"exact", "no"}};
    double worst_tilted = 0.0;
    for (const auto& [absorption, ca] : runs)
        for (const int nb : {3, 5, 7}) {
            if (nb == 7 && (std::string(absorption) == "exact" || std::string(ca) == "half"))
                continue;
            SCOPED_TRACE(std::string(absorption) + " " + ca + " " + std::to_string(nb));
            ColumnSetup s{.first = -1, .last = nb - 2, .npx = 9, .npy = 6, .nslice = 60};
            s.thickness = 300.0, s.ca = ca, s.defect = "edge";
            for (const bool spoil : {false, true}) {
                const Array3<cplx> exact = run_engine(s, Engine::exact, spoil, absorption);
                const Array3<cplx> table = run_engine(s, Engine::table, spoil, absorption, 1);
                double worst = 0.0;
                for (std::size_t e = 0; e < exact.size(); ++e)
                    worst = std::max(worst, std::abs(table.data()[e] - exact.data()[e]));
                EXPECT_LT(worst, 1e-5);
                EXPECT_GT(worst, 0.0); // the table takes part
                if (std::string(ca) != "yes") worst_tilted = std::max(worst_tilted, worst);
                // Without the column approximation the lateral shift mixes in the neighbours.
                for (int n = 1; n <= nb && std::string(ca) == "yes"; ++n) {
                    EXPECT_EQ(table(6, 3, n), exact(6, 3, n)) << "core column, beam " << n;
                    EXPECT_TRUE(!spoil || table(2, 2, n) == exact(2, 2, n)) << "off the form";
                }
                EXPECT_TRUE(spoil ||
                            same_bits(table, run_engine(s, Engine::table, spoil, absorption, 2)));
            }
        }
    RecordProperty("worst_without_column_approximation", std::to_string(worst_tilted));

    // Each engine vouches for finite strain terms and amplitudes only when they are: a NaN term or
    // amplitude in one column (of a table-served or an exactly solved row) withdraws it; the
    // lateral shift leaves the amplitudes, exact absorption everything to the caller.
    for (const Engine e : {Engine::exact, Engine::table})
        for (const char* ca : {"yes", "no"})
            for (const int bad : {0, 1, 2, 3}) {
                ColumnSetup vs{.first = -1, .last = 1, .npx = 9, .npy = 6, .nslice = 4};
                vs.ca = ca, vs.defect = "edge";
                State vst = make_state(vs);
                initial_amplitudes(vst);
                ColumnEngine veng(e);
                int vflag = 1;
                core_field(vst, 1, false);
                if (bad == 1 || bad == 2) vst.phi_grid(bad == 1 ? 2 : 5, bad == 1 ? 4 : 3, 2) = NAN;
                if (bad == 3) vst.s_g_r(2, 4, 3) = INFINITY;
                ASSERT_TRUE(ColumnEngine::checks_strain(vst));
                veng.propagate_slice(vst, 1, vflag);
                EXPECT_EQ(veng.verified_strain(), bad != 3) << int(e) << ca << bad;
                // (An infinite term may leave the amplitudes finite: the table reads G3 off
                // another beam. The run stops on the term either way.)
                EXPECT_TRUE(bad == 3 ||
                            veng.verified_finite() == (bad == 0 && std::string(ca) == "yes"))
                    << int(e) << ca << bad;
            }
    State vst = make_state({.first = -1, .last = 1, .npx = 4, .npy = 4, .nslice = 2});
    vst.absorption = Absorption::exact;
    EXPECT_FALSE(ColumnEngine::checks_strain(vst));
    initial_amplitudes(vst);
    ColumnEngine veng(Engine::exact);
    int vflag = 1;
    core_field(vst, 1, false);
    veng.propagate_slice(vst, 1, vflag);
    EXPECT_FALSE(veng.verified_strain() || veng.verified_finite());
}

// With one scalar the table evaluates each interval's cubic in powers of its fraction: the same
// polynomial as the four nodes' Lagrange weights give, in every grid cell and every interval of a
// finer table, reached column by column and through a located row (nodes of random values); where
// the nodes lie on a quadratic, as a quadratic.
TEST(TableEngine, CubicsInPowersAreTheNodesInterpolant) {
    using korvex::solver::StrainForm, korvex::solver::TransferTable;
    constexpr int N = 5;
    const double m[N] = {-2, -1, 0, 1, 2}, t[N] = {};
    const StrainForm form = StrainForm::make(N, m, t);
    TransferTable tab;
    tab.plan(form, 1.0, 1e-8, 0.02, std::size_t(1) << 20);
    ASSERT_EQ(tab.K1, 0);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int rough[] = {-3, 0, 2}; // the second block's cell lies between two others
    const std::size_t ns = tab.node_size(), per = (TransferTable::kSub + 3) * ns;
    tab.sub_nodes.resize(3 * per);
    for (int b = 0; b < 3; ++b) {
        tab.rough[tab.index(rough[b], 0)] = 1;
        tab.sub_of[tab.index(rough[b], 0)] = b * (TransferTable::kSub + 3);
    }
    tab.rough[tab.index(5, 0)] = 1; // rough, without a finer table: solved exactly
    for (const bool quadratic : {false, true}) {
        // Element e of node k: random, or p_e + q_e k + r_e k^2 (finer nodes in their own k).
        const auto fill = [&](double* v, std::size_t count) {
            std::vector<double> p(ns), q(ns), r(ns);
            for (std::size_t e = 0; e < ns; ++e) p[e] = u(rng), q[e] = u(rng), r[e] = u(rng) / 8;
            for (std::size_t i = 0; i < count; ++i) {
                const double k = static_cast<double>(i / ns) / 8.0;
                const std::size_t e = i % ns;
                v[i] = quadratic ? p[e] + (q[e] + r[e] * k) * k : u(rng);
            }
        };
        fill(tab.nodes.data(), tab.nodes.size());
        for (int b = 0; b < 3; ++b) fill(tab.sub_nodes.data() + b * per, per);
        tab.make_cubics();
        const auto thirds = std::count(tab.third.begin(), tab.third.end(), 1) +
                            std::count(tab.sub_third.begin(), tab.sub_third.end(), 1);
        EXPECT_EQ(thirds,
                  quadratic ? 3 : static_cast<long>(tab.third.size() + tab.sub_third.size()))
            << "the grid's end cells, which no column reads, keep the flag";
        std::vector<double> g3;
        for (int k = 0; k < 4000; ++k) g3.push_back(u(rng) * (tab.K3 - 2) * tab.h3);
        g3.push_back(5.5 * tab.h3);
        g3.push_back((tab.K3 - 1.5) * tab.h3); // beyond the grid
        TransferTable::RowStencil st;
        tab.locate_row(static_cast<int>(g3.size()), g3.data(), st);
        std::vector<double> s(ns), y(4 * N), x0(2 * N), x1, x2, x3;
        double worst = 0.0;
        int served = 0;
        for (std::size_t c = 0; c < g3.size(); ++c) {
            for (double& v : x0) v = u(rng);
            x1 = x2 = x3 = x0;
            const bool in = tab.interpolate<N>(g3[c], 0.0, s.data());
            const double* coef = nullptr;
            double f = -1.0;
            bool cubic3 = true;
            const double* s0 = tab.at(st, c, coef, cubic3, f);
            ASSERT_EQ(tab.transfer<N>(g3[c], 0.0, x1.data(), 2, s.data(), y.data()), s0 != nullptr);
            EXPECT_EQ(s0 != nullptr, in && c < g3.size() - 2) << c;
            if (!s0) continue;
            ++served;
            ASSERT_TRUE(f >= 0.0 && f <= 1.0 && cubic3 != quadratic) << f;
            tab.interpolate<N>(g3[c], 0.0, s.data());
            korvex::solver::apply_transfer(s.data(), N, x2.data(), 2, y.data());
            tab.cubic_transfer<N>(f, s0, coef, cubic3, x3.data(), 2);
            for (int e = 0; e < 2 * N; ++e)
                worst = std::max({worst, std::abs(x1[e] - x2[e]), std::abs(x3[e] - x2[e])});
        }
        EXPECT_GT(served, 3500);
        EXPECT_LT(worst, 1e-12);
    }
}

// Without the column approximation other pairs of beams than the one along G3 = 0 cross along
// lines that slope across the (G3, G1) cells (in seven beams at the Bragg condition, -1 and 1
// together with -2 and 2, and 0 and 2): the finer tables sheared along them serve the small
// strains of 1 A slices that an unsheared table leaves to the exact solver, within 1e-5.
TEST(TableEngine, ShearedFinerTablesServeCrossingsThatSlope) {
    const auto field = [](State& st, int l) {
        for (int n = 1; n <= st.n_beams; ++n)
            for (int j = 1; j <= st.n_pixel_y; ++j)
                for (int i = 1; i <= st.n_pixel_x; ++i) {
                    const double g3 = 1.6e-3 * (i - 8.3) * (1.0 + 0.01 * l);
                    const double g1 = 0.012 * (j - 4.4);
                    st.s_g_r(i, j, n) = st.mtx_beams(n) * (g3 + std::tan(st.shift_angle(n)) * g1);
                }
        st.s_f.fill(0.0);
    };
    Array3<cplx> amp[2];
    std::int64_t solved = 0;
    for (const Engine e : {Engine::exact, Engine::table}) {
        State st = make_state({.first = -3,
                               .last = 3,
                               .npx = 16,
                               .npy = 8,
                               .nslice = 24,
                               .thickness = 24.0,
                               .ca = "no",
                               .defect = "edge"});
        initial_amplitudes(st);
        ColumnEngine engine(e);
        EXPECT_EQ(engine.prepare(st), "");
        int flag = 1;
        for (int l = 1; l <= st.effslicenumber; ++l) {
            field(st, l);
            engine.propagate_slice(st, l, flag);
        }
        amp[e == Engine::table] = st.phi_grid;
        if (e == Engine::table) solved = engine.solved_column_slices();
    }
    double worst = 0.0;
    for (std::size_t i = 0; i < amp[0].size(); ++i)
        worst = std::max(worst, std::abs(amp[0].data()[i] - amp[1].data()[i]));
    EXPECT_LT(worst, 1e-5);
    EXPECT_LT(solved * 10, 16 * 8 * 24) << solved; // unsheared: 78 %
}

// The engine tells what ran: the table and its share of column-slices solved exactly, or why
// it tabulated nothing (told before the first slice), or the one shared solution.
TEST(TableEngine, TellsWhatRanAndTheShareSolvedExactly) {
    struct Case {
        int first, last;
        const char* ca;
        const char* defect;
        Engine engine;
        const char* why;    // prepare()
        const char* report; // the start of report()
    };
    const Case cases[] = {
        {-1, 3, "no", "edge", Engine::table, "", "table, "},
        {-1, 3, "half", "edge", Engine::table, "", "table, "},
        {0, 0, "half", "edge", Engine::table, "no beam's strain term to tabulate",
         "exact (table asked for; no beam's strain term to tabulate)"},
        {-1, 3, "no", "edge", Engine::exact, "", "exact"},
        {-1, 3, "no", "no", Engine::table, "", "table, one solution serves every column"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ca) + " " + c.defect + " " + c.report);
        State st = make_state({.first = c.first,
                               .last = c.last,
                               .npx = 9,
                               .npy = 6,
                               .nslice = 12,
                               .thickness = 60.0,
                               .ca = c.ca,
                               .defect = c.defect});
        initial_amplitudes(st);
        ColumnEngine engine(c.engine);
        EXPECT_EQ(engine.prepare(st), c.why);
        int flag = 1;
        for (int l = 1; l <= st.effslicenumber; ++l) {
            // Small strains of both scalars, and column (1, 1) far beyond the table.
            for (int n = 1; n <= st.n_beams && std::string(c.defect) != "no"; ++n)
                for (int j = 1; j <= st.n_pixel_y; ++j)
                    for (int i = 1; i <= st.n_pixel_x; ++i) {
                        const double g3 = i + j == 2 ? 3.0 : 1e-3 * (i - 5) * std::cos(0.3 * l);
                        st.s_g_r(i, j, n) =
                            st.mtx_beams(n) * (g3 + std::tan(st.shift_angle(n)) * 0.02 * (j - 3));
                    }
            engine.propagate_slice(st, l, flag);
        }
        const std::string r = engine.report();
        EXPECT_EQ(r.rfind(c.report, 0), 0u) << r;
        EXPECT_EQ(engine.column_slices(), 9 * 6 * 12);
        const std::int64_t solved = engine.solved_column_slices();
        EXPECT_TRUE((c.engine != Engine::exact && !*c.why) || solved == 9 * 6 * 12);
        EXPECT_TRUE(std::string(c.defect) != "no" || solved == 0);
        // The core column lies beyond the table in every slice; the rest is interpolated.
        if (std::string(r).rfind("table, ", 0) == 0 && std::string(c.defect) == "edge") {
            EXPECT_GE(solved, 12);
            EXPECT_LT(solved * 4, engine.column_slices()) << r;
            EXPECT_NE(r.find(" % of column-slices solved exactly"), std::string::npos);
        }
    }
}

// Five beams (three off the Bragg condition), slices of two thicknesses: the product of the slice
// transfers is the exponential of the whole foil's matrix; the first-order method differs.
TEST(ExactAbsorption, AgainstTheExponentialTheEquationsAndFirstOrder) {
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

    // Without absorption both methods agree: strained columns, the lateral shift, a fault jump.
    ColumnSetup ns{.first = -1, .last = 3, .npx = 5, .npy = 3, .nslice = 8, .ca = "no"};
    ns.defect = "edge", ns.absorption = false;
    State a = make_state(ns), b = make_state(ns);
    a.s_f(2, 2, 1) = b.s_f(2, 2, 1) = 0.25;
    a.absorption = Absorption::first_order, b.absorption = Absorption::exact;
    const auto strain = [](State& x, int l) { fill_strain(x, l); };
    run_slices(a, strain), run_slices(b, strain);
    // The first-order eigenvectors are converged to about 1e-8 (the Jacobi sweep limit).
    double gap = 0.0;
    for (std::size_t i = 0; i < a.phi_grid.size(); ++i)
        gap = std::max(gap, std::abs(a.phi_grid.data()[i] - b.phi_grid.data()[i]));
    EXPECT_LT(gap / std::sqrt(a.k), 3e-8);

    // A column beside an edge at depth 400 (terms like m x / (x^2 + (z - 400)^2)), the strain taken
    // at the slice centres: second-order convergence to RK4 (step 0.25) of d phi / dz = i pi H phi.
    const auto g3 = [](double z) { return 0.3 * 40.0 / (1600.0 + (z - 400.0) * (z - 400.0)); };
    ColumnSetup cs{.first = -2, .last = 2, .nslice = 1, .thickness = 800.0, .defect = "edge"};
    State ref = make_state(cs);
    const int nb = ref.n_beams;
    std::vector<double> terms(static_cast<std::size_t>(nb));
    const auto f = [&](double z, const Cm& y, double w, const Cm& k) { // i pi H(z) (y + w k)
        for (int r = 0; r < nb; ++r) terms[r] = ref.mtx_beams(r + 1) * g3(z);
        matrix_h(nb, ref.s_g, terms.data(), ref.mtx_bg, ref.ui0, ref.u, ref.ui, ref.h);
        Cm d(y.size());
        for (int r = 0; r < nb; ++r)
            for (int c = 0; c < nb; ++c)
                d[r] += cplx(0.0, std::numbers::pi) * ref.h(r + 1, c + 1) * (y[c] + w * k[c]);
        return d;
    };
    Cm want(static_cast<std::size_t>(nb));
    want[2] = 1.0;
    const double h = 0.25;
    for (double z = 0.0; z < 800.0 - 1e-9; z += h) {
        const Cm k1 = f(z, want, 0.0, want), k2 = f(z + h / 2, want, h / 2, k1),
                 k3 = f(z + h / 2, want, h / 2, k2), k4 = f(z + h, want, h, k3);
        for (std::size_t i = 0; i < want.size(); ++i)
            want[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
    }
    double last = 0.0;
    for (const int slices : {32, 64, 128, 256}) {
        cs.nslice = slices;
        State run_st = make_state(cs);
        run_st.absorption = Absorption::exact;
        run_slices(run_st, [&](State&, int l) {
            for (int r = 1; r <= nb; ++r)
                run_st.s_g_r(1, 1, r) = run_st.mtx_beams(r) * g3(run_st.sliceposition(l));
        });
        double err = 0.0;
        for (int r = 0; r < nb; ++r)
            err = std::max(err, std::abs(amplitude(run_st, r + 1) - want[r]));
        EXPECT_TRUE(slices == 32 || std::abs(last / err - 4.0) <= 0.25)
            << slices << ": " << last / err;
        last = err;
    }
}

// Non-symmetric matrix of tilted beams: the shear steps still reach the eigen-solution.
TEST(EigenSolution, ShearStepsPairTestIdleCounterAndTheBatchKernel) {
    State st = make_state({.first = -3, .last = 4, .ca = "no", .f_g = 3.0});
    const int n = 8;
    Array2<cplx> h(n, n);
    const std::vector<double> sgr(n, 0.001);
    matrix_h(n, st.s_g, sgr.data(), st.mtx_bg, st.ui0, st.u, st.ui, h);
    Array2<double> a(n, n), v(n, n);
    for (std::size_t k = 0; k < a.size(); ++k) a.data()[k] = h.data()[k].real();
    const Array2<double> a0 = a;
    Array1<double> e(n);
    diagon(n, a, v, e);
    EXPECT_LT(eigen_residual(a0, v, e), 1e-8);

    // The pair test is relative to the matrix: scaled down to 1e-5 (squares below any absolute test
    // of 1e-8) the matrix is solved exactly as the original. A zero matrix ends after n^2 - n idle
    // pairs and one more; a rotation block (qq and p2 both zero) is left untouched.
    Array2<double> pa(3, 3), pb(3, 3), pv(3, 3), one = from_rows(3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    double off_a = -1.0, off_b = -1.0;
    auto solve = [&](std::initializer_list<double> rows, double scale, Array2<double>& x,
                     double& off) {
        x = from_rows(3, rows);
        for (std::size_t k = 0; k < x.size(); ++k) x.data()[k] *= scale;
        return dvoevd(x, pv, 3, 1000, 1e-16, 0, off);
    };
    const auto m = {3.0, 0.5, 0.2, 0.5, 1.0, 0.3, 0.2, 0.3, 2.0};
    const double fro2 = 14.76; // the sum of the squares of m
    const int sweeps = solve(m, 1.0, pa, off_a);
    EXPECT_GT(sweeps, 3);
    EXPECT_EQ(solve(m, 1e-5, pb, off_b), sweeps);
    EXPECT_TRUE(off_a <= 3e-16 * fro2 && off_b <= 3e-26 * fro2) << off_a << " " << off_b;
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(pb(j, j) / 1e-5, pa(j, j), 1e-13);
    EXPECT_EQ(solve({0, 0, 0, 0, 0, 0, 0, 0, 0}, 1.0, pa, off_a), 3);
    EXPECT_TRUE(off_a == 0.0 && same_bits(pv, one));
    const auto rot = {1.0, 2.0, 0.0, -2.0, 1.0, 0.0, 0.0, 0.0, 3.0};
    solve(rot, 1.0, pa, off_a);
    EXPECT_TRUE(off_a == 8.0 && same_bits(pa, from_rows(3, rot)) && same_bits(pv, one));

    // The slice loop runs the fixed-size kernels on several columns at once; every column must
    // get the bits of the plain routines whatever its neighbours (lanes of very different strain,
    // so different sweep counts). Fixed sizes, the run-time size, tilted and untilted beams.
    constexpr int L = solver::kLanes;
    for (const auto& [nb, ca] :
         {std::pair(1, "yes"), {2, "no"}, {5, "yes"}, {8, "no"}, {12, "no"}}) {
        State bst = make_state({.first = -(nb / 2), .last = nb - 1 - nb / 2, .ca = ca, .f_g = 1.5});
        const double dz = 7.5;
        std::vector<double> lane_terms[L], lane_phase(L);
        Array1<cplx> phi_in(nb), phi_ref[L];
        for (int q = 1; q <= nb; ++q) phi_in(q) = cplx(0.3 * q - 0.7, 0.1 * q * q - 0.2);
        for (int l = 0; l < L; ++l) {
            for (int q = 0; q < nb; ++q) lane_terms[l].push_back(0.003 * (q - 1.3) * l * l);
            const Vec3 sf{0.05 * (l % 2), 0.01, -0.02};
            lane_phase[l] = bst.v_g[0] * sf[0] + bst.v_g[1] * sf[1] + bst.v_g[2] * sf[2];
            phi_ref[l] = one_slice(bst, lane_terms[l], phi_in, dz, sf);
        }
        solver::with_beam_count(nb, [&, nb = nb, ca = ca]<int N>() { // (bindings: clang 14)
            std::vector<double> sd_store(solver::SliceData<N>::doubles_needed(nb));
            std::vector<double> k_store(solver::BatchKernel<N, L>::doubles_needed(nb));
            solver::SliceData<N> sd;
            if constexpr (N == 0) sd.bind(sd_store.data(), nb);
            prepare_slice_data<N>(bst, dz, sd);
            solver::BatchKernel<N, L> k(sd, k_store.data());
            for (int l = 0; l < L; ++l)
                for (int q = 0; q < nb; ++q) {
                    k.sgr()[q * L + l] = lane_terms[l][q], k.re()[q * L + l] = phi_in(q + 1).real();
                    k.im()[q * L + l] = phi_in(q + 1).imag();
                }
            k.solve();
            k.transfer_own(lane_phase.data());
            for (int l = 0; l < L; ++l)
                for (int q = 0; q < nb; ++q)
                    EXPECT_EQ(cplx(k.re()[q * L + l], k.im()[q * L + l]), phi_ref[l](q + 1))
                        << nb << ca << l;
        });
    }
}
