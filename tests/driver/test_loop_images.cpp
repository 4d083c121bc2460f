// Whole runs of the korvex program with a pure stacking-fault loop: the fault shows only
// where columns cross it, and not at all when g.R is a whole number.
#include "state/image_file.hpp"
#include "support/input_files.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <string>

using namespace korvex;
using namespace korvex::testing;

namespace {

struct ImageRun {
    ScratchDir dir;
    int status = -1;
    std::string output;
    bool no_solver = false;

    // Runs the input `in` with the defect file pgLoop.ini holding `loop` (if any).
    ImageRun(const InputSpec& in, const std::string& loop) {
        dir.write("filesystem.ini", filesystem_text());
        dir.write("in", input_text(in));
        std::string args = "-t in";
        if (!loop.empty()) {
            dir.write("pgLoop.ini", loop);
            args += " pgLoop.ini";
        }
        status = run_program(dir.path().string(), args, output);
        no_solver = output.find("solver not available in this build") != std::string::npos;
    }
    ImageData image(const std::string& name) const { return read_image_file(dir.str() + name); }
};

InputSpec loop_input(const std::string& defect) {
    InputSpec s;
    s.defect = defect;
    s.ca = "yes"; // no sideways shift of inclined beams: columns stay independent
    s.size_x = s.size_y = s.size_z = 24;
    s.first = -1;
    s.last = 1;
    return s;
}

// A hexagonal loop on (111) through the middle of the foil, with only its fault.
std::string pure_fault_loop(const std::string& fault) {
    return "             {Data for the polygonal loop in Crystal}\n" + std::string(67, '=') +
           "\npureSF\n1 3 1 1 1\n" + fault + "\n8.0\n12.0 12.0 12.0\n1 1 1\n1 -1 0\n6\n0.34\n1.0\n";
}

bool same_intensity(double a, double b) {
    // The image files hold four significant digits.
    return std::abs(a - b) <= 2e-3 * std::abs(b) + 1e-7;
}

} // namespace

TEST(LoopImages, PureFaultShowsContrastOnlyInsideItsProjection) {
    ImageRun perfect(loop_input("no"), "");
    if (perfect.no_solver) GTEST_SKIP() << "the column solver is not in this build yet";
    ASSERT_EQ(perfect.status, 0) << perfect.output;
    // g.R = (2 0 0).(1/3)[1 1 1] = 2/3.
    ImageRun loop(loop_input("pg_loop"), pure_fault_loop("1 3 1 1 1"));
    ASSERT_EQ(loop.status, 0) << loop.output;

    // The hexagon of radius 8 on (111) projects onto (001) with an area of
    // (3 sqrt 3 / 2) 64 / sqrt 3 = 96 columns.
    const ImageData pjt = loop.image("in_pjt");
    int marked = 0;
    for (int j = 1; j <= 24; ++j)
        for (int i = 1; i <= 24; ++i) marked += pjt.values(i, j) != 0.0;
    EXPECT_NEAR(marked, 96, 8);
    EXPECT_EQ(pjt.values(1, 1), 0.0);
    EXPECT_EQ(pjt.values(24, 24), 0.0);
    EXPECT_EQ(pjt.values(12, 12), 1.0);
    int inside = 0, contrast = 0;
    for (const char* beam : {"in00g", "in01g"}) {
        const ImageData p = perfect.image(beam), d = loop.image(beam);
        ASSERT_EQ(d.nx(), 24);
        for (int j = 1; j <= 24; ++j)
            for (int i = 1; i <= 24; ++i) {
                if (pjt.values(i, j) == 0.0) {
                    EXPECT_TRUE(same_intensity(d.values(i, j), p.values(i, j)))
                        << beam << " column " << i << ' ' << j << " outside the loop";
                } else {
                    ++inside;
                    contrast += !same_intensity(d.values(i, j), p.values(i, j)) &&
                                std::abs(d.values(i, j) - p.values(i, j)) > 0.01 * p.values(i, j);
                }
            }
    }
    EXPECT_GT(contrast, inside * 9 / 10);
}

TEST(LoopImages, FaultWithWholeNumberPhaseIsInvisible) {
    ImageRun perfect(loop_input("no"), "");
    if (perfect.no_solver) GTEST_SKIP() << "the column solver is not in this build yet";
    ASSERT_EQ(perfect.status, 0) << perfect.output;
    // g.R = (2 0 0).(1/2)[1 1 0] = 1.
    ImageRun loop(loop_input("pg_loop"), pure_fault_loop("1 2 1 1 0"));
    ASSERT_EQ(loop.status, 0) << loop.output;

    const ImageData pjt = loop.image("in_pjt");
    int marked = 0;
    for (int j = 1; j <= 24; ++j)
        for (int i = 1; i <= 24; ++i) marked += pjt.values(i, j) != 0.0;
    EXPECT_NEAR(marked, 96, 8); // the loop is there
    for (const char* beam : {"in-01g", "in00g", "in01g"}) {
        const ImageData p = perfect.image(beam), d = loop.image(beam);
        for (int j = 1; j <= 24; ++j)
            for (int i = 1; i <= 24; ++i)
                EXPECT_TRUE(same_intensity(d.values(i, j), p.values(i, j)))
                    << beam << " column " << i << ' ' << j;
    }
}
