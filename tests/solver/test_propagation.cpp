// Column propagation: slice transfer, flags, lateral shift, intensities, physics checks; the
// fast functions it uses; slices carried in blocks.
#include "solver/fast_math.hpp"
#include "solver/fixture.hpp"
#include "support/testing.hpp"

#include <omp.h>
#include <optional>

#include <algorithm>
#include <limits>
#include <random>
#include <span>

using namespace korvex::testing;

namespace {

using RMat = std::vector<std::vector<double>>;

// Textbook cyclic Jacobi for a symmetric matrix (tan of the half angle from theta), swept until
// the off-diagonal part vanishes (quadratic convergence: a handful of sweeps). Row-major, 0-based.
void textbook_jacobi(RMat a, RMat& v, std::vector<double>& e) {
    const std::size_t n = a.size();
    v.assign(n, std::vector<double>(n, 0.0));
    for (std::size_t i = 0; i < n; ++i) v[i][i] = 1.0;
    auto rotate = [](double& x, double& y, double c, double s) {
        const double t = x;
        x = c * t - s * y, y = s * t + c * y;
    };
    for (int sweep = 0; sweep < 50; ++sweep) {
        double off = 0.0;
        for (std::size_t p = 0; p + 1 < n; ++p)
            for (std::size_t q = p + 1; q < n; ++q) off += a[p][q] * a[p][q];
        if (off < 1e-40) break;
        for (std::size_t p = 0; p + 1 < n; ++p)
            for (std::size_t q = p + 1; q < n; ++q) {
                if (a[p][q] == 0.0) continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (std::size_t k = 0; k < n; ++k) rotate(a[k][p], a[k][q], c, s); // A J
                for (std::size_t k = 0; k < n; ++k) rotate(a[p][k], a[q][k], c, s); // J^T A
                for (std::size_t k = 0; k < n; ++k) rotate(v[k][p], v[k][q], c, s);
            }
    }
    e.resize(n);
    for (std::size_t i = 0; i < n; ++i) e[i] = a[i][i];
}

// One column through the condition with std::complex products. A slice transfers by
// exp(i pi dz A) for A = diag(2 s_g) + U with rows divided by kg_z (k with the column
// approximation), absorption to first order. With D = diag(kg_z), psi = D^1/2 phi transfers by
// exp(i pi dz S) for the symmetric S = D^1/2 A D^-1/2 = V W V^T.
std::vector<double> independent_column(const State& st, int i, int j, void (*strain)(State&, int)) {
    State work = st;
    const std::size_t n = static_cast<std::size_t>(st.n_beams);
    std::vector<cplx> phi(n, 0.0);
    for (std::size_t a = 0; a < n; ++a)
        if (st.mtx_beams(int(a) + 1) == 0) phi[a] = st.mtx_bg(int(a) + 1);
    for (int l = 1; l <= st.effslicenumber; ++l) {
        strain(work, l);
        RMat A(n, std::vector<double>(n)), B = A, V;
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = 0; b < n; ++b) {
                const int ia = int(a) + 1, m = int(a > b ? a - b : b - a);
                const double r = std::sqrt(st.mtx_bg(ia) * st.mtx_bg(int(b) + 1));
                A[a][b] = a == b ? 2.0 * (st.s_g(ia) + work.s_g_r(i, j, ia)) : st.u(m) / r;
                B[a][b] = (a == b ? st.ui0 : st.ui(m)) / r;
            }
        std::vector<double> w;
        textbook_jacobi(A, V, w);
        std::vector<cplx> d(n), out(n, 0.0);
        for (std::size_t q = 0; q < n; ++q) {
            double t = 0.0;
            for (std::size_t a = 0; a < n; ++a)
                for (std::size_t b = 0; b < n; ++b) t += V[a][q] * B[a][b] * V[b][q];
            d[q] = std::exp(cplx(0.0, 1.0) * M_PI * cplx(w[q], t) * st.slicethickness(l));
        }
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = 0; b < n; ++b)
                for (std::size_t q = 0; q < n; ++q) out[a] += V[a][q] * d[q] * V[b][q] * phi[b];
        phi = out;
    }
    std::vector<double> inten(n);
    for (std::size_t a = 0; a < n; ++a)
        inten[a] = std::norm(phi[a]) / std::pow(st.mtx_bg(int(a) + 1), 2);
    return inten;
}

} // namespace

// With defect "no" the first column's solution serves every column (flag 0); a strained model
// solves every column.
TEST(PropagateSlice, SlicesColumnsShiftsThreadsTheIndependentSolverFringesAndFastMath) {
    for (const char* defect : {"no", "edge"}) {
        State st = make_state({.first = -1, .last = 2, .npx = 3, .npy = 2, .defect = defect});
        initial_amplitudes(st);
        for (int n = 1; n <= 4; ++n) st.s_g_r(1, 1, n) = 0.003 * n; // only the first column
        int flag = 1;
        propagate_slice(st, 1, flag);
        const bool perfect = std::string(defect) == "no";
        EXPECT_EQ(flag, perfect ? 0 : 1);
        if (perfect)
            for (int n = 1; n <= 4; ++n) EXPECT_EQ(st.phi_grid(3, 2, n), st.phi_grid(1, 1, n));
        else
            EXPECT_NE(st.phi_grid(1, 1, 2), st.phi_grid(2, 1, 2));
        EXPECT_EQ(st.phi_grid(2, 1, 2), st.phi_grid(3, 2, 2));
    }

    // An empty void is the perfect crystal bit for bit; a column inside it for every slice keeps
    // its entrance amplitudes.
    const ColumnSetup s{.first = -1, .last = 1, .npx = 4, .npy = 3, .nslice = 20};
    State perfect = make_state(s);
    run_slices(perfect);
    ColumnSetup sv = s;
    sv.defect = "void";
    State empty = make_state(sv);
    empty.flag_vacancy.fill(1);
    EXPECT_EQ(run_slices(empty), 0);
    EXPECT_TRUE(same_bits(empty.phi_grid, perfect.phi_grid));
    State holed = make_state(sv);
    holed.flag_vacancy.fill(1);
    holed.flag_vacancy(2, 3) = 0;
    run_slices(holed);
    EXPECT_EQ(holed.phi_grid(2, 3, 2), cplx(std::sqrt(holed.mtx_bg(2)), 0.0));
    EXPECT_EQ(holed.phi_grid(2, 3, 1), cplx(0.0, 0.0));
    EXPECT_EQ(holed.phi_grid(1, 1, 1), perfect.phi_grid(1, 1, 1));

    // Same tilted geometry, different `ca`: "yes" leaves the fields in place, "no" and "half"
    // shift them after the slice.
    std::vector<Array3<cplx>> out;
    for (const char* ca : {"yes", "no", "half"}) {
        State st = make_state({.first = -1, .last = 2, .npx = 5, .npy = 2, .ca = "no"});
        st.ca = column_approx_from_text(ca);
        initial_amplitudes(st);
        for (int n = 1; n <= 4; ++n)
            for (int i = 1; i <= 5; ++i) st.phi_grid(i, 2, n) *= 1.0 + 0.1 * i;
        int flag = 1;
        propagate_slice(st, 1, flag);
        if (out.empty()) linear_itp(st.n_xyz, st.n_beams, st.size, st.shift_angle, st.phi_grid);
        out.push_back(st.phi_grid);
    }
    EXPECT_TRUE(same_bits(out[0], out[1]));
    EXPECT_TRUE(same_bits(out[0], out[2]));

    const ColumnSetup ts{
        .first = -2, .last = 3, .npx = 17, .npy = 9, .nslice = 12, .ca = "no", .defect = "edge"};
    std::vector<Array3<cplx>> result;
    const int saved = omp_get_max_threads();
    for (int t = 1; t <= 2; ++t) {
        omp_set_num_threads(t);
        State tst = make_state(ts);
        run_slices(tst, [](State& x, int l) {
            fill_strain(x, l);
            x.s_f(4, 5, 1) = 0.1 * l; // a fault crossing one column
        });
        result.push_back(tst.phi_grid);
    }
    omp_set_num_threads(saved);
    EXPECT_TRUE(same_bits(result[0], result[1]));

    State st = make_state(
        {.first = -2, .last = 2, .npx = 2, .nslice = 1000, .thickness = 1500.0, .defect = "edge"});
    const State start = st;
    auto strain = [](State& x, int l) { fill_strain(x, l, 0.004, 300.0); };
    run_slices(st, strain);
    for (int i = 1; i <= 2; ++i) {
        const std::vector<double> ref = independent_column(start, i, 1, strain);
        for (int n = 1; n <= 5; ++n)
            EXPECT_NEAR(st.mtx_intensity(i, 1, n), ref[n - 1], 1e-6) << i << " beam " << n;
    }

    // v_g = (2 0 0): s_f = (1/6, 0, 0) is a third of a cycle of g; beam m takes exp(2 pi i m / 3).
    State fst = make_state({.first = -2, .last = 2});
    Array1<cplx> amp(5);
    for (int n = 1; n <= 5; ++n) amp(n) = cplx(0.1 * n, -0.05 * n);
    const std::vector<double> zero_terms(5, 0.0);
    const Array1<cplx> unjumped = one_slice(fst, zero_terms, amp, 20.0, {0, 0, 0});
    const Array1<cplx> jumped = one_slice(fst, zero_terms, amp, 20.0, {1.0 / 6.0, 0, 0});
    for (int n = 1; n <= 5; ++n) {
        const int m = fst.mtx_beams(n);
        const cplx expect = unjumped(n) * std::exp(cplx(0.0, 2.0 * M_PI * m / 3.0));
        EXPECT_LT(std::abs(jumped(n) - expect), 1e-15) << m;
    }
    EXPECT_EQ(jumped(3), unjumped(3));

    // Direction and weight of the shift: a beam tilted towards -x by a whole column per slice
    // takes the column after it, one tilted towards +x by half a column the mean with the column
    // before; the edge column keeps its value; one column never changes.
    Array3<cplx> shifted(4, 1, 3);
    for (std::size_t e = 0; e < shifted.size(); ++e)
        shifted.data()[e] = cplx(e * e + 10.0, 3.0 - e);
    const Array3<cplx> before = shifted;
    Array1<double> tilt(3);
    tilt(1) = -std::atan(1.0), tilt(3) = std::atan(0.5);
    linear_itp({4, 1, 10}, 3, {40.0, 10.0, 100.0}, tilt, shifted); // dx = dz = 10 Angstrom
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(shifted(i, 1, 2), before(i, 1, 2));
        EXPECT_LT(std::abs(shifted(i, 1, 1) - before(std::min(i + 1, 4), 1, 1)), 1e-12) << i;
        const cplx mean = i == 1 ? before(1, 1, 3) : 0.5 * (before(i, 1, 3) + before(i - 1, 1, 3));
        EXPECT_LT(std::abs(shifted(i, 1, 3) - mean), 1e-12) << i;
    }
    Array3<cplx> narrow(1, 2, 3), narrow_before(1, 2, 3);
    narrow.fill(cplx(1.5, -2.0)), narrow_before.fill(cplx(1.5, -2.0));
    linear_itp({1, 2, 10}, 3, {10.0, 20.0, 100.0}, tilt, narrow);
    EXPECT_TRUE(same_bits(narrow, narrow_before));

    // Travel in one slice: 100 * 3 g / k = 4.16 Angstrom against pixels of 10 and 1 Angstrom.
    State rst = make_state({.first = 0, .last = 3, .npx = 10, .npy = 100, .nslice = 10});
    const std::string both =
                          " The number of pixels in x or y coordinate is too large or the number "
                          "of slices is too small\n",
                      y_only =
                          " the number of pixels in y coordinate  is too large or the number of "
                          "slices is too small\n";
    EXPECT_EQ(resolution_warnings(rst), y_only);
    rst.n_pixel_x = 100;
    EXPECT_EQ(resolution_warnings(rst), both + y_only);

    // Without absorption 3 to 12 beams, or 10 tilted, agree with the independent solver; the flux
    // sum of (kg_z(n) / kg_z(0))^2 I_n is exactly 1, the plain sum to the spread of the tilts.
    for (const std::string ca : {"yes", "no", "half"})
        for (int nb = 3; nb <= (ca == "yes" ? 12 : 10); ++nb) {
            ColumnSetup c{.first = -1, .last = nb - 2, .nslice = 250, .thickness = 8000.0};
            c.ca = ca, c.defect = "edge", c.absorption = false;
            State tb = make_state(c);
            auto slow = [](State& x, int l) { fill_strain(x, l, 0.003, 700.0); };
            const std::vector<double> ref = independent_column(tb, 1, 1, slow);
            run_slices(tb, slow);
            double plain = 0.0, flux = 0.0;
            for (int b = 1; b <= nb; ++b) {
                const double in = tb.mtx_intensity(1, 1, b), w = tb.mtx_bg(b) / tb.mtx_bg(2);
                EXPECT_NEAR(in, ref[std::size_t(b - 1)], 1e-6) << ca << nb;
                plain += in;
                flux += w * w * in;
            }
            EXPECT_NEAR(plain, 1.0, 2e-4) << ca << nb;
            EXPECT_NEAR(flux, 1.0, 1e-9) << ca << nb;
        }

    // Exact Bragg condition, no absorption: I_g = sin^2(pi z U_g / k), period k / U_g.
    State tb = make_state(
        {.first = 0, .last = 1, .nslice = 3000, .thickness = 3000.0, .absorption = false});
    initial_amplitudes(tb);
    int tflag = 1;
    for (int l = 1; l <= tb.effslicenumber; ++l) {
        propagate_slice(tb, l, tflag);
        intensities(tb);
        const double sn = std::sin(M_PI * l * kCuU200 / kCuK);
        ASSERT_NEAR(tb.mtx_intensity(1, 1, 2), sn * sn, 1e-9) << "depth " << l;
    }

    // The propagator's exp, sin and cos within 2 ulp of the C library over the slices' ranges.
    std::mt19937_64 rng(7);
    const double ulp = std::numeric_limits<double>::epsilon();
    auto within = [&](double got, double want, double scale) {
        return std::abs(got - want) <= 2.0 * ulp * scale;
    };
    for (const double range : {1e-3, 1.0, 4.0, 100.0, 1e4, solver::kTrigMax}) {
        std::uniform_real_distribution<double> fu(-range, range);
        for (int i = 0; i < 20000; ++i) {
            const double fx = i < 8 ? (i - 4) * 1.5707963267948966 : fu(rng);
            double fs = 0.0, fc = 0.0;
            solver::sin_cos(fx, fs, fc);
            // Absolute error: the amplitudes are sums of terms of order 1.
            ASSERT_TRUE(within(fs, std::sin(fx), 1.0) && within(fc, std::cos(fx), 1.0))
                << fx << ": " << fs - std::sin(fx) << " " << fc - std::cos(fx);
        }
    }
    std::uniform_real_distribution<double> fv(-solver::kExpMax, solver::kExpMax);
    for (int i = 0; i < 100000; ++i) {
        const double fx = i < 3 ? (i - 1) * solver::kExpMax : i < 100 ? fv(rng) * 1e-3 : fv(rng);
        ASSERT_TRUE(within(solver::exp_reduced(fx), std::exp(fx), std::exp(fx))) << fx;
    }
}

// Slices in blocks, each row carried through all of a block's slices on one thread with its terms
// (and fault jumps) filled just before each and shifted sideways after each, give the bits of
// slice by slice, with either engine and thread count; the first slice of a block with a
// non-finite term or amplitude is told.
TEST(SliceBlocks, SameBitsAsSliceBySliceAndTheFirstBadSlice) {
    ColumnSetup s{.first = -1, .last = 3, .npx = 9, .npy = 6, .nslice = 24};
    s.thickness = 300.0, s.defect = "edge";
    std::vector<Array3<double>> sgr, sf; // the slices' terms and jumps for s.ca
    auto prepare = [&] {
        State tmp = make_state(s);
        sgr.clear(), sf.clear();
        for (int l = 1; l <= s.nslice; ++l) {
            core_field(tmp, l, false);
            sgr.push_back(tmp.s_g_r), sf.push_back(tmp.s_f);
        }
    };
    auto carry = [&](Engine e, const std::vector<int>& firsts, int threads,
                     std::optional<RowBlock> rows = std::nullopt) {
        const int saved = omp_get_max_threads();
        omp_set_num_threads(threads);
        State st = make_state(s);
        initial_amplitudes(st);
        ColumnEngine engine(e);
        EXPECT_TRUE(ColumnEngine::carries_blocks(st));
        std::vector<RowFill> fills;
        for (std::size_t l = 0; l < sgr.size(); ++l)
            fills.push_back([&, l](int j) {
                for (const auto& [from, to] : {std::pair(&sgr[l], &st.s_g_r), {&sf[l], &st.s_f}})
                    for (int n = 1; n <= to->n3(); ++n)
                        for (int i = 1; i <= to->n1(); ++i) (*to)(i, j, n) = (*from)(i, j, n);
            });
        int flag = 1;
        std::vector<int> bad;
        for (std::size_t b = 0; b < firsts.size(); ++b) {
            const int first = firsts[b], last = b + 1 < firsts.size() ? firsts[b + 1] - 1 : 24;
            engine.propagate_slices(st, first, flag,
                                    std::span(fills).subspan(first - 1, last - first + 1), rows);
            bad.push_back(engine.first_bad_strain() * 100 + engine.first_bad_amplitude());
        }
        omp_set_num_threads(saved);
        Array3<cplx> out = st.phi_grid; // as run_engine() gives them
        for (int n = 1; n <= st.n_beams; ++n)
            for (int j = 1; j <= st.n_pixel_y; ++j)
                for (int i = 1; i <= st.n_pixel_x; ++i)
                    out(i, j, n) = std::norm(st.phi_grid(i, j, n)) / st.mtx_bg(n);
        return std::pair(out, bad);
    };
    for (const char* ca : {"no", "yes"}) {
        s.ca = ca;
        prepare();
        for (const Engine e : {Engine::exact, Engine::table}) {
            const Array3<cplx> ref = run_engine(s, e, false, "first-order");
            for (const int threads : {1, 2}) {
                const auto [img, bad] = carry(e, {1, 6, 13}, threads);
                EXPECT_TRUE(same_bits(img, ref)) << ca << int(e) << threads;
                EXPECT_EQ(bad, std::vector<int>(3, 0));
            }
            // A process's rows alone (a split run): as in the whole image, the others untouched.
            const Array3<cplx> part = carry(e, {1, 6, 13}, 2, RowBlock{2, 5}).first;
            const Array3<cplx> start = carry(e, {}, 1).first;
            int differ = 0;
            for (int n = 1; n <= part.n3(); ++n)
                for (int j = 1; j <= part.n2(); ++j)
                    for (int i = 1; i <= part.n1(); ++i)
                        differ += part(i, j, n) != (j >= 2 && j <= 5 ? ref : start)(i, j, n);
            EXPECT_EQ(differ, 0) << ca << int(e);
        }
    }
    // An infinite term at slice 9 in a corner column: the exact engine's amplitudes go with it
    // and stay so (the table reads G3 off another beam, small there, and keeps them finite).
    sgr[8](1, 1, 3) = INFINITY;
    EXPECT_EQ(carry(Engine::exact, {1, 6, 13}, 2).second, (std::vector<int>{0, 909, 13}));
    EXPECT_EQ(carry(Engine::table, {1, 6, 13}, 2).second, (std::vector<int>{0, 900, 0}));
}
