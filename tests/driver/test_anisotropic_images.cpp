// Whole runs with the anisotropic straight dislocations in Cu (g = 2 0 0, zone axis 0 0 1):
// stored files read as before, the anisotropic images differ, and the invisibility that
// symmetry keeps survives while the one isotropy alone gives does not.
#include "driver/image_readback.hpp"
#include "support/input_files.hpp"

using namespace korvex;
using namespace korvex::testing;

namespace {

const char* const kBeams[] = {"-01g", "00g", "01g"};

struct AnisoRun : KorvexRun {
    AnisoRun(const InputSpec& in, const std::string& config) : KorvexRun(in) {
        EXPECT_TRUE(run(config)) << output;
    }
    int differing(const AnisoRun& o) const {
        int n = 0;
        for (const char* b : kBeams) n += differing_columns(image(b), o.image(b));
        return n;
    }
};

InputSpec spec(const std::string& defect) {
    InputSpec s{.ca = "no", .defect = defect, .size_x = 16, .size_y = 4, .size_z = 200};
    s.f_g = 1.6;
    return s;
}

std::string screw(const std::string& b, const std::string& cut, const std::string& tail = "") {
    return "{screw}\n===\n" + b + "\n8.0 2.0 100.0\n" + cut + "\n0\n" + tail;
}
std::string edge(const std::string& b, const std::string& line, const std::string& tail = "") {
    return "{edge}\n===\n" + b + "\n8.0 2.0 100.0\n" + line + "\n0.34\n0.5\n0\n" + tail;
}

} // namespace

// A file without the record and one saying "isotropic" write the same image files, byte for
// byte; "anisotropic" changes the images of a visible edge and screw, and the report lists the
// constants used next to the Poisson ratio and core factor still read.
TEST(AnisotropicImages, IsotropicByDefaultAndDifferentWhenAsked) {
    for (const bool is_edge : {true, false}) {
        const InputSpec in = spec(is_edge ? "edge" : "screw");
        auto file = [&](const std::string& tail) {
            return is_edge ? edge("1 2 1 0 1", "0 1 0", tail) : screw("1 2 1 1 0", "0 0 1", tail);
        };
        const AnisoRun old(in, file("")), iso(in, file("isotropic   elasticity\n\n"));
        const AnisoRun aniso(in, file("anisotropic\n"));
        for (const char* b : kBeams)
            EXPECT_EQ(read_file(old.file(std::string("in") + b)),
                      read_file(iso.file(std::string("in") + b)));
        EXPECT_GT(aniso.differing(old), 16) << in.defect;
        const std::string par = read_file(aniso.file("in.par"));
        EXPECT_NE(par.find("168.4"), std::string::npos) << par;
        EXPECT_EQ(par.find("0.34") != std::string::npos, is_edge) << par;
    }
}

// g.b = 0: a screw along the two-fold axis [0 1 1] and an edge on the four-fold line [1 0 0]
// (g.(b x l) = 0) stay invisible, their planes being mirror planes of the crystal; a screw along
// [0 1 2], no symmetry axis, moves atoms across its line and shows.
TEST(AnisotropicImages, InvisibilityThatSymmetryKeeps) {
    const AnisoRun perfect(spec("no"), "");
    EXPECT_EQ(
        perfect.differing(AnisoRun(spec("screw"), screw("1 2 0 1 1", "1 0 0", "anisotropic\n"))),
        0);
    EXPECT_EQ(
        perfect.differing(AnisoRun(spec("edge"), edge("1 2 0 1 1", "1 0 0", "anisotropic\n"))), 0);
    EXPECT_EQ(perfect.differing(AnisoRun(spec("screw"), screw("1 2 0 1 2", "1 0 0"))), 0);
    EXPECT_GT(
        perfect.differing(AnisoRun(spec("screw"), screw("1 2 0 1 2", "1 0 0", "anisotropic\n"))),
        8);
}

// The isotropic surface relaxation cannot be combined with the anisotropic field; a word that is
// neither choice is refused naming the file and record.
TEST(AnisotropicImages, RefusedCombinations) {
    KorvexRun relaxed(spec("screw")), typo(spec("edge"));
    EXPECT_FALSE(relaxed.run("{screw}\n===\n1 2 0 1 1\n8 2 0\n1 0 0\n1\nanisotropic\n"));
    EXPECT_NE(relaxed.output.find("surface relaxation of the screw dislocation is isotropic"),
              std::string::npos)
        << relaxed.output;
    EXPECT_FALSE(typo.run(edge("1 2 1 0 1", "0 1 0", "anisotropc\n")));
    EXPECT_NE(typo.output.find("record 9 holds \"anisotropc\""), std::string::npos) << typo.output;
}
