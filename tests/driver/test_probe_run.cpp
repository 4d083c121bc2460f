// Whole scanning runs: the options refused before anything is written, the detector images and
// profiles, the reports that tell the illumination.
#include "driver/run_kit.hpp"

#include <algorithm>

using namespace korvex::testing;
namespace fs = std::filesystem;

// A refused illumination stops with its option and value named (a bad value on the command line
// with the usage, status 2; one the run cannot take, status 1) and leaves only the inputs.
TEST(ProbeRun, BadIlluminationRefusedBeforeAnythingIsWritten) {
    auto expect = [](const std::string& options, const std::string& line, int status,
                     const InputSpec& in = {.ca = "yes"}) {
        SCOPED_TRACE(options);
        KorvexRun r(in);
        EXPECT_FALSE(r.run("", "", options));
        EXPECT_EQ(r.status, status);
        EXPECT_TRUE(contains(r.output, line));
        EXPECT_EQ(r.dir.names(), (std::set<std::string>{"filesystem.ini", "in"}));
    };
    expect("--detector=bf:5 --convergence=-1",
           " > The convergence semi-angle in \"--convergence=-1\" must be a finite number of mrad, "
           "0 or more\n",
           2);
    expect("--detector=bf:5 --convergence=nan", "\"--convergence=nan\" must be a finite", 2);
    expect("--detector=bf:5 --convergence=1e999", "\"--convergence=1e999\" must be a finite", 2);
    expect("--detector=bf:5 --directions=0",
           " > The number of incident directions in \"--directions=0\" must be a whole number "
           "from 1 to 10000\n",
           2);
    expect("--detector=bf:5 --directions=2.5", "\"--directions=2.5\" must be a whole number", 2);
    expect("--detector=adf:30:10",
           " > The detector \"--detector=adf:30:10\": its outer semi-angle (10.0 mrad) must lie "
           "above its inner one (30.0 mrad), or it takes nothing\n",
           2);
    expect("--detector=bf:-2", "the semi-angle \"-2\" must be a finite number of mrad", 2);
    expect("--detector=bf:inf", "the semi-angle \"inf\" must be a finite number of mrad", 2);
    expect("--detector=adf:5", "detector \"--detector=adf:5\" takes two angles", 2);
    expect("--detector=haadf:5:9", "Unknown detector in \"--detector=haadf:5:9\"", 2);
    expect("--convergence=5",
           " > \"--convergence=5\" describes a convergent probe, which needs a detector", 2);
    // Known only with the run's optics: beams -1 .. 1 leave at 0 and 13.9 mrad.
    expect("--detector=adf:30:60 --convergence=5 --directions=7",
           " The detector ADF 30-60 mrad takes no beam of any incident direction of the condition "
           "(g,1g): the probe axis's beams leave at -1g 13.9 mrad, 0g 0 mrad, 1g 13.9 mrad, the "
           "probe's directions within 5 mrad of theirs.\n Read: --detector=adf:30:60\n",
           1);
    expect("--detector=bf:5", " Read: \"no\" in \"in\"", 1, {.ca = "no"});
    expect("--detector=bf:5", " Read: job 3 in \"in\"", 1, {.job = 3, .ca = "yes"});
}

// A probe of no convergence gives the parallel beam's images as the detectors take them; a
// convergent one writes its detector images and profiles, and the reports, the run record's
// engine line and the overview tell the illumination.
TEST(ProbeRun, DetectorImagesProfilesAndReports) {
    const InputSpec in{.ca = "yes",
                       .defect = "edge",
                       .size_x = 9,
                       .size_y = 7,
                       .size_z = 60,
                       .first = -2,
                       .last = 2};
    Sim parallel(in, kMidEdge);
    KorvexRun none(in);
    ASSERT_TRUE(none.run(kMidEdge, "", "--detector=bf:1 --detector=adf:10:20 --directions=7"))
        << none.output;
    EXPECT_EQ(differing_columns(none.image("_bf"), parallel.image("00g")), 0);
    EXPECT_TRUE(contains(none.output, " Probe: probe 0 mrad, 1 direction, BF 0-1 mrad,"));
    const ImageData m1 = parallel.image("-01g"), p1 = parallel.image("01g");
    const ImageData adf = none.image("_adf");
    for (int j = 1; j <= 7; ++j)
        for (int i = 1; i <= 9; ++i)
            EXPECT_NEAR(adf.values(i, j), m1.values(i, j) + p1.values(i, j), 2e-3);

    KorvexRun probe(in);
    ASSERT_TRUE(probe.run(kMidEdge, "",
                          "--engine=table --detector=bf:3 --detector=adf:8:20 "
                          "--detector=adf:20:40 --convergence=3 --directions=7"))
        << probe.output;
    EXPECT_TRUE(contains(probe.output, " Probe: probe 3 mrad, 7 directions, BF 0-3 mrad, ADF "
                                       "8-20 mrad, ADF 20-40 mrad\n"));
    for (const char* f :
         {"in_bf", "in_adf", "in_adf2", "in_bf.png", "in_adf2.tif", "in_overview.png"})
        EXPECT_TRUE(fs::exists(probe.file(f))) << f;
    EXPECT_FALSE(fs::exists(probe.file("in00g")));
    EXPECT_NE(differing_columns(probe.image("_bf"), parallel.image("00g")), 0);
    const std::string par = read_file(probe.file("in.par"));
    EXPECT_TRUE(contains(par, " convergence semi-angle 3.0 mrad\n"));
    EXPECT_TRUE(contains(par, " detector adf2: ADF 20-40 mrad, image in_adf2\n"));
    EXPECT_TRUE(contains(read_file(probe.file("Imagesin.tex")),
                         " , probe 3 mrad, 7 directions, BF 0-3 mrad"));
    EXPECT_TRUE(contains(read_file(probe.file("in.imi")), "directions carried)"));
    EXPECT_TRUE(contains(read_file(probe.file("in_adf2.tif")), "\ndetector = ADF 20-40 mrad\n"));

    // Job 2: one profile per detector, a column per slice.
    KorvexRun fringes({.job = 2, .ca = "yes", .size_x = 9, .size_y = 3, .size_z = 40});
    ASSERT_TRUE(fringes.run("", "", "--detector=bf:2 --convergence=2 --directions=3"))
        << fringes.output;
    const auto rows = read_lines(fringes.file("in_bf"));
    EXPECT_EQ(rows.size(), 8u + 40u); // header, then one record per slice
}
