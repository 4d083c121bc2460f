// Whole runs with the anisotropic straight dislocations in Cu (g = 2 0 0, zone axis 0 0 1).
#include "driver/image_readback.hpp"
#include "support/input_files.hpp"

using namespace korvex;
using namespace korvex::testing;

namespace {

struct AnisoRun : KorvexRun {
    // b, then the line (edge) or cut-plane normal (screw), then the optional record.
    AnisoRun(const std::string& defect, const std::string& b = "", const std::string& line = "",
             const std::string& tail = "")
        : KorvexRun(InputSpec{.defect = defect, .size_x = 16, .size_y = 4, .size_z = 120}) {
        const std::string rest = defect == "edge" ? "\n0.34\n0.5\n0\n" : "\n0\n";
        EXPECT_TRUE(run(b.empty() ? "" : "{x}\n===\n" + b + "\n8 2 60\n" + line + rest + tail))
            << output;
    }
    int differing(const AnisoRun& o) const {
        int n = 0;
        for (const char* b : {"-01g", "00g", "01g"}) n += differing_columns(image(b), o.image(b));
        return n;
    }
};

} // namespace

// No record and "isotropic" give the same files; "anisotropic" changes the images, the report
// listing the constants. g.b = 0: a screw along [0 1 1] and an edge on [1 0 0] stay invisible
// (mirror planes of the crystal); a screw along [0 1 2], no symmetry axis, shows.
TEST(AnisotropicImages, IsotropicByDefaultSymmetryKeepsInvisibility) {
    for (const char* d : {"edge", "screw"}) {
        const std::string b = d[0] == 'e' ? "1 2 1 0 1" : "1 2 1 1 0",
                          l = d[0] == 'e' ? "0 1 0" : "0 0 1";
        const AnisoRun old(d, b, l), iso(d, b, l, "isotropic  x\n\n"),
            aniso(d, b, l, "anisotropic\n");
        for (const char* beam : {"-01g", "00g", "01g"})
            EXPECT_EQ(read_file(old.file(std::string("in") + beam)),
                      read_file(iso.file(std::string("in") + beam)));
        EXPECT_GT(aniso.differing(old), 16) << d;
        const std::string par = read_file(aniso.file("in.par"));
        EXPECT_TRUE(contains(par, "168.4 121.4 75.4")) << par;
        EXPECT_EQ(par.find("0.34") != std::string::npos, d[0] == 'e') << par;
    }
    const AnisoRun perfect("no");
    EXPECT_EQ(perfect.differing(AnisoRun("screw", "1 2 0 1 1", "1 0 0", "anisotropic\n")), 0);
    EXPECT_EQ(perfect.differing(AnisoRun("edge", "1 2 0 1 1", "1 0 0", "anisotropic\n")), 0);
    EXPECT_EQ(perfect.differing(AnisoRun("screw", "1 2 0 1 2", "1 0 0")), 0);
    EXPECT_GT(perfect.differing(AnisoRun("screw", "1 2 0 1 2", "1 0 0", "anisotropic\n")), 8);
}
