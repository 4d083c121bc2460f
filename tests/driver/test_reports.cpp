// Command line, reports, progress lines, result-file names: exact texts users' scripts read.
#include "driver/absorption_check.hpp"
#include "driver/amplitude_phase.hpp"
#include "driver/defect_caption.hpp"
#include "driver/defect_sections.hpp"
#include "driver/program.hpp"
#include "driver/progress.hpp"
#include "output/reports.hpp"
#include "output/result_files.hpp"
#include "output/tex_report.hpp"
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
        " The imaginary parts of the Fourier components of periodical potentials";
    EXPECT_EQ(after(r, imaginary, 2), (Lines{"U'(  0)  0.0100000000", "U'( 1 g)=  0.0010000000"}));
    // clang-format off
    for (const auto& [label, value] : {std::pair{" Accelerating voltage", " 200.0 kV"},
             {" Optical axis", " [0.0,0.0,1.0]"}, {" Beams considered", " -1g ~ 3g"}})
        EXPECT_EQ(after(r, label), Lines{value}) << label;
    // clang-format on
    // An edge without its file has no section: the report ends with the defect name.
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
    auto sec = parameter_report(st, fixed_time(), defect_section(st));
    EXPECT_EQ(after(sec, " Position of the vacancy centre", 5),
              (Lines{" (10.0,20.0,5.0)", rule, " Radius of the vacancy", " 30.0 Angstrom", rule}));

    dir.write("hex.ini", "{loop}\n====\nfaulted\n1 3 1 1 1\n1 3 1 1 1\n40\n32 32 50\n1 1 1\n"
                         "1 -1 0\n6\n0.34\n1.0\n");
    st.defect = "pg_loop", st.defect_kind = DefectKind::pg_loop,
    st.f_defect = dir.str() + "hex.ini";
    sec = parameter_report(st, fixed_time(), defect_section(st));
    // clang-format off
    for (const auto& [label, value] : {std::pair{" Loop style", " 6-sided polygonal loop"},
             {" Burgers Vector", " 1.0/3.0[1.0,1.0,1.0]"}, {" g.b", " 0.6666666667"},
             {" Loop size (twice of distance from the centroid to a vertex)", " 80.0 Angstrom"},
             {" Correction factor for avoiding the singularity of strain", " 1.0 A "}})
        EXPECT_EQ(after(sec, label), Lines{value});
    // clang-format on

    // The edge's section, isotropic as anisotropic: b, the point and the line it was run with.
    dir.write("edge.ini", "{edge}\n====\n1 2 1 0 1\n6.0 0.0 1.0\n0 1 0\n0.34\n1.0\n");
    st.defect = "edge", st.defect_kind = DefectKind::edge, st.f_defect = dir.str() + "edge.ini";
    sec = parameter_report(st, fixed_time(), defect_section(st));
    // clang-format off
    for (const auto& [label, value] : {std::pair{" Burgers Vector", " 1.0/2.0[1.0,0.0,1.0]"},
             {" Position of the dislocation (in Angstrom)", " (6.0,0.0,1.0)"},
             {" Dislocation line", " [0.0,1.0,0.0]"}, {" Poissons ratio", " 0.34"}})
        EXPECT_EQ(after(sec, label), Lines{value}) << label;
    // clang-format on
    EXPECT_EQ(std::count(sec.begin(), sec.end(), " Elasticity"), 0);

    // A population's section: its file, tolerance and defects by kind.
    dir.write("pop.ini", "{p}\n===\n1e-3\ndefect void\n3.0\n10 10 10\ndefect edge " + dir.str() +
                             "edge.ini\ndefect void\n2.0\n30 30 30\n");
    st.defect = "population", st.defect_kind = DefectKind::population;
    st.f_defect = dir.str() + "pop.ini";
    sec = parameter_report(st, fixed_time(), defect_section(st));
    EXPECT_EQ(after(sec, " Number of defects", 7),
              (Lines{" 3", rule, "   void", " 2", rule, "   edge", " 1"}));

    // Condition values name the result files of a series: truncated (not rounded) to two decimals
    // in 20 characters, and a stop beyond 1E9; the progress line appears once per whole percent.
    const std::pair<double, const char*> conditions[] = {
        {3.75, "3.75"},  {5.5, "5.50"},     {9.999, "9.99"},         {0.5, "0.50"},
        {12.0, "12.00"}, {100.0, "100.00"}, {1.0e9, "1000000000.00"}};
    for (const auto& [v, text] : conditions) EXPECT_EQ(number_text(v), pad(text, 20)) << v;
    EXPECT_EQ(stop_lines([] { number_text(1.0e9 + 1.0); }), Lines{"the number is bigger than 1E9"});

    // Progress: a line at each tenth of the slices, with the time left estimated from the
    // slices so far, none at the end; a foil of 7 slices gives 7 lines, one of 1000 gives 10.
    EXPECT_EQ(indicator_line(1, 50).value_or("-") + indicator_line(5, 50).value_or("") +
                  indicator_line(20, 100, 10.0).value_or("") +
                  indicator_line(50, 50, 3.0).value_or(""),
              "- 10% finished 20% finished, about 40 s left 100% finished");
    for (const auto& [total, lines] : {std::pair{7, 7}, {1000, 10}, {12, 10}}) {
        int progress = 0;
        for (int i = 1; i <= total; ++i) progress += indicator_line(i, total).has_value();
        EXPECT_EQ(progress, lines) << total;
    }
    EXPECT_EQ(duration_text(0.44) + "|" + duration_text(42.4) + "|" + duration_text(125) + "|" +
                  duration_text(7440),
              "0.4 s|42 s|2 min 05 s|2 h 04 min");
    std::vector<std::string> many;
    for (int k = 0; k < 14; ++k) many.push_back("f" + std::to_string(k));
    EXPECT_EQ(
        run_summary(2.5, "exact", "first-order", {{"data/", {"a", "b"}}, {"./", {}}, {"x/", many}}),
        " Finished in 2.5 s, engine exact, absorption first-order\n"
        " 2 files written in data/: a b\n"
        " 14 files written in x/: f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 f10 f11 ... and 2 more\n");
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
    print_parameters(st, rc, {});
    const auto rec = split_lines(dir.read("record.sim"));
    ASSERT_EQ(rec.size(), 7u);
    for (const char* line :
         {" SIMULATION: Amplitude contrast images from sampleCu-1 with edge dislocation",
          " OUTPUT FILE: run   for beams -1g ~ 1g"})
        EXPECT_EQ(std::count(rec.begin(), rec.end(), line), 1) << line;
    st.f_out = "test";
    print_parameters(st, rc, {});
    EXPECT_TRUE(dir.exists("run.par") && dir.exists("test.par"));
    EXPECT_EQ(split_lines(dir.read("record.sim")).size(), 7u);

    // The document of one job-1 condition: no figure without an image, the caption's words as a
    // note naming the beam images; g's indices to the nearest integer, halves away from zero.
    st.f_out = "run", st.v_g = {2.0, -0.4, 0.5}, rc.condition_text = number_text(1.0);
    st.defect = "no", st.defect_kind = DefectKind::perfect;
    begin_report_document(st, rc);
    report_page_break(st, rc, defect_caption(st));
    end_report_document(st, rc);
    EXPECT_EQ(out.str(), " tex file opened\n");
    auto l = split_lines(dir.read("Imagesrun.tex"));
    EXPECT_EQ(l.front() + l.back(), " \\documentclass[11pt,a4paper]{article} \\end{document}");
    EXPECT_EQ(std::count(l.begin(), l.end(), " \\begin{figure}"), 0);
    EXPECT_EQ(after(l, "", 4, 1),
              (Lines{" \\noindent perfect crystal ,", " ${\\bf g}=\\langle 2 0 1\\rangle $, ",
                     " $(g,1.00                g)$",
                     " : no layer images (beam images run-01g ... run01g)."}));
    EXPECT_EQ(after(l, " \\end{document}", 1, std::size_t(-1)), Lines{" \\label{run}"});

    // Layer images: one figure per page, each image labelled with its exit depth; a defect
    // without a Burgers vector leaves b out of the caption.
    st.n_slice = 4, st.effslicenumber = 4;
    st.sliceposition.resize(4), st.slicethickness.resize(4);
    for (int i = 1; i <= 4; ++i) st.sliceposition(i) = 2.5 * i - 1.25, st.slicethickness(i) = 2.5;
    st.defect = "tetrahedron", st.defect_kind = DefectKind::tetrahedron;
    st.f_defect = dir.str() + "sft.ini";
    dir.write("sft.ini", "{sft}\n====\nfaulted\n20 20 20\n50.0\n0.34\n1.0\n");
    begin_report_document(st, rc);
    rc.last_layer_name = "run01gml0003";
    report_layer_image(st, rc, 3);
    report_page_break(st, rc, defect_caption(st));
    end_report_document(st, rc);
    l = split_lines(dir.read("Imagesrun.tex"));
    EXPECT_EQ(std::count(l.begin(), l.end(), " \\begin{figure}"), 1);
    EXPECT_EQ(after(l, " {run01gml0003.ps}"), Lines{" \\\\{\\scriptsize $z$ = 7.5 \\AA}}"});
    EXPECT_EQ(after(l, " \\hspace{10cm}\\,"),
              Lines{" \\caption{ faulted stacking-fault tetrahedron, edge 5 nm ,"});
    for (const auto& line : l) EXPECT_EQ(line.find("$$"), std::string::npos) << line;
    EXPECT_EQ(after(l, " \\pagebreak", 3), (Lines{"", " \\label{run}", " \\end{document}"}));

    // Amplitude-phase records keep their fixed columns where the values fit and widen a field
    // where they do not (a foil of 1000 A and more), never writing asterisks.
    EXPECT_EQ(phase_record(12.5, 0.25) + "|" + phase_record(1000.0, 0.49897) + "|" +
                  phase_record(10000.0, -12345.678),
              " 12.50    0.25000|1000.00    0.49897|10000.00 -12345.67800");

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
        {{"--pixel-size=2.5", "-t", "in", "d", "--slice-thickness=4"}, 't', text + " option=-t\n",
         "in d"},
        {{"-t", "in", "--pixel-size=0"}, 'u', refused + "The pixel size \"0\" is not a length"},
        {{"-t", "in", "--slice-thickness=-2"}, 'u', refused + "The slice thickness \"-2\" is not"},
        {{"-t", "in", "--slice-thickness=nan"}, 'u', refused + "The slice thickness \"nan\""},
        {{"-t", "in", "--pixel-size=2A"}, 'u', refused + "The pixel size \"2A\" is not a length"},
        {{"-t", "in", "--pixel-size= 2"}, 'u', refused + "The pixel size \" 2\" is not a length"},
        {{"-t", "in", "--pixel-size="}, 'u', refused + "The pixel size \"\" is not a length"},
        {{"-t", "in", "--slice-thickness=auto:0"}, 'u', refused + "The slice tolerance \":0\" is not"},
        {{"-t", "in", "--slice-thickness=autox"}, 'u', refused + "The slice tolerance \"x\" is not"},
        {{"-t", "in", "--slice-thickness=auto:-1"}, 'u', refused + "The slice tolerance \":-1\""},
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
        EXPECT_EQ(cl.pixel_size + cl.slice_size,
                  !c.args.empty() && c.args[0] == "--pixel-size=2.5" ? 6.5 : 0.0);
    }
    for (std::string bad : {"--engine=bogus", "--absorption=bogus", "-q"}) {
        char prog[] = "korvex", t[] = "-t", in[] = "in";
        char* argv[] = {prog, bad.data(), t, in};
        EXPECT_EQ(program_main(4, argv), 2) << bad;
    }
}

// First-order absorption is flagged where two beams of equal excitation error are split less
// than the absorption, and for strongly absorbing crystals; never without absorption or with
// exact absorption.
TEST(AbsorptionWarning, DegenerateRowsAndHeavyElements) {
    State st = report_state(-1, 3);
    st.iabs = 1;
    const double s[] = {-0.0077, 0.0, 0.0, -0.0077, -0.0231};
    for (int n = 1; n <= 5; ++n) st.s_g(n) = s[n - 1];
    EXPECT_FALSE(first_order_absorption_warning(st)); // 2 U(3g) = 0.06 against U'(0) = 0.01
    st.u(3) = 0.004;
    const std::string w = first_order_absorption_warning(st).value_or("");
    EXPECT_TRUE(contains(w, "beams -1g and 2g have equal excitation errors")) << w;
    EXPECT_TRUE(w.ends_with("run with --absorption=exact\n")) << w;
    st.s_g(4) = -0.0078; // no longer degenerate
    EXPECT_FALSE(first_order_absorption_warning(st));
    st.ui0 = 0.02; // 9.5 % of U(0)
    EXPECT_TRUE(contains(first_order_absorption_warning(st).value_or(""), "strong absorption"));
    st.absorption = Absorption::exact;
    EXPECT_FALSE(first_order_absorption_warning(st));
    st.absorption = Absorption::first_order, st.iabs = 0;
    EXPECT_FALSE(first_order_absorption_warning(st));
}
