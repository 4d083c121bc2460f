// Command line, reports, progress lines, result-file names: exact texts users' scripts read.
#include "driver/program.hpp"
#include "driver/progress.hpp"
#include "driver/reports.hpp"
#include "driver/result_files.hpp"
#include "driver/tex_report.hpp"
#include "state/fmt.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <sstream>

using namespace korvex::testing;

namespace {

// A Cu 200 kV (2 0 0) state with beams first..last, ready for the reports.
State report_state(int first, int last) {
    State st;
    st.sample_no = "Cu-1", st.sample = "Cu", st.job = Job::amplitude_images, st.f_out = "run";
    st.ca = ColumnApprox::yes, st.defect = "edge", st.defect_kind = DefectKind::edge;
    st.size_x = st.size_y = st.n_pixel_x = st.n_pixel_y = 64, st.size_z = st.n_slice = 100;
    st.foil = {0, 0, 1}, st.v_g = st.co_x = {2, 0, 0}, st.n_beams = last - first + 1;
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
    st.voltage = 200, st.condition_n = 1.0, st.k = 39.8884, st.lat_c = 3.61, st.d = 1.805;
    st.u0 = 0.210877, st.ui0 = 0.01;
    for (int m = 1; m < st.n_beams; ++m) st.u(m) = 0.09 / m, st.ui(m) = 0.001 / m;
    return st;
}

std::tm fixed_time() {
    std::tm t{};
    t.tm_mday = 6, t.tm_mon = 11, t.tm_year = 126, t.tm_hour = 14, t.tm_min = 5;
    return t;
}

const std::string rule = " " + std::string(39, '-');

// The records from `k` after the first record `label` on, `n` of them.
Lines after(const Lines& r, const std::string& label, std::size_t n = 1, std::size_t k = 1) {
    const auto at = std::size_t(std::find(r.begin(), r.end(), label) - r.begin()) + k;
    if (at + n > r.size()) return {"(no record " + label + ")"};
    return {r.begin() + std::ptrdiff_t(at), r.begin() + std::ptrdiff_t(at + n)};
}

} // namespace

// The report's records and the terminal summary in their fixed formats; the defect sections.
TEST(ParameterReport, RecordsSectionsConditionTextsAndProgressLines) {
    State st = report_state(-1, 3);
    std::ostringstream out;
    st.processing_time = 90, st.out = &out, st.b_angle = 0.00694464;
    show_system_parameters(st);
    const auto l = split_lines(out.str());
    EXPECT_EQ(
        after(l, std::string(64, '*'), 3),
        (Lines{"  Sample geometry:  X->    [ 2  0  0  ]", "                    Y->    [ 0  2  0  ]",
               "                    Z->    [ 0  0  1  ]"}));
    EXPECT_TRUE(contains(out.str(), "Extinction distance        : "));
    const auto r = parameter_report(st, fixed_time());
    for (const char* rec :
         {" ++++++ PARAMETERS for result file, \"run\" ++++++", " Date: 6-12-2026    Time: 14:05",
          " 0:1:30 (hours:minutes:seconds)", " Sample NO: Cu-1                "})
        EXPECT_EQ(std::count(r.begin(), r.end(), rec), 1) << rec;
    EXPECT_EQ(after(r, " Job performed"), Lines{" Amplitude contrast images"});
    EXPECT_EQ(after(r, " the Column Approximation"), Lines{" used"});
    // No eigen-system line: after the interpolation method a rule, an empty record, a rule.
    EXPECT_EQ(after(r, " Interpolation Method: ", 3, 2), (Lines{rule, "", rule}));
    const std::string potentials =
        " Fourier components of periodical potentials (U(0)-U(5g), in Angstrom E(-2))";
    EXPECT_EQ(after(r, potentials, 2), (Lines{"U(  0)=  0.2108770000", "U( 1g)=  0.0900000000"}));
    const std::string imaginary =
        " The immaginary parts of the Fourier components of periodical potentials";
    EXPECT_EQ(after(r, imaginary, 2), (Lines{"U'(  0)  0.0100000000", "U'( 1 g)=  0.0010000000"}));
    // "edge" has no section: the report ends with the defect name.
    EXPECT_EQ(Lines(r.end() - 2, r.end()),
              (Lines{" Style of defect", " edge                          "}));

    // A single beam has no rows of U(g); a row without the first order has no s_g or
    // extinction distance, on the terminal or in the report.
    State one = report_state(2, 2);
    const auto r1 = parameter_report(one, fixed_time());
    EXPECT_EQ(after(r1,
                    " Fourier components of periodical potentials (U(0)-U(1g), in Angstrom E(-2))",
                    1, 2),
              Lines{rule});
    EXPECT_EQ(after(r1, imaginary, 2), (Lines{"U'(  0)  0.0100000000", rule}));
    State far = report_state(2, 4);
    out.str("");
    far.out = &out, far.b_angle = 0.0069;
    show_system_parameters(far);
    EXPECT_TRUE(out.str().find("s_g") == out.str().npos &&
                out.str().find("Extinction") == out.str().npos)
        << out.str();
    for (const auto& record : parameter_report(far, fixed_time()))
        EXPECT_EQ(record.find("s_g="), std::string::npos);

    // The defect section is read from the configuration file the run used.
    ScratchDir dir;
    dir.write("my_void.ini", "{void}\n====\n30.0 radius\n10 20 5 centre\n");
    st.defect = "void", st.defect_kind = DefectKind::vacancy,
    st.f_defect = dir.str() + "my_void.ini";
    auto sec = parameter_report(st, fixed_time());
    EXPECT_EQ(after(sec, " Position of the vacancy centre", 5),
              (Lines{" (10.0,20.0,5.0)", rule, " Radius of the vacancy", " 30.0 Angstrom", rule}));

    dir.write("hex.ini", "{loop}\n====\nfaulted\n1 3 1 1 1\n1 3 1 1 1\n40\n32 32 50\n1 1 1\n"
                         "1 -1 0\n6\n0.34\n1.0\n");
    st.defect = "pg_loop", st.defect_kind = DefectKind::pg_loop,
    st.f_defect = dir.str() + "hex.ini";
    sec = parameter_report(st, fixed_time());
    // clang-format off
    for (const auto& [label, value] : {std::pair{" Loop style", " 6-sided polygonal loop"},
             {" Burgers Vector", " 1.0/3.0[1.0,1.0,1.0]"}, {" g.b", " 0.6666666667"},
             {" Correction factor for avoiding the singularity of strain", " 1.0 A "}})
        EXPECT_EQ(after(sec, label), Lines{value});
    // clang-format on

    // Condition values name the result files of a series: truncated (not rounded) to two decimals
    // in 20 characters, and a stop beyond 1E9; the progress line appears once per whole percent.
    const std::pair<double, const char*> conditions[] = {
        {3.75, "3.75"},  {5.5, "5.50"},     {9.999, "9.99"},         {0.5, "0.50"},
        {12.0, "12.00"}, {100.0, "100.00"}, {1.0e9, "1000000000.00"}};
    for (const auto& [v, text] : conditions) EXPECT_EQ(number_text(v), pad(text, 20)) << v;
    EXPECT_EQ(stop_lines([] { number_text(1.0e9 + 1.0); }), Lines{"the number is bigger than 1E9"});

    EXPECT_EQ(indicator_line(1, 50).value_or("") + indicator_line(1, 200).value_or("-") +
                  indicator_line(2, 200).value_or(""),
              " 2% finished- 1% finished");
    int progress = 0;
    for (int i = 1; i <= 1000; ++i) progress += indicator_line(i, 1000).has_value();
    EXPECT_EQ(progress, 100);
}

// The files of a run "run": ".par" and its "record.sim" entry (none for a run "test"), the 20-line
// document of one condition, the names of images and layer images (none without order 1).
TEST(ResultFiles, ParametersDocumentAndImageNames) {
    ScratchDir dir;
    State st = report_state(-1, 1);
    st.datadir = st.simrecdir = dir.str();
    std::ostringstream out;
    st.out = &out;
    RunContext rc;
    rc.now = fixed_time;
    print_parameters(st, rc);
    const auto rec = split_lines(dir.read("record.sim"));
    ASSERT_EQ(rec.size(), 7u);
    for (const char* line :
         {" SIMULATION: Amplitude contrast images from sampleCu-1 with edge dislocation",
          " OUTPUT FILE: run   for beams -1g ~ 1g"})
        EXPECT_EQ(std::count(rec.begin(), rec.end(), line), 1) << line;
    st.f_out = "test";
    print_parameters(st, rc);
    EXPECT_TRUE(dir.exists("run.par") && dir.exists("test.par"));
    EXPECT_EQ(split_lines(dir.read("record.sim")).size(), 7u);

    st.f_out = "run", st.v_g = {2.0, -0.4, 0.5}, rc.condition_text = number_text(1.0);
    begin_report_document(st, rc);
    report_page_break(st, rc);
    end_report_document(st, rc);
    EXPECT_EQ(out.str(), " tex file opened\n");
    const auto l = split_lines(dir.read("Imagesrun.tex"));
    ASSERT_EQ(l.size(), 20u);
    EXPECT_EQ(l.front() + l.back(), " \\documentclass[11pt,a4paper]{article} \\end{document}");
    EXPECT_EQ(after(l, " \\hspace{10cm}\\,", 2, 2),
              (Lines{" ${\\bf g}=\\langle 2 0 1\\rangle $, ", " $(g,1.00                g)$"}));
    EXPECT_EQ(after(l, " \\caption{}"), Lines{" \\label{run}"});
    EXPECT_EQ(after(l, " \\begin{document}"), Lines{""});

    st.unit_x = st.unit_y = 1.0;
    amplitude_contrast_images(st, rc);
    EXPECT_TRUE(dir.exists("run-01g") && dir.exists("run00g"));
    EXPECT_EQ(rc.last_image_path, dir.str() + "run01g");
    ASSERT_TRUE(multi_layer_images(st, rc, 12));
    EXPECT_TRUE(rc.last_layer_name == "run01gml0012" && dir.exists("run01gml0012"));
    for (int n = 1; n <= 3; ++n) st.mtx_beams(n) = n + 1;
    EXPECT_FALSE(multi_layer_images(st, rc, 13));
}

// Mode, files, engine and the exact lines printed for each kind of command line: options count by
// their first two characters in either case, a missing defect file only warns, the engine and
// absorption may stand before or after the files; a missing input file, an unknown engine,
// absorption or option, a stray argument or a file before the run option stops (status 2); no
// option at all goes graphic.
TEST(CommandLine, ModesFilesEnginesAndMessages) {
    const std::string text = " * KORVEX is runing under text environment...\n";
    const std::string no_defect = "\n * WARNING..........\n > No defect configuration file is "
                                  "given.\n * Program will stop if you have chosen a defect in "
                                  "the input file.\n";
    const std::string usage = "\n * ERROR..........\n > Usage: korvex -t <input file> [defect "
                              "configuration file]\n * Program now exiting.....Bye.....\n";
    const std::string warning = " * WARNING..........\n > ",
                      unknown = " * ERROR..........\n > Unknown ",
                      refused = " * ERROR..........\n > ";
    const std::string forced = "\n * Program is forced to run in graphic interface.\n";
    struct Case { // mode 't': text, 'g': graphic interface, 'u': usage error (the output's start)
        Lines args;
        char mode;
        std::string printed, files = "", engine = "exact", absorption = "first-order";
    };
    const std::string use = "\": use exact or ";
    // clang-format off
    const Case cases[] = {
        {{"-t", "in.txt", "edge.ini"}, 't', text + " option=-t\n", "in.txt edge.ini"},
        {{"-text", "in", "d"}, 't', text + " option=-t\n", "in d"},
        {{"-T", "in", "d"}, 't', text + " option=-T\n", "in d"},
        {{"-t", "in"}, 't', text + no_defect + " option=-t\n", "in "},
        {{"--engine=table", "--absorption=exact", "-t", "in", "d"}, 't', text + " option=-t\n",
         "in d", "table", "exact"},
        {{"-t"}, 'u', usage},
        {{"--engine=bogus", "-t", "in"}, 'u', unknown + "engine \"bogus" + use + "table\n"},
        {{"--absorption=bogus", "-t", "in"}, 'u',
         unknown + "absorption \"bogus" + use + "first-order\n"},
        {{"-t", "in", "d", "--absorption=exact", "--engine=table"}, 't', text + " option=-t\n",
         "in d", "table", "exact"},
        {{"-X", "run.in", "d"}, 'g', " * KORVEX is  running in graphic interface.\n option=-X\n",
         "run.in d"}, // the files the entry form is filled from
        {{}, 'g', warning + "No graphic or text option given" + forced + " option=  \n"},
        {{"-X", "a", "b", "c"}, 'u', refused + "Unexpected argument \"c\"\n > Usage"},
        {{"-t", "in", "d", "extra"}, 'u', refused + "Unexpected argument \"extra\"\n"},
        {{"-t", "in", "--bogus"}, 'u', unknown + "option \"--bogus\"\n"},
        {{"-t", "-q", "in"}, 'u', unknown + "option \"-q\"\n"},
        {{"-q"}, 'u', unknown + "option \"-q\"\n"},
        {{"-V"}, 'u', unknown + "option \"-V\"\n"},
        {{"-"}, 'u', unknown + "option \"-\"\n"},
        {{"in", "-t"}, 'u', refused + "\"in\" stands before the run option -t or -x\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::ostringstream out;
        const CommandLine cl = parse_command_line(c.args, out);
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(c.mode == 'u' ? out.str().substr(0, c.printed.size()) : out.str(), c.printed);
        EXPECT_EQ(cl.usage_error, c.mode == 'u');
        if (c.mode == 'u') continue;
        EXPECT_EQ(cl.text_mode, c.mode == 't');
        EXPECT_EQ(cl.engine + ' ' + cl.absorption, c.engine + ' ' + c.absorption);
        EXPECT_EQ(cl.f_in + ' ' + cl.f_defect, c.files.empty() ? " " : c.files);
    }
    for (std::string bad : {"--engine=bogus", "--absorption=bogus", "-q"}) {
        char prog[] = "korvex", t[] = "-t", in[] = "in";
        char* argv[] = {prog, bad.data(), t, in};
        EXPECT_EQ(program_main(4, argv), 2) << bad;
    }
}
