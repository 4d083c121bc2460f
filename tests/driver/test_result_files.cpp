#include "driver/result_files.hpp"
#include "state/image_file.hpp"
#include "support/testing.hpp"

using namespace korvex;
using namespace korvex::testing;

TEST(ResultFiles, BeamTags) {
    EXPECT_EQ(beam_tag(1), "01g");
    EXPECT_EQ(beam_tag(0), "00g");
    EXPECT_EQ(beam_tag(-2), "-02g");
    EXPECT_EQ(beam_tag(12), "12g");
}

TEST(ResultFiles, ImageRowsContinueAfterTwoThousandValues) {
    ImageData img;
    img.unit_x = 1.0;
    img.unit_y = 0.5;
    img.values.resize(2, 2500);
    for (int j = 1; j <= 2500; ++j) img.values(1, j) = 0.1234, img.values(2, j) = -2.5e-7;
    const auto lines = split_lines(format_image(img, RowFormat::es12_3));
    ASSERT_EQ(lines.size(), 8u + 4u);
    EXPECT_EQ(lines[0], " width");
    EXPECT_EQ(lines[3], " 2500");
    EXPECT_EQ(lines[8].size(), 2000u * 12u);
    EXPECT_EQ(lines[9].size(), 500u * 12u);
    EXPECT_EQ(lines[8].substr(0, 12), "   1.234E-01");
    EXPECT_EQ(lines[10].substr(0, 12), "  -2.500E-07");
    // The displays read the rows back across their continuation records.
    ScratchDir dir;
    dir.write("img", format_image(img, RowFormat::es12_3));
    const auto back = read_image_file(dir.str() + "img");
    EXPECT_EQ(back.ny(), 2500);
    EXPECT_DOUBLE_EQ(back.values(1, 2500), 0.1234);
    EXPECT_DOUBLE_EQ(back.values(2, 2001), -2.5e-7);
}

TEST(ResultFiles, NamesOfImagesAndLayers) {
    ScratchDir dir;
    State st;
    st.n_pixel_x = 3;
    st.n_pixel_y = 2;
    st.n_beams = 3;
    st.n_slice = 20;
    allocate_arrays(st);
    for (int n = 1; n <= 3; ++n) st.mtx_beams(n) = n - 2;
    st.datadir = dir.str();
    st.f_out = "test";
    st.unit_x = st.unit_y = 1.0;
    RunContext rc;
    amplitude_contrast_images(st, rc);
    EXPECT_TRUE(dir.exists("test-01g"));
    EXPECT_TRUE(dir.exists("test00g"));
    EXPECT_EQ(rc.FILE_ML, dir.str() + "test01g");
    ASSERT_TRUE(multi_layer_images(st, rc, 12));
    EXPECT_EQ(rc.F_ML, "test01gml0012");
    EXPECT_TRUE(dir.exists("test01gml0012"));
    for (int n = 1; n <= 3; ++n) st.mtx_beams(n) = n + 1; // no beam of order 1
    EXPECT_FALSE(multi_layer_images(st, rc, 13));
}
