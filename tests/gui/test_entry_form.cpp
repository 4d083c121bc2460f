#include "gui/entry_form.hpp"

#include "optics/vectors.hpp"
#include "state/fmt.hpp"

#include "scripted_graphics.hpp"
#include "support/testing.hpp"

#include <gtest/gtest.h>

namespace korvex {
namespace {

using testing::keys;
using testing::ScratchDir;
using testing::stop_lines;
using testing::TestGui;

// The keys of the main page, one entry per box in the order they are taken.
struct Page {
    std::string crystal = "Cu"; // ends by itself after two characters
    std::string job = "1\r";
    std::string ca = "no\r";
    std::string voltage = "200\r";
    std::string defect = "no\r";
    std::string size = "8 8\r";
    std::string thickness = "20\r";
    std::string zone = "0 0 1\r";
    std::string g = "2 0 0\r";
    std::string beams = "-1 1\r";
    std::string fg = "1\r";
    std::string absorption = "1\r";
    std::string output = "cu200\r";
    std::string column = ""; // job 9 only
    std::vector<std::string> defect_panel;

    std::string all() const {
        std::string s = crystal + job + ca + voltage + defect + size + thickness + zone + g +
                        beams + fg + absorption + output + column;
        for (const auto& d : defect_panel) s += d;
        return s;
    }
};

class EntryForm : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.enter();
        dir.write("filesystem.ini", "dirs\nroot, system, run, record, data\n'/data/'\n'sys/'\n"
                                    "'run/'\n'rec/'\n'out/'\n");
    }
    // Runs the form on the keys of `page`; every key must be used.
    void run(const Page& page) {
        t.gr.add(keys(page.all()));
        guiinput_system_parameters(st, t.gui);
        EXPECT_TRUE(t.gr.events.empty()) << t.gr.events.size() << " keys left";
    }
    std::vector<std::string> stop(const Page& page) {
        t.gr.add(keys(page.all()));
        return stop_lines([&] { guiinput_system_parameters(st, t.gui); });
    }

    ScratchDir dir;
    TestGui t;
    State st;
};

TEST_F(EntryForm, PerfectCrystalRunFillsTheState) {
    run(Page{});
    EXPECT_EQ(t.gr.opened, (std::vector<std::string>{"/XWINDOW"}));
    EXPECT_EQ(st.datadir, "/data/out/");
    EXPECT_EQ(st.rundir, "/data/run/");
    EXPECT_EQ(st.sample, "Cu");
    EXPECT_EQ(st.sample_no, "Cu");
    EXPECT_EQ(st.job, 1);
    EXPECT_EQ(st.ca, "no");
    EXPECT_EQ(st.voltage, 200.0);
    EXPECT_EQ(st.defect, "no");
    EXPECT_EQ(st.f_defect, "screw.ini");
    EXPECT_FALSE(dir.exists("screw.ini"));
    EXPECT_EQ(st.size_x, 8.0);
    EXPECT_EQ(st.size_z, 20.0);
    EXPECT_EQ(st.n_pixel_x, 8);
    EXPECT_EQ(st.n_pixel_y, 8);
    EXPECT_EQ(st.n_slice, 20);
    EXPECT_EQ(st.foil, (Vec3{0, 0, 1}));
    EXPECT_EQ(st.v_g, (Vec3{2, 0, 0}));
    EXPECT_EQ(st.co_x, st.v_g);
    EXPECT_EQ(st.n_beams, 3);
    ASSERT_TRUE(st.allocated);
    EXPECT_EQ(st.mtx_beams(1), -1);
    EXPECT_EQ(st.mtx_beams(3), 1);
    EXPECT_EQ(st.f_g, 1.0);
    EXPECT_EQ(st.iabs, 1);
    EXPECT_EQ(st.f_out, "cu200");
    EXPECT_EQ(st.eigen_model, 4);
    EXPECT_EQ(st.ncon, 1);
    EXPECT_EQ(st.colxy, (std::array<double, 2>{0.0, 0.0}));
    // Twelve viewer buttons, then the thirteen labels of the main page shown empty.
    const auto texts = t.gr.texts_drawn();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "STOP"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Accerlating Voltage:"), texts.end());
    EXPECT_EQ(t.gui.layout.grid_columns, 6);
    EXPECT_FLOAT_EQ(t.gui.layout.plot_viewport_y2, 0.80f);
}

TEST_F(EntryForm, CaseRulesAndReasks) {
    EXPECT_EQ(column_approximation_case("YES"), "yes");
    EXPECT_EQ(column_approximation_case("Yes "), "yes");
    EXPECT_EQ(column_approximation_case("NO"), "no");
    EXPECT_EQ(column_approximation_case("half"), "half");
    EXPECT_EQ(defect_case("SCREW"), "screw");
    EXPECT_EQ(defect_case("Edge"), "edge");
    EXPECT_EQ(defect_case("Loop"), "pg_loop");
    EXPECT_EQ(defect_case("loop"), "pg_loop");
    EXPECT_EQ(defect_case("No"), "no");
    EXPECT_EQ(defect_case("void"), "void");

    Page p;
    p.crystal = "W\r";
    p.job = "7\b1\r"; // Backspace takes the box again
    p.ca = "half\ry\rYes \r";
    p.absorption = "2\r-1\r0\r";
    run(p);
    EXPECT_EQ(st.sample, "W");
    EXPECT_EQ(st.job, 1);
    EXPECT_EQ(st.ca, "yes");
    EXPECT_EQ(st.iabs, 0);
    const std::string ca_msg = " The value for COLUMN APPROXIMATION only can be <yes> or <no>\n";
    const std::string abs_msg = " 1: with absorption; 0: without absorption.\n";
    const std::string out = t.out.str();
    EXPECT_NE(out.find(ca_msg + ca_msg + abs_msg + abs_msg), std::string::npos) << out;
}

TEST_F(EntryForm, ColumnPositionOnlyForJobNine) {
    Page p;
    p.job = "9\r";
    p.column = "1.5 -20\r";
    run(p);
    EXPECT_EQ(st.colxy, (std::array<double, 2>{1.5, -20.0}));
}

TEST_F(EntryForm, ScrewPanelWritesScrewIni) {
    Page p;
    p.defect = "Screw\r";
    p.defect_panel = {"1 2 1 1 1\r", "20 30.5 40\r", "1\r"};
    run(p);
    EXPECT_EQ(st.defect, "screw");
    EXPECT_EQ(st.f_defect, "screw.ini");
    // Cut plane normal perpendicular to [1 1 1]; z of the point on the surface when relaxed.
    const std::string want =
        "              {Data for the screw dislocation in Crystal}\n"
        " ===================================================================\n"
        "  1.0  2.0  1.0  1.0  1.0                               Burger vector m/n[i,j,k]\n"
        "   20.00   30.50    0.00              A point that the screw dislocation passes\n"
        "  1.0  0.0 -1.0                                                    Cut plane\n"
        "   1                           Surface relaxation, 1: with, 0 without\n";
    EXPECT_EQ(dir.read("screw.ini"), want);
}

TEST_F(EntryForm, ScrewWithoutRelaxationKeepsDepth) {
    Page p;
    p.defect = "screw\r";
    p.defect_panel = {"1 2 1 -1 0\r", "0 0 40\r", "0\r"};
    run(p);
    const auto lines = testing::split_lines(dir.read("screw.ini"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3].substr(0, 24), "    0.00    0.00   40.00");
    const Vec3 n = perpendicular_vector({1, -1, 0});
    EXPECT_EQ(lines[4].substr(0, 15), fmt_f(n[0], 5, 1) + fmt_f(n[1], 5, 1) + fmt_f(n[2], 5, 1));
}

TEST_F(EntryForm, EdgePanelWritesEdgeIni) {
    Page p;
    p.defect = "Edge\r";
    p.defect_panel = {"1 2 1 -1 0\r", "1 1 -2\r", "32 32 100\r", "0\r", "0.33\r"};
    run(p);
    EXPECT_EQ(st.f_defect, "edge.ini");
    const std::string want =
        "              {Data for the edge dislocation in Crystal}\n"
        " ===================================================================\n"
        "  1.0  2.0  1.0 -1.0  0.0                               Burger vector m/n[i,j,k]\n"
        "   32.00   32.00  100.00               A point that the edge dislocation passes\n"
        "  1.0  1.0 -2.0                                             Dislocation line\n"
        " 0.33000                           Poissons ratio\n"
        " 0.00000           A factor to avoid the singular\n"
        "   0                           Surface relaxation, 1: with, 0 without\n";
    EXPECT_EQ(dir.read("edge.ini"), want);
}

TEST_F(EntryForm, LoopPanelHalvesTheDiameter) {
    Page p;
    p.defect = "Loop\r";
    p.defect_panel = {"faulted\r", "1 3 1 1 1\r", "1 3 1 1 1\r", "20\r", "40 40 50\r",
                      "1 1 1\r",   "1 -1 0\r",    "6\r",         "0.3\r"};
    run(p);
    EXPECT_EQ(st.defect, "pg_loop");
    EXPECT_EQ(st.f_defect, "pgLoop.ini");
    EXPECT_EQ(st.loopstyle, "faulted");
    EXPECT_EQ(st.l_radius, 10.0);
    EXPECT_EQ(st.nsides, 6);
    EXPECT_EQ(st.l_normal, (Vec3{1, 1, 1}));
    const std::string want =
        "              {Data for the polygonal loop in Crystal}\n"
        " ===================================================================\n"
        " faulted                       \n"
        "  1.0  3.0  1.0  1.0  1.0                              Burger vector: m/n[i,j,k]\n"
        "  1.0  3.0  1.0  1.0  1.0                             Stacking fault: m/n[i,j,k]\n"
        "   10.0000                         Radius of the loop, diameter/2\n"
        "   40.00   40.00   50.00                   The position of the loop in the foil\n"
        "  1.0  1.0  1.0                                             Loop habit plane\n"
        "  1.0 -1.0  0.0                                              Loop plane pole\n"
        "    6                           The number of the loop edges\n"
        "    0.3000                                         Poissons ratio\n"
        "    1.0000                            Factor to avoid singularity\n";
    EXPECT_EQ(dir.read("pgLoop.ini"), want);
}

TEST_F(EntryForm, UnknownDefectStopsAfterTheMainPage) {
    Page p;
    p.defect = "void\r";
    EXPECT_EQ(stop(p), (std::vector<std::string>{"This defect model has not been added"}));
    EXPECT_TRUE(t.gr.events.empty()); // box 13 was taken first
    EXPECT_FALSE(st.allocated);
}

TEST_F(EntryForm, BeamRangeAndCoordinateChecks) {
    Page p;
    p.beams = "3 -1\r";
    EXPECT_EQ(stop(p), (std::vector<std::string>{"The beam range given is wrong"}));
    EXPECT_FALSE(st.allocated);

    State other;
    st = std::move(other);
    p = Page{};
    p.zone = "1 1 1\r";
    p.g = "1 1 1\r";
    EXPECT_EQ(stop(p), (std::vector<std::string>{"SAMPLE COORDINATES SYSTEM GIVEN WRONG!"}));
}

TEST_F(EntryForm, PerpendicularZoneAxisPasses) {
    Page p;
    p.zone = "1 1 0\r";
    p.g = "0 0 2\r";
    run(p);
    EXPECT_TRUE(st.allocated);
}

TEST_F(EntryForm, StopsComeAfterTheDefectFileIsWritten) {
    Page p;
    p.beams = "2 1\r";
    p.defect = "edge\r";
    p.defect_panel = {"1 2 1 -1 0\r", "1 1 -2\r", "4 4 10\r", "0\r", "0.3\r"};
    EXPECT_EQ(stop(p), (std::vector<std::string>{"The beam range given is wrong"}));
    EXPECT_TRUE(dir.exists("edge.ini"));
}

TEST_F(EntryForm, JobCheck) {
    for (const int job : {0, -2, 2, 3, 9, 4, 8, 10, 999}) {
        TestGui tg;
        State s;
        Page p;
        p.job = std::to_string(job) + "\r";
        if (job == 9) p.column = "0 0\r";
        tg.gr.add(keys(p.all()));
        const bool passes = job <= 3 || job == 9;
        if (passes) {
            guiinput_system_parameters(s, tg.gui);
            EXPECT_EQ(s.job, job);
        } else {
            EXPECT_EQ(stop_lines([&] { guiinput_system_parameters(s, tg.gui); }),
                      (std::vector<std::string>{"The job model given wrong!"}))
                << job;
        }
    }
}

} // namespace
} // namespace korvex
