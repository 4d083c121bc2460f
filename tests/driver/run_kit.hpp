// What whole-run tests share: a run made at construction, its images read back, defects in the
// middle of a 9 x 7 x 20 grid, the made-up strain field of their "box".
#pragma once

#include "driver/gradient_files.hpp"
#include "driver/image_readback.hpp"
#include "support/input_files.hpp"

#include <cmath>
#include <cstdlib>
#include <string>

namespace korvex::testing {

// `korvex -t in [defect.ini]` run at construction (a failure reported).
struct Sim : KorvexRun {
    explicit Sim(const InputSpec& in, const std::string& config = "",
                 const std::string& datadir = "./", const std::string& env = "")
        : KorvexRun(in, datadir) {
        EXPECT_TRUE(run(config, env)) << output;
    }
    // The number after the colon of the summary line that starts with `label`.
    double printed(const std::string& label) const {
        for (const auto& line : split_lines(output))
            if (line.find_first_not_of(' ') == line.find(label) && line.find(':') != line.npos)
                return std::strtod(line.c_str() + line.find(':') + 1, nullptr);
        ADD_FAILURE() << "no line " << label << " in\n" << output;
        return 0.0;
    }
};

// No temporary file under the run's directory; after a stop no run record or report document
// either, nor (`early`: a stop before the images) an image of the last beam.
inline void expect_clean(const KorvexRun& r, bool stopped = true, bool early = false) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(r.dir.path())) {
        const std::string n = e.path().filename().string();
        EXPECT_TRUE(n.find(".part") == n.npos &&
                    (!stopped || (n != "in.imi" && n != "Imagesin.tex" &&
                                  (!early || n.substr(0, n.find('.')) != "in01g"))))
            << n;
    }
}

inline const std::string kMidEdge = "{edge}\n===\n1 2 1 0 1\n4.5 3.5 10.0\n0 1 0\n0.34\n0.0\n0\n";
inline const std::string kMidVoid = "{void}\n===\n3.0\n4.5 3.5 10.0\n";
inline const std::string kMidFault =
    "{loop}\n===\npureSF\n1 3 1 1 1\n1 3 1 1 1\n4.0\n4.5 3.5 10.0\n"
    "1 1 1\n1 -1 0\n6\n0.34\n1.0\n";
inline const std::string kBoxStrain = "{strain}\n===\n'box'\n";

// The gradient files "box" of a smooth made-up field in the run's data directory.
inline void write_smooth_box(const KorvexRun& r) {
    write_gradient_files(
        r.file("box"), {.size = {9, 7, 20}, .cells = {9, 7, 20}, .v_g = {2, 0, 0}, .lat_c = 3.61},
        [](const Vec3& p) {
            Gradient d{};
            d[0][0] = 0.02 * std::sin(p[0] + 2.0 * p[1]), d[2][1] = 0.01 * std::cos(p[2]);
            return d;
        });
}

} // namespace korvex::testing
