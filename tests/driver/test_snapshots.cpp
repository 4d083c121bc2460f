// Gradient files from snapshots: a uniform strain found in every cell for every layout, box and
// orientation, wrapped atoms changing nothing; bad snapshots stop naming file and line; an fcc
// crystal displaced by the edge field, converted and imaged, against the edge model.
#include "run_kit.hpp"
#include "snapshot_kit.hpp"

using namespace korvex::testing;

namespace {

const GradientBox kGrid{{12, 12, 12}, {12, 12, 12}, {0, 0, 1}, {2, 0, 0}, 3.61};

Atoms inside(const Atoms& atoms, const Cell& c) {
    const PeriodicCell cell(c.origin, c.edge, {true, true, true});
    Atoms out;
    for (const auto& a : atoms) {
        const Vec3 s = cell.fractional(a.second);
        if (s[0] >= 0 && s[0] < 1 && s[1] >= 0 && s[1] < 1 && s[2] >= 0 && s[2] < 1)
            out.push_back({long(out.size()) + 1, a.second});
    }
    return out;
}

// The edge b = 1/2[110], line [1 -1 0] through `at`, nu = 0.3, cube axes; its cut runs from the
// line towards the entrance surface.
Vec3 edge_displacement(const Vec3& p, const Vec3& at) {
    constexpr double nu = 0.3, b = 3.61 / std::numbers::sqrt2, s = 1 / std::numbers::sqrt2;
    const double x = ((p[0] - at[0]) + (p[1] - at[1])) * s, y = p[2] - at[2];
    const double r2 = x * x + y * y, k = b / (2 * std::numbers::pi);
    const double ux = k * (std::atan2(-x, y) + x * y / (2 * (1 - nu) * r2));
    const double uy =
        -k * ((1 - 2 * nu) / (4 * (1 - nu)) * std::log(r2) + (x * x - y * y) / (4 * (1 - nu) * r2));
    return {ux * s, ux * s, uy};
}

} // namespace

TEST(SnapshotGradients, UniformStrainBadSnapshotsAndTheEdgeCrystalsImages) {
    const double r = 1 / std::sqrt(2.0);
    const std::array<Vec3, 3> cube{Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}},
        turned{Vec3{r, r, 0}, Vec3{-r, r, 0}, Vec3{0, 0, 1}};
    const Cell box{{0, 0, 0}, {Vec3{14.44, 0, 0}, Vec3{0, 14.44, 0}, Vec3{0, 0, 14.44}}};
    const Cell wide{{0, 0, 0}, {Vec3{20, 0, 0}, Vec3{0, 20, 0}, Vec3{0, 0, 14.44}}};
    const Cell skew{{-1, 2, 0}, {Vec3{15, 0, 0}, Vec3{3, 15, 0}, Vec3{2, -2, 15}}, "pp pp ff"};
    struct Case {
        const char* what;
        Cell cell;
        std::array<Vec3, 3> axes;
        int format; // 0 LAMMPS x y z, 1 LAMMPS scaled, 2 extended XYZ, 3 fcc lattice reference
    };
    for (const Case& c :
         {Case{"cube axes", box, cube, 0}, Case{"[110] [-110] [001]", wide, turned, 0},
          Case{"triclinic, scaled", skew, cube, 1}, Case{"xyz", wide, turned, 2},
          Case{"fcc lattice", wide, turned, 3}}) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.enter();
        const Atoms ref = inside(fcc({16, 16, 5}, 3.61, c.axes, -8), c.cell);
        // A strain (cube frame) and a rigid shift that carries atoms across the cell faces.
        const Mat3 e{{0.01, 0.004, -0.002, 0.003, -0.006, 0.0, 0.005, 0.002, 0.008}};
        const Atoms cur = displaced(ref, [&](const Vec3& x) {
            Vec3 cx{}; // cube frame
            for (std::size_t k = 0; k < 9; ++k) cx[k % 3] += c.axes[k / 3][k % 3] * x[k / 3];
            const Vec3 u = mul(e, cx);
            const double shift = c.format == 3 ? 0.0 : 1.0; // a lattice sees no rigid shift
            return Vec3{dot(c.axes[0], u) + 1.3 * shift, dot(c.axes[1], u) - 0.9 * shift,
                        dot(c.axes[2], u)};
        });
        Atoms wrapped = cur;
        const PeriodicCell cell(c.cell.origin, c.cell.edge, {true, true, false});
        if (c.format != 3) // the turned lattice does not repeat with this cell
            for (auto& a : wrapped) a.second = cell.wrap(a.second);
        auto file = [&](const Atoms& a) {
            return c.format == 2 ? xyz(a, c.cell) : lammps(a, c.cell, c.format == 1);
        };
        for (const auto& [name, atoms] :
             {std::pair("ref", ref), {"cur", cur}, {"wrapped", wrapped}})
            dir.write(name, file(atoms));
        SnapshotConversion conv;
        conv.snapshot = "cur", conv.reference = "ref", conv.axes = c.axes;
        if (c.format == 3)
            conv.reference.clear(), conv.lattice = Structure::fcc, conv.lattice_a = 3.61;
        EXPECT_EQ(convert_snapshot(conv, kGrid, "box").empty_cells, 0);
        conv.snapshot = "wrapped";
        convert_snapshot(conv, kGrid, "again");
        const auto got = read_gradients("box"), again = read_gradients("again");
        ASSERT_EQ(got.size(), again.size());
        double off = 0.0, apart = 0.0; // exact but for rounding (of the wrapped positions)
        for (std::size_t n = 0; n < got.size(); ++n)
            for (std::size_t k = 0; k < 9; ++k) { // dR_i/dx_j: the strain's (i, j)
                const double g = got[n][k % 3][k / 3];
                off = std::max(off, std::abs(g - e(int(k / 3) + 1, int(k % 3) + 1)));
                apart = std::max(apart, std::abs(g - again[n][k % 3][k / 3]));
            }
        EXPECT_LT(std::max(off, apart), 1e-11) << off << ' ' << apart;
    }

    const Cell cube_box{{0, 0, 0}, {Vec3{14.44, 0, 0}, Vec3{0, 14.44, 0}, Vec3{0, 0, 14.44}}};
    const std::string ref_text = lammps(fcc({4, 4, 4}, 3.61), cube_box);
    const std::vector<std::string> lines = split_lines(ref_text);
    // The reference with line n (if any) replaced and the last `drop` lines dropped.
    auto edit = [&](std::size_t n, const std::string& text, std::size_t drop = 0) {
        auto l = lines;
        if (n > 0) l.at(n - 1) = text;
        std::string s;
        for (std::size_t k = 0; k + drop < l.size(); ++k) s += l[k] + "\n";
        return s;
    };
    struct Bad {
        std::string cur, ref_text, message;
        Vec3 centre{6, 6, 6};
    };
    const Bad bad[] = {
        {ref_text, edit(16, "1 0 7777 1.805 0"),
         "Atom id 7 of \"cur\" (line 16) is not in the reference \"ref\""},
        {ref_text, edit(4, "255", 1),
         "The snapshot \"cur\" (line 4) holds 256 atoms, the reference \"ref\" (line 4) 255"},
        {edit(9, "ITEM: ATOMS type z id q y"), ref_text, "\"cur\", line 9: unknown column layout"},
        {edit(0, "", 3), ref_text, "\"cur\", line 262: the file ends after 253 of 256 atoms"},
        {edit(1, "hello"), ref_text, "\"cur\", line 1: unknown layout"},
        {edit(20, "1 nan 11 0 0"), ref_text, "\"cur\", line 20: the coordinate \"nan\""},
        {ref_text, ref_text, "The box of \"ref\" (line 6) does not cover the grid", {6, 6, 10}},
        // An id twice in the snapshot only, in both files, in the reference only (line 16 holds
        // id 7, line 17 id 8); a repeated column name.
        {edit(17, lines[15]), ref_text, "Atom id 7 appears twice in \"cur\" (lines 16 and 17)"},
        {edit(17, lines[15]), edit(17, lines[15]), "Atom id 7 appears twice in \"cur\""},
        {ref_text, edit(17, lines[15]), "Atom id 7 appears twice in \"ref\" (lines 16 and 17)"},
        {edit(9, "ITEM: ATOMS id x x y z"), ref_text,
         "\"cur\", line 9: the ATOMS columns name \"x\" twice (columns 2 and 3)"}};
    for (const Bad& b : bad) {
        ScratchDir dir;
        dir.enter();
        dir.write("cur", b.cur);
        dir.write("ref", b.ref_text);
        SnapshotConversion conv;
        conv.snapshot = "cur", conv.reference = "ref", conv.centre = b.centre;
        const Lines got = stop_lines([&] { convert_snapshot(conv, kGrid, "box"); });
        EXPECT_TRUE(contains(got.at(0), b.message));
        EXPECT_EQ(dir.names(), (std::set<std::string>{"cur", "ref"})) << got.at(0);
        if (contains(got.at(0), "255")) { // atoms deleted: how to dump a reference that fits
            EXPECT_TRUE(contains(got.at(1), "after \"delete_atoms ... compress no\" (ids kept), "
                                            "or compare with a perfect lattice (--lattice S A)"));
        }
    }

    // Grids that can only give zero gradients are written with warnings: no atoms; a box of
    // +-1e30 (a kernel width beyond the grid: every cell sees the same atoms); a lattice constant
    // of 1e-5 (no atom within the kernel of any cell centre).
    {
        ScratchDir dir;
        dir.enter();
        const Cell vast{{-1e30, -1e30, -1e30},
                        {Vec3{2e30, 0, 0}, Vec3{0, 2e30, 0}, Vec3{0, 0, 2e30}}};
        dir.write("none", lammps({}, cube_box));
        dir.write("vast", lammps(fcc({4, 4, 4}, 3.61), vast));
        dir.write("cube", ref_text);
        struct Warned {
            const char* cur;
            double lattice;
            std::vector<std::string> warnings;
        };
        for (const Warned& w :
             {Warned{"none", 0.0, {"The snapshot \"none\" holds no atoms"}},
              Warned{"vast",
                     0.0,
                     {"exceeds the grid (12 Angstrom): every cell averages nearly the same atoms",
                      "Every gradient written is zero"}},
              Warned{"cube",
                     1e-5,
                     {"sites: is its lattice constant right?", "is less than half a cell",
                      "Every gradient written is zero (of 1728 cells, 1728 without atoms"}}}) {
            SnapshotConversion conv;
            conv.snapshot = w.cur, conv.reference = w.cur;
            if (w.lattice > 0)
                conv.reference.clear(), conv.lattice = Structure::fcc, conv.lattice_a = w.lattice;
            const ConversionSummary sum = convert_snapshot(conv, kGrid, "box");
            std::string all;
            for (const auto& l : sum.warnings) all += l + "\n";
            for (const auto& part : w.warnings) EXPECT_TRUE(contains(all, part)) << w.cur;
            EXPECT_EQ(sum.warnings.size(), w.warnings.size()) << all;
            for (const auto& g : read_gradients("box"))
                for (const auto& row : g) EXPECT_EQ(row, (Vec3{})) << w.cur;
        }
    }

    InputSpec in{.ca = "no", .defect = "edge", .size_x = 24, .size_y = 24, .size_z = 60};
    const Sim analytic(in, "{edge}\n===\n1 2 1 1 0\n12 12 30.3\n1 -1 0\n0.3\n0.0\n");

    // 8 x 8 x 18 cells centred on the grid: snapshot = sample frame + (2.44, 2.44, 2.49).
    ScratchDir atoms;
    const Cell cell{
        {0, 0, 0}, {Vec3{28.88, 0, 0}, Vec3{0, 28.88, 0}, Vec3{0, 0, 64.98}}, "pp pp ff"};
    const Atoms ref = fcc({8, 8, 18}, 3.61);
    atoms.write("ref", lammps(ref, cell));
    const auto edge = [](const Vec3& p) { return edge_displacement(p, {14.44, 14.44, 32.79}); };
    atoms.write("cur", lammps(displaced(ref, edge), cell, true));
    in.defect = "3D-strain";
    const GradientBox gbox{{24, 24, 60}, {24, 24, 60}, {0, 0, 1}, {2, 0, 0}, 3.61};
    const std::string beams[] = {"-01g", "00g", "01g"};
    // Kernel width (0: the default, 2.5) and file format; the largest differences from the edge
    // model's images over their range beyond 3 and 6 Angstrom from the projected line (the core
    // and the cut), kept below the limits. Measured: 0.027, 0.007 at the default; 0.21, 0.036 at
    // 2 (noise); 0.081, 0.0095 at 3.5 (the core smeared); within 3 Angstrom 0.76 to 0.98.
    struct Run {
        double width;
        GradientFormat format;
        double limit[2], far[2] = {0.0, 0.0};
    };
    Run runs[] = {{0.0, GradientFormat::text, {0.04, 0.01}},
                  {2.0, GradientFormat::binary32, {0.3, 0.05}},
                  {3.5, GradientFormat::binary32, {0.12, 0.015}}};
    for (Run& w : runs) {
        KorvexRun run(in);
        SnapshotConversion c;
        c.snapshot = atoms.str() + "cur", c.reference = atoms.str() + "ref";
        c.width = w.width, c.output.format = w.format;
        convert_snapshot(c, gbox, run.file("box"));
        ASSERT_TRUE(run.run(kBoxStrain)) << run.output;
        for (const auto& beam : beams) {
            const ImageData a = run.image(beam), e = analytic.image(beam);
            const auto [lo, hi] =
                std::minmax_element(e.values.data(), e.values.data() + e.values.size());
            for (int j = 1; j <= 24; ++j)
                for (int i = 1; i <= 24; ++i) {
                    const double d = std::abs(i + j - 25) / std::numbers::sqrt2;
                    const double diff = std::abs(a.values(i, j) - e.values(i, j)) / (*hi - *lo);
                    if (d > 3) w.far[d > 6] = std::max(w.far[d > 6], diff);
                }
        }
        EXPECT_TRUE(w.far[0] < w.limit[0] && w.far[1] < w.limit[1])
            << "width " << w.width << ": " << w.far[0] << ", " << w.far[1];
    }
}
