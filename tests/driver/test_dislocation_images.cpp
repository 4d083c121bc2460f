// Whole runs of the korvex program with straight dislocations, asserted on the images it writes.
//
// Cu, g = 2 0 0, zone axis 0 0 1, 200 kV: the program prints the extinction distance
// xi_g = k / U_g = 39.888 / 0.093558 = 426.4 Angstrom. The condition (g, 1.6g) gives
// s_g = 0.6 g^2 lambda / 2 = +0.0023085 1/Angstrom, so w = s_g xi_g = 0.98; (g, 0.4g) gives the
// same s_g with the other sign. Columns are 1 Angstrom wide and slices 1 Angstrom thick.
//
// With g along x, a screw dislocation with g.b != 0 cannot lie along y: its line is b, and
// b has the x component g.b / |g|. The screws below take b = 1/2[1 1 0] in the foil plane, so
// their projected line runs diagonally: it crosses row j (y = j - 0.5) at x = x0 + j - 0.5, and
// a column dx from that crossing lies dx / sqrt 2 from the projected line.
#include "state/image_file.hpp"
#include "support/input_files.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

using namespace korvex;
using namespace korvex::testing;

namespace {

constexpr double kXiG = 426.365; // Cu 2 0 0 at 200 kV, Angstrom

struct DislocationRun {
    ScratchDir dir;
    int status = -1;
    std::string output;

    // Runs the input `in`; `file` names the defect configuration file holding `config`.
    DislocationRun(const InputSpec& in, const std::string& file = "",
                   const std::string& config = "") {
        dir.write("filesystem.ini", filesystem_text());
        dir.write("in", input_text(in));
        std::string args = "-t in";
        if (!file.empty()) {
            dir.write(file, config);
            args += " " + file;
        }
        status = run_program(dir.path().string(), args, output);
    }
    ImageData image(const std::string& beam) const {
        return read_image_file(dir.str() + "in" + beam);
    }
    // The number after the colon of the summary line that starts with `label`.
    double printed(const std::string& label) const {
        for (const auto& line : split_lines(output)) {
            const auto first = line.find_first_not_of(' ');
            if (first != std::string::npos && line.compare(first, label.size(), label) == 0 &&
                line.find(':') != std::string::npos)
                return std::strtod(line.c_str() + line.find(':') + 1, nullptr);
        }
        ADD_FAILURE() << "no line " << label << " in\n" << output;
        return 0.0;
    }
};

InputSpec two_beams(double f_g, double width_x, double width_y, double thickness) {
    InputSpec s;
    s.ca = "yes"; // untilted beams: the column of each pixel sees only its own strain
    s.first = 0;
    s.last = 1;
    s.f_g = f_g;
    s.size_x = width_x;
    s.size_y = width_y;
    s.size_z = thickness;
    return s;
}

InputSpec with_defect(InputSpec s, const std::string& defect) {
    s.defect = defect;
    return s;
}

std::string screw_file(const std::string& b, const std::string& point,
                       const std::string& cut_plane = "1 -1 1") {
    return "             {Data for the screw dislocation in Crystal}\n" + std::string(67, '=') +
           "\n" + b + "\n" + point + "\n" + cut_plane + "\n0\n";
}

std::string edge_file(const std::string& b, const std::string& point, const std::string& line) {
    return "             {Data for the edge dislocation in Crystal}\n" + std::string(67, '=') +
           "\n" + b + "\n" + point + "\n" + line + "\n0.34\n0.0\n0\n";
}

// One row of an image on both sides of the projected line, which crosses the row at the
// border after column `border`: at(+1, k) is the k-th column to the right, at(-1, k) the k-th
// to the left.
struct Across {
    const ImageData& img;
    int j, border;
    double at(int side, int k) const {
        return img.values(side > 0 ? border + k : border + 1 - k, j);
    }
    int reach() const { return std::min(border, img.nx() - border); }
};

bool same_intensity(double a, double b) {
    // The image files hold four significant digits.
    return std::abs(a - b) <= 2e-3 * std::abs(b) + 1e-7;
}

void expect_same_images(const DislocationRun& a, const DislocationRun& b,
                        const std::vector<std::string>& beams, const std::string& what) {
    for (const auto& beam : beams) {
        const ImageData x = a.image(beam), y = b.image(beam);
        ASSERT_EQ(x.nx(), y.nx());
        ASSERT_EQ(x.ny(), y.ny());
        for (int j = 1; j <= x.ny(); ++j)
            for (int i = 1; i <= x.nx(); ++i)
                ASSERT_TRUE(same_intensity(x.values(i, j), y.values(i, j)))
                    << what << ", beam " << beam << ", column " << i << ' ' << j;
    }
}

} // namespace

// A screw dislocation with g.b = 1 lying at mid-depth in a foil five extinction distances
// thick, w = +1. The displacement g.R = (g.b) theta / 2 pi tilts the reflecting planes about the
// line, so near the dislocation's depth the local deviation s_g + s_g_r falls to zero on one
// side of the core (at about g.b / (2 pi s_g) = 69 Angstrom) and grows on the other. The
// bright field then shows one dark line, on the side where s_g_r opposes s_g, darkest 5
// Angstrom from the core and about a fifth of xi_g wide (86 Angstrom at half depth). Turning the
// foil into (g, 0.4g) reverses s_g: the two-beam dark field obeys I_g(dx, s) = I_g(-dx, -s) for a
// dislocation at mid-depth, with absorption too, so its image is mirrored about the core. The
// bright field is not: anomalous absorption transmits the s > 0 side of the rocking curve far
// better (perfect crystal 0.41 against 0.09 here), and at w = -1 the whole bright field is dark,
// with its darkest part still on the same side.
TEST(DislocationImages, ScrewShowsOneDarkLineBesideTheCoreThatFollowsTheSignOfS) {
    constexpr double thickness = 2132; // 5.00 xi_g
    const InputSpec plus = two_beams(1.6, 400, 2, thickness);
    const InputSpec minus = two_beams(0.4, 400, 2, thickness);
    // b = 1/2[1 1 0], g.b = 1; the line crosses row j at x = 199 + j, a column border.
    const std::string screw = screw_file("1 2 1 1 0", "199.5 0.0 1066.0");

    DislocationRun perfect(plus);
    DislocationRun pos(with_defect(plus, "screw"), "screw.ini", screw);
    DislocationRun neg(with_defect(minus, "screw"), "screw.ini", screw);
    ASSERT_EQ(perfect.status, 0) << perfect.output;
    ASSERT_EQ(pos.status, 0) << pos.output;
    ASSERT_EQ(neg.status, 0) << neg.output;

    const double xi = pos.printed("Extinction distance");
    const double s = pos.printed("s_g");
    EXPECT_NEAR(xi, kXiG, 0.01);
    EXPECT_NEAR(s * xi, 1.0, 0.05);
    EXPECT_NEAR(thickness / xi, 5.0, 0.05);
    EXPECT_NEAR(neg.printed("s_g"), -s, 1e-9);

    const double background = perfect.image("00g").values(1, 1);
    const ImageData bf = pos.image("00g");
    const ImageData df_pos = pos.image("01g"), df_neg = neg.image("01g");
    // Local change of s_g at the middle slice, 0.5 Angstrom above the line.
    const ImageData sgr = pos.image("01gsgr");
    for (int j = 1; j <= 2; ++j) {
        const int border = 199 + j;
        const Across b{bf, j, border};
        const int reach = b.reach();

        // The darkest column, leaving out the two columns astride the core, whose strain
        // the 1-Angstrom slices sample too coarsely.
        int dark_side = 0, dark_k = 0;
        double darkest = 2.0;
        for (int side : {-1, 1})
            for (int k = 2; k <= reach; ++k)
                if (b.at(side, k) < darkest) {
                    darkest = b.at(side, k);
                    dark_side = side;
                    dark_k = k;
                }
        const Across strain{sgr, j, border};
        EXPECT_LT(strain.at(dark_side, dark_k), 0.0) << "the line lies where s_g_r opposes s_g";
        EXPECT_GT(strain.at(-dark_side, dark_k), 0.0);
        EXPECT_LT(dark_k, 0.1 * kXiG) << "row " << j << ": the line lies beside the core";
        EXPECT_LT(darkest, 0.1 * background);

        // One line: the far side grows steadily darker towards the core and is brighter than
        // the mirror column over 100 columns; beyond the minimum the line side brightens
        // steadily to the edge of the image.
        for (int k = 2; k < reach; ++k)
            EXPECT_GE(b.at(-dark_side, k + 1), b.at(-dark_side, k) * (1 - 1e-3)) << k;
        for (int k = dark_k; k < reach; ++k)
            EXPECT_GE(b.at(dark_side, k + 1), b.at(dark_side, k) * (1 - 1e-3)) << k;
        for (int k = 2; k <= 100; ++k) EXPECT_LT(b.at(dark_side, k), b.at(-dark_side, k)) << k;

        // Full width at half depth below the perfect crystal, across the projected line.
        const double half = 0.5 * (background + darkest);
        int out = dark_k, in = 2;
        while (out < reach && b.at(dark_side, out) < half) ++out;
        while (in < reach && b.at(-dark_side, in) < half) ++in;
        ASSERT_LT(out, reach);
        ASSERT_LT(in, reach);
        const double width = ((out - 0.5) + (in - 0.5)) / std::sqrt(2.0);
        EXPECT_GT(width, kXiG / 8) << "row " << j;
        EXPECT_LT(width, kXiG / 2) << "row " << j;

        // Reversing s mirrors the dark field about the core, and the image is not symmetric
        // by itself.
        const Across p{df_pos, j, border}, n{df_neg, j, border};
        double asymmetry = 0.0;
        for (int k = 1; k <= reach; ++k) {
            EXPECT_TRUE(same_intensity(n.at(1, k), p.at(-1, k))) << "row " << j << " k " << k;
            EXPECT_TRUE(same_intensity(n.at(-1, k), p.at(1, k))) << "row " << j << " k " << k;
            asymmetry = std::max(asymmetry, std::abs(p.at(1, k) - p.at(-1, k)) / p.at(-1, k));
        }
        EXPECT_GT(asymmetry, 0.05);
    }
}

// Reversing b at a fixed line direction negates the displacement field. For an edge
// dislocation at mid-depth a column at dx then sees the strain of the column at -dx with the
// depth reversed, and the bright field, which does not change when the foil is turned upside
// down, is mirrored about the core. A screw dislocation takes its line along b, so -b is the
// same dislocation seen from the other end and gives the same images.
TEST(DislocationImages, ReversedBurgersVectorMirrorsTheEdgeAndLeavesTheScrew) {
    InputSpec s = two_beams(1.6, 200, 2, 600);
    s.first = -1;
    DislocationRun edge(with_defect(s, "edge"), "edge.ini",
                        edge_file("1 2 1 0 1", "100.0 0.0 300.0", "0 1 0"));
    DislocationRun reversed(with_defect(s, "edge"), "edge.ini",
                            edge_file("1 2 -1 0 -1", "100.0 0.0 300.0", "0 1 0"));
    ASSERT_EQ(edge.status, 0) << edge.output;
    ASSERT_EQ(reversed.status, 0) << reversed.output;
    const ImageData a = edge.image("00g"), b = reversed.image("00g");
    double asymmetry = 0.0;
    for (int j = 1; j <= 2; ++j) {
        const Across x{a, j, 100}, y{b, j, 100};
        for (int k = 1; k <= 100; ++k) {
            EXPECT_TRUE(same_intensity(y.at(1, k), x.at(-1, k))) << "row " << j << " k " << k;
            EXPECT_TRUE(same_intensity(y.at(-1, k), x.at(1, k))) << "row " << j << " k " << k;
            asymmetry = std::max(asymmetry, std::abs(x.at(1, k) - x.at(-1, k)) / x.at(-1, k));
        }
    }
    EXPECT_GT(asymmetry, 0.2);

    DislocationRun screw(with_defect(s, "screw"), "screw.ini",
                         screw_file("1 2 1 1 0", "99.5 0.0 300.0"));
    DislocationRun minus(with_defect(s, "screw"), "screw.ini",
                         screw_file("1 2 -1 -1 0", "99.5 0.0 300.0"));
    ASSERT_EQ(screw.status, 0) << screw.output;
    ASSERT_EQ(minus.status, 0) << minus.output;
    expect_same_images(screw, minus, {"-01g", "00g", "01g"}, "screw with -b");
}

// A screw dislocation with g.b = 2 (b = [1 1 0]) at the Bragg condition, in a foil three
// extinction distances thick, at five depths: the dark field shows two lines, one on each
// side of the core, where g.b = 1 (b = 1/2[1 1 0]) shows one. An image line on a side is a
// maximum at least 10 Angstrom from the core that stands out from the perfect crystal
// (factor 1.5) and from the edge of the image (factor 1.2). At mid-depth the g.b = 1 image is
// symmetric and weak, so the comparison leaves that depth out.
TEST(DislocationImages, TwoQuantaOfGbGiveADoubleDarkFieldImage) {
    constexpr double thickness = 1279; // 3.00 xi_g
    const InputSpec s = two_beams(1.0, 400, 1, thickness);
    DislocationRun perfect(s);
    ASSERT_EQ(perfect.status, 0) << perfect.output;
    const double background = perfect.image("01g").values(1, 1);

    // Number of sides of the core showing a line.
    auto lines = [&](const std::string& b, int depth) {
        DislocationRun run(with_defect(s, "screw"), "screw.ini",
                           screw_file(b, "199.5 0.0 " + std::to_string(depth)));
        EXPECT_EQ(run.status, 0) << run.output;
        if (run.status != 0) return -1;
        const ImageData df = run.image("01g");
        const Across a{df, 1, 200};
        int count = 0;
        for (int side : {-1, 1}) {
            int best = 2;
            for (int k = 2; k <= a.reach(); ++k)
                if (a.at(side, k) > a.at(side, best)) best = k;
            const double peak = a.at(side, best);
            count += best >= 10 && peak > 1.5 * background && peak > 1.2 * a.at(side, a.reach());
        }
        return count;
    };
    for (int sixth = 1; sixth <= 5; ++sixth) {
        const int depth = static_cast<int>(std::lround(thickness * sixth / 6.0));
        EXPECT_EQ(lines("1 1 1 1 0", depth), 2) << "g.b = 2 at depth " << depth;
        if (sixth != 3) {
            EXPECT_EQ(lines("1 2 1 1 0", depth), 1) << "g.b = 1 at depth " << depth;
        }
    }
}

// g.b = 0 leaves a screw dislocation without contrast; an edge dislocation needs
// g.(b x l) = 0 as well (its line along g), and with g.(b x l) != 0 its bending of the
// planes shows. Without the column approximation the tilted beams also take the
// x-derivative of g.R; it vanishes with the rest.
TEST(DislocationImages, GbZeroLeavesThePerfectCrystal) {
    InputSpec s = two_beams(1.6, 16, 4, 200);
    s.ca = "no";
    s.first = -1;
    const std::vector<std::string> beams{"-01g", "00g", "01g"};
    DislocationRun perfect(s);
    ASSERT_EQ(perfect.status, 0) << perfect.output;

    // b = 1/2[0 1 1] crossing the foil obliquely through the middle of the image.
    DislocationRun screw(with_defect(s, "screw"), "screw.ini",
                         screw_file("1 2 0 1 1", "8.0 2.0 100.0", "1 0 0"));
    ASSERT_EQ(screw.status, 0) << screw.output;
    expect_same_images(perfect, screw, beams, "screw, g.b = 0");

    DislocationRun edge(with_defect(s, "edge"), "edge.ini",
                        edge_file("1 2 0 1 1", "8.0 2.0 100.0", "1 0 0"));
    ASSERT_EQ(edge.status, 0) << edge.output;
    expect_same_images(perfect, edge, beams, "edge, g.b = 0 and g.(b x l) = 0");

    // The same b on the line [0 1 -1]: g.(b x l) = -2.
    DislocationRun bent(with_defect(s, "edge"), "edge.ini",
                        edge_file("1 2 0 1 1", "8.0 2.0 100.0", "0 1 -1"));
    ASSERT_EQ(bent.status, 0) << bent.output;
    const ImageData p = perfect.image("00g"), e = bent.image("00g");
    double contrast = 0.0;
    for (int j = 1; j <= 4; ++j)
        for (int i = 1; i <= 16; ++i)
            contrast =
                std::max(contrast, std::abs(e.values(i, j) - p.values(i, j)) / p.values(i, j));
    EXPECT_GT(contrast, 0.05);
}

// Job 9 with a screw dislocation: for each of the 100 column positions y = -100 .. 100 Angstrom
// (step 2, 0 left out) three record files in the working directory, one record per slice in
// the form (F6.2,1X,F10.5): depth and g.R (".gdr"), depth and s_g z (".sgz"), depth and their
// sum (".tot"), all for the reflection g, which is not the second beam of the row -1 .. 1.
TEST(DislocationImages, AmplitudePhaseRecordsOfAScrew) {
    InputSpec s = two_beams(1.6, 4, 4, 40);
    s.job = 9;
    s.first = -1;
    // b = 1/2[1 1 0] through the point at depth 20; the column (0, y) lies -y / sqrt 2 from it.
    DislocationRun run(with_defect(s, "screw"), "screw.ini",
                       screw_file("1 2 1 1 0", "0.0 0.0 20.0"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(" Amplitude-Phase plotting finished"), std::string::npos);
    const double s_g = run.printed("s_g");
    EXPECT_NEAR(s_g, 0.0023085, 1e-7);

    // Text mode has no screen: every position's diagrams also go to a PostScript file.
    int files = 0, pictures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(run.dir.path())) {
        files += entry.path().extension() == ".gdr";
        pictures += entry.path().extension() == ".ps";
    }
    EXPECT_EQ(files, 100);
    EXPECT_EQ(pictures, 100);
    EXPECT_FALSE(run.dir.exists("in_0.00.gdr"));
    EXPECT_FALSE(run.dir.exists("in_-0.00.gdr"));

    auto field = [](const std::string& line, int from, int width) {
        return std::strtod(line.substr(from, width).c_str(), nullptr);
    };
    auto record = [](double z, double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%6.2f %10.5f", z, v);
        return std::string(buf);
    };
    // g.R counts cycles of g, so whole cycles are invisible: it jumps by g.b = 1 where a
    // column crosses the cut plane on the far side of the line and turns smoothly elsewhere.
    // `change` is the smooth turn from the entrance to the exit surface at each position,
    // `cut` the depth of the last whole-cycle jump (0 if none).
    std::vector<double> change;
    std::vector<int> cut;
    for (int y = -100; y <= 100; y += 2) {
        if (y == 0) continue;
        char text[16];
        std::snprintf(text, sizeof text, "%s%d.00", y < 0 ? "-" : "", std::abs(y));
        const std::string name = std::string("in_") + text;
        const auto gdr = split_lines(run.dir.read(name + ".gdr"));
        const auto sgz = split_lines(run.dir.read(name + ".sgz"));
        const auto tot = split_lines(run.dir.read(name + ".tot"));
        ASSERT_EQ(gdr.size(), 40u) << name;
        ASSERT_EQ(sgz.size(), 40u) << name;
        ASSERT_EQ(tot.size(), 40u) << name;
        double turn = 0.0, steepest = 0.0;
        int steepest_at = 0, cut_at = 0;
        for (int l = 0; l < 40; ++l) {
            const double z = l + 1.0;
            const double gr = field(gdr[l], 7, 10), sz = field(sgz[l], 7, 10);
            EXPECT_EQ(gdr[l], record(z, gr)) << name;
            EXPECT_EQ(sgz[l], record(z, s_g * z)) << name;
            EXPECT_EQ(tot[l].substr(0, 7), record(z, 0.0).substr(0, 7)) << name;
            EXPECT_NEAR(field(tot[l], 7, 10), gr + sz, 1.5e-5) << name;
            if (l == 0) continue;
            const double step = gr - field(gdr[l - 1], 7, 10);
            const double cycles = std::round(step);
            EXPECT_LT(std::abs(step - cycles), 0.2) << name << " z " << z;
            if (cycles != 0.0) cut_at = l;
            turn += step - cycles;
            if (std::abs(step - cycles) > steepest) {
                steepest = std::abs(step - cycles);
                steepest_at = l;
            }
        }
        change.push_back(turn);
        cut.push_back(cut_at);
        // Steepest at the depth of the line: records l - 1 and l hold the slice centres l - 0.5
        // and l + 0.5.
        if (std::abs(y) <= 10) {
            EXPECT_NEAR(steepest_at, 20, 1) << name;
        }
    }
    ASSERT_EQ(change.size(), 100u);
    // Positions -2 and 2 are entries 49 and 50, -100 and 100 the ends. Passing 1.4 Angstrom
    // beside the line g.R turns by nearly (g.b) / 2 = 2 atan(19.5 / 1.41) / 2 pi = 0.477, the
    // far column by 2 atan(19.5 / 70.7) / 2 pi = 0.086; opposite sides turn the other way.
    EXPECT_NEAR(std::abs(change[50]), 0.477, 0.002);
    EXPECT_NEAR(change[49], -change[50], 1e-4);
    EXPECT_NEAR(std::abs(change[99]),
                2 * std::atan(19.5 / (100 / std::sqrt(2.0))) / (2 * std::numbers::pi), 0.002);
    EXPECT_NEAR(change[0], -change[99], 1e-4);
    // The cut plane (1 -1 1) through the line meets the column (0, -2) at depth 18, between
    // the slice centres 17.5 and 18.5; the column (0, 2) crosses the plane on the line's
    // other side, where nothing jumps.
    EXPECT_EQ(cut[49], 18);
    EXPECT_EQ(cut[50], 0);
}
