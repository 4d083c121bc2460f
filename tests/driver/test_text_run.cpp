// Whole text-mode runs of the korvex program on small perfect-crystal inputs.
#include "state/image_file.hpp"
#include "support/input_files.hpp"
#include "support/testing.hpp"

#include <filesystem>

using namespace korvex;
using namespace korvex::testing;

namespace {

struct RunResult {
    int status = -1;
    std::string output;
};

RunResult run_case(ScratchDir& dir, const InputSpec& spec, const std::string& extra_args = "",
             const std::string& env = "") {
    dir.write("filesystem.ini", filesystem_text());
    dir.write("in", input_text(spec));
    RunResult r;
    r.status = run_program(dir.path().string(), "-t in " + extra_args, r.output, env);
    return r;
}

int count(const std::vector<std::string>& lines, const std::string& s) {
    int c = 0;
    for (const auto& l : lines) c += l == s;
    return c;
}

} // namespace

TEST(TextRun, JobOneWritesEveryResultFile) {
    ScratchDir dir;
    const RunResult r = run_case(dir, InputSpec{});
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* f : {"in-01g", "in00g", "in01g", "in.imi", "Imagesin.tex", "in.par", "in_pjt",
                          "in.slice", "record.sim"})
        EXPECT_TRUE(dir.exists(f)) << f;
    EXPECT_EQ(split_lines(dir.read("in.imi")), std::vector<std::string>{" exit"});
    EXPECT_EQ(split_lines(dir.read("Imagesin.tex")).size(), 20u);
    const auto img = read_image_file(dir.str() + "in01g");
    EXPECT_EQ(img.nx(), 8);
    EXPECT_EQ(img.ny(), 8);
    // A perfect crystal gives the same intensity in every column.
    EXPECT_DOUBLE_EQ(img.values(1, 1), img.values(8, 8));
    EXPECT_NE(r.output.find(" Start calculations for the condition (g,1.0)"), std::string::npos);
    EXPECT_NE(r.output.find(" 100% finished"), std::string::npos);
    // Slice table: number, centre, thickness, exit face in fixed columns.
    EXPECT_EQ(split_lines(dir.read("in.slice"))[0], "    1     0.500     1.000     1.000");
}

TEST(TextRun, BeamIntensitiesAddUpWithoutAbsorption) {
    ScratchDir dir;
    InputSpec s;
    s.iabs = 0;
    s.ca = "yes";
    s.first = -1;
    s.last = 3;
    ASSERT_EQ(run_case(dir, s).status, 0);
    double total = 0.0;
    for (const char* f : {"in-01g", "in00g", "in01g", "in02g", "in03g"})
        total += read_image_file(dir.str() + f).values(3, 5);
    // The files hold four significant digits.
    EXPECT_NEAR(total, 1.0, 3e-3);
}

TEST(TextRun, ThicknessFringesHoldOneRecordPerSlice) {
    ScratchDir dir;
    InputSpec s;
    s.job = 2;
    s.size_x = 5;
    s.size_z = 12;
    ASSERT_EQ(run_case(dir, s).status, 0);
    const auto lines = split_lines(dir.read("in01g"));
    ASSERT_EQ(lines.size(), 8u + 12u);
    EXPECT_EQ(lines[0], " width");
}

TEST(TextRun, LayerImagesOfEverySliceNearTheBraggCondition) {
    ScratchDir dir;
    InputSpec s;
    s.job = 3;
    s.size_z = 12;
    ASSERT_EQ(run_case(dir, s).status, 0);
    const auto imi = split_lines(dir.read("in.imi"));
    ASSERT_EQ(imi.size(), 13u);
    EXPECT_EQ(imi[11], " in01gml0012");
    EXPECT_EQ(imi[12], " exit");
    EXPECT_TRUE(dir.exists("in01gml0001"));
    const auto tex = split_lines(dir.read("Imagesin.tex"));
    EXPECT_EQ(count(tex, " {in01gml0007.ps}"), 1);
}

TEST(TextRun, WeakBeamLayersAreSpacedNearTheExitSurface) {
    ScratchDir dir;
    InputSpec s;
    s.job = 3;
    s.size_x = s.size_y = 2;
    s.size_z = 100;
    s.f_g = 3.0; // weak beam: every nint(2 / 1 Angstrom) = 2nd slice in the last 32 steps
    ASSERT_EQ(run_case(dir, s).status, 0);
    const auto imi = split_lines(dir.read("in.imi"));
    ASSERT_EQ(imi.size(), 33u);
    EXPECT_EQ(imi.front(), " in01gml0038");
    EXPECT_EQ(imi[31], " in01gml0100");
}

TEST(TextRun, SeriesRunsTwelveConditions) {
    ScratchDir dir;
    InputSpec s;
    s.f_g = 999;
    s.size_x = s.size_y = 2;
    s.size_z = 4;
    ASSERT_EQ(run_case(dir, s).status, 0);
    EXPECT_TRUE(dir.exists("ing3.50g01g"));
    EXPECT_TRUE(dir.exists("ing6.25g-01g"));
    EXPECT_TRUE(dir.exists("ing4.75g.par"));
    const auto imi = split_lines(dir.read("in.imi"));
    EXPECT_EQ(count(imi, " NewSimulation"), 11);
    const auto tex = split_lines(dir.read("Imagesin.tex"));
    EXPECT_EQ(count(tex, " $(g,5.25                g)$"), 1);
    EXPECT_EQ(tex[tex.size() - 3], " \\label{ing6.25g}");
}

TEST(TextRun, ResultsDoNotDependOnTheThreadCount) {
    ScratchDir one, two;
    InputSpec s;
    s.size_x = 9;
    s.size_y = 7;
    s.first = -2;
    s.last = 3;
    ASSERT_EQ(run_case(one, s, "", "OMP_NUM_THREADS=1").status, 0);
    ASSERT_EQ(run_case(two, s, "", "OMP_NUM_THREADS=2").status, 0);
    for (const char* f : {"in-02g", "in00g", "in01g", "in03g", "in_pjt", "in.slice"})
        EXPECT_EQ(one.read(f), two.read(f)) << f;
}

TEST(TextRun, BadInputStopsWithItsMessage) {
    {
        ScratchDir dir;
        InputSpec s;
        s.ca = "maybe";
        const RunResult r = run_case(dir, s);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(
            r.output.find(" System HALT! Please select the Column Approximation applied or not."),
            std::string::npos);
    }
    {
        ScratchDir dir;
        InputSpec s;
        s.defect = "Edge";
        const RunResult r = run_case(dir, s);
        EXPECT_EQ(r.status, 0) << r.output; // the perfect crystal is computed
        EXPECT_NE(r.output.find(" SYSTEM HALT, the style of defect given is wrong"),
                  std::string::npos);
    }
    {
        ScratchDir dir;
        dir.write("filesystem.ini", filesystem_text());
        std::string out;
        EXPECT_NE(run_program(dir.path().string(), "-t missing.in", out), 0);
        EXPECT_NE(out.find("missing.in"), std::string::npos);
    }
    {
        ScratchDir dir;
        InputSpec s;
        s.defect = "edge";
        const RunResult r = run_case(dir, s);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find("No defect configuration file is given"), std::string::npos);
    }
}

TEST(TextRun, UnwritableDataDirectoryStopsWithoutPartialImages) {
    // A data directory that is a file: permissions would not stop root.
    ScratchDir dir;
    dir.write("filesystem.ini", filesystem_text("blocked/"));
    dir.write("blocked", "a file, not a directory\n");
    dir.write("in", input_text(InputSpec{}));
    std::string out;
    EXPECT_NE(run_program(dir.path().string(), "-t in", out), 0);
    EXPECT_NE(out.find("blocked/"), std::string::npos) << out;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find("01g"), std::string::npos) << e.path();
}
