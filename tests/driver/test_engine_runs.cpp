// Whole runs of every model, table engine against exact; the restart that makes threads sleep.
#include "driver/image_readback.hpp"
#include "run_kit.hpp"

using namespace korvex::testing;

namespace {

struct Model {
    const char* defect;
    std::string config;
};

const std::vector<Model> kModels = {
    {"edge", kMidEdge},
    {"screw", "{screw}\n===\n1 2 1 1 0\n4.5 3.5 10.0\n1 -1 1\n0\n"},
    {"screw", "{screw, surface relaxation}\n===\n1 2 0 1 1\n4.5 3.5 10.0\n1 0 0\n1\n"},
    {"loop", "{loop}\n===\n1 3 1 1 1\n4\n4.5 3.5 10\n1 1 1\n0.3\nintegral\n"},
    {"pg_loop", kMidFault},
    {"pg_loop", "{loop}\n===\nperfect\n1 2 1 1 0\n1 3 1 1 1\n4.0\n4.5 3.5 10.0\n1 1 1\n1 -1 0\n6\n"
                "0.34\n1.0\n"},
    {"tetrahedron", "{tetrahedron}\n===\nfaulted\n4.5 3.5 10\n8\n0.3\n1\n"},
    {"void", kMidVoid},
    {"3D-strain", kBoxStrain},
};

} // namespace

// The float images of every beam agree to 1e-4 in each pixel and 1e-5 on average: three beams
// with the column approximation, five without (two scalars and the lateral shift).
TEST(TableImages, EveryModelAgreesWithTheExactEngineAndAPassiveRestartRunsOnce) {
    for (const Model& m : kModels)
        for (const auto& [ca, last] : {std::pair{"yes", 1}, std::pair{"no", 2}}) {
            SCOPED_TRACE(m.config.substr(0, m.config.find('\n')) + " " + ca + " " +
                         std::to_string(2 * last + 1) + " beams");
            InputSpec in{.ca = ca, .defect = m.defect, .size_x = 9, .size_y = 7, .size_z = 20};
            in.first = -last, in.last = last;
            KorvexRun exact(in), table(in);
            for (const KorvexRun* r : {&exact, &table}) {
                if (std::string(m.defect) == "3D-strain") write_smooth_box(*r);
                for (const char* name : {"defect.ini", "loop.ini"}) r->dir.write(name, m.config);
            }
            ASSERT_TRUE(exact.run(m.config)) << exact.output;
            ASSERT_TRUE(table.run(m.config, "", "--engine=table")) << table.output;
            double worst = 0.0, sum = 0.0;
            std::size_t count = 0;
            for (int b = -last; b <= last; ++b) {
                const std::string name = "in" + kBeamNames[std::size_t(b + 2)] + ".tif";
                const TiffFloat e = read_tiff(exact.file(name)), t = read_tiff(table.file(name));
                ASSERT_TRUE(e.opened && t.opened && e.values.size() == t.values.size()) << name;
                for (std::size_t q = 0; q < e.values.size(); ++q) {
                    const double d = std::abs(double(e.values[q]) - double(t.values[q]));
                    worst = std::max(worst, d);
                    sum += d;
                    ++count;
                }
            }
            EXPECT_TRUE(worst <= 1e-4 && sum / double(count) <= 1e-5) << worst << ' ' << sum;
        }

    // Without a wait policy the program restarts itself with the passive one, once: it runs to the
    // end and gives the same images as a run with the policy set.
    const InputSpec in{.size_x = 4, .size_y = 3, .size_z = 10};
    const Sim set(in, "", "./", "OMP_WAIT_POLICY=passive"),
        unset(in, "", "./", "env -u OMP_WAIT_POLICY -u GOMP_SPINCOUNT");
    EXPECT_EQ(read_file(set.file("in00g.tif")), read_file(unset.file("in00g.tif")));
}
