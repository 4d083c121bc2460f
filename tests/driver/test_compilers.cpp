// The same example computed by builds of two compilers must give the same images: each build
// writes the intensities of the edge example (every beam, every column, all 17 digits) beside
// itself, and a build told the file of another (KORVEX_AGREE_WITH, as the continuous
// integration does for its clang++ build) compares its own with them.
#include "driver/run.hpp"
#include "state/input.hpp"
#include "support/input_files.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace korvex::testing;

TEST(CompilerAgreement, EdgeExampleIntensitiesWithin1e12) {
    ScratchDir dir;
    dir.enter();
    const std::string example = std::string(KORVEX_SOURCE_DIR) + "/examples/edge/";
    dir.write("filesystem.ini", filesystem_text());
    dir.write("in", read_file(example + "cu200_edge.in"));
    dir.write("edge.ini", read_file(example + "edge.ini"));
    std::ostringstream quiet;
    State st;
    st.out = &quiet;
    st.text_mode = true;
    read_system_parameters(st, "in");
    st.f_defect = "edge.ini";
    RunContext rc;
    start_run(st, rc);
    run_conditions(st, rc);
    end_run(st, rc);

    const Array3<double>& got = st.mtx_intensity;
    ASSERT_EQ(got.size(), std::size_t{64 * 64 * 5});
    std::string text;
    for (std::size_t n = 0; n < got.size(); ++n) {
        ASSERT_TRUE(got.data()[n] >= 0.0 && got.data()[n] <= 1.0) << n << ' ' << got.data()[n];
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g\n", got.data()[n]);
        text += buf;
    }
    const std::string mine = std::string(KORVEX_BUILD_DIR) + "/edge_intensities.values";
    std::ofstream(mine) << text;

    const char* other = std::getenv("KORVEX_AGREE_WITH");
    if (!other || !*other) return;
    std::ifstream in(other);
    ASSERT_TRUE(in) << "no values to compare with: " << other;
    std::size_t n = 0;
    double worst = 0.0, v = 0.0;
    for (; in >> v; ++n) {
        ASSERT_LT(n, got.size()) << other << " holds more values";
        worst = std::max(worst, std::abs(v - got.data()[n]));
    }
    EXPECT_EQ(n, got.size()) << other;
    EXPECT_LE(worst, 1e-12) << "largest difference from " << other;
    std::printf("largest difference from %s: %.3g\n", other, worst);
}
