// What every defect model shares: beam-order rule, single column, configuration reading; the
// void's columns; strain from gradient files: checks, depth sign, streaming against re-reading,
// the edge model.
#include "fixture.hpp"

#include <fstream>
#include <limits>

using namespace korvex::testing;

namespace {

struct Case {
    int model;
    const char* file;
    std::string text;
    Grid grid;
    int l, i, j;        // a slice and a column with a clear field
    double x0, y0, rel; // the reference point of the defect; single-column tolerance
};

std::vector<Case> cases() {
    const double ulps = 2 * std::numeric_limits<double>::epsilon();
    const std::string loop = "16 16 8\n1 1 1\n0.3\n";
    // clang-format off
    return {
        {1, "edge.ini", edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2", 0.3, 0.5), {}, 6, 7, 2, 30, 20, 0},
        {2, "screw.ini", screw_ini("1 1 1 0 0", "30 20 100", "0 0 1"), {}, 4, 3, 2, 30, 20, 0},
        {3, "loop.ini", config("{loop}", {"1 3 1 1 1", "8", loop + "infinitesimal"}),
         kLoopGrid, 6, 20, 13, 16, 16, ulps},
        {3, "loop.ini", config("{loop}", {"1 3 1 1 1", "40", loop + "tabulation"}),
         kLoopGrid, 6, 20, 13, 16, 16, ulps},
        {5, "pgLoop.ini", config("{pg loop}", {"faulted", "1 3 1 1 1", "1 3 1 1 1", "10",
                                               "16.5 16.5 8.3", "0 0 1", "1 0 0", "6", "0.3", "1"}),
         kLoopGrid, 7, 20, 13, 16.5, 16.5, ulps},
        {6, "tetrahedron.ini", config("{tetrahedron}", {"faulted", "12 12 12", "14", "0.3", "1"}),
         cube(24), 10, 15, 9, 12, 12, 1e-6},
    };
    // clang-format on
}

// A strain run of the base "box" in its (working) directory.
DefectRun strain_run(const std::string& ca, Grid g) {
    return DefectRun(7, "strain.ini", config("{atomistic box}", {"'box'"}), ca, g);
}

// Gradient files for the grid of `st`, or for `cells` cells filling `size`.
void write_box(const State& st, const GradientFn& f, const char* base = "box",
               std::array<int, 3> cells = {}, Vec3 size = {}) {
    GradientBox b{st.size, st.n_xyz, st.foil, st.v_g, st.lat_c};
    if (cells[0] > 0) b = {size, cells, st.foil, st.v_g, st.lat_c};
    write_gradient_files(base, b, f);
}

// Replaces record `n` of a file (0: drops the last record).
void spoil(const std::string& path, std::size_t n, const std::string& text = "") {
    auto lines = read_lines(path);
    if (n == 0) lines.pop_back();
    if (n > 0) lines.at(n - 1) = text;
    std::ofstream out(path);
    for (const auto& l : lines) out << l << "\n";
}

} // namespace

// Every model's term for the beam of order m is m G_z under the column approximation and
// m (G_z + tan(tilt) G_x) without it, G_z and G_x fixed by the beam of order 1. The single column
// at (x, y) from the defect's reference point is the grid's column there, stored at (1, 1); the
// rest is cleared.
TEST(DefectModels, TermsSingleColumnConfigurationStopsAndTheVoid) {
    for (const Case& c : cases()) {
        DefectRun yes_run(c.model, c.file, c.text, "yes", c.grid);
        const State& yes = yes_run.slice(c.l).st;
        DefectRun no_run(c.model, c.file, c.text, "no", c.grid);
        const Array3<double> no = no_run.slice(c.l).st.s_g_r;
        const BeamTilts t = beam_tilts(no_run.st);
        EXPECT_GT(max_abs(yes.s_g_r, beam(1)), 1e-6) << c.file;
        for (int j = 1; j <= c.grid.ny; ++j)
            for (int i = 1; i <= c.grid.nx; ++i) {
                const double gz = yes.s_g_r(i, j, beam(1));
                const double gx = (no(i, j, beam(1)) - gz) / t.tan_tilt(beam(1));
                const double scale = std::abs(gz) + std::abs(gx);
                for (int n = 1; n <= 5; ++n) {
                    const double m = t.order(n);
                    ASSERT_NEAR(yes.s_g_r(i, j, n), m * gz, 1e-12 * std::abs(gz) + 1e-300)
                        << c.file << " column " << i << "," << j << " beam " << n;
                    ASSERT_NEAR(no(i, j, n), m * (gz + t.tan_tilt(n) * gx), 1e-9 * scale)
                        << c.file << " column " << i << "," << j << " beam " << n;
                }
            }
        // Filled row by row (rows in any order), as slices carried in blocks fill them, a model
        // gives the very terms, jumps and crossing marks of its whole slices.
        if (no_run.field->fills_rows()) {
            DefectRun rows_run(c.model, c.file, c.text, "no", c.grid);
            State& r = rows_run.st;
            r.s_f.fill(0.0), r.projection.fill(0);
            no_run.st.s_f.fill(0.0), no_run.st.projection.fill(0);
            for (int l = 1; l <= c.l; ++l) {
                no_run.slice(l);
                const RowFill fill = rows_run.field->rows_of_slice(r, r.work(), l);
                for (int j = c.grid.ny; j >= 1; --j) fill(j);
            }
            EXPECT_TRUE(same_bits(r.s_g_r, no_run.st.s_g_r) && same_bits(r.s_f, no_run.st.s_f) &&
                        same_bits(r.projection, no_run.st.projection))
                << c.file;
        }
        no_run.st.s_g_r.fill(7.0);
        const double dx = c.grid.sx / c.grid.nx, dy = c.grid.sy / c.grid.ny;
        no_run.column(c.l, (c.i - 0.5) * dx - c.x0, (c.j - 0.5) * dy - c.y0);
        EXPECT_NE(no(c.i, c.j, beam(1)), 0.0) << c.file;
        for (int n = 1; n <= 5; ++n) {
            EXPECT_TRUE(near_rel(no_run.st.s_g_r(1, 1, n), no(c.i, c.j, n), c.rel, c.rel * 1e-6))
                << c.file << ' ' << n;
            EXPECT_TRUE(c.rel != 0 || no_run.st.s_g_r(8, 6, n) == 0.0) << c.file;
        }
    }

    // A missing or short configuration file stops the run, the message naming it.
    const std::pair<int, const char*> models[] = {
        {1, "edge.ini"},   {2, "screw.ini"},       {3, "loop.ini"},  {4, "void.ini"},
        {5, "pgLoop.ini"}, {6, "tetrahedron.ini"}, {7, "strain.ini"}};
    for (const auto& [model, name] : models)
        for (const std::string text : {"", "{short}\n====\n1 2 1 1 0\n"}) {
            if (model == 7 && !text.empty()) continue; // one record is a whole strain file
            DefectRun run(model, "written.ini", text);
            if (!text.empty()) run.dir.write(name, text);
            run.st.f_defect = run.dir.str() + name;
            const std::string message = read_error([&] { run.slice(1); });
            EXPECT_TRUE(contains(message, name)) << name << ": " << message;
        }

    // Values a model would divide by or overflow with are refused where read, naming the record and
    // the value (each gave NaN images or a run that never ended).
    const std::string b = "1 2 1 1 0";
    // clang-format off
    const std::tuple<int, std::string, int, std::string> cases[] = {
        {1, edge_ini(b, "30 20 90", "1 -1 2", 1.0), 6, "1.0"},
        {1, edge_ini(b, "1e308 20 90", "1 -1 2"), 4, "E+308"},
        {3, config("{loop}", {b, "1e300", "0 0 50", "1 1 1", "0.3", "'yes'"}), 4, "E+300"},
        {3, config("{loop}", {b, "30", "0 0 50", "0 0 0", "0.3", "'yes'"}), 6, "0.0 0.0 0.0"},
        {5, config("{pg}", {"'faulted'", b, "1 1 1e308 1 1", "30", "0 0 50", "1 1 1", "1 0 0", "6",
                            "0.3", "0"}), 5, "E+308"},
        {6, config("{t}", {"'faulted'", "0 0 50", "0", "0.3", "0"}), 5, "0.0"}};
    // clang-format on
    ScratchDir dir;
    for (const auto& [model, text, record, read] : cases) {
        dir.write("c.ini", text);
        const std::string f = dir.str() + "c.ini";
        const Lines l = stop_lines([&, model = model] {
            model == 1   ? (void)edge::read_edge_config(f)
            : model == 3 ? (void)read_loop_ini(f)
            : model == 5 ? (void)read_pgloop_file(f)
                         : (void)read_tetrahedron_file(f);
        });
        ASSERT_EQ(l.size(), 2u) << text;
        EXPECT_TRUE(contains(l[0], "c.ini\", record " + std::to_string(record) + ": "));
        EXPECT_TRUE(l[1].starts_with("Read: ") && l[1].find(read) != std::string::npos) << l[1];
    }

    // The spherical void, centre (1.5, 1.5, 4.5), radius 5: a column on the sphere is crystal (flag
    // 1), strictly inside void (0), every flag rewritten, terms cleared; slice 10 only touches it;
    // one outside the foil leaves every slice perfect.
    DefectRun vrun(4, "void.ini", config("{void}", {"5.0", "1.5, 1.5, 4.5"}), "no", cube(10));
    State& vst = vrun.st;
    vst.flag_vacancy.fill(7);
    vst.s_g_r.fill(1.25);
    vst.s_f.fill(-0.5);
    vrun.slice(5);
    EXPECT_FALSE(any_nonzero(vst.s_g_r) || any_nonzero(vst.s_f));
    const std::tuple<int, int, int> vflags[] = {
        {5, 6, 1}, {6, 5, 1}, {7, 2, 1}, // distance 5: on the surface
        {5, 5, 0}, {2, 2, 0}, {6, 2, 0}};
    for (const auto& [i, j, flag] : vflags)
        EXPECT_EQ(vst.flag_vacancy(i, j), flag) << i << ' ' << j;
    for (int l : {5, 10, 9, 1}) {
        vrun.slice(l);
        int voids = 0, inside = 0; // columns (i, j) at (i - 2, j - 2, l - 5) from the centre
        for (int j = 1; j <= 10; ++j)
            for (int i = 1; i <= 10; ++i) {
                ASSERT_LE(vst.flag_vacancy(i, j), 1);
                voids += vst.flag_vacancy(i, j) == 0;
                inside += (i - 2) * (i - 2) + (j - 2) * (j - 2) + (l - 5) * (l - 5) < 25;
            }
        EXPECT_EQ(voids, inside) << l;
        EXPECT_EQ(voids > 0, l != 10) << l;
    }
    vrun.dir.write("void.ini", config("{void}", {"3.0", "5.0 5.0 -3.0"}));
    vst.flag_vacancy.fill(0);
    for (int l = 1; l <= 10; ++l) {
        const auto& flag = vrun.slice(l).st.flag_vacancy;
        EXPECT_EQ(std::count(flag.data(), flag.data() + flag.size(), 0), 0) << "slice " << l;
    }
}

// Every file must exist (even ".dY") and describe the grid (counts, then cell sizes); "yes" or
// "no". A file that ends early or holds a bad record stops at that slice, the message naming the
// file and record; read in step, the first bad record of the three is reported.
TEST(Strain, StopsDepthSignEdgeFieldFilesAndBinaryFiles) {
    const std::string counts = "The numbers of cells in system and atomic box are not coincide";
    const std::string units = "The units of cells in system and atomic box are not coincide";
    const std::string read = "error in reading the input file for the strin field dU/d";
    // clang-format off
    const std::tuple<const char*, std::array<int, 3>, Vec3, const char*, std::string> cases[] = {
        {"no", {4, 3, 6}, {4, 3, 6}, "Z", counts}, {"no", {4, 3, 5}, {4, 3.3, 5}, "Y", units},
        {"no", {2, 3, 5}, {2, 3, 5}, "X", counts},
        {"half", {}, {}, "", "Please make right choice for the Column Approximation"},
        {"yes", {}, {}, "X", read + "X"}, {"yes", {}, {}, "Y", read + "Y"},
        {"yes", {}, {}, "Z", read + "Z"}};
    // clang-format on
    for (const auto& [ca, cells, size, axis, message] : cases) {
        DefectRun run = strain_run(ca, {4, 3, 5, 4.0, 3.0, 5.0});
        write_box(run.st, zero_gradient);
        const std::string file = std::string("box.d") + axis;
        if (cells[0] > 0) {
            write_box(run.st, zero_gradient, "other", cells, size);
            std::filesystem::rename(std::string("other.d") + axis, file);
        } else if (*axis) {
            std::filesystem::remove(file);
        }
        // A grid that does not match names the file and both grids.
        const Lines got = stop_lines([&] { run.slice(1); });
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0], message) << ca << ' ' << file;
        if (cells[0] > 0) {
            EXPECT_TRUE(got.size() == 3 && contains(got[1], file + "\"") &&
                        contains(got[1], message == counts ? "4 3 5" : "1.0 1.0 1.0") &&
                        got[2] == (message == counts ? "Read: " + std::to_string(cells[0]) + " " +
                                                           std::to_string(cells[1]) + " " +
                                                           std::to_string(cells[2])
                                                     : "Read: 1.0 1.1 1.0"))
                << got[1] << " | " << got.back();
        }
    }

    DefectRun run = strain_run("no", {3, 2, 3, 3.0, 2.0, 3.0});
    auto message = [&](int l) { return read_error([&] { run.slice(l); }); };
    write_box(run.st, zero_gradient);
    spoil("box.dZ", 0);
    run.slice(1).slice(2);
    const std::string end = message(3); // at record 12 + 17
    EXPECT_TRUE(end.find("box.dZ\"") != end.npos && end.find("29") != end.npos) << end;
    // Slice 2 (records 19..24): ".dZ" bad at its second cell, ".dX" at its fourth.
    write_box(run.st, zero_gradient);
    spoil("box.dZ", 20, " 0 zero 0");
    spoil("box.dX", 22, " 0 zero 0");
    run.slice(1);
    EXPECT_TRUE(contains(message(2), "box.dZ\", record 20")) << message(2);

    // Hand-written files on one cell: the depth derivative enters negated, dY is read but unused.
    for (const std::string ca : {"yes", "no"}) {
        DefectRun cell = strain_run(ca, {1, 1, 1, 2.0, 3.0, 4.0});
        const std::string head = " nx\n 1\n ny\n 1\n nz\n 1\n dx\n 2.0\n dy\n 3.0\n dz\n 4.0\n";
        cell.dir.write("box.dX", head + " 0.02 0.3 0.4\n");
        cell.dir.write("box.dY", head + " 1e3 -2e3 5e2\n");
        cell.dir.write("box.dZ", head + " 0.01, 0.7, 0.9   trailing label\n");
        const State& st = cell.slice(1).st;
        const double gx = st.g * 0.02, gz = st.g * 0.01; // g along [100]
        for (int n = 1; n <= st.n_beams; ++n) {
            const double m = st.mtx_beams(n), t = beam_tilts(st).tan_tilt(n);
            EXPECT_NEAR(st.s_g_r(1, 1, n), ca == "yes" ? -m * gz : m * (t * gx - gz), 1e-16) << n;
        }
        EXPECT_LT(st.s_g_r(1, 1, beam(1)), 0.0); // -g dRx/dz with dRx/dz > 0 in the file
    }

    // Files of the analytic edge field (g with components along b and l x b, r0 = 1) give the edge
    // model's terms, with and without the approximation, the slices in order, again (the files
    // reopened) and out of order.
    for (const char* ca : {"no", "yes"}) {
        const Grid grid{9, 8, 7, 18.0, 16.0, 14.0};
        EdgeDislocation e{1, 2, {1, 0, 1}, {9.3, 7.8, 7.1}, {-1, 2, 1}};
        DefectRun model(1, "edge.ini", edge_ini("1 2 1 0 1", "9.3 7.8 7.1", "-1 2 1", 0.3, 1.0), ca,
                        grid);
        DefectRun srun = strain_run(ca, grid); // the working directory from here on
        write_box(srun.st, EdgeGradient(e, {srun.st.size, srun.st.n_xyz, srun.st.foil, srun.st.v_g,
                                            srun.st.lat_c}));
        double largest = 0.0;
        for (int l : {1, 2, 3, 4, 5, 6, 7, 1, 2, 3, 4, 5, 6, 7, 3, 6, 1}) {
            const Array3<double>& a = srun.slice(l).st.s_g_r;
            const Array3<double>& b = model.slice(l).st.s_g_r;
            for (std::size_t q = 0; q < a.size(); ++q) {
                largest = std::max(largest, std::abs(b.data()[q]));
                ASSERT_TRUE(near_rel(a.data()[q], b.data()[q], 1e-12, 1e-17))
                    << ca << " slice " << l << " element " << q;
            }
        }
        EXPECT_GT(largest, 1e-3); // the field is not trivially small
    }

    // Binary files give the text files' terms: to the bit in 64-bit values, to float rounding in
    // 32-bit ones; keeping rows 3..5 (a split run) reads those to the bit, the others zero. A short
    // binary file or another version stops the run naming the file.
    DefectRun srun = strain_run("no", {9, 8, 7, 18.0, 16.0, 14.0});
    DefectRun rows = strain_run("no", {9, 8, 7, 18.0, 16.0, 14.0});
    rows.field->keep_rows(3, 5);
    const GradientBox b{srun.st.size, srun.st.n_xyz, srun.st.foil, srun.st.v_g, srun.st.lat_c};
    const EdgeGradient edge({1, 2, {1, 0, 1}, {9.3, 7.8, 7.1}, {-1, 2, 1}}, b);
    std::vector<std::vector<double>> want;
    for (const auto format :
         {GradientFormat::text, GradientFormat::binary64, GradientFormat::binary32}) {
        write_gradient_files("box", b, edge, GradientOutput{format, 0});
        for (int l = 1; l <= 7; ++l) {
            const auto& s = srun.slice(l).st.s_g_r;
            const std::vector<double> got(s.data(), s.data() + s.size());
            if (format == GradientFormat::text) want.push_back(got);
            for (std::size_t n = 0; n < got.size(); ++n)
                ASSERT_NEAR(got[n], want[std::size_t(l - 1)][n],
                            format == GradientFormat::binary64 ? 0.0
                                                               : 1e-7 * std::abs(got[n]) + 1e-9);
            const auto& part = rows.slice(l).st.s_g_r;
            for (std::size_t n = 0; n < got.size(); ++n) {
                const std::size_t j = n / 9 % 8 + 1;
                ASSERT_EQ(part.data()[n], j >= 3 && j <= 5 ? got[n] : 0.0) << l << ' ' << n;
            }
        }
    }
    std::filesystem::resize_file("box.dY", std::filesystem::file_size("box.dY") - 1);
    EXPECT_TRUE(contains(read_error([&] { srun.slice(1); }), "\"box.dY\", binary data"));
    write_gradient_files("box", b, zero_gradient, GradientOutput{GradientFormat::binary32, 0});
    std::fstream("box.dZ", std::ios::in | std::ios::out | std::ios::binary).seekp(8).put('\2');
    EXPECT_TRUE(
        contains(read_error([&] { srun.slice(1); }), "\"box.dZ\", binary header: version 2"));

    // Every other header field and the file's length: a direction word of another file or of
    // none, reserved bytes set, bytes after the last cell, 64-bit values under a header that
    // says 4 bytes (504 cells: 6112 bytes in 32-bit values, 12160 in 64-bit ones).
    const auto le32 = [](std::uint32_t v) {
        return std::string(reinterpret_cast<const char*>(&v), sizeof v);
    };
    struct Spoil {
        const char* file;
        long at; // -1: appended
        std::string bytes;
        GradientFormat format;
        const char* message;
    };
    for (const Spoil& s :
         {Spoil{"box.dY", 28, le32(0), GradientFormat::binary32,
                "\"box.dY\", binary header: derivative direction 0 (bytes 28-31), 1 (along y) "
                "expected"},
          Spoil{"box.dX", 28, le32(7), GradientFormat::binary32,
                "\"box.dX\", binary header: derivative direction 7 (bytes 28-31), 0 (along x)"},
          Spoil{"box.dZ", 60, "\x01", GradientFormat::binary64,
                "\"box.dZ\", binary header: the reserved bytes 56-63 hold 0x0000000100000000"},
          Spoil{"box.dX", -1, le32(0), GradientFormat::binary32,
                "\"box.dX\", binary data: 6116 bytes, the header's 9 x 8 x 7 cells of 4-byte "
                "values need 6112 (4 bytes after the last cell)"},
          Spoil{"box.dY", 12, le32(4), GradientFormat::binary64,
                "\"box.dY\", binary data: 12160 bytes, the header's 9 x 8 x 7 cells of 4-byte "
                "values need 6112 (the file's length fits 8-byte values: bytes 12-15 say 4)"}}) {
        write_gradient_files("box", b, zero_gradient, GradientOutput{s.format, 0});
        std::fstream f(s.file, std::ios::in | std::ios::out | std::ios::binary);
        if (s.at < 0)
            f.seekp(0, std::ios::end);
        else
            f.seekp(s.at);
        f.write(s.bytes.data(), long(s.bytes.size()));
        f.close();
        const std::string got = read_error([&] { srun.slice(1); });
        EXPECT_TRUE(contains(got, s.message)) << got;
    }
}
