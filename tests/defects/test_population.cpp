// The field of a population against the fields of its defects alone: sums where they overlap,
// each alone where the other does not reach, the cut-off within its bound.
#include "defects/fixture.hpp"
#include "defects/population.hpp"

#include <cstdint>
#include <vector>

using namespace korvex;
using namespace korvex::testing;

namespace {

constexpr int kPopulation = static_cast<int>(DefectKind::population);
constexpr Grid kGrid{32, 32, 24, 64.0, 64.0, 48.0};

std::string loop_at(const std::string& centre, double radius = 6.0) {
    return "faulted\n1 3 1 1 1\n1 3 1 1 1\n" + std::to_string(radius) + "\n" + centre +
           "\n1 1 1\n1 -1 0\n6\n0.34\n1.0\n";
}
std::string tetra_at(const std::string& centre, double edge = 10.0) {
    return "faulted\n" + centre + "\n" + std::to_string(edge) + "\n0.34\n1.0\n";
}
std::string inclusion_at(const std::string& centre, double radius = 4.0) {
    return std::to_string(radius) + "\n" + centre + "\n0.02\n0.3\n";
}

// A defect alone, from its own file.
DefectRun alone(DefectKind kind, const std::string& records, Grid g = kGrid) {
    return DefectRun(static_cast<int>(kind), "alone.ini", "{alone}\n===\n" + records, "no", g);
}

std::string population(double tolerance, const std::vector<std::string>& entries) {
    std::string s = "{population}\n===\n" + std::to_string(tolerance) + "\n";
    for (const auto& e : entries) s += e;
    return s;
}

double distance(double x, double y, double z, const Vec3& c) {
    return std::sqrt((x - c[0]) * (x - c[0]) + (y - c[1]) * (y - c[1]) + (z - c[2]) * (z - c[2]));
}

} // namespace

// Overlapping defects: the strain terms are the sums of theirs (to rounding), the loop's fault
// jumps and markers are its own; a void lets its columns pass.
TEST(PopulationField, OverlappingDefectsAddTheirTerms) {
    const std::string loop = loop_at("20 20 20"), inc = inclusion_at("26 24 24"),
                      tet = tetra_at("40 40 28");
    DefectRun a = alone(DefectKind::pg_loop, loop), b = alone(DefectKind::inclusion, inc),
              c = alone(DefectKind::tetrahedron, tet);
    DefectRun two(kPopulation, "p.ini",
                  population(0.0, {"defect pg_loop\n" + loop, "defect inclusion\n" + inc}), "no",
                  kGrid);
    DefectRun three(kPopulation, "p.ini",
                    population(0.0, {"defect pg_loop\n" + loop, "defect inclusion\n" + inc,
                                     "defect tetrahedron\n" + tet, "defect void\n3\n50 10 10\n"}),
                    "no", kGrid);
    EXPECT_EQ(three.st.field_kind, DefectKind::population);
    EXPECT_TRUE(three.st.field_voids);
    int crossed = 0, holes = 0;
    for (int l = 1; l <= kGrid.nz; ++l) {
        a.slice(l), b.slice(l), c.slice(l), two.slice(l), three.slice(l);
        for (int j = 1; j <= kGrid.ny; ++j)
            for (int i = 1; i <= kGrid.nx; ++i) {
                for (int n = 1; n <= 5; ++n) {
                    const double ab = a.st.s_g_r(i, j, n) + b.st.s_g_r(i, j, n);
                    const double abc = ab + c.st.s_g_r(i, j, n);
                    ASSERT_NEAR(two.st.s_g_r(i, j, n), ab, 1e-13 + 1e-12 * std::abs(ab));
                    ASSERT_NEAR(three.st.s_g_r(i, j, n), abc, 1e-13 + 1e-12 * std::abs(abc));
                }
                for (int k = 1; k <= 3; ++k) ASSERT_EQ(two.st.s_f(i, j, k), a.st.s_f(i, j, k));
                crossed += a.st.s_f(i, j, 1) != 0.0;
                holes += three.st.flag_vacancy(i, j) == 0;
            }
    }
    EXPECT_GT(crossed, 5);
    EXPECT_GT(holes, 3);
    for (int j = 1; j <= kGrid.ny; ++j)
        for (int i = 1; i <= kGrid.nx; ++i)
            ASSERT_EQ(two.st.projection(i, j, 1), a.st.projection(i, j, 1));
}

// Defects far apart: where one reaches and the other does not, the population gives the one
// alone, to the bit near it and within a quarter of the tolerance where its far field stands
// in (a tetrahedron's four faces: within the tolerance); beyond the reach of both it gives
// nothing, and each alone stays under the tolerance there (the bound of influence_radius
// holds). The fields are evaluated at every column here (no sampling).
TEST(PopulationField, FarDefectsAreEachAloneWithinTheirReach) {
    constexpr Grid g{32, 32, 24, 256.0, 256.0, 96.0};
    const double tol = 2e-3;
    const std::string loop = loop_at("40 40 40", 8.0), tet = tetra_at("216 216 60", 16.0);
    DefectRun a = alone(DefectKind::pg_loop, loop, g), b = alone(DefectKind::tetrahedron, tet, g);
    DefectRun pop(kPopulation, "p.ini",
                  population(tol, {"defect pg_loop\n" + loop, "defect tetrahedron\n" + tet}), "no",
                  g);
    pop.st.field_tolerance = 0.0;
    BoundedDefect da{1, 1, read_pgloop_file(a.st.f_defect)};
    BoundedDefect db{2, 1, read_tetrahedron_file(b.st.f_defect)};
    const double ra = influence_radius(pop.st, da, tol), rb = influence_radius(pop.st, db, tol);
    const double na = near_radii(pop.st, da, tol).front();
    ASSERT_LT(na, ra);
    ASSERT_LT(ra + rb, distance(40, 40, 40, db.centre()));
    int only_a = 0, only_b = 0, none = 0, far = 0;
    for (int l = 1; l <= g.nz; ++l) {
        a.slice(l), b.slice(l), pop.slice(l);
        const double z = (l - 0.5) * 4.0;
        for (int j = 1; j <= g.ny; ++j)
            for (int i = 1; i <= g.nx; ++i) {
                const double x = (i - 0.5) * 8.0, y = (j - 0.5) * 8.0;
                const bool in_a = distance(x, y, z, da.centre()) <= ra;
                const bool in_b = distance(x, y, z, db.centre()) <= rb;
                for (int n = 1; n <= 5; ++n) {
                    const double p = pop.st.s_g_r(i, j, n);
                    const bool near_a = distance(x, y, z, da.centre()) <= na;
                    ASSERT_TRUE(!near_a || p == a.st.s_g_r(i, j, n)) << i << ' ' << j << ' ' << l;
                    ASSERT_TRUE(!in_a || std::abs(p - a.st.s_g_r(i, j, n)) <= 0.25 * tol);
                    ASSERT_TRUE(!in_b || std::abs(p - b.st.s_g_r(i, j, n)) <= tol);
                    far += in_a && !near_a;
                    if (!in_a && !in_b) {
                        // Columns in the corners of a reach's square of rows and columns are
                        // computed all the same.
                        ASSERT_LT(std::abs(p), 2.0 * tol);
                        ASSERT_LT(std::abs(a.st.s_g_r(i, j, n)), tol);
                        ASSERT_LT(std::abs(b.st.s_g_r(i, j, n)), tol);
                    }
                }
                only_a += in_a, only_b += in_b, none += !in_a && !in_b;
            }
    }
    EXPECT_GT(only_a, 300);
    EXPECT_GT(only_b, 300);
    EXPECT_GT(none, 1000);
    EXPECT_GT(far, 1000);
}

// A dense population of loops, tetrahedra and inclusions: cutting each defect at its reach
// changes a column's term by little more than the tolerance (each defect cut drops less
// than half of it; 40 defects, any one column cut from all). Sampling the loops' fields (a
// tenth of the tolerance by default, smoothing the step where a loop's far field takes over)
// adds less than twice the tolerance.
TEST(PopulationField, CutOffStaysWithinItsBound) {
    constexpr Grid g{48, 48, 20, 240.0, 240.0, 200.0};
    std::uint64_t seed = 12345;
    const auto next = [&seed](double lo, double hi) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return lo + (hi - lo) * static_cast<double>(seed >> 11) / 9007199254740992.0;
    };
    std::vector<std::string> entries;
    std::vector<Vec3> centres;
    for (int k = 0; k < 40; ++k) {
        const Vec3 c{next(0, 240), next(0, 240), next(20, 180)};
        centres.push_back(c);
        const std::string at =
            std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
        entries.push_back(k % 3 == 0   ? "defect pg_loop\n" + loop_at(at, next(8, 25))
                          : k % 3 == 1 ? "defect tetrahedron\n" + tetra_at(at, next(20, 50))
                                       : "defect inclusion\n" + inclusion_at(at, next(5, 15)));
    }
    const double tol = 1e-4;
    DefectRun cut(kPopulation, "p.ini", population(tol, entries), "no", g);
    DefectRun unsampled(kPopulation, "p.ini", population(tol, entries), "no", g);
    unsampled.st.field_tolerance = 0.0;
    DefectRun whole(kPopulation, "p.ini", population(0.0, entries), "no", g);
    double worst = 0.0, sampling = 0.0;
    for (int l = 1; l <= g.nz; ++l) {
        cut.slice(l), unsampled.slice(l), whole.slice(l);
        for (int j = 1; j <= g.ny; ++j)
            for (int i = 1; i <= g.nx; ++i)
                for (int n = 1; n <= 5; ++n) {
                    const double d = std::abs(cut.st.s_g_r(i, j, n) - whole.st.s_g_r(i, j, n));
                    const double s = std::abs(cut.st.s_g_r(i, j, n) - unsampled.st.s_g_r(i, j, n));
                    worst = std::max(worst, d);
                    sampling = std::max(sampling, s);
                    ASSERT_LE(d, 10 * tol);
                    ASSERT_LE(s, 2 * tol);
                }
    }
    EXPECT_GT(worst, 0.0);
    EXPECT_GT(sampling, 0.0);
    std::cout << "largest change of a term by the cut-off: " << worst << ", by the sampling "
              << sampling << " per Angstrom\n";
}

// The amplitude-phase job's column, measured from the first entry: the sum of each defect's
// column at the same point of the foil. A defect reaching every column is refused there.
TEST(PopulationField, AmplitudePhaseColumnIsTheSum) {
    const std::string loop = loop_at("20 20 20"), inc = inclusion_at("30 26 24");
    DefectRun a = alone(DefectKind::pg_loop, loop), b = alone(DefectKind::inclusion, inc);
    DefectRun pop(kPopulation, "p.ini",
                  population(0.0, {"defect pg_loop\n" + loop, "defect inclusion\n" + inc}), "no",
                  kGrid);
    for (const auto& [x, y] : {std::pair{3.0, -4.0}, {12.5, 7.0}, {-9.0, 2.0}})
        for (int l : {5, 11, 12, 18}) {
            a.column(l, x, y), b.column(l, 20 + x - 30, 20 + y - 26), pop.column(l, x, y);
            for (int n = 1; n <= 5; ++n) {
                const double sum = a.st.s_g_r(1, 1, n) + b.st.s_g_r(1, 1, n);
                EXPECT_NEAR(pop.st.s_g_r(1, 1, n), sum, 1e-14 + 1e-12 * std::abs(sum));
            }
        }
    DefectRun mixed(kPopulation, "p.ini",
                    population(0.0, {"defect inclusion\n" + inc,
                                     "defect edge\n1 2 1 0 1\n30 30 20\n0 1 0\n0.34\n1.0\n"}),
                    "no", kGrid);
    const auto lines = stop_lines<Fatal>([&] { mixed.column(3, 0.0, 0.0); });
    EXPECT_TRUE(contains(lines.back(), "p.ini\", entry 2 is a defect reaching every column"))
        << lines.back();
}
