// An fcc crystal displaced by the edge field, converted and imaged, against the edge model.
#include "driver/image_readback.hpp"
#include "run_kit.hpp"
#include "snapshot_kit.hpp"

#include <cstdlib>

using namespace korvex;
using namespace korvex::testing;

namespace {

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

TEST(AtomImages, ConvertedEdgeCrystalGivesTheEdgeModelsImageAwayFromTheCore) {
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
    const GradientBox box{{24, 24, 60}, {24, 24, 60}, {0, 0, 1}, {2, 0, 0}, 3.61};
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
    for (Run& r : runs) {
        KorvexRun run(in);
        SnapshotConversion c;
        c.snapshot = atoms.str() + "cur", c.reference = atoms.str() + "ref";
        c.width = r.width, c.output.format = r.format;
        convert_snapshot(c, box, run.file("box"));
        ASSERT_TRUE(run.run(kBoxStrain)) << run.output;
        for (const auto& beam : beams) {
            const ImageData a = run.image(beam), e = analytic.image(beam);
            const auto [lo, hi] =
                std::minmax_element(e.values.data(), e.values.data() + e.values.size());
            for (int j = 1; j <= 24; ++j)
                for (int i = 1; i <= 24; ++i) {
                    const double d = std::abs(i + j - 25) / std::numbers::sqrt2;
                    const double diff = std::abs(a.values(i, j) - e.values(i, j)) / (*hi - *lo);
                    if (d > 3) r.far[d > 6] = std::max(r.far[d > 6], diff);
                }
        }
        EXPECT_TRUE(r.far[0] < r.limit[0] && r.far[1] < r.limit[1])
            << "width " << r.width << ": " << r.far[0] << ", " << r.far[1];
    }
}
