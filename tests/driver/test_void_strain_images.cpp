// Whole runs of the korvex program with a spherical void and with a strain field read from
// gradient files, each checked against a run whose image is known: the perfect crystal, a
// thinner perfect foil, and the analytic edge dislocation whose field the files hold.
#include "defects/gradient_files.hpp"
#include "state/image_file.hpp"
#include "support/input_files.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

using namespace korvex;
using namespace korvex::testing;

namespace {

// One run of the program in its own scratch directory.
struct ProgramRun {
    ScratchDir dir;
    std::string output;

    explicit ProgramRun(const InputSpec& in) {
        dir.write("filesystem.ini", filesystem_text());
        dir.write("in", input_text(in));
    }
    // Runs the input with the defect configuration file `config` (none when empty).
    int go(const std::string& config = "") {
        return run_program(dir.path().string(), "-t in " + config, output);
    }
    ImageData image(const std::string& file) const { return read_image_file(dir.str() + file); }
};

// The image file of beam m g of the input "in".
std::string beam_file(int m) {
    char b[16];
    std::snprintf(b, sizeof b, m < 0 ? "in%03dg" : "in%02dg", m);
    return b;
}

// The images hold four significant digits (1PE12.3). Two results that are equal but for
// floating-point rounding print the same digits, or, at a rounding boundary of the last digit,
// digits one unit apart; nothing larger is tolerated.
bool same_printed(double a, double b) {
    const double m = std::max(std::abs(a), std::abs(b));
    if (m == 0.0) return true;
    const double unit = std::pow(10.0, std::floor(std::log10(m)) - 3.0);
    return std::abs(a - b) <= 1.01 * unit;
}

// Columns of two images of one grid whose values differ beyond the printed precision.
int differing_columns(const ImageData& a, const ImageData& b, std::string& first) {
    int n = 0;
    for (int i = 1; i <= a.nx(); ++i)
        for (int j = 1; j <= a.ny(); ++j)
            if (!same_printed(a.values(i, j), b.values(i, j)) && n++ == 0) {
                std::ostringstream o;
                o << "column " << i << ' ' << j << ": " << a.values(i, j) << " against "
                  << b.values(i, j);
                first = o.str();
            }
    return n;
}

std::string void_file(double radius, double x, double y, double z) {
    std::ostringstream o;
    o << "             {Data for the spherical void}\n"
      << std::string(67, '=') << '\n'
      << radius << "   Radius of the void in Angstrom\n"
      << x << ' ' << y << ' ' << z << "   Position of the void centre in Angstrom\n";
    return o.str();
}

std::string strain_file(const std::string& base) {
    return "             {Data for the strain field of an atomistic box}\n" + std::string(67, '=') +
           "\n'" + base + "'   Base name of the gradient files\n";
}

// The grid and crystal of an input, as the gradient files must describe them (Cu).
GradientBox box_of(const InputSpec& in, std::array<int, 3> cells) {
    GradientBox box;
    box.size = {in.size_x, in.size_y, in.size_z};
    box.cells = cells;
    box.foil = {0, 0, 1};
    box.v_g = {2, 0, 0};
    box.lat_c = 3.61;
    return box;
}

} // namespace

TEST(VoidImages, VoidMissingTheFoilGivesThePerfectCrystalImage) {
    // Without the column approximation, so that the lateral shift of the beams runs too.
    InputSpec in;
    in.size_x = 12;
    in.size_y = 10;
    in.size_z = 16;
    ProgramRun perfect(in);
    ASSERT_EQ(perfect.go(), 0) << perfect.output;
    in.defect = "void";
    ProgramRun holed(in);
    // Above the entrance surface: the sphere reaches down to z = -5.
    holed.dir.write("void.ini", void_file(15.0, 6.0, 5.0, -20.0));
    ASSERT_EQ(holed.go("void.ini"), 0) << holed.output;
    for (int m = -1; m <= 1; ++m)
        EXPECT_EQ(holed.dir.read(beam_file(m)), perfect.dir.read(beam_file(m))) << beam_file(m);
}

TEST(VoidImages, ColumnsThroughAVoidSeeTheFoilLessItsChord) {
    // A void of radius 10 centred on column (9, 9) in the middle of a 20 Angstrom foil of
    // 1 Angstrom slices, with the column approximation so that columns do not mix. Its centre
    // lies on a slice boundary, so a column at a whole-number distance r with
    // h = sqrt(100 - r^2) whole has a chord of 2h slices exactly: r = 8 gives 12, r = 6 gives
    // 16; the column through the centre has the void through the whole foil. A column meets
    // the slice matrix of the perfect crystal once per crystal slice, as the thinner foil does,
    // so the two agree to the printed digits.
    InputSpec in;
    in.ca = "yes";
    in.defect = "void";
    in.size_x = in.size_y = 16;
    in.size_z = 20;
    ProgramRun holed(in);
    holed.dir.write("void.ini", void_file(10.0, 8.5, 8.5, 10.0));
    ASSERT_EQ(holed.go("void.ini"), 0) << holed.output;

    struct Column {
        int i, j;
        double thickness; // of crystal left in the column
    };
    const std::vector<Column> columns{{1, 9, 8.0}, {9, 3, 4.0}, {1, 1, 20.0}};
    for (const Column& c : columns) {
        InputSpec thin;
        thin.ca = "yes";
        thin.size_x = thin.size_y = 2;
        thin.size_z = c.thickness;
        ProgramRun perfect(thin);
        ASSERT_EQ(perfect.go(), 0) << perfect.output;
        for (int m = -1; m <= 1; ++m) {
            const double got = holed.image(beam_file(m)).values(c.i, c.j);
            const double want = perfect.image(beam_file(m)).values(1, 1);
            EXPECT_TRUE(same_printed(got, want))
                << beam_file(m) << " column " << c.i << ' ' << c.j << ": " << got
                << ", a perfect foil of " << c.thickness << " Angstrom gives " << want;
        }
    }
    // Where the void spans the whole thickness the incident wave leaves unchanged.
    EXPECT_EQ(holed.image(beam_file(0)).values(9, 9), 1.0);
    EXPECT_EQ(holed.image(beam_file(1)).values(9, 9), 0.0);
    EXPECT_EQ(holed.image(beam_file(-1)).values(9, 9), 0.0);
}

TEST(StrainImages, ZeroGradientFieldGivesThePerfectCrystalImage) {
    // Cell sizes that are not whole numbers: the files must carry them exactly.
    InputSpec in;
    in.size_x = 10.6; // 11 columns
    in.size_y = 9;
    in.size_z = 15.3; // 15 slices
    ProgramRun perfect(in);
    ASSERT_EQ(perfect.go(), 0) << perfect.output;
    in.defect = "3D-strain";
    ProgramRun strained(in);
    write_gradient_files(strained.dir.str() + "box", box_of(in, {11, 9, 15}), zero_gradient);
    strained.dir.write("strain.ini", strain_file("box"));
    ASSERT_EQ(strained.go("strain.ini"), 0) << strained.output;
    for (int m = -1; m <= 1; ++m)
        EXPECT_EQ(strained.dir.read(beam_file(m)), perfect.dir.read(beam_file(m))) << beam_file(m);
}

TEST(StrainImages, EdgeFieldFilesGiveTheEdgeModelsImage) {
    // The files sample the edge field at the cell centres, the points at which the edge model
    // evaluates it, and hold every value to the last bit; the two images then differ only by
    // the rounding of two orders of the same arithmetic, far below the printed digits. With
    // and without the column approximation: only without it does the x derivative enter.
    const std::string edge = "             {Data for the edge dislocation in Crystal}\n" +
                             std::string(67, '=') +
                             "\n1 2 1 1 0        Burger vector m/n[i,j,k]\n"
                             "5.3 6.6 6.0      A point that the edge dislocation passes\n"
                             "1 -1 0           Dislocation line\n"
                             "0.3              Poissons ratio\n"
                             "1.0              A factor to avoid the singularity\n";
    for (const char* ca : {"no", "yes"}) {
        SCOPED_TRACE(std::string("column approximation ") + ca);
        InputSpec in;
        in.ca = ca;
        in.size_x = in.size_y = 12;
        in.size_z = 16;
        in.last = 3;
        in.defect = "edge";
        ProgramRun analytic(in);
        analytic.dir.write("edge.ini", edge);
        ASSERT_EQ(analytic.go("edge.ini"), 0) << analytic.output;

        in.defect = "3D-strain";
        ProgramRun files(in), unflipped(in);
        const GradientBox box = box_of(in, {12, 12, 16});
        const EdgeGradient field(read_edge_configuration(analytic.dir.str() + "edge.ini"), box);
        write_gradient_files(files.dir.str() + "edge", box, field);
        files.dir.write("strain.ini", strain_file("edge"));
        ASSERT_EQ(files.go("strain.ini"), 0) << files.output;
        // The physical depth derivative dR/dz in ".dZ" is the opposite field in depth.
        write_gradient_files(unflipped.dir.str() + "edge", box, [&field](const Vec3& p) {
            Gradient d = field(p);
            for (double& v : d[2]) v = -v;
            return d;
        });
        unflipped.dir.write("strain.ini", strain_file("edge"));
        ASSERT_EQ(unflipped.go("strain.ini"), 0) << unflipped.output;

        int flipped_columns = 0;
        for (int m = -1; m <= 3; ++m) {
            const ImageData want = analytic.image(beam_file(m));
            std::string first;
            EXPECT_EQ(differing_columns(files.image(beam_file(m)), want, first), 0)
                << beam_file(m) << ", first at " << first;
            flipped_columns += differing_columns(unflipped.image(beam_file(m)), want, first);
        }
        // The dislocation shows, and the sign of the depth derivative matters to it.
        const ImageData dark = analytic.image(beam_file(1));
        double lo = dark.values(1, 1), hi = lo;
        for (int i = 1; i <= 12; ++i)
            for (int j = 1; j <= 12; ++j) {
                lo = std::min(lo, dark.values(i, j));
                hi = std::max(hi, dark.values(i, j));
            }
        EXPECT_GT(hi - lo, 0.2 * hi);
        EXPECT_GT(flipped_columns, 5 * 12 * 12 / 2);
    }
}
