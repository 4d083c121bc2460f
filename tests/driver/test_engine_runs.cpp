// Whole runs of every defect model with the table engine against the exact engine: the float
// images of every beam agree to 1e-4 in each pixel and to 1e-5 on average: three beams with
// the column approximation, five without (two scalars and the lateral shift). And the restart
// that makes waiting threads sleep.
#include "driver/gradient_files.hpp"
#include "driver/image_readback.hpp"
#include "support/input_files.hpp"

#include <cmath>

using namespace korvex;
using namespace korvex::testing;

namespace {

struct Model {
    const char* defect;
    std::string config;
};

// Every model on a 9 x 7 x 20 grid, its defect in the middle.
const std::vector<Model> kModels = {
    {"edge", "{edge}\n===\n1 2 1 0 1\n4.5 3.5 10.0\n0 1 0\n0.34\n0.0\n0\n"},
    {"screw", "{screw}\n===\n1 2 1 1 0\n4.5 3.5 10.0\n1 -1 1\n0\n"},
    {"screw", "{screw, surface relaxation}\n===\n1 2 0 1 1\n4.5 3.5 10.0\n1 0 0\n1\n"},
    {"loop", "{loop}\n===\n1 3 1 1 1\n4\n4.5 3.5 10\n1 1 1\n0.3\nintegral\n"},
    {"pg_loop", "{loop}\n===\npureSF\n1 3 1 1 1\n1 3 1 1 1\n4.0\n4.5 3.5 10.0\n1 1 1\n1 -1 0\n6\n"
                "0.34\n1.0\n"},
    {"pg_loop", "{loop}\n===\nperfect\n1 2 1 1 0\n1 3 1 1 1\n4.0\n4.5 3.5 10.0\n1 1 1\n1 -1 0\n6\n"
                "0.34\n1.0\n"},
    {"tetrahedron", "{tetrahedron}\n===\nfaulted\n4.5 3.5 10\n8\n0.3\n1\n"},
    {"void", "{void}\n===\n3.0\n4.5 3.5 10.0\n"},
    {"3D-strain", "{strain}\n===\n'box'\n"},
};

} // namespace

TEST(TableImages, EveryModelAgreesWithTheExactEngine) {
    for (const Model& m : kModels)
        for (const auto& [ca, last] : {std::pair{"yes", 1}, std::pair{"no", 2}}) {
            SCOPED_TRACE(m.config.substr(0, m.config.find('\n')) + " " + ca + " " +
                         std::to_string(2 * last + 1) + " beams");
            const InputSpec in{.ca = ca,
                               .defect = m.defect,
                               .size_x = 9,
                               .size_y = 7,
                               .size_z = 20,
                               .first = -last,
                               .last = last};
            KorvexRun exact(in), table(in);
            for (const KorvexRun* r : {&exact, &table}) {
                if (std::string(m.defect) == "3D-strain")
                    write_gradient_files(
                        r->file("box"),
                        {.size = {9, 7, 20}, .cells = {9, 7, 20}, .v_g = {2, 0, 0}, .lat_c = 3.61},
                        [](const Vec3& p) {
                            Gradient d{};
                            d[0][0] = 0.02 * std::sin(p[0] + 2.0 * p[1]);
                            d[2][1] = 0.01 * std::cos(p[2]);
                            return d;
                        });
                for (const char* name : {"defect.ini", "loop.ini"}) r->dir.write(name, m.config);
            }
            ASSERT_TRUE(exact.run(m.config)) << exact.output;
            ASSERT_EQ(run_program(table.dir.str(), "--engine=table -t in defect.ini", table.output),
                      0)
                << table.output;
            double worst = 0.0, sum = 0.0;
            std::size_t count = 0;
            for (int b = -last; b <= last; ++b) {
                const std::string name = "in" + std::string(b < 0 ? "-" : "") + "0" +
                                         std::to_string(std::abs(b)) + "g.tif";
                const TiffFloat e = read_tiff(exact.file(name)), t = read_tiff(table.file(name));
                ASSERT_TRUE(e.opened && t.opened && e.values.size() == t.values.size()) << name;
                for (std::size_t q = 0; q < e.values.size(); ++q) {
                    const double d = std::abs(double(e.values[q]) - double(t.values[q]));
                    worst = std::max(worst, d);
                    sum += d;
                    ++count;
                }
            }
            EXPECT_LE(worst, 1e-4);
            EXPECT_LE(sum / double(count), 1e-5);
        }
}

// Without a wait policy the program restarts itself with the passive one, once: it runs to the
// end and gives the same images as a run with the policy set.
TEST(EngineThreads, APassiveRestartRunsOnceAndGivesTheSameImages) {
    const InputSpec in{.size_x = 4, .size_y = 3, .size_z = 10};
    KorvexRun set(in), unset(in);
    ASSERT_TRUE(set.run("", "OMP_WAIT_POLICY=passive")) << set.output;
    ASSERT_TRUE(unset.run("", "env -u OMP_WAIT_POLICY -u GOMP_SPINCOUNT")) << unset.output;
    EXPECT_EQ(read_file(set.file("in00g.tif")), read_file(unset.file("in00g.tif")));
}
