// A row's field sampled and interpolated where smooth: within its tolerance of the field
// evaluated at every column, evaluated where it is not smooth, at a fraction of the cost.
#include "defects/fixture.hpp"
#include "defects/row_samples.hpp"

#include <cmath>
#include <vector>

using namespace korvex;
using namespace korvex::testing;

namespace {

// Two loops' worth of 1/r^3 tails (one of them close to the row, so steep, its flanks
// reaching out of the zone around it) and a smooth background.
void field(double x, double& g1, double& g3) {
    const auto lobe = [](double u, double d) { return u / std::pow(u * u + d * d, 2.5); };
    g1 = 40.0 * lobe(x - 300.0, 6.0) - 90.0 * lobe(x - 520.0, 25.0) + 1e-4 * std::sin(x / 150.0);
    g3 = 25.0 * lobe(x - 310.0, 5.0) + 1e-5 * x;
}

} // namespace

TEST(RowSamples, InterpolatedWithinTheTolerancePoorlySampledEvaluated) {
    constexpr int first = 3, last = 1000;
    const std::vector<std::array<int, 2>> zones = {{290, 320}, {515, 525}};
    for (const double tol : {1e-7, 1e-5}) {
        SCOPED_TRACE(tol);
        std::vector<double> g1(last - first + 1), g3(g1.size());
        int calls = 0;
        const auto exact = [&](const int* cols, int count, double* o1, double* o3) {
            for (int k = 0; k < count; ++k) {
                field(cols[k], o1[k], o3[k]);
                ++calls;
            }
        };
        RowSampleScratch s;
        sampled_rates(first, last, zones, tol, 0.5, 2.0, exact, g1.data(), g3.data(), s);
        int sampled = 0;
        for (int i = first; i <= last; ++i) {
            double e1 = 0.0, e3 = 0.0;
            field(i, e1, e3);
            const double a1 = g1[i - first], a3 = g3[i - first];
            // As evaluated, to the bit, or interpolated within the tolerance.
            const bool own = a1 == e1 && a3 == e3;
            sampled += !own;
            EXPECT_TRUE(own || 0.5 * std::abs(a1 - e1) + 2.0 * std::abs(a3 - e3) <= tol) << i;
            const bool in_zone = (i >= 290 && i <= 320) || (i >= 515 && i <= 525);
            EXPECT_TRUE(own || !in_zone) << i;
        }
        // Most columns interpolated, and the work a fraction of every column's.
        std::cout << "tolerance " << tol << ": " << sampled << " of " << last - first + 1
                  << " columns interpolated, " << calls << " evaluations\n";
        EXPECT_GT(sampled, 600);
        EXPECT_LT(calls, 400);
    }
}

// A tetrahedron and an edge dislocation alone with the lateral shift (both G1 and G3 weigh):
// sampled with a tolerance, every term stays within it of the field at every column, the
// columns near the faces or the line keep their own values, and the jumps and markers are the
// same.
TEST(RowSamples, DefectsAloneWithinTheTolerance) {
    constexpr Grid g{96, 40, 12, 192.0, 80.0, 96.0};
    const std::vector<std::pair<DefectKind, std::string>> kinds = {
        {DefectKind::tetrahedron, "faulted\n60 40 48\n24\n0.34\n1.0\n"},
        {DefectKind::edge, "1 2 1 1 0\n96 40 48\n1 -1 0\n0.34\n1.0\n"}};
    for (const auto& [kind, records] : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        const std::string text = "{d}\n===\n" + records;
        DefectRun every(static_cast<int>(kind), "d.ini", text, "no", g);
        DefectRun sampled(static_cast<int>(kind), "d.ini", text, "no", g);
        const double tol = 1e-5;
        sampled.st.field_tolerance = tol;
        double worst = 0.0;
        int equal = 0, differ = 0;
        for (int l = 1; l <= g.nz; ++l) {
            every.slice(l), sampled.slice(l);
            for (int j = 1; j <= g.ny; ++j)
                for (int i = 1; i <= g.nx; ++i) {
                    for (int n = 1; n <= 5; ++n) {
                        const double e = every.st.s_g_r(i, j, n);
                        const double d = std::abs(sampled.st.s_g_r(i, j, n) - e);
                        worst = std::max(worst, d);
                        ASSERT_LE(d, tol) << i << ' ' << j << ' ' << l << ' ' << n;
                        (d <= 1e-12 * (1.0 + std::abs(e)) ? equal : differ)++;
                    }
                    for (int c = 1; c <= 3; ++c)
                        ASSERT_EQ(sampled.st.s_f(i, j, c), every.st.s_f(i, j, c));
                    ASSERT_EQ(sampled.st.projection(i, j, 1), every.st.projection(i, j, 1));
                }
        }
        EXPECT_GT(equal, 1000);
        EXPECT_GT(differ, 1000);
        std::cout << "largest change of a term by sampling at " << tol << ": " << worst << '\n';
    }
}
