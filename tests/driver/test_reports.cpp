#include "driver/progress.hpp"
#include "driver/reports.hpp"
#include "driver/tex_report.hpp"
#include "state/fmt.hpp"
#include "support/testing.hpp"

#include <sstream>

using namespace korvex;
using korvex::testing::ScratchDir;
using korvex::testing::split_lines;
using korvex::testing::stop_lines;

TEST(RealNumToChar, TruncatesToTwoDecimals) {
    EXPECT_EQ(realnumtochar(3.75), pad("3.75", 20));
    EXPECT_EQ(realnumtochar(5.5), pad("5.50", 20));
    EXPECT_EQ(realnumtochar(9.999), pad("9.99", 20));
    EXPECT_EQ(realnumtochar(0.5), pad("0.50", 20));
    EXPECT_EQ(realnumtochar(12.0), pad("12.00", 20));
    EXPECT_EQ(realnumtochar(100.0), pad("100.00", 20));
    EXPECT_EQ(realnumtochar(1.0e9), pad("1000000000.00", 20));
    EXPECT_EQ(stop_lines([] { realnumtochar(1.0e9 + 1.0); }),
              std::vector<std::string>{"the number is bigger than 1E9"});
}

TEST(RealNumToChar, SeriesValuesNameTheirFiles) {
    const char* want[] = {"3.50", "3.75", "4.00", "4.25", "4.50", "4.75",
                          "5.00", "5.25", "5.50", "5.75", "6.00", "6.25"};
    for (int s = 0; s < 12; ++s) EXPECT_EQ(trim(realnumtochar(3.5 + 0.25 * s)), want[s]);
}

TEST(Indicator, PrintsWhenTheWholePercentageChanges) {
    EXPECT_EQ(indicator_line(1, 50).value_or(""), " 2% finished");
    EXPECT_FALSE(indicator_line(1, 200).has_value());
    EXPECT_EQ(indicator_line(2, 200).value_or(""), " 1% finished");
    int lines = 0;
    for (int i = 1; i <= 1000; ++i) lines += indicator_line(i, 1000).has_value();
    EXPECT_EQ(lines, 100);
}

namespace {

// A Cu 200 kV (2 0 0) state with beams first..last, ready for the reports.
State report_state(int first, int last) {
    State st;
    st.sample_no = "Cu-1";
    st.sample = "Cu";
    st.job = 1;
    st.ca = "yes";
    st.voltage = 200;
    st.defect = "edge";
    st.size_x = st.size_y = 64;
    st.size_z = 100;
    st.n_pixel_x = st.n_pixel_y = 64;
    st.n_slice = 100;
    st.foil = {0, 0, 1};
    st.v_g = st.co_x = {2, 0, 0};
    st.n_beams = last - first + 1;
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
    st.f_g = 1.0;
    st.k = 39.8884;
    st.lat_c = 3.61;
    st.d = 1.805;
    st.u0 = 0.210877;
    st.ui0 = 0.01;
    for (int m = 1; m < st.n_beams; ++m) st.u(m) = 0.09 / m, st.ui(m) = 0.001 / m;
    st.f_out = "run";
    return st;
}

std::tm fixed_time() {
    std::tm t{};
    t.tm_mday = 6;
    t.tm_mon = 11;
    t.tm_year = 126;
    t.tm_hour = 14;
    t.tm_min = 5;
    return t;
}

} // namespace

TEST(ParameterReport, RecordsInOrderWithFixedFormats) {
    State st = report_state(-1, 3);
    st.processing_time = 90;
    const auto r = parameter_report(st, fixed_time());
    EXPECT_EQ(r[0], "");
    EXPECT_EQ(r[2], " ++++++ PARAMETERS for result file, \"run\" ++++++");
    EXPECT_EQ(r[5], " Date: 6-12-2026    Time: 14:05");
    EXPECT_EQ(r[10], " 0:1:30 (hours:minutes:seconds)");
    EXPECT_EQ(r[18], " Sample NO: Cu-1                ");
    EXPECT_EQ(r[24], " Amplitude contrast images");
    EXPECT_EQ(r[27], " used");
    // No eigen-system line: the empty record 33 is followed by a rule.
    EXPECT_EQ(r[32], "");
    EXPECT_EQ(r[33], " " + std::string(39, '-'));
    EXPECT_EQ(r[58],
              " Fourier components of periodical potentials (U(0)-U(5g), in Angstrom E(-2))");
    EXPECT_EQ(r[59], "U(  0)=  0.2108770000");
    EXPECT_EQ(r[60], "U( 1g)=  0.0900000000");
    EXPECT_EQ(r[65], " The immaginary parts of the Fourier components of periodical potentials");
    EXPECT_EQ(r[66], "U'(  0)  0.0100000000");
    EXPECT_EQ(r[67], "U'( 1 g)=  0.0010000000");
    // "edge" has no section: the report ends with the defect name.
    EXPECT_EQ(r.back(), " edge                          ");
    EXPECT_EQ(r[r.size() - 2], " Style of defect");
}

TEST(ParameterReport, SingleBeamAndRowsWithoutTheFirstOrder) {
    State one = report_state(2, 2);
    const auto r1 = parameter_report(one, fixed_time());
    EXPECT_EQ(r1[58],
              " Fourier components of periodical potentials (U(0)-U(1g), in Angstrom E(-2))");
    EXPECT_EQ(r1[60], " " + std::string(39, '-'));
    EXPECT_EQ(r1[62], "U'(  0)  0.0100000000");
    EXPECT_EQ(r1[63], " " + std::string(39, '-'));

    State st = report_state(2, 4);
    std::ostringstream out;
    st.out = &out;
    st.b_angle = 0.0069;
    show_system_parameters(st);
    EXPECT_EQ(out.str().find("s_g"), std::string::npos);
    EXPECT_EQ(out.str().find("Extinction"), std::string::npos);
    const auto r = parameter_report(st, fixed_time());
    for (const auto& l : r) EXPECT_EQ(l.find("s_g="), std::string::npos);
}

TEST(ParameterReport, SimulationRecordSkippedForTest) {
    ScratchDir dir;
    State st = report_state(-1, 1);
    st.datadir = dir.str();
    st.simrecdir = dir.str();
    RunContext rc;
    rc.now = fixed_time;
    print_parameters(st, rc);
    EXPECT_TRUE(dir.exists("run.par"));
    const auto rec = split_lines(dir.read("record.sim"));
    ASSERT_EQ(rec.size(), 7u);
    EXPECT_EQ(rec[1],
              " SIMULATION: Amplitude contrast images from sampleCu-1 with edge dislocation");
    EXPECT_EQ(rec[2], " OUTPUT FILE: run   for beams -1g ~ 1g");
    st.f_out = "test";
    print_parameters(st, rc);
    EXPECT_TRUE(dir.exists("test.par"));
    EXPECT_EQ(split_lines(dir.read("record.sim")).size(), 7u);
}

TEST(TerminalSummary, GeometryLinesAndExtinctionDistance) {
    State st = report_state(-1, 3);
    std::ostringstream out;
    st.out = &out;
    st.b_angle = 0.00694464;
    show_system_parameters(st);
    const auto l = split_lines(out.str());
    EXPECT_EQ(l[0], std::string(64, '*'));
    EXPECT_EQ(l[1], "  Sample geometry:  X->    [ 2  0  0  ]");
    EXPECT_EQ(l[2], "                    Y->    [ 0  2  0  ]");
    EXPECT_EQ(l[3], "                    Z->    [ 0  0  1  ]");
    EXPECT_NE(out.str().find("Extinction distance        : "), std::string::npos);
}

TEST(TexDocument, OneConditionGivesTwentyLines) {
    ScratchDir dir;
    State st = report_state(-1, 1);
    st.datadir = dir.str();
    st.v_g = {2.0, -0.4, 0.5};
    std::ostringstream out;
    st.out = &out;
    RunContext rc;
    rc.STRING_F_G = realnumtochar(1.0);
    printtexfilehead(st, rc);
    printtexfilepagebreak(st, rc);
    printtexfileends(st, rc);
    EXPECT_EQ(out.str(), " tex file opened\n");
    const auto l = split_lines(dir.read("Imagesrun.tex"));
    ASSERT_EQ(l.size(), 20u);
    EXPECT_EQ(l[0], " \\documentclass[11pt,a4paper]{article}");
    EXPECT_EQ(l[3], "");
    EXPECT_EQ(l[5], " \\hspace{10cm}\\,");
    EXPECT_EQ(l[7], " ${\\bf g}=\\langle 2 0 1\\rangle $, ");
    EXPECT_EQ(l[8], " $(g,1.00                g)$");
    EXPECT_EQ(l[17], " \\label{run}");
    EXPECT_EQ(l[19], " \\end{document}");
}
