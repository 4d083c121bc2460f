// The coherent inclusion: its terms against the gradient of its closed-form displacement, the
// plane of no contrast normal to g, its file's checks; a whole run where that plane shows as a
// line of perfect-crystal columns between two lobes of opposite contrast.
#include "defects/inclusion.hpp"
#include "driver/run_kit.hpp"
#include "fixture.hpp"

using namespace korvex::testing;

namespace {

constexpr int kInclusion = 8;

std::string inclusion_ini(const std::string& radius, const std::string& centre,
                          const std::string& misfit, const std::string& nu = "0.34") {
    return config("{Data for a coherent inclusion}", {radius, centre, misfit, nu});
}

} // namespace

TEST(Inclusion, TermsAgainstTheClosedFormNoContrastPlaneAndFileChecks) {
    const InclusionConfig c{6.0, {16.0, 16.0, 8.0}, 0.02, 0.34};
    EXPECT_DOUBLE_EQ(constrained_strain(c), 0.02 * 1.34 / (3.0 * 0.66));
    // u continuous across the surface, eps r inside, falling as 1 / r^2 outside.
    const Vec3 in = inclusion_displacement(c, {0, 0, 5.999999}),
               out = inclusion_displacement(c, {0, 0, 6.0}),
               far = inclusion_displacement(c, {0, 12, 0});
    EXPECT_NEAR(in[2], out[2], 1e-7);
    EXPECT_NEAR(far[1], constrained_strain(c) * 216.0 / 144.0, 1e-15);

    for (const char* ca : {"yes", "no"}) {
        SCOPED_TRACE(ca);
        DefectRun run(kInclusion, "inc.ini", inclusion_ini("6.0", "16.0 16.0 8.0", "0.02"), ca,
                      kLoopGrid);
        const BeamTilts bt = beam_tilts(run.st);
        const Vec3 g{2.0, 0.0, 0.0}; // g along sample x
        for (const int l : {3, 8, 12}) {
            run.slice(l);
            const double z = l - 0.5 - 8.0;
            for (const auto& [i, j] : {std::pair{17, 17}, {5, 20}, {14, 16}, {30, 2}, {21, 17}}) {
                const Vec3 p{i - 0.5 - 16.0, j - 0.5 - 16.0, z};
                // Central differences of g.u / a.
                const auto phase = [&](Vec3 q) {
                    return dot(g, inclusion_displacement(c, q)) / 3.61;
                };
                const double h = 1e-5;
                const auto d = [&](int a) {
                    Vec3 lo = p, hi = p;
                    lo[a] -= h, hi[a] += h;
                    return (phase(hi) - phase(lo)) / (2 * h);
                };
                const Vec3 exact = inclusion_phase_gradient(c, g, 3.61, p);
                EXPECT_NEAR(exact[0], d(0), 1e-9) << i << ' ' << j << ' ' << l;
                EXPECT_NEAR(exact[2], d(2), 1e-9) << i << ' ' << j << ' ' << l;
                for (const int m : {-1, 1, 3}) {
                    const double tan = std::string(ca) == "no" ? bt.tan_tilt(beam(m)) : 0.0;
                    EXPECT_NEAR(run.st.s_g_r(i, j, beam(m)), m * (exact[2] + tan * exact[0]),
                                1e-15);
                }
                // The single column of the amplitude-phase job gives the same terms.
                const double whole = run.st.s_g_r(i, j, beam(1));
                run.column(l, p[0], p[1]);
                EXPECT_EQ(run.st.s_g_r(1, 1, beam(1)), whole);
                run.slice(l);
            }
            // Without the lateral shift the plane through the centre normal to g has no term, and
            // the two sides have opposite ones.
            if (std::string(ca) == "yes") {
                for (int j = 1; j <= 32; ++j)
                    for (int k = 0; k < 16; ++k)
                        ASSERT_EQ(run.st.s_g_r(17 + k, j, beam(1)),
                                  -run.st.s_g_r(16 - k, j, beam(1)));
                // Inside the particle the dilatation is uniform: g.R does not vary with depth.
                EXPECT_EQ(run.st.s_g_r(17, 17, beam(1)), 0.0);
                EXPECT_GT(max_abs(run.st.s_g_r, beam(1)), 1e-5);
            }
        }
    }

    // The plane itself: centre on a column's axis.
    DefectRun on(kInclusion, "inc.ini", inclusion_ini("6.0", "16.5 16.0 8.0", "-0.03"), "yes",
                 kLoopGrid);
    for (int l = 1; l <= 16; ++l) {
        on.slice(l);
        for (int j = 1; j <= 32; ++j) ASSERT_EQ(on.st.s_g_r(17, j, beam(2)), 0.0) << j << ' ' << l;
    }

    for (const auto& [text, words] :
         {std::pair{inclusion_ini("0", "1 1 1", "0.01"),
                    "record 3: the inclusion radius must be positive"},
          {inclusion_ini("4", "1 1 1", "1.5"),
           "record 5: the linear misfit of a coherent inclusion lies between -1 and 1"},
          {inclusion_ini("4", "1 1 nan", "0.01"), "record 4"},
          {inclusion_ini("4", "1 1 1", "0.01", "0.5"), "record 6"}}) {
        ScratchDir d;
        d.write("bad.ini", text);
        const std::string msg = read_error([&] { read_inclusion_config(d.str() + "bad.ini"); });
        EXPECT_TRUE(contains(msg, words) && contains(msg, "bad.ini")) << msg;
    }
}

// The line of no contrast normal to g: columns on the plane through the centre normal to g see
// perfect crystal all the way down, those beside it do not; the image is mirrored about the row
// through the centre.
TEST(Inclusion, ImageHasALineOfNoContrastNormalToG) {
    InputSpec s{.ca = "yes", .size_x = 25, .size_y = 9, .size_z = 60};
    const Sim perfect(s);
    s.defect = "inclusion";
    const Sim inc(s, inclusion_ini("5.0", "12.5 4.5 30.0", "0.03"));
    for (const char* beam : {"00g", "01g"}) {
        const ImageData p = perfect.image(beam), d = inc.image(beam);
        for (int j = 1; j <= 9; ++j) {
            EXPECT_EQ(d.values(13, j), p.values(13, j)) << beam << ' ' << j;
            for (int i = 1; i <= 25; ++i) ASSERT_EQ(d.values(i, j), d.values(i, 10 - j));
        }
        for (const int i : {9, 17}) EXPECT_GT(std::abs(d.values(i, 5) - p.values(i, 5)), 1e-3) << i;
    }
}
