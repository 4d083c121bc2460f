// The table engine against the exact one: two-scalar fields, exact fallbacks, threads.
#include "solver/fixture.hpp"
#include "support/testing.hpp"

#include <omp.h>

#include <utility>

using namespace korvex::testing;

namespace {

// A dislocation-like field of the two-scalar form m (G3 + t G1): G3, G1 fall off as 1/r from a
// core at the grid's centre, so the columns beside it lie beyond the table. `spoil` breaks the
// form in column (2, 2) by nudging one beam.
void core_field(State& st, int l, bool spoil) {
    const double z = st.sliceposition(l) - 0.5 * st.size_z;
    for (int j = 1; j <= st.n_pixel_y; ++j)
        for (int i = 1; i <= st.n_pixel_x; ++i) {
            const double x = i - 0.5 * (st.n_pixel_x + 1), y = j - 0.5 * (st.n_pixel_y + 1);
            const double r2 = x * x + 0.3 * y * y + 1e-5 * z * z + 0.01;
            const double g3 = 2.0 * x / r2, g1 = 0.05 * (y - z * 0.1) / r2;
            for (int n = 1; n <= st.n_beams; ++n)
                st.s_g_r(i, j, n) = st.mtx_beams(n) * (g3 + std::tan(st.shift_angle(n)) * g1);
            if (spoil) st.s_g_r(2, 2, 1) += 1e-6;
        }
    st.s_f.fill(0.0);
    st.s_f(3, 1, 1) = l > st.n_slice / 2 ? 1.0 / 6.0 : 0.0; // a fault jump in one column
}

Array3<cplx> run(const ColumnSetup& s, Engine e, bool spoil, const char* absorption,
                 int threads = 0) {
    const int saved = omp_get_max_threads();
    if (threads > 0) omp_set_num_threads(threads);
    State st = make_state(s);
    st.absorption = *absorption_from_name(absorption);
    initial_amplitudes(st);
    ColumnEngine engine(e);
    int flag = 1;
    for (int l = 1; l <= st.effslicenumber; ++l) {
        core_field(st, l, spoil);
        engine.propagate_slice(st, l, flag);
    }
    omp_set_num_threads(saved);
    Array3<cplx> out = st.phi_grid;
    for (int n = 1; n <= st.n_beams; ++n)
        for (int j = 1; j <= st.n_pixel_y; ++j)
            for (int i = 1; i <= st.n_pixel_x; ++i)
                out(i, j, n) = std::norm(st.phi_grid(i, j, n)) / st.mtx_bg(n);
    return out;
}

} // namespace

// Intensities within 1e-5 of the exact engine, with either absorption (tables of first-order or
// exact transfers); the column at the core (beyond the table) and the one off the form get the
// exact engine's bits; one and two threads give the same bits.
TEST(TableEngine, AgreesWithTheExactEngine) {
    const std::pair<const char*, const char*> runs[] = {
        {"first-order", "yes"}, {"first-order", "no"}, {"exact", "yes"}, {"exact", "no"}};
    for (const auto& [absorption, ca] : runs)
        for (const int nb : {3, 5}) {
            SCOPED_TRACE(std::string(absorption) + " " + ca + " " + std::to_string(nb));
            ColumnSetup s{.first = -1, .last = nb - 2, .npx = 9, .npy = 6, .nslice = 60};
            s.thickness = 300.0, s.ca = ca, s.defect = "edge";
            for (const bool spoil : {false, true}) {
                const Array3<cplx> exact = run(s, Engine::exact, spoil, absorption);
                const Array3<cplx> table = run(s, Engine::table, spoil, absorption, 1);
                double worst = 0.0;
                for (std::size_t e = 0; e < exact.size(); ++e)
                    worst = std::max(worst, std::abs(table.data()[e] - exact.data()[e]));
                EXPECT_LT(worst, 1e-5);
                // The table takes part, except with first-order absorption and no column
                // approximation: its cells at zero strain stay rough there, so every column is
                // solved exactly, to the exact engine's bits.
                const bool bypassed =
                    std::string(absorption) == "first-order" && std::string(ca) == "no";
                EXPECT_EQ(worst > 0.0, !bypassed);
                // Without the column approximation the lateral shift mixes in the neighbours.
                for (int n = 1; n <= nb && std::string(ca) == "yes"; ++n) {
                    EXPECT_EQ(table(6, 3, n), exact(6, 3, n)) << "core column, beam " << n;
                    EXPECT_TRUE(!spoil || table(2, 2, n) == exact(2, 2, n)) << "off the form";
                }
                EXPECT_TRUE(spoil || same_bits(table, run(s, Engine::table, spoil, absorption, 2)));
            }
        }
}

// Each engine vouches for finite strain terms and amplitudes only when they are: a NaN term or
// amplitude in one column (of a table-served or an exactly solved row) withdraws it; the
// lateral shift leaves the amplitudes, exact absorption everything to the caller.
TEST(ColumnEngines, VouchForFiniteTermsAndAmplitudesOnlyWhenTheyAre) {
    for (const Engine e : {Engine::exact, Engine::table})
        for (const char* ca : {"yes", "no"})
            for (const int bad : {0, 1, 2, 3}) {
                ColumnSetup s{.first = -1, .last = 1, .npx = 9, .npy = 6, .nslice = 4};
                s.ca = ca, s.defect = "edge";
                State st = make_state(s);
                initial_amplitudes(st);
                ColumnEngine engine(e);
                int flag = 1;
                core_field(st, 1, false);
                if (bad == 1 || bad == 2) st.phi_grid(bad == 1 ? 2 : 5, bad == 1 ? 4 : 3, 2) = NAN;
                if (bad == 3) st.s_g_r(2, 4, 3) = INFINITY;
                ASSERT_TRUE(ColumnEngine::checks_strain(st));
                engine.propagate_slice(st, 1, flag);
                EXPECT_EQ(engine.verified_strain(), bad != 3) << int(e) << ca << bad;
                // (An infinite term may leave the amplitudes finite: the table reads G3 off
                // another beam. The run stops on the term either way.)
                EXPECT_TRUE(bad == 3 ||
                            engine.verified_finite() == (bad == 0 && std::string(ca) == "yes"))
                    << int(e) << ca << bad;
            }
    State st = make_state({.first = -1, .last = 1, .npx = 4, .npy = 4, .nslice = 2});
    st.absorption = Absorption::exact;
    EXPECT_FALSE(ColumnEngine::checks_strain(st));
    initial_amplitudes(st);
    ColumnEngine engine(Engine::exact);
    int flag = 1;
    core_field(st, 1, false);
    engine.propagate_slice(st, 1, flag);
    EXPECT_FALSE(engine.verified_strain() || engine.verified_finite());
}
