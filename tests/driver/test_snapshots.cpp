// Gradient files from snapshots: a uniform strain found in every cell for every layout, box and
// orientation, wrapped atoms changing nothing; bad snapshots stop naming file and line.
#include "snapshot_kit.hpp"
#include "support/testing.hpp"

using namespace korvex;
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

} // namespace

TEST(SnapshotGradients, UniformStrainIsFoundInEveryCell) {
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
}

TEST(SnapshotGradients, BadSnapshotsStopBeforeAnyFileIsWritten) {
    const Cell box{{0, 0, 0}, {Vec3{14.44, 0, 0}, Vec3{0, 14.44, 0}, Vec3{0, 0, 14.44}}};
    const std::string ref = lammps(fcc({4, 4, 4}, 3.61), box);
    const std::vector<std::string> lines = split_lines(ref);
    // The reference with line n (if any) replaced and the last `drop` lines dropped.
    auto edit = [&](std::size_t n, const std::string& text, std::size_t drop = 0) {
        auto l = lines;
        if (n > 0) l.at(n - 1) = text;
        std::string s;
        for (std::size_t k = 0; k + drop < l.size(); ++k) s += l[k] + "\n";
        return s;
    };
    struct Case {
        std::string cur, ref, message;
        Vec3 centre{6, 6, 6};
    };
    const Case cases[] = {
        {ref, edit(16, "1 0 7777 1.805 0"),
         "Atom id 7 of \"cur\" (line 16) is not in the reference \"ref\""},
        {ref, edit(4, "255", 1),
         "The snapshot \"cur\" (line 4) holds 256 atoms, the reference \"ref\" (line 4) 255"},
        {edit(9, "ITEM: ATOMS type z id q y"), ref, "\"cur\", line 9: unknown column layout"},
        {edit(0, "", 3), ref, "\"cur\", line 262: the file ends after 253 of 256 atoms"},
        {edit(1, "hello"), ref, "\"cur\", line 1: unknown layout"},
        {edit(20, "1 nan 11 0 0"), ref, "\"cur\", line 20: the coordinate \"nan\""},
        {ref, ref, "The box of \"ref\" (line 6) does not cover the grid", {6, 6, 10}}};
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.enter();
        dir.write("cur", c.cur);
        dir.write("ref", c.ref);
        SnapshotConversion conv;
        conv.snapshot = "cur", conv.reference = "ref", conv.centre = c.centre;
        const std::string got = stop_lines([&] { convert_snapshot(conv, kGrid, "box"); }).at(0);
        EXPECT_TRUE(contains(got, c.message)) << got;
        EXPECT_EQ(dir.names(), (std::set<std::string>{"cur", "ref"})) << got;
    }
}
