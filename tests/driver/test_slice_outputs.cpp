// The slice outputs the driver adds around the defect models.
#include "defects/fixture.hpp"
#include "defects/tetrahedron.hpp"
#include "driver/defect_files.hpp"
#include "driver/slice_outputs.hpp"
#include "state/image_file.hpp"
#include "state/textout.hpp"

namespace korvex::testing {

namespace {

DefectRun& wrapped(DefectRun& run, bool writer = true) {
    run.field = with_slice_outputs(std::move(run.field), run.st, writer);
    return run;
}

} // namespace

// The edge prints each slice's line; the circular loop rewrites the maps "<f_out>sgr01".."05"
// (one per beam) with that slice's terms, on the writer only.
TEST(SliceOutputs, EdgeLineLoopMapsAndTetrahedronFaceFiles) {
    DefectRun edge(1, "edge.ini", edge_ini("1 2 1 1 0", "30 20 90", "1 -1 2"));
    wrapped(edge).slice(3).slice(4);
    EXPECT_EQ(edge.console.str(), " m= 3\n m= 4\n");

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

    // The tetrahedron's face files, written each slice, describe the loops the model holds.
    DefectRun sft(6, "tetrahedron.ini",
                  config("{sft}", {"'faulted SFT'", "12.3 11.7 12.1", "14.1", "0.31", "1.07"}),
                  "no", cube(24));
    wrapped(sft).slice(5);
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

} // namespace korvex::testing
