// Polygonal loop and tetrahedron: styles, fault crossings, projection markers, faces, stops; the
// slice outputs the driver adds around the defect models.
#include "driver/slice_outputs.hpp"
#include "fixture.hpp"
#include "state/image_file.hpp"

#include <cstring>
#include <set>

using namespace korvex::testing;

namespace {

// A loop of radius 10 in the plane z = depth, centred on column (17, 17) so that the spoke
// along y runs through column centres; Burgers vector and fault 1/3[111].
std::string hexagon(const std::string& style = "faulted", double depth = 8.3,
                    const std::string& polar = "1 0 0", const std::string& nsides = "6") {
    return config("{Data for the polygonal loop in Crystal}",
                  {style, "1 3 1 1 1", "1 3 1 1 1", "10", "16.5 16.5 " + std::to_string(depth),
                   "0 0 1", polar, nsides, "0.3", "1"});
}

// +1 strictly inside that hexagon at (x, y), -1 outside, 0 on its boundary.
int inside_hexagon(double x, double y) {
    double d = -1e300;
    for (int k = 0; k < 6; ++k)
        d = std::max(d, std::cos(k * kPi / 3) * (x - 16.5) + std::sin(k * kPi / 3) * (y - 16.5));
    d -= 10 * std::cos(kPi / 6);
    return std::abs(d) < 1e-9 ? 0 : d < 0 ? 1 : -1;
}

DefectRun pg_run(const std::string& text, const std::string& ca = "no", Grid g = kLoopGrid) {
    return DefectRun(5, "pgLoop.ini", text, ca, g);
}

DefectRun tetra_run(const std::string& style, const std::string& centroid = "12 12 12",
                    const std::string& edge = "14.0", int n = 24, Vec3 foil = {0, 0, 1},
                    Vec3 v_g = {2, 0, 0}) {
    return DefectRun(
        6, "tetrahedron.ini",
        config("{Data for the stacking fault tetrahedron}", {style, centroid, edge, "0.3", "1.0"}),
        "no", cube(n), foil, v_g);
}

DefectRun& wrapped(DefectRun& run, bool writer = true) {
    run.field = with_slice_outputs(std::move(run.field), run.st, writer);
    return run;
}

} // namespace

// Loops and tetrahedra: the perfect style has the faulted one's strain and no jump, the pure
// fault its jumps and no strain; both mark the columns that cross them. The hexagon: only slice 9
// (centre 8.5) lies within 1/1.9 of its plane z = 8.3; the columns strictly inside the polygon
// take the fault there and are marked from then on, the spoke included.
TEST(PgLoop, FaultJumpsStylesSlabStopsColumnsAtOnceAndTheTetrahedron) {
    for (int model : {5, 6}) {
        auto run = [&](const char* s) { return model == 5 ? pg_run(hexagon(s)) : tetra_run(s); };
        DefectRun pure = run("pureSF"), perfect = run("perfect"), faulted = run("faulted");
        bool jumped = false;
        for (int l = 1; l <= faulted.st.n_xyz[2]; ++l) {
            for (DefectRun* r : {&pure, &perfect, &faulted}) r->slice(l);
            EXPECT_FALSE(any_nonzero(pure.st.s_g_r)) << model << ' ' << l;
            EXPECT_FALSE(any_nonzero(perfect.st.s_f)) << model << ' ' << l;
            jumped = jumped || any_nonzero(pure.st.s_f);
            ASSERT_TRUE(same_bits(perfect.st.s_g_r, faulted.st.s_g_r)) << model << ' ' << l;
            ASSERT_TRUE(same_bits(pure.st.s_f, faulted.st.s_f)) << model << ' ' << l;
            for (int j = 1; j <= 32 && model == 5; ++j)
                for (int i = 1; i <= 32; ++i) {
                    const int in = inside_hexagon(i - 0.5, j - 0.5);
                    if (in == 0) continue;
                    for (int c = 1; c <= 3; ++c)
                        ASSERT_EQ(faulted.st.s_f(i, j, c), l == 9 && in > 0 ? 1.0 / 3.0 : 0.0)
                            << "slice " << l << " column " << i << ' ' << j;
                    ASSERT_TRUE(l < 9 || (faulted.st.projection(i, j, 1) == (in > 0) &&
                                          faulted.st.projection(i, j, 2) == 0))
                        << i << ' ' << j;
                }
        }
        EXPECT_TRUE(jumped && any_nonzero(faulted.st.s_g_r)) << model;
        EXPECT_TRUE(same_bits(perfect.st.projection, faulted.st.projection)) << model;
        EXPECT_TRUE(same_bits(pure.st.projection, faulted.st.projection)) << model;
        EXPECT_NE(perfect.st.projection(model == 5 ? 17 : 13, model == 5 ? 17 : 11, 1), 0);
    }

    // The plane within slice thickness / 1.9 of a slice centre; no second jump for the same loop.
    auto jumps = [](double depth, int nz, double dz, bool judge_each) {
        DefectRun run = pg_run(hexagon("faulted", depth), "no", {32, 32, nz, 32.0, 32.0, nz * dz});
        std::vector<int> slices;
        for (int l = 1; l <= nz; ++l) {
            if (judge_each) run.st.projection.fill(0);
            if (run.slice(l).st.s_f(17, 17, 1) != 0.0) slices.push_back(l);
        }
        return slices;
    };
    // Slices 2 Angstrom thick: within 2 / 1.9 = 1.0526.
    EXPECT_EQ(jumps(9.0, 10, 2.0, true), (std::vector<int>{5}));
    EXPECT_EQ(jumps(7.94, 10, 2.0, true), (std::vector<int>{4}));    // 0.94 / 1.06
    EXPECT_EQ(jumps(7.96, 10, 2.0, true), (std::vector<int>{4, 5})); // 1.04 from slice 5
    // Slices 1 Angstrom thick, the plane halfway between slices 8 and 9.
    EXPECT_EQ(jumps(8.0, 16, 1.0, false), (std::vector<int>{8}));

    auto stop = [](const std::string& text, const char* ca = "no") {
        DefectRun run = pg_run(text, ca);
        return stop_lines([&] { run.slice(1); });
    };
    const Lines style = stop(hexagon("twisted"));
    EXPECT_TRUE(style.size() == 3 && style[0] == "LOOPSTYLE DEFINED WRONG IN THE INITIAL FILE" &&
                contains(style[1], "record 3: the loop style must contain") &&
                style[2] == "Read: \"twisted\"")
        << style.back();
    EXPECT_EQ(stop(hexagon("faulted", 8.3, "1 0 0", "2")).at(0),
              "POINT A B C ARE NOT VERTEXES OF A TRIANGLE");
    EXPECT_FALSE(stop(hexagon("faulted", 8.3, "0 0 1")).empty()); // no loop plane
    EXPECT_EQ(stop(hexagon(), "half"),
              (Lines{"Please make right choice for the Column Approximation",
                     "This defect model takes the column approximation \"yes\" or \"no\" (record "
                     "8 of the input parameter file)",
                     "Read: half"}));

    // Several columns at once give the one-column field's bits, inside, beside, far from the loop
    // and on a spoke.
    DefectRun run = pg_run(hexagon());
    const PgLoopKernel k(run.st, read_pgloop_file(run.st.f_defect));
    std::array<Vec3, kFieldLanes> p, g;
    for (int l = 0; l < kFieldLanes; ++l)
        p[std::size_t(l)] = {0.37 * l - 1.1, l % 3 == 0 ? 0.0 : 9.7 - 2.3 * l, 0.25 * l - 0.4};
    k.gradient_lanes(p.data(), g.data());
    for (int l = 0; l < kFieldLanes; ++l) {
        const Vec3 one = k.gradient(p[std::size_t(l)]);
        EXPECT_EQ(std::memcmp(g[std::size_t(l)].data(), one.data(), sizeof one), 0) << l;
    }

    // The four triangular faces, with a zone axis mixing the crystal axes, share their corners:
    // each is a corner of two other faces, distinct corners lie an edge a apart, their mean the
    // centroid.
    DefectRun tet = tetra_run("faulted", "20 20 20", "30.0", 8, {1, 1, 0}, {1, -1, 1});
    const State& tst = tet.slice(1).st;
    auto unit = [](const Vec3& v) { return scaled(v, 1.0 / magnitude(v)); };
    const Vec3 ex = unit(tst.co_x), ez = unit(tst.foil), ey = cross_product(ez, ex);
    auto to_sample = [&](const Vec3& c) { return unit(Vec3{dot(c, ex), dot(c, ey), dot(c, ez)}); };
    std::vector<Vec3> corners;
    const TetrahedronFile t = read_tetrahedron_file(tst.f_defect);
    for (int face = 0; face < 4; ++face) {
        const PgLoopFile f = tetrahedron_face_loop(tst, t, face);
        ASSERT_EQ(f.nsides, 3);
        const Vec3 e2 = to_sample(f.polar), e3 = to_sample(cross_product(f.normal, f.polar));
        for (double phi : {-kPi / 3, kPi / 3, kPi}) {
            Vec3 v;
            for (std::size_t i = 0; i < 3; ++i)
                v[i] = f.position[i] + f.radius * (std::cos(phi) * e2[i] + std::sin(phi) * e3[i]);
            corners.push_back(v);
        }
    }
    Vec3 mean{};
    for (const Vec3& a : corners) {
        int same = 0;
        for (const Vec3& b : corners) {
            const double d = magnitude({a[0] - b[0], a[1] - b[1], a[2] - b[2]});
            same += d < 1e-6;
            EXPECT_TRUE(d < 1e-6 || std::abs(d - 30.0) <= 1e-6) << d;
        }
        EXPECT_EQ(same, 3);
        for (std::size_t i = 0; i < 3; ++i) mean[i] += a[i] / 12.0;
    }
    for (double m : mean) EXPECT_NEAR(m, 20.0, 1e-6);

    // A column through the tetrahedron (off the projected edges) crosses two faces, is marked with
    // both and takes the fault of each once; columns outside are never marked.
    DefectRun crossed = tetra_run("faulted");
    const int ic = 13, jc = 11;
    Vec3 total{};
    for (int l = 1; l <= 24; ++l) {
        crossed.slice(l);
        for (std::size_t c = 0; c < 3; ++c) total[c] += crossed.st.s_f(ic, jc, int(c) + 1);
    }
    const std::set<int> markers(crossed.st.projection.data(),
                                crossed.st.projection.data() + crossed.st.projection.size());
    EXPECT_EQ(markers, (std::set<int>{0, 2, 4, 6, 8}));
    const int p1 = crossed.st.projection(ic, jc, 1), p2 = crossed.st.projection(ic, jc, 2);
    ASSERT_TRUE(p1 != 0 && p2 != 0 && p1 != p2) << p1 << ' ' << p2;
    const Vec3 f1 = kTetrahedronFaces[std::size_t(p1 / 2 - 1)].burgers;
    const Vec3 f2 = kTetrahedronFaces[std::size_t(p2 / 2 - 1)].burgers;
    for (std::size_t c = 0; c < 3; ++c) EXPECT_NEAR(total[c], (f1[c] + f2[c]) / 12.0, 1e-15);
    EXPECT_EQ(crossed.st.projection(2, 2, 1), 0);
}

// The edge prints nothing per slice (progress is the driver's); the circular loop rewrites the
// maps "<f_out>sgr01".."05" (one per beam) with that slice's terms, on the writer only.
TEST(SliceOutputs, QuietEdgeLoopMapsAndTetrahedronFaceFiles) {
    DefectRun edge(1, "edge.ini", edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2"));
    wrapped(edge).slice(3).slice(4);
    EXPECT_EQ(edge.console.str(), "");

    const std::string loop =
        config("{loop}", {"1 3 1 1 1", "8.0", "16 16 8", "1 1 1", "0.3", "infinitesimal"});
    DefectRun quiet(3, "loop.ini", loop, "no", kLoopGrid);
    wrapped(quiet, false).slice(2);
    EXPECT_FALSE(quiet.dir.exists("run.txtsgr01"));
    DefectRun run(3, "loop.ini", loop, "no", kLoopGrid);
    const std::string first = wrapped(run).slice(2).dir.read("run.txtsgr03");
    run.slice(9);
    EXPECT_NE(run.dir.read("run.txtsgr03"), first);
    for (int n = 1; n <= 5; ++n) {
        const ImageData img = read_image_file("run.txtsgr0" + std::to_string(n));
        ASSERT_EQ(std::tuple(img.nx(), img.ny(), img.unit_x), std::tuple(32, 32, 1.0));
        for (int j = 1; j <= 32; ++j)
            for (int i = 1; i <= 32; ++i)
                ASSERT_TRUE(near_rel(img.values(i, j), run.st.s_g_r(i, j, n), 1e-9, 1e-300));
    }
    EXPECT_FALSE(run.dir.exists("run.txtsgr06"));

    // The tetrahedron's face files describe the loops the model holds. They are written when
    // their text changes, not at every slice or column (the amplitude-phase job visits each
    // slice once per column position).
    DefectRun sft(6, "tetrahedron.ini",
                  config("{sft}", {"'faulted SFT'", "12.3 11.7 12.1", "10.0", "0.31", "1.07"}),
                  "no", cube(24));
    wrapped(sft).slice(5);
    sft.dir.write("alpha.ini", "kept");
    sft.slice(6);
    sft.column(7, 3.0, 4.0);
    EXPECT_EQ(sft.dir.read("alpha.ini"), "kept");
    sft.dir.write("tetrahedron.ini",
                  config("{sft}", {"'faulted SFT'", "12.3 11.7 12.1", "14.1", "0.31", "1.07"}));
    sft.slice(7);
    const TetrahedronFile t = read_tetrahedron_file(sft.st.f_defect);
    auto fields = [](const PgLoopFile& f) {
        return std::tie(f.loopstyle, f.b_m, f.b_n, f.b_dir, f.f_m, f.f_n, f.f_dir, f.radius,
                        f.position, f.normal, f.polar, f.nsides, f.poissonsratio, f.correction);
    };
    for (int face = 0; face < 4; ++face) {
        const std::string name =
            std::string(kTetrahedronFaces[static_cast<std::size_t>(face)].name) + ".ini";
        EXPECT_EQ(sft.dir.read(name), tetrahedron_face_text(sft.st, t, face));
        const PgLoopFile read = read_pgloop_file(sft.dir.str() + name);
        const PgLoopFile mem = tetrahedron_face_loop(sft.st, t, face);
        EXPECT_EQ(fields(read), fields(mem)) << name;
    }
}

// The band of columns a row tests against a face holds every column crossing it, on inclined
// faces (a tetrahedron's, slab as thin as a slice) and on a loop parallel to the surface.
TEST(PgLoop, SlabBandHoldsEveryCrossingColumn) {
    DefectRun run = tetra_run("faulted", "12 12 12", "20.0");
    std::vector<PgLoopFile> loops{read_pgloop_file(pg_run(hexagon()).st.f_defect)};
    for (int face = 0; face < 4; ++face)
        loops.push_back(
            tetrahedron_face_loop(run.st, read_tetrahedron_file(run.st.f_defect), face));
    int crossing = 0, tested = 0;
    for (const PgLoopFile& f : loops) {
        const PgLoopKernel k(run.st, f);
        for (double z = -12.0; z <= 12.0; z += 0.7)
            for (double y = -13.0; y <= 13.0; y += 0.9) {
                const auto [first, last] = k.slab_columns(0.5, 13.0, y, z, 53, 0.26);
                tested += std::max(0, last - first + 1);
                for (int i = 1; i <= 53; ++i) {
                    if (!k.crosses({(i - 0.5) * 0.5 - 13.0, y, z}, 0.26)) continue;
                    ++crossing;
                    ASSERT_TRUE(i >= first && i <= last) << i << ' ' << y << ' ' << z;
                }
            }
    }
    EXPECT_GT(crossing, 100);
    EXPECT_LT(tested, 53 * 38 * 29 * 2); // the inclined faces test few columns of a row
}
