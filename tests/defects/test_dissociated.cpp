// The dissociated dislocation: a mixed partial's field against the gradient of its displacement
// and against the edge model, the fcc dissociation, the sum of the partials collapsing to the
// perfect dislocation at zero separation, one fault crossing per column through the ribbon, and
// the file's checks.
#include "defects/dissociated.hpp"
#include "driver/run_kit.hpp"
#include "fixture.hpp"

using namespace korvex::testing;

namespace {

constexpr int kDissociated = 9;

std::string dissociated_ini(const std::string& b, const std::string& line, const std::string& point,
                            const std::string& normal, const std::string& separation,
                            const std::string& partial = "fcc", const std::string& r0 = "0.0") {
    return config("{Data for a dissociated dislocation}",
                  {b, line, point, normal, separation, "0.34", r0, partial});
}

// Whether a and b (Vec3 or arrays of one shape) agree to `tol` in every element.
template <class A> bool near_all(const A& a, const A& b, double tol) {
    double worst = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k)
        worst = std::max(worst, std::abs(a.data()[k] - b.data()[k]));
    return worst <= tol;
}

Vec3 sum(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

} // namespace

TEST(Dissociated, MixedFieldFccPartialsCollapseFaultCrossingsAndFileChecks) {
    // An edge dislocation b = 1/2[1 -1 0] on (1 1 1), its line along [1 1 -2], in the middle of the
    // loops' grid (g = (2 0 0) along x, zone axis [0 0 1]).
    const std::string b = "1 2 1 -1 0", line = "1 1 -2", mid = "16.0 16.0 8.0", plane = "1 1 1";
    DefectRun run(kDissociated, "d.ini", dissociated_ini(b, line, mid, plane, "10.0"), "no",
                  kLoopGrid);
    const auto [b1, b2] = fcc_partials({0.5, -0.5, 0.0}, {1, 1, 1});
    EXPECT_TRUE(near_all(b1, Vec3{2 / 6.0, -1 / 6.0, -1 / 6.0}, 1e-15) &&
                near_all(b2, Vec3{1 / 6.0, -2 / 6.0, 1 / 6.0}, 1e-15));

    // A mixed partial against central differences of its own g.R, off the core.
    const MixedDislocation m(run.st, b1, {1, 1, -2}, {16.0, 16.0, 8.0}, 0.34, 0.0);
    for (const Vec3& p : {Vec3{20.0, 13.0, 5.0}, Vec3{9.5, 22.0, 12.0}, Vec3{16.5, 16.5, 1.0}}) {
        const Vec3 grad = m.phase_gradient(p);
        for (int e = 0; e < 3; ++e) {
            Vec3 lo = p, hi = p;
            lo[e] -= 1e-5, hi[e] += 1e-5;
            EXPECT_NEAR(grad[e], (m.phase(hi) - m.phase(lo)) / 2e-5, 1e-8) << e;
        }
    }
    // A partial of pure edge character is the edge model's field.
    const MixedDislocation e(run.st, {0.5, -0.5, 0.0}, {1, 1, -2}, {16.0, 16.0, 8.0}, 0.34, 1.0);
    const edge::EdgeSlice es = edge::EdgeSlice::make(run.st, {.b_m = 1,
                                                              .b_n = 2,
                                                              .b_index = {1, -1, 0},
                                                              .point = {16, 16, 8},
                                                              .line = {1, 1, -2},
                                                              .nu = 0.34,
                                                              .r0 = 1.0});
    for (const Vec3& p : {Vec3{3.0, 4.0, 2.0}, Vec3{-7.0, 1.5, -3.0}})
        EXPECT_TRUE(near_all(e.phase_gradient(sum(p, {16, 16, 8})), es.phase_gradient(p), 1e-13));

    // At zero separation the two partials add up to the perfect dislocation, without a fault.
    DefectRun whole(kDissociated, "d.ini",
                    dissociated_ini(b, line, mid, plane, "0.0", "fcc", "1.0"), "no", kLoopGrid);
    DefectRun edge_run(1, "e.ini", edge_ini(b, mid, line, 0.34, 1.0), "no", kLoopGrid);
    for (const int l : {2, 8, 15}) {
        whole.slice(l), edge_run.slice(l);
        EXPECT_TRUE(near_all(whole.st.s_g_r, edge_run.st.s_g_r, 1e-12)) << l;
        EXPECT_EQ(max_abs(whole.st.s_f, 1), 0.0);
    }

    // Split 10 Angstrom apart: each column meets the ribbon at most once, in the slice of its
    // crossing, with the leading partial as fault vector; the columns over the midpoint do.
    Array2<int> jumps(32, 32);
    for (int l = 1; l <= 16; ++l) {
        run.slice(l);
        for (int j = 1; j <= 32; ++j)
            for (int i = 1; i <= 32; ++i)
                if (run.st.s_f(i, j, 1) != 0.0) {
                    ++jumps(i, j);
                    ASSERT_TRUE(near_all(
                        Vec3{run.st.s_f(i, j, 1), run.st.s_f(i, j, 2), run.st.s_f(i, j, 3)}, b1,
                        0.0));
                }
    }
    int crossed = 0;
    for (int j = 1; j <= 32; ++j)
        for (int i = 1; i <= 32; ++i) {
            ASSERT_LE(jumps(i, j), 1);
            crossed += jumps(i, j);
        }
    EXPECT_EQ(jumps(16, 16) + jumps(17, 17), 2);
    EXPECT_GT(crossed, 32);
    // The single column of the amplitude-phase job: the same terms as its column of the slice.
    run.slice(8);
    const double term = run.st.s_g_r(20, 11, beam(1));
    run.column(8, 20 - 0.5 - 16.0, 11 - 0.5 - 16.0);
    EXPECT_EQ(run.st.s_g_r(1, 1, beam(1)), term);

    for (const auto& [text, words] :
         {std::pair{dissociated_ini("1 1 1 0 0", line, mid, plane, "5"),
                    "in the glide plane (b.n = 0)"},
          {dissociated_ini(b, "1 0 0", mid, plane, "5"), "line must lie in the glide plane"},
          {dissociated_ini(b, line, mid, plane, "-5"), "record 7: the separation"},
          {dissociated_ini("1 1 1 -1 0", line, mid, plane, "5"), "takes a perfect a/2<110>"},
          {dissociated_ini(b, line, mid, plane, "5", "1 6 1 1 1"), "leading partial must lie"}}) {
        ScratchDir d;
        d.write("bad.ini", text);
        const std::string msg = read_error([&] { read_dissociated_config(d.str() + "bad.ini"); });
        EXPECT_TRUE(contains(msg, words) && contains(msg, "bad.ini")) << msg;
    }
    // Given partials are taken as given, the trailing one completing b.
    ScratchDir d;
    d.write("given.ini", dissociated_ini(b, line, mid, plane, "5", "1 6 1 -2 1"));
    const DissociatedConfig given = read_dissociated_config(d.str() + "given.ini");
    EXPECT_TRUE(near_all(given.b1, b2, 1e-15) && near_all(given.b2, b1, 1e-15));
}

// The weak-beam image (g = 2 2 0 at (g, 4g)) of a screw 1/2[1 1 0] in the foil plane split on
// (1 -1 1): two bright lines whose distance follows the projected ribbon width d / sqrt 3 within
// 1 nm (the peaks lie a little outside the partials, on the same side for both).
TEST(Dissociated, WeakBeamPeaksFollowTheRibbonWidth) {
    for (const double d : {60.0, 100.0}) {
        InputSpec s{.defect = "dissociated",
                    .size_x = 4,
                    .size_y = 200,
                    .size_z = 400,
                    .v_g = "2 2 0",
                    .first = -1,
                    .last = 4,
                    .f_g = 4.0};
        const Sim run(s, dissociated_ini("1 2 1 1 0", "1 1 0", "2.0 100.0 200.0", "1 -1 1",
                                         std::to_string(d), "fcc", "1.0"));
        const ImageData img = run.image("01g");
        // The two highest local maxima along y, away from the image's edges (where the screw's
        // long-range field leaves a slope).
        std::vector<std::pair<double, int>> peaks;
        for (int j = 40; j <= 160; ++j) {
            const double v = img.values(2, j);
            if (v > img.values(2, j - 1) && v >= img.values(2, j + 1)) peaks.emplace_back(v, j);
        }
        ASSERT_GE(peaks.size(), 2u);
        std::sort(peaks.rbegin(), peaks.rend());
        const double apart = std::abs(peaks[0].second - peaks[1].second);
        EXPECT_NEAR(apart, d / std::sqrt(3.0), 10.0) << "d = " << d;
    }
}
