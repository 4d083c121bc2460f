// Runs on a grid the user chose: columns farther apart than an Angstrom, thicker slices.
#include "run_kit.hpp"

#include <algorithm>

using namespace korvex::testing;

namespace {

const std::string kEdge = "{edge}\n===\n1 2 1 0 1\n6.2 4.4 10.3\n0 1 0\n0.34\n1.0\n0\n";

// The float copy of beam `beam`'s image of run `r`: value at column i, row j (1-based).
struct Floats {
    TiffFloat t;
    Floats(const KorvexRun& r, const std::string& beam)
        : t(read_tiff(r.file("in" + beam + ".tif"))) {}
    double at(int i, int j) const { return t.at(i - 1, j - 1); }
};

} // namespace

// Under the column approximation every column is carried on its own, so a column of a coarser
// grid whose centre is a column of the 1 Angstrom grid gets the same bits; the report and the
// image files give the coarser steps.
TEST(GridSteps, CoarserColumnsAreTheFineColumnsTheyMeet) {
    const InputSpec spec{.ca = "yes", .defect = "edge", .size_x = 12, .size_y = 9};
    KorvexRun fine(spec), coarse(spec);
    ASSERT_TRUE(fine.run(kEdge)) << fine.output;
    ASSERT_TRUE(coarse.run(kEdge, "", "--pixel-size=3")) << coarse.output;
    for (const std::string beam : {"-01g", "00g", "01g"}) {
        const Floats f(fine, beam), c(coarse, beam);
        ASSERT_EQ(std::tuple(c.t.width, c.t.height), std::tuple(4u, 3u));
        for (int j = 1; j <= 3; ++j)
            for (int i = 1; i <= 4; ++i)
                EXPECT_EQ(c.at(i, j), f.at(3 * i - 1, 3 * j - 1)) << i << j;
    }
    EXPECT_EQ(coarse.image("00g").unit_x, 3.0);
    const std::string par = read_file(coarse.file("in.par"));
    EXPECT_TRUE(contains(par, " 4 * 3 * 20\n") && contains(par, " 3.0 * 3.0 * 1.0\n")) << par;
}

// A perfect foil's transfer is the same in one slice as in twenty; an edge dislocation's image
// in 6.7 Angstrom slices (here with the lateral shift) stays within a few hundredths of the
// 1 Angstrom slices' beside its core; the slice table lists the slices actually made.
TEST(GridSteps, ThickerSlicesKeepTheirMeaning) {
    KorvexRun one({}), twenty({});
    ASSERT_TRUE(one.run("", "", "--slice-thickness=20")) << one.output;
    ASSERT_TRUE(twenty.run()) << twenty.output;
    EXPECT_EQ(read_lines(one.file("in.slice")).size(), 1u);
    for (const std::string beam : {"-01g", "00g", "01g"}) {
        const Floats a(one, beam), b(twenty, beam);
        for (int j = 1; j <= 8; ++j)
            for (int i = 1; i <= 8; ++i) EXPECT_NEAR(a.at(i, j), b.at(i, j), 2e-6) << beam;
    }
    const InputSpec spec{.defect = "edge", .size_x = 12, .size_y = 9};
    KorvexRun fine(spec), coarse(spec);
    ASSERT_TRUE(fine.run(kEdge)) << fine.output;
    ASSERT_TRUE(coarse.run(kEdge, "", "--slice-thickness=7")) << coarse.output;
    EXPECT_EQ(read_lines(coarse.file("in.slice")),
              std::vector<std::string>({"    1     3.333     6.667     6.667",
                                        "    2    10.000     6.667    13.333",
                                        "    3    16.667     6.667    20.000"}));
    double worst = 0.0;
    for (const std::string beam : {"-01g", "00g", "01g"}) {
        const Floats f(fine, beam), c(coarse, beam);
        for (int j = 1; j <= 9; ++j)
            for (int i = 1; i <= 12; ++i)
                worst = std::max(worst, std::abs(c.at(i, j) - f.at(i, j)));
    }
    EXPECT_GT(worst, 1e-6);
    EXPECT_LT(worst, 3e-2); // 0.018 beside the core
}

// Automatic slicing: a perfect foil goes in the thickest slices (its transfer is the same), an
// edge dislocation's slices stay thin only about its core's depth and its image within the
// tolerance's measured reach of the even slices' (the bound is far above the error); faults keep
// their slices thin. What it cannot serve is refused before anything is written.
TEST(GridSteps, AutomaticSlicesAreThinOnlyWhereTheStrainChanges) {
    KorvexRun perfect({.ca = "yes", .size_z = 60}), even({.ca = "yes", .size_z = 60});
    ASSERT_TRUE(perfect.run("", "", "--slice-thickness=auto")) << perfect.output;
    ASSERT_TRUE(even.run()) << even.output;
    EXPECT_TRUE(contains(perfect.output, " 4 slices of 1 to 27 steps of 1.0 A instead of 60"));
    EXPECT_EQ(read_lines(perfect.file("in.slice")).back(), "    4    58.500     3.000    60.000");
    const auto worst = [](const KorvexRun& a, const KorvexRun& b, int nx, int ny) {
        double w = 0.0;
        for (const std::string beam : {"-01g", "00g", "01g"}) {
            const Floats f(a, beam), c(b, beam);
            for (int j = 1; j <= ny; ++j)
                for (int i = 1; i <= nx; ++i) w = std::max(w, std::abs(c.at(i, j) - f.at(i, j)));
        }
        return w;
    };
    EXPECT_LT(worst(perfect, even, 8, 8), 1e-6);

    const InputSpec spec{.ca = "yes", .defect = "edge", .size_x = 12, .size_y = 9, .size_z = 120};
    const std::string edge = "{edge}\n===\n1 2 1 0 1\n6.2 4.4 60.3\n0 1 0\n0.34\n1.0\n0\n";
    KorvexRun fine(spec), graded(spec);
    ASSERT_TRUE(fine.run(edge)) << fine.output;
    ASSERT_TRUE(graded.run(edge, "", "--slice-thickness=auto:0.01")) << graded.output;
    const std::vector<std::string> table = read_lines(graded.file("in.slice"));
    ASSERT_LT(table.size(), 80u); // of 120
    double exit = 0.0, at_core = 0.0;
    for (const std::string& line : table) {
        double centre = 0.0, thick = 0.0;
        std::sscanf(line.c_str(), "%*d %lf %lf %lf", &centre, &thick, &exit);
        if (std::abs(centre - 60.5) < 0.5 * thick) at_core = thick;
    }
    EXPECT_EQ(exit, 120.0);
    const std::string par = read_file(graded.file("in.par"));
    EXPECT_TRUE(contains(par, " " + std::to_string(table.size()) + " of 1 to ") &&
                contains(par, " grids, 0.01\n"))
        << par;
    EXPECT_EQ(at_core, 1.0);
    EXPECT_GT(worst(fine, graded, 12, 9), 0.0);
    EXPECT_LT(worst(fine, graded, 12, 9), 1e-3);

    KorvexRun faulted({.ca = "yes", .defect = "pg_loop"}),
        faulted_even({.ca = "yes", .defect = "pg_loop"});
    ASSERT_TRUE(faulted.run(kMidFault, "", "--slice-thickness=auto:1")) << faulted.output;
    ASSERT_TRUE(faulted_even.run(kMidFault)) << faulted_even.output;
    EXPECT_LT(worst(faulted, faulted_even, 8, 8), 1e-3);

    for (const auto& [in, words] : {std::pair{InputSpec{.ca = "no"}, "column approximation"},
                                    std::pair{InputSpec{.job = 2, .ca = "yes"}, "job 1"}}) {
        KorvexRun refused(in);
        EXPECT_FALSE(refused.run("", "", "--slice-thickness=auto"));
        EXPECT_TRUE(contains(refused.output, words)) << refused.output;
        EXPECT_FALSE(std::filesystem::exists(refused.file("in00g"))) << words;
    }
    // The table of a thick slice spans the (here tiny) strains it was planned with, and more.
    KorvexRun far(spec);
    ASSERT_TRUE(far.run("{edge}\n===\n1 2 1 0 1\n6.2 4.4 900.3\n0 1 0\n0.34\n1.0\n0\n", "",
                        "--engine=table --slice-thickness=auto"))
        << far.output;
    EXPECT_TRUE(contains(far.output, " Column engine: table, 0 % of column-slices solved exactly"))
        << far.output;

    KorvexRun background({.ca = "yes", .defect = "population", .size_x = 9, .size_y = 7});
    write_smooth_box(background);
    EXPECT_FALSE(
        background.run("{p}\n===\n1e-4\ndefect 3D-strain\n'box'\n", "", "--slice-thickness=auto"));
    EXPECT_TRUE(contains(background.output, "cannot read strain files")) << background.output;
}
