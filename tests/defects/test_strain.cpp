// Strain from gradient files: checks, depth sign, streaming against re-reading, the edge model.
#include "driver/gradient_files.hpp"
#include "fixture.hpp"

#include <fstream>

using namespace korvex::testing;

namespace {

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

// Every file must exist (even ".dY") and describe the grid (counts, then cell sizes); "yes" or
// "no". A file that ends early or holds a bad record stops at that slice, the message naming the
// file and record; read in step, the first bad record of the three is reported.
TEST(Strain, StopsAndTheDepthDerivativeEntersNegatively) {
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
        EXPECT_EQ(stop_lines([&] { run.slice(1); }), Lines{message}) << ca << ' ' << file;
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
}

// Files of the analytic edge field (g with components along b and l x b, r0 = 1) give the edge
// model's terms, with and without the approximation, the slices in order, again (the files
// reopened) and out of order.
TEST(Strain, EdgeFieldFilesMatchTheEdgeModelAndBinaryFilesReadLikeText) {
    for (const char* ca : {"no", "yes"}) {
        const Grid grid{9, 8, 7, 18.0, 16.0, 14.0};
        EdgeDislocation e{1, 2, {1, 0, 1}, {9.3, 7.8, 7.1}, {-1, 2, 1}};
        DefectRun model(1, "edge.ini", edge_ini("1 2 1 0 1", "9.3 7.8 7.1", "-1 2 1", 0.3, 1.0), ca,
                        grid);
        DefectRun run = strain_run(ca, grid); // the working directory from here on
        write_box(run.st, EdgeGradient(e, {run.st.size, run.st.n_xyz, run.st.foil, run.st.v_g,
                                           run.st.lat_c}));
        double largest = 0.0;
        for (int l : {1, 2, 3, 4, 5, 6, 7, 1, 2, 3, 4, 5, 6, 7, 3, 6, 1}) {
            const Array3<double>& a = run.slice(l).st.s_g_r;
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
    DefectRun run = strain_run("no", {9, 8, 7, 18.0, 16.0, 14.0});
    DefectRun rows = strain_run("no", {9, 8, 7, 18.0, 16.0, 14.0});
    rows.field->keep_rows(3, 5);
    const GradientBox b{run.st.size, run.st.n_xyz, run.st.foil, run.st.v_g, run.st.lat_c};
    const EdgeGradient edge({1, 2, {1, 0, 1}, {9.3, 7.8, 7.1}, {-1, 2, 1}}, b);
    std::vector<std::vector<double>> want;
    for (const auto format :
         {GradientFormat::text, GradientFormat::binary64, GradientFormat::binary32}) {
        write_gradient_files("box", b, edge, GradientOutput{format, 0});
        for (int l = 1; l <= 7; ++l) {
            const auto& s = run.slice(l).st.s_g_r;
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
    EXPECT_TRUE(contains(read_error([&] { run.slice(1); }), "\"box.dY\", binary data"));
    write_gradient_files("box", b, zero_gradient, GradientOutput{GradientFormat::binary32, 0});
    std::fstream("box.dZ", std::ios::in | std::ios::out | std::ios::binary).seekp(8).put('\2');
    EXPECT_TRUE(
        contains(read_error([&] { run.slice(1); }), "\"box.dZ\", binary header: version 2"));
}
