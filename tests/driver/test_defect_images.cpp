// Whole runs with defects, asserted on their images: straight dislocations against the contrast
// rules, anisotropic ones against symmetry; a fault, voids and empty strain files against runs
// whose images are known.
// Cu, g = 2 0 0, zone axis 0 0 1, 200 kV: xi_g = 426.4 Angstrom; (g, 1.6g) gives
// s_g = +0.0023085 1/Angstrom (w = 0.98), (g, 0.4g) the opposite. Columns and slices are
// 1 Angstrom. The screws take b = 1/2[1 1 0] in the foil plane: the projected line crosses
// row j (y = j - 0.5) at x = x0 + j - 0.5, and a column dx from there lies dx / sqrt 2 from it.
#include "run_kit.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <numbers>

using namespace korvex::testing;

namespace {

constexpr double kXiG = 426.365; // Cu 2 0 0 at 200 kV, Angstrom
const std::vector<std::string> kBeams = {"-01g", "00g", "01g"};

// Two beams (0, g) without the lateral shift: each pixel's column sees only its own strain.
InputSpec two_beams(double f_g, double x, double y, double z, const std::string& defect = "no") {
    InputSpec s{.ca = "yes", .defect = defect, .first = 0, .f_g = f_g};
    s.size_x = x, s.size_y = y, s.size_z = z;
    return s;
}

std::string screw(const std::string& b, const std::string& point,
                  const std::string& cut = "1 -1 1") {
    return "{screw}\n===\n" + b + "\n" + point + "\n" + cut + "\n0\n";
}

std::string edge(const std::string& b, const std::string& point, const std::string& line) {
    return "{edge}\n===\n" + b + "\n" + point + "\n" + line + "\n0.34\n0.0\n0\n";
}

// Row j on both sides of the border after column `border`: at(+1, k) the k-th column right.
struct Across {
    const ImageData& img;
    int j, border;
    double at(int side, int k) const {
        return img.values(side > 0 ? border + k : border + 1 - k, j);
    }
    int reach() const { return std::min(border, img.nx() - border); }
};

// Expects row j of `b` to be that of `a` mirrored about `border`; returns a's own asymmetry.
double expect_mirrored(const ImageData& a, const ImageData& b, int j, int border) {
    const Across x{a, j, border}, y{b, j, border};
    double asymmetry = 0.0;
    for (int k = 1; k <= x.reach(); ++k) {
        EXPECT_TRUE(same_printed(y.at(1, k), x.at(-1, k))) << "row " << j << " k " << k;
        EXPECT_TRUE(same_printed(y.at(-1, k), x.at(1, k))) << "row " << j << " k " << k;
        asymmetry = std::max(asymmetry, std::abs(x.at(1, k) - x.at(-1, k)) / x.at(-1, k));
    }
    return asymmetry;
}

// The records ".gdr", ".sgz", ".tot" of job 9 for the column at y, 40 each.
std::array<Lines, 3> records(const KorvexRun& run, int y) {
    std::array<Lines, 3> r;
    for (std::size_t k = 0; k < 3; ++k) {
        const char* ext = std::array{".gdr", ".sgz", ".tot"}[k];
        r[k] = split_lines(run.dir.read("in_" + std::to_string(y) + ".00" + ext));
        EXPECT_EQ(r[k].size(), 40u) << y << ext << run.output;
        r[k].resize(40);
    }
    return r;
}

double value(const std::string& record) {
    return record.size() > 7 ? std::strtod(record.c_str() + 7, nullptr) : std::nan("");
}

// Whole runs with the anisotropic straight dislocations in Cu (g = 2 0 0, zone axis 0 0 1).
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
        for (const auto& b : kBeams) n += differing_columns(image(b), o.image(b));
        return n;
    }
};

} // namespace

// A screw with g.b = 1 at mid-depth of a foil 5 xi_g thick, w = +1: s_g + s_g_r vanishes on one
// side of the core, and the bright field shows one dark line there, about xi_g / 5 wide. Reversing
// s mirrors the two-beam dark field about the core (I_g(dx, s) = I_g(-dx, -s) at mid-depth).
TEST(DislocationImages, ContrastRulesOfStraightDislocations) {
    constexpr double thickness = 2132; // 5.00 xi_g
    // b = 1/2[1 1 0], g.b = 1; the line crosses row j at x = 199 + j, a column border.
    const std::string config = screw("1 2 1 1 0", "199.5 0.0 1066.0");
    const Sim perfect(two_beams(1.6, 400, 2, thickness));
    const Sim pos(two_beams(1.6, 400, 2, thickness, "screw"), config);
    const Sim neg(two_beams(0.4, 400, 2, thickness, "screw"), config);
    const double xi = pos.printed("Extinction distance"), s = pos.printed("s_g");
    EXPECT_TRUE(near_rel(xi, kXiG, 0, 0.01) && near_rel(s * xi, 1.0, 0, 0.05));
    EXPECT_NEAR(neg.printed("s_g"), -s, 1e-9);

    const double background = perfect.image("00g").values(1, 1);
    const ImageData bf = pos.image("00g");
    // The signed strain map of the middle slice, its picture unclipped.
    const ImageData sgr = pos.image("01gsgr");
    expect_views_match(pos.file("in01gsgr"), sgr);
    EXPECT_TRUE(
        contains(read_tiff(pos.file("in01gsgr.tif")).description, "quantity = strain term"));
    for (int j = 1; j <= 2; ++j) {
        const int border = 199 + j;
        const Across b{bf, j, border}, strain{sgr, j, border};
        const int reach = b.reach(); // the darkest column, the two astride the core left out
        int side = 0, dark_k = 0;
        for (int sd : {-1, 1})
            for (int k = 2; k <= reach; ++k)
                if (side == 0 || b.at(sd, k) < b.at(side, dark_k)) side = sd, dark_k = k;
        const double darkest = b.at(side, dark_k);
        EXPECT_LT(strain.at(side, dark_k), 0.0) << "the line lies where s_g_r opposes s_g";
        EXPECT_GT(strain.at(-side, dark_k), 0.0);
        EXPECT_LT(dark_k, 0.1 * kXiG) << "row " << j << ": the line lies beside the core";
        EXPECT_LT(darkest, 0.1 * background);

        // One line: both sides brighten steadily away from it; the far side is the brighter.
        for (int k = 2; k < reach; ++k) {
            EXPECT_GE(b.at(-side, k + 1), b.at(-side, k) * (1 - 1e-3)) << k;
            EXPECT_TRUE(k < dark_k || b.at(side, k + 1) >= b.at(side, k) * (1 - 1e-3)) << k;
            EXPECT_TRUE(k > 100 || b.at(side, k) < b.at(-side, k)) << k;
        }

        const double half = 0.5 * (background + darkest); // the width at half depth
        int out = dark_k, in = 2;
        while (out < reach && b.at(side, out) < half) ++out;
        while (in < reach && b.at(-side, in) < half) ++in;
        ASSERT_TRUE(out < reach && in < reach);
        const double width = ((out - 0.5) + (in - 0.5)) / std::sqrt(2.0);
        EXPECT_TRUE(width > kXiG / 8 && width < kXiG / 2) << "row " << j << ": " << width;

        EXPECT_GT(expect_mirrored(pos.image("01g"), neg.image("01g"), j, border), 0.05);
    }

    // At the Bragg condition in a foil 3 xi_g thick, at five depths, the dark field of a screw
    // shows a line on each side of the core for g.b = 2 and on one side for g.b = 1 (weak and
    // symmetric at mid-depth, left out): a maximum 10 Angstrom or more from the core standing out
    // from the perfect crystal and from the image's edge.
    constexpr double thick3 = 1279; // 3.00 xi_g
    const double bg3 = Sim(two_beams(1.0, 400, 1, thick3)).image("01g").values(1, 1);
    auto count_lines = [&](const std::string& b, int depth) {
        const Sim run(two_beams(1.0, 400, 1, thick3, "screw"),
                      screw(b, "199.5 0.0 " + std::to_string(depth)));
        const ImageData df = run.image("01g");
        const Across a{df, 1, 200};
        int count = 0;
        for (int side : {-1, 1}) {
            int best = 2;
            for (int k = 2; k <= a.reach(); ++k)
                if (a.at(side, k) > a.at(side, best)) best = k;
            const double peak = a.at(side, best);
            count += best >= 10 && peak > 1.5 * bg3 && peak > 1.2 * a.at(side, a.reach());
        }
        return count;
    };
    for (int sixth = 1; sixth <= 5; ++sixth) {
        const int depth = int(std::lround(thick3 * sixth / 6.0));
        EXPECT_EQ(count_lines("1 1 1 1 0", depth), 2) << "g.b = 2 at depth " << depth;
        if (sixth == 3) continue;
        EXPECT_EQ(count_lines("1 2 1 1 0", depth), 1) << "g.b = 1 at depth " << depth;
    }

    // -b mirrors the bright field of an edge at mid-depth about the core (the foil turned upside
    // down); a screw's -b is the same dislocation seen from the other end.
    InputSpec spec = two_beams(1.6, 200, 2, 600, "edge");
    spec.first = -1;
    const Sim plus(spec, edge("1 2 1 0 1", "100.0 0.0 300.0", "0 1 0"));
    const Sim minus(spec, edge("1 2 -1 0 -1", "100.0 0.0 300.0", "0 1 0"));
    for (int j = 1; j <= 2; ++j)
        EXPECT_GT(expect_mirrored(plus.image("00g"), minus.image("00g"), j, 100), 0.2);
    spec.defect = "screw";
    const Sim a(spec, screw("1 2 1 1 0", "99.5 0.0 300.0")),
        b(spec, screw("1 2 -1 -1 0", "99.5 0.0 300.0"));
    for (const auto& beam : kBeams) EXPECT_EQ(differing_columns(a.image(beam), b.image(beam)), 0);
}

// Job 9: for each column position y = -100 .. 100 Angstrom (step 2, 0 left out) one record
// (F6.2,1X,F10.5) per slice of the depth and g.R (".gdr"), s_g z (".sgz") and their sum (".tot")
// for the reflection g, and a PostScript picture of them (text mode has no screen). An edge's
// records: g.R turns across the line's depth (it crosses the column (0, 10) at depth 20), the sum
// record equal to its parts.
TEST(DislocationImages, AmplitudePhaseRecordsOfAScrewAndAnEdge) {
    InputSpec s = two_beams(1.6, 4, 4, 40, "screw");
    s.job = 9, s.first = -1;
    // b = 1/2[1 1 0] through the point at depth 20; the column (0, y) lies -y / sqrt 2 from it.
    const Sim run(s, screw("1 2 1 1 0", "0.0 0.0 20.0"));
    EXPECT_TRUE(contains(run.output, " Amplitude-Phase plotting finished"));
    const double s_g = run.printed("s_g"), g = 2 / 3.61; // (f_g - 1) g^2 lambda / 2
    EXPECT_TRUE(near_rel(s_g, 0.6 * g * g * electron_wavelength(200) / 2, 1e-3));
    int files = 0, pictures = 0;
    for (const std::string& name : run.dir.names())
        files += name.ends_with(".gdr"), pictures += name.ends_with(".ps");
    EXPECT_EQ(std::pair(files, pictures), std::pair(100, 100));
    EXPECT_FALSE(run.dir.exists("in_0.00.gdr") || run.dir.exists("in_-0.00.gdr"));
    auto record = [](double z, double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%6.2f %10.5f", z, v);
        return std::string(buf);
    };
    // g.R counts cycles: it jumps by g.b = 1 where a column crosses the cut plane and turns
    // smoothly elsewhere; change[y] sums the smooth turns, cut[y] is the last jump's depth.
    std::map<int, double> change;
    std::map<int, int> cut;
    for (int y = -100; y <= 100; y += 2) {
        if (y == 0) continue;
        const auto [gdr, sgz, tot] = records(run, y);
        double steepest = 0.0;
        int steepest_at = 0;
        for (std::size_t l = 0; l < 40; ++l) {
            const double z = double(l) + 1.0, gr = value(gdr[l]);
            EXPECT_EQ(gdr[l], record(z, gr)) << y;
            EXPECT_EQ(sgz[l], record(z, s_g * z)) << y;
            EXPECT_EQ(tot[l].substr(0, 7), record(z, 0.0).substr(0, 7)) << y;
            EXPECT_NEAR(value(tot[l]), gr + value(sgz[l]), 1.5e-5) << y;
            if (l == 0) continue;
            const double step = gr - value(gdr[l - 1]), smooth = step - std::round(step);
            EXPECT_LT(std::abs(smooth), 0.2) << y << " z " << z;
            if (std::round(step) != 0.0) cut[y] = int(l);
            change[y] += smooth;
            if (std::abs(smooth) > steepest) steepest = std::abs(smooth), steepest_at = int(l);
        }
        // Steepest at the line's depth (records l - 1 and l hold the depths l - 0.5, l + 0.5).
        EXPECT_TRUE(std::abs(y) > 10 || std::abs(steepest_at - 20) <= 1) << y << ' ' << steepest_at;
    }
    // Passing 1.4 Angstrom beside the line g.R turns by 2 atan(19.5 / 1.41) / 2 pi = 0.477, the
    // far column by 2 atan(19.5 / 70.7) / 2 pi; opposite sides turn the other way.
    EXPECT_NEAR(std::abs(change[2]), 0.477, 0.002);
    EXPECT_NEAR(change[-2], -change[2], 1e-4);
    EXPECT_NEAR(std::abs(change[100]),
                2 * std::atan(19.5 / (100 / std::sqrt(2.0))) / (2 * std::numbers::pi), 0.002);
    EXPECT_NEAR(change[-100], -change[100], 1e-4);
    // The cut plane (1 -1 1) meets the column (0, -2) at depth 18 (between the slice centres
    // 17.5 and 18.5); the column (0, 2) crosses it on the line's other side: no jump.
    EXPECT_EQ(std::pair(cut[-2], cut[2]), std::pair(18, 0));

    s.defect = "edge";
    const auto [gdr, sgz, tot] = records(Sim(s, edge("1 2 1 1 -1", "0.0 10.0 20.0", "0 1 1")), 10);
    for (std::size_t l = 0; l < 40; ++l)
        EXPECT_NEAR(value(tot[l]), value(gdr[l]) + value(sgz[l]), 1.5e-5) << l;
    EXPECT_GT(std::abs(value(gdr[39]) - value(gdr[0])), 0.01);
}

// A pure fault turns the phase of the columns crossing it by 2 pi g.R: a hexagon of radius 8 on
// (111) shows only inside its projection for g.R = 2/3, nowhere for g.R = 1.
TEST(LoopImages, FaultsVoidsAndEmptyStrainFiles) {
    InputSpec s{.ca = "yes", .size_x = 24, .size_y = 24, .size_z = 24};
    const Sim perfect(s);
    s.defect = "pg_loop";
    // g.R = (2 0 0).(1/3)[1 1 1] = 2/3 and (2 0 0).(1/2)[1 1 0] = 1.
    for (const std::string fault : {"1 3 1 1 1", "1 2 1 1 0"}) {
        SCOPED_TRACE("R = " + fault);
        const Sim loop(s, "{loop}\n===\npureSF\n1 3 1 1 1\n" + fault +
                              "\n8.0\n12.0 12.0 12.0\n1 1 1\n1 -1 0\n6\n0.34\n1.0\n");
        // The projection onto (001): (3 sqrt 3 / 2) 64 / sqrt 3 = 96 columns.
        const ImageData pjt = loop.image("_pjt");
        EXPECT_NEAR(std::count_if(pjt.values.data(), pjt.values.data() + 24 * 24,
                                  [](double v) { return v != 0.0; }),
                    96, 8);
        EXPECT_EQ(pjt.values(1, 1) + pjt.values(24, 24), 0.0);
        EXPECT_EQ(pjt.values(12, 12), 1.0);
        const bool visible = fault == "1 3 1 1 1";
        int inside = 0, shows = 0;
        for (const auto& beam : kBeams) {
            const ImageData p = perfect.image(beam), d = loop.image(beam);
            for (int j = 1; j <= 24; ++j)
                for (int i = 1; i <= 24; ++i) {
                    const double a = d.values(i, j), b = p.values(i, j);
                    const bool in = visible && pjt.values(i, j) != 0.0;
                    EXPECT_TRUE(in || same_printed(a, b)) << beam << " column " << i << ' ' << j;
                    inside += in;
                    shows += in && std::abs(a - b) > 0.01 * b;
                }
        }
        EXPECT_TRUE(!visible || shows > inside * 9 / 10) << shows << " of " << inside;
    }

    // A void above the entrance surface and zero gradients (cell sizes not whole numbers) give the
    // perfect crystal's files to the byte, the lateral shift running too.
    InputSpec vin{.size_x = 10.6, .size_y = 9, .size_z = 15.3}; // 11 columns, 15 slices
    const Sim flat_perfect(vin);
    vin.defect = "void";
    const Sim holed(vin, "{void}\n===\n15.0\n6.0 5.0 -20.0\n"); // down to z = -5
    vin.defect = "3D-strain";
    KorvexRun strained(vin);
    write_gradient_files(
        strained.file("box"),
        {.size = {10.6, 9, 15.3}, .cells = {11, 9, 15}, .v_g = {2, 0, 0}, .lat_c = 3.61},
        zero_gradient);
    ASSERT_TRUE(strained.run(kBoxStrain)) << strained.output;
    for (const auto& beam : kBeams) {
        const std::string want = read_file(flat_perfect.file("in" + beam));
        EXPECT_EQ(read_file(holed.file("in" + beam)), want) << beam;
        EXPECT_EQ(read_file(strained.file("in" + beam)), want) << beam;
    }

    // A void of radius 10 centred on column (9, 9) and on a slice boundary of a 20 Angstrom foil:
    // columns 8 and 6 Angstrom from its axis lose chords of 12 and 16 whole slices and match a
    // perfect foil that much thinner to the printed digits; the wave crosses the axis unchanged.
    const Sim hole({.ca = "yes", .defect = "void", .size_x = 16, .size_y = 16, .size_z = 20},
                   "{void}\n===\n10.0\n8.5 8.5 10.0\n");
    for (const auto& [i, j, left] : {std::tuple{1, 9, 8.0}, {9, 3, 4.0}, {1, 1, 20.0}}) {
        const Sim thin({.ca = "yes", .size_x = 2, .size_y = 2, .size_z = left});
        for (const auto& beam : kBeams)
            EXPECT_TRUE(same_printed(hole.image(beam).values(i, j), thin.image(beam).values(1, 1)))
                << beam << " column " << i << ' ' << j << ", " << left << " Angstrom left";
    }
    EXPECT_EQ(hole.image("00g").values(9, 9), 1.0);
    EXPECT_EQ(hole.image("01g").values(9, 9) + hole.image("-01g").values(9, 9), 0.0);
}

// No record and "isotropic" give the same files; "anisotropic" changes the images, the report
// listing the constants. g.b = 0: a screw along [0 1 1] and an edge on [1 0 0] stay invisible
// (mirror planes of the crystal); a screw along [0 1 2], no symmetry axis, shows.
TEST(AnisotropicImages, IsotropicByDefaultSymmetryKeepsInvisibility) {
    for (const char* d : {"edge", "screw"}) {
        const std::string b = d[0] == 'e' ? "1 2 1 0 1" : "1 2 1 1 0",
                          l = d[0] == 'e' ? "0 1 0" : "0 0 1";
        const AnisoRun old(d, b, l), iso(d, b, l, "isotropic  x\n\n"),
            aniso(d, b, l, "anisotropic\n");
        for (const auto& beam : kBeams)
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
