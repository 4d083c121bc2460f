// Whole text-mode runs on perfect crystals: each job's files, views, document, stops; hostile file
// systems and outside stops: no write through a link, no partial file left.
#include "driver/finite_check.hpp"
#include "driver/slice_blocks.hpp"
#include "driver/usage.hpp"
#include "run_kit.hpp"
#include "solver/fixture.hpp"
#include "state/stop_signals.hpp"

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <sstream>

using namespace korvex::testing;
namespace fs = std::filesystem;

// Job 1 on one thread and on two, with a user's files in the data directory: every result file,
// the same for any thread count, a middle-grey picture and a float copy of each beam (an old
// picture replaced), the user's other files untouched, no temporary file left.
TEST(TextRun, JobsFilesViewsThreadCountAndTheReportDocument) {
    const InputSpec s{.size_x = 9, .size_y = 7, .first = -2, .last = 3};
    KorvexRun one(s, "data/"), two(s, "data/");
    const std::map<std::string, std::string> mine = {
        {"in01g.png.part", "a file with the temporary name\n"},
        {"in01g.tiff", "another picture\n"},
        {"in01g.ps", "not a result of job 1\n"},
        {"notes.txt", "notes\n"}};
    for (const auto& [name, text] : mine) one.dir.write("data/" + name, text);
    one.dir.write("data/in00g.png", "an old picture of this name, to be replaced\n");
    ASSERT_TRUE(one.run("", "OMP_NUM_THREADS=1")) << one.output;
    ASSERT_TRUE(two.run("", "OMP_NUM_THREADS=2")) << two.output;
    for (const auto& [name, text] : mine) EXPECT_EQ(read_file(one.file(name)), text) << name;
    for (const std::string& n : one.dir.names("data")) // ".ps": layer images only
        EXPECT_TRUE((n.find(".part") == n.npos && n.find(".ps") == n.npos) || mine.contains(n))
            << n;

    for (const char* f : {"data/in.par", "data/in_pjt", "record.sim"})
        EXPECT_TRUE(one.dir.exists(f)) << f;
    EXPECT_EQ(read_lines(one.file("in.imi")), Lines{" exit"});
    EXPECT_EQ(one.dir.read("in.slice").substr(0, 36), "    1     0.500     1.000     1.000\n");
    for (const char* line : {" Start calculations for the condition (g,1.0)", " 100% finished"})
        EXPECT_EQ(std::ranges::count(split_lines(one.output), line), 1) << line;
    for (const char* f : {"data/in_pjt", "in.slice"})
        EXPECT_EQ(one.dir.read(f), two.dir.read(f)) << f;
    for (const std::string& beam : kBeamNames) {
        const ImageData img = one.image(beam);
        EXPECT_EQ(std::pair(img.nx(), img.ny()), std::pair(9, 7)) << beam;
        EXPECT_EQ(read_file(one.file("in" + beam)), read_file(two.file("in" + beam))) << beam;
        expect_views_match(one.file("in" + beam), img);
        // A perfect crystal: one intensity everywhere, a middle-grey picture.
        for (unsigned p : read_png(one.file("in" + beam + ".png")).pixels) ASSERT_EQ(p, 127u);
    }
    // The run's own values in the description (its items: the ImageExport tests).
    for (const char* item : {"beams = -2 -1 0 1 2 3\n", "condition = (g, 1g)\n",
                             "thickness = 20 Angstrom\n", "beam order = -2\n"})
        EXPECT_TRUE(contains(read_tiff(one.file("in-02g.tif")).description, item));

    // Job 2: per beam one record per slice (beyond the 5 columns in x) and its depth image; without
    // absorption the beams share the incident intensity at every depth.
    const Sim r({.job = 2, .size_x = 5, .size_y = 3, .size_z = 40, .iabs = 0}, "", "data/");
    std::vector<double> total(40 * 3, 0.0);
    for (const char* name : {"in-01g", "in00g", "in01g"}) {
        const auto lines = read_lines(r.file(name));
        ASSERT_EQ(lines.size(), 8u + 40u);
        EXPECT_EQ(lines[0] + lines[3], " width 3");
        ImageData depth;
        depth.values.resize(40, 3);
        for (int i = 1; i <= 40; ++i) {
            std::istringstream record(lines[std::size_t(i + 7)]);
            for (int j = 1; j <= 3; ++j) record >> depth.values(i, j);
        }
        expect_views_match(r.file(name), depth);
        // The intensity swings with depth: the picture is not flat.
        const PngGrey png = read_png(r.file(name) + ".png");
        EXPECT_EQ(*std::max_element(png.pixels.begin(), png.pixels.end()), 255u);
        for (std::size_t n = 0; n < total.size(); ++n) total[n] += depth.values.data()[n];
    }
    for (double t : total) EXPECT_NEAR(t, 1.0, 3e-3); // the files hold four significant digits

    // The report document builds with the layers' PostScript copies, its caption naming defect, b,
    // g; rendered, it shows a layer as its PNG does (the edge at x = 6 of 24: the darkest column).
    const Sim dr({.job = 3, .defect = "edge", .size_x = 24, .size_y = 8, .size_z = 2, .f_g = 3.0},
                 " {edge}\n ====\n1 2 1 0 1\n6.0 0.0 1.0\n0 1 0\n0.34\n1.0\n0\n");
    const auto imi = read_lines(dr.file("in.imi"));
    ASSERT_EQ(imi.size(), 2u);
    const std::string tex = dr.dir.read("Imagesin.tex");
    EXPECT_TRUE(contains(tex, "edge dislocation, {\\bf b}= $1/2[1 0 1]$")) << tex;
    EXPECT_TRUE(contains(tex, "\\langle 2 0 0\\rangle")) << tex;
    if (!have("latex") || !have("dvips") || !have("gs"))
        GTEST_SKIP() << "TeX (latex, dvips) or Ghostscript is not installed (scripts/test installs "
                        "texlive-latex-base, texlive-latex-recommended and ghostscript)";
    ASSERT_TRUE(shell("cd '" + dr.file("") +
                      "' && latex -interaction=nonstopmode Imagesin.tex >log 2>&1 </dev/null"
                      " && dvips -q Imagesin.dvi -o doc.ps >>log 2>&1 && gs -q -dNOPAUSE -dBATCH"
                      " -dSAFER -sDEVICE=pnggray -r144 -sOutputFile=doc.png doc.ps >>log 2>&1"))
        << read_file(dr.file("log"));
    EXPECT_TRUE(
        contains(read_file(dr.file("doc.ps")), "%%BeginDocument: " + imi[0].substr(1) + ".ps"));
    // Where the darkest column lies, as a fraction of the picture's width.
    auto darkest = [](const PngGrey& p, int x0, int x1, int y0, int y1) {
        std::vector<double> sum(std::size_t(x1 - x0), 0.0);
        for (int x = x0; x < x1; ++x)
            for (int y = y0; y < y1; ++y) sum[std::size_t(x - x0)] += p.at(x, y);
        return (std::ranges::min_element(sum) - sum.begin() + 0.5) / (x1 - x0);
    };
    const PngGrey layer = read_png(dr.file(imi[0].substr(1) + ".png"));
    const PngGrey page = read_png(dr.file("doc.png"));
    // The picture: the first run of rows with grey (neither paper nor text), and its columns.
    int y0 = -1, y1 = -1, x0 = page.width, x1 = 0;
    for (int y = 0; y < page.height && y1 < 0; ++y) {
        bool grey = false;
        for (int x = 0; x < page.width; ++x)
            if (page.at(x, y) > 20 && page.at(x, y) < 235)
                grey = true, x0 = std::min(x0, x), x1 = std::max(x1, x + 1);
        if (grey && y0 < 0) y0 = y;
        if (!grey && y0 >= 0) y1 = y;
    }
    ASSERT_GT(y1 - y0, 100); // one inch at 144 dpi
    EXPECT_NEAR(darkest(page, x0, x1, y0 + 5, y1 - 5),
                darkest(layer, 0, layer.width, 0, layer.height), 0.1);

    // Job 3: a layer image after every slice near the Bragg condition, every 2nd of the last 32
    // steps for a weak beam, each with its PostScript copy for the report document.
    // Weak beam: every nint(2 / 1 Angstrom) = 2nd slice.
    const Sim w({.job = 3, .size_x = 2, .size_y = 2, .size_z = 100, .f_g = 3.0});
    const auto wimi = read_lines(w.file("in.imi"));
    ASSERT_EQ(wimi.size(), 33u);
    EXPECT_EQ(wimi.front() + wimi[31], " in01gml0038 in01gml0100");

    const Sim lr({.job = 3, .size_x = 6, .size_y = 4, .size_z = 12}, "", "data/");
    auto limi = read_lines(lr.file("in.imi"));
    ASSERT_EQ(limi.size(), 13u);
    EXPECT_EQ(limi[11] + limi[12], " in01gml0012 exit");
    limi.pop_back();
    EXPECT_EQ(std::ranges::count(read_lines(lr.file("Imagesin.tex")), " {in01gml0007.ps}"), 1);
    for (const auto& name : limi) {
        expect_views_match(lr.file(name.substr(1)), read_image_file(lr.file(name.substr(1))));
        EXPECT_EQ(read_file(lr.file(name.substr(1) + ".ps")).rfind("%!PS", 0), 0u) << name;
    }
    EXPECT_TRUE(contains(read_tiff(lr.file("in01gml0012.tif")).description,
                         "quantity = intensity at the exit of slice 12 (depth 12.0 "
                         "Angstrom)\n"));

    // The series (f_g 999) runs twelve conditions, each with its own files and document page.
    const Sim series({.size_x = 2, .size_y = 2, .size_z = 4, .f_g = 999});
    for (const char* f : {"ing3.50g01g", "ing6.25g-01g", "ing4.75g.par"})
        EXPECT_TRUE(series.dir.exists(f)) << f;
    EXPECT_EQ(std::ranges::count(read_lines(series.file("in.imi")), " NewSimulation"), 11);
    const auto pages = read_lines(series.file("Imagesin.tex"));
    for (const char* line : {" $(g,5.25                g)$", " \\label{ing6.25g}"})
        EXPECT_EQ(std::ranges::count(pages, line), 1) << line;
}

// Each bad input prints its message line; a stop returns non-zero and leaves no image of the last
// beam, no temporary file, run record or report document, and moves nothing of the user's.
TEST(TextRun, BadInputStopsWithItsMessageHelpAndVersionExit) {
    auto expect = [](const std::string& line, bool stops, const InputSpec& in,
                     const std::string& data = "./",
                     const std::function<void(const ScratchDir&)>& prepare = {}) {
        SCOPED_TRACE(line);
        KorvexRun r(in, data);
        if (prepare) prepare(r.dir);
        EXPECT_EQ(r.run(), !stops) << r.output;
        EXPECT_EQ(std::ranges::count(split_lines(r.output), line), 1) << r.output;
        expect_clean(r, stops, true);
        EXPECT_TRUE(!fs::is_directory(r.file("in00g.tif")) || r.dir.exists("data/in00g.tif/keep"));
    };
    expect(" System HALT! Please select the Column Approximation applied or not.", true,
           {.ca = "maybe"});
    // A misspelt defect name stops before anything is computed.
    expect(" SYSTEM HALT, the style of defect given is wrong", true, {.defect = "Edge"});
    expect(" No defect configuration file is given, but the defect \"edge\" needs one.", true,
           {.defect = "edge"});
    expect(" Error opening \"./in\" for reading: No such file or directory", true, {}, "./",
           [](const ScratchDir& d) { fs::remove(d.path() / "in"); });
    // An unknown job, and a condition whose tilt puts beams beyond the Ewald sphere, stop at
    // their record.
    expect(" Error reading \"./in\", record 6: the job must be 1, 2, 3, 9 or 999", true,
           {.job = 5});
    expect(" Error reading \"./in\", record 26: the diffraction condition n of (g,ng) must lie "
           "between -141.997096 and 141.997096: beyond, beams of the row -1 .. 1 fall outside "
           "the Ewald sphere at 200.0 kV",
           true, {.f_g = 200});
    // A circular loop whose normal is too small to be normalised stops at slice 1, its maps of
    // the slice unwritten: no file holds a NaN.
    KorvexRun flat({.defect = "loop"});
    flat.dir.write("loop.ini", "{loop}\n===\n1 3 1 1 1\n4\n4.5 3.5 10\n1e-300 1e-300 1e-300\n"
                               "0.3\nintegral\n");
    EXPECT_FALSE(flat.run());
    EXPECT_TRUE(contains(flat.output, " The strain term turned non-finite: beam -1g, column (1, "
                                      "1), slice 1.\n"))
        << flat.output;
    EXPECT_EQ(flat.dir.names(),
              (std::set<std::string>{"filesystem.ini", "in", "in.slice", "loop.ini"}));
    // A data directory that is a file: permissions would not stop root.
    expect(" Error creating \"blocked/Imagesin.tex\": Not a directory", true, {}, "blocked/",
           [](const ScratchDir& d) { fs::remove(d.path() / "blocked"), d.write("blocked", ""); });
    // A picture's name taken by a directory with something in it, which stays.
    expect(" Error writing \"data/in00g.tif\": Is a directory", true, {}, "data/",
           [](const ScratchDir& d) { fs::create_directories(d.path() / "data/in00g.tif/keep"); });

    // --help lists every option and the user guide, --version the version: both exit 0 at once.
    ScratchDir d;
    std::string out;
    EXPECT_EQ(run_program(d.str(), "--help", out), 0);
    for (const auto& o : option_table()) EXPECT_TRUE(contains(out, o.form)) << o.form;
    EXPECT_TRUE(contains(out, "docs/user_guide.md"));
    EXPECT_EQ(run_program(d.str(), "--version", out), 0);
    EXPECT_EQ(out, "korvex " + program_version() + "\n");
    EXPECT_TRUE(fs::is_empty(d.path()));
}

// A link under each run file (target untouched, named); a file-size limit while the record is
// rebuilt (the reason named, the old record kept).
TEST(SafeFiles, StopsCleanLongDirectoriesAndNonFiniteResults) {
    for (const std::string name : {"data/in.imi", "data/Imagesin.tex", "record.sim", "data/in.par",
                                   "data/in00g", "data/in00g.png"}) {
        KorvexRun r({}, "data/");
        r.dir.write("precious", "precious\n");
        fs::create_symlink(r.dir.path() / "precious", r.dir.path() / name);
        EXPECT_FALSE(r.run()) << name;
        EXPECT_EQ(
            r.dir.read("precious") + r.output.substr(r.output.rfind('\n', r.output.size() - 2)),
            "precious\n\n Error writing \"" + (name == "record.sim" ? "./" + name : name) +
                "\": a symbolic link stands under this name; it is not followed or replaced\n");
        if (!name.ends_with(".imi") && !name.ends_with(".tex")) expect_clean(r);
        // The beams before the failing one keep their files; it and those after have none.
        if (name.starts_with("data/in00g")) {
            EXPECT_EQ(std::tuple(fs::exists(r.file("in-01g.tif")), fs::exists(r.file("in00g.tif")),
                                 fs::exists(r.file("in01g"))),
                      std::tuple(true, false, false));
        }
    }
    KorvexRun r({}, "data/");
    r.dir.write("record.sim", std::string(200000, 'x'));
    EXPECT_FALSE(r.run("", "ulimit -f 100 &&"));
    EXPECT_TRUE(r.output.ends_with(" Error writing \"./record.sim\": File too large\n") &&
                r.dir.read("record.sim") == std::string(200000, 'x'))
        << r.output;
    expect_clean(r);

    // SIGTERM after the first progress line: the run stops non-zero and cleanly.
    KorvexRun sig({.job = 3, .size_x = 48, .size_y = 48, .size_z = 3000}, "data/");
    const std::string script = "cd '" + sig.dir.str() +
                               "' && { '" KORVEX_BINARY
                               "' -t in >log 2>&1 & p=$!; until grep -q finished log; do "
                               "sleep 0.02; done; kill -TERM $p; wait $p; echo $? >status; }";
    ASSERT_EQ(std::system(script.c_str()), 0);
    EXPECT_NE(sig.dir.read("status"), "0\n");
    EXPECT_TRUE(contains(sig.dir.read("log"), " The run was stopped by signal SIGTERM."))
        << sig.dir.read("log");
    expect_clean(sig);

    // A 150-character data directory receives the results; an input in another folder names them.
    Sim longrun({}, "", std::string(70, 'd') + "/" + std::string(78, 'e') + "/");
    for (const char* name : {"in00g", "in.imi", "Imagesin.tex", "in.par", "in_pjt"})
        EXPECT_TRUE(fs::exists(longrun.file(name))) << name;
    fs::create_directory(longrun.dir.path() / "sub");
    longrun.dir.write("sub/cu.in", input_text({}));
    EXPECT_EQ(run_program(longrun.dir.str(), "-t sub/cu.in", longrun.output), 0) << longrun.output;
    EXPECT_TRUE(fs::exists(longrun.file("cu.in00g")) &&
                fs::exists(longrun.file("Imagescu.in.tex")));

    // The guard against non-finite numbers names the first bad value's beam, column and slice.
    State st = make_state({.first = -1, .last = 1, .npx = 3, .npy = 2, .nslice = 1});
    st.s_g_r(2, 1, 3) = st.s_g_r(3, 2, 3) = std::nan("");
    st.phi_grid(3, 2, 1) = cplx(0.0, HUGE_VAL);
    EXPECT_EQ(stop_lines([&] { check_finite_strain(st, 7); })[0],
              "The strain term turned non-finite: beam 1g, column (2, 1), slice 7.");
    EXPECT_EQ(stop_lines([&] { check_finite_amplitudes(st, 9); })[0],
              "The amplitude turned non-finite: beam -1g, column (3, 2), slice 9.");

    // Slices in blocks: at most 16 of one thickness, the middle slice (20 of 40) alone; a bad
    // term inside a block is named as a single slice names it.
    State bs = make_state({.first = -1, .last = 1, .npx = 3, .npy = 2, .nslice = 40});
    bs.slicethickness(30) *= 2.0;
    std::vector<int> ends;
    for (int l : {1, 17, 20, 21, 30, 31, 40}) ends.push_back(block_end(bs, l, 20));
    EXPECT_EQ(ends, (std::vector<int>{16, 19, 20, 29, 30, 40, 40}));
    struct Rows final : DefectField {
        void fill_slice(const State&, Workspace&, int) override {}
        bool fills_rows() const override { return true; }
        RowFill rows_of_slice(const State& s, Workspace& w, int l) override {
            return [&s, &w, l](int j) {
                for (int n = 1; n <= s.n_beams; ++n)
                    for (int i = 1; i <= s.n_pixel_x; ++i)
                        w.s_g_r(i, j, n) = l == 5 && i == 2 && n == 3 ? HUGE_VAL : 1e-3 * n;
            };
        }
    } rows;
    bs.defect_kind = DefectKind::edge;
    initial_amplitudes(bs);
    ColumnEngine engine(Engine::table);
    std::vector<RowFill> fills;
    int flag = 1;
    EXPECT_NO_THROW(carry_block(engine, rows, bs, 1, 4, flag, fills, {1, 2}));
    EXPECT_EQ(stop_lines([&] {
                  carry_block(engine, rows, bs, 3, 8, flag, fills, {1, 2});
              })[0],
              "The strain term turned non-finite: beam 1g, column (2, 1), slice 5.");
}

// Outside stops and neighbours: output whose reader has gone (SIGPIPE, as after `| head`) stops
// like SIGTERM; a signal while the last files are completed still ends non-zero; twenty runs at
// once sharing one record folder keep every entry of record.sim; an absolute input name is
// honoured.
TEST(SafeFiles, ClosedOutputLateSignalsSimultaneousRunsAndAbsoluteNames) {
    KorvexRun pipe({.defect = "edge", .size_x = 48, .size_y = 48, .size_z = 3000}, "data/");
    pipe.dir.write("defect.ini", kMidEdge);
    const std::string piped = "cd '" + pipe.dir.str() +
                              "' && ('" KORVEX_BINARY "' -t in defect.ini; echo $? >status) | true";
    ASSERT_EQ(std::system(piped.c_str()), 0);
    EXPECT_NE(pipe.dir.read("status"), "0\n");
    expect_clean(pipe);

    {
        // The handler of SIGPIPE stays: every write to a closed pipe raises it again.
        const StopSignals caught;
        std::raise(SIGPIPE), std::raise(SIGPIPE);
        EXPECT_EQ(stop_lines(check_stop_signal).at(0),
                  "The run was stopped by signal SIGPIPE (the output was closed).");
        EXPECT_EQ(stop_lines(check_late_signal),
                  (Lines{"The run was interrupted by signal SIGPIPE (the output was closed) as "
                         "it ended.",
                         "Its files were complete and stay."}));
    }
    {
        const StopSignals none;
        EXPECT_NO_THROW(check_late_signal());
    }
    // SIGTERM as soon as the last slice is done: whenever it lands, never a success (unless
    // the run was over before it was sent).
    KorvexRun late({.size_x = 128, .size_y = 128, .size_z = 20, .first = -2, .last = 3}, "data/");
    const std::string script =
        "cd '" + late.dir.str() +
        "' && { '" KORVEX_BINARY
        "' -t in >log 2>&1 & p=$!; until grep -q '100% finished' log; do sleep 0.01; done; if "
        "kill -TERM $p; then wait $p; echo $? >status; else echo over >status; fi; }";
    ASSERT_EQ(std::system(script.c_str()), 0);
    EXPECT_NE(late.dir.read("status"), "0\n") << late.dir.read("log");
    expect_clean(late, false);

    // Twenty runs at once, one record folder holding years of entries (5 MB: reading and
    // rewriting it takes long enough for the runs to overlap): every old and new entry kept,
    // nothing temporary left.
    KorvexRun many({.size_x = 6, .size_y = 6, .size_z = 10});
    std::string old;
    for (int e = 0; e < 50000; ++e) old += std::string(99, 'o') + "\n";
    many.dir.write("record.sim", old);
    std::string starts = "cd '" + many.dir.str() + "' && for i in $(seq 10 29); do cp in in$i; '" +
                         KORVEX_BINARY + "' -t in$i >log$i 2>&1 & done; wait";
    ASSERT_EQ(std::system(starts.c_str()), 0);
    const std::string record = many.dir.read("record.sim");
    EXPECT_TRUE(record.starts_with(old));
    for (int i = 10; i < 30; ++i)
        EXPECT_TRUE(contains(record, "OUTPUT FILE: in" + std::to_string(i) + " ")) << i;
    expect_clean(many, false);

    // An absolute input name is not put under the run directory.
    KorvexRun absolute({}, "data/");
    EXPECT_EQ(run_program(absolute.dir.str(), "-t " + absolute.dir.str() + "in", absolute.output),
              0)
        << absolute.output;
    EXPECT_TRUE(fs::exists(absolute.file("in00g")));
}

// Every example, on a small grid: the run ends with status 0, a job-999 run of it as well
// (no potential coefficients, but slices and reports), and its report document has no figure
// without an image and compiles with latex where latex is installed.
TEST(TextRun, EveryExampleReportsAndItsDocumentCompiles) {
    const fs::path examples = fs::path(KORVEX_SOURCE_DIR) / "examples";
    const bool tex = have("latex");
    int tried = 0;
    for (const auto& entry : fs::directory_iterator(examples)) {
        const fs::path dir = entry.path();
        // Generated inputs (atomistic strain files) need their own build step.
        if (!fs::exists(dir / "run.args") || fs::exists(dir / "prepare.sh")) continue;
        for (const char* job : {"1", "999"}) {
            SCOPED_TRACE(dir.filename().string() + " job " + job);
            ScratchDir d;
            fs::copy(dir, d.path(), fs::copy_options::recursive);
            std::string args = read_file((dir / "run.args").string());
            args.erase(args.find_last_not_of(" \n") + 1);
            const std::string in = args.substr(0, args.find(' '));
            auto lines = read_lines(d.str() + in);
            ASSERT_GE(lines.size(), 28u);
            lines[5] = job, lines[13] = lines[15] = "24", lines[17] = "6";
            std::string text;
            for (const auto& l : lines) text += l + "\n";
            d.write(in, text);
            std::string out;
            ASSERT_EQ(run_program(d.str(), "-t " + args, out), 0) << out;
            EXPECT_TRUE(contains(out, " 100% finished\n Finished in ")) << out;
            ++tried;
            const std::string doc = "Images" + in + ".tex";
            const std::string body = d.read(doc);
            EXPECT_TRUE(body.ends_with(" \\end{document}\n")) << body;
            EXPECT_EQ(body.find("$$"), std::string::npos) << body;
            EXPECT_EQ(body.find("begin{figure}"), std::string::npos) << body; // no layer images
            if (tex) {
                EXPECT_TRUE(shell("cd '" + d.str() + "' && latex -interaction=nonstopmode '" + doc +
                                  "' </dev/null"))
                    << read_file(d.str() + "Images" + in + ".log");
            }
        }
    }
    EXPECT_GE(tried, 20);
    if (!tex) GTEST_SKIP() << "latex is not installed (scripts/test installs texlive-latex-base)";
}
