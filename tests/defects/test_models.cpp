// What every defect model shares: beam-order rule, single column, configuration reading; the
// void's columns.
#include "defects/edge.hpp"
#include "defects/loop_iso.hpp"
#include "defects/pgloop.hpp"
#include "defects/tetrahedron.hpp"
#include "driver/defect_files.hpp"
#include "fixture.hpp"

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

} // namespace

// Every model's term for the beam of order m is m G_z under the column approximation and
// m (G_z + tan(tilt) G_x) without it, G_z and G_x fixed by the beam of order 1. The single column
// at (x, y) from the defect's reference point is the grid's column there, stored at (1, 1); the
// rest is cleared.
TEST(DefectModels, TermsSingleColumnAndConfigurationStops) {
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
        {5, config("{pg}", {"'Frank'", b, "1 1 1e308 1 1", "30", "0 0 50", "1 1 1", "1 0 0", "6",
                            "0.3", "0"}), 5, "E+308"},
        {6, config("{t}", {"'Frank'", "0 0 50", "0", "0.3", "0"}), 5, "0.0"}};
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
}

// The spherical void, centre (1.5, 1.5, 4.5), radius 5: a column on the sphere is crystal (flag 1),
// strictly inside void (0), every flag rewritten, terms cleared; slice 10 only touches it; one
// outside the foil leaves every slice perfect.
TEST(Void, ColumnsStrictlyInsideTheSphere) {
    DefectRun run(4, "void.ini", config("{void}", {"5.0", "1.5, 1.5, 4.5"}), "no", cube(10));
    State& st = run.st;
    st.flag_vacancy.fill(7);
    st.s_g_r.fill(1.25);
    st.s_f.fill(-0.5);
    run.slice(5);
    EXPECT_FALSE(any_nonzero(st.s_g_r) || any_nonzero(st.s_f));
    const std::tuple<int, int, int> flags[] = {
        {5, 6, 1}, {6, 5, 1}, {7, 2, 1}, // distance 5: on the surface
        {5, 5, 0}, {2, 2, 0}, {6, 2, 0}};
    for (const auto& [i, j, flag] : flags) EXPECT_EQ(st.flag_vacancy(i, j), flag) << i << ' ' << j;
    for (int l : {5, 10, 9, 1}) {
        run.slice(l);
        int voids = 0, inside = 0; // columns (i, j) at (i - 2, j - 2, l - 5) from the centre
        for (int j = 1; j <= 10; ++j)
            for (int i = 1; i <= 10; ++i) {
                ASSERT_LE(st.flag_vacancy(i, j), 1);
                voids += st.flag_vacancy(i, j) == 0;
                inside += (i - 2) * (i - 2) + (j - 2) * (j - 2) + (l - 5) * (l - 5) < 25;
            }
        EXPECT_EQ(voids, inside) << l;
        EXPECT_EQ(voids > 0, l != 10) << l;
    }
    run.dir.write("void.ini", config("{void}", {"3.0", "5.0 5.0 -3.0"}));
    st.flag_vacancy.fill(0);
    for (int l = 1; l <= 10; ++l) {
        const auto& flag = run.slice(l).st.flag_vacancy;
        EXPECT_EQ(std::count(flag.data(), flag.data() + flag.size(), 0), 0) << "slice " << l;
    }
}
