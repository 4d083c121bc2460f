// Spherical void: which columns of a slice lie inside the sphere.
#include "defects/defect.hpp"
#include "state/reader.hpp"
#include "support/testing.hpp"

using namespace korvex;
using korvex::testing::ScratchDir;

namespace {

// A 10 x 10 x 10 grid of 1 Angstrom cells: column and slice centres at 0.5, 1.5, ..., 9.5.
State grid_state(const std::string& f_defect) {
    State st;
    st.n_pixel_x = st.n_pixel_y = st.n_slice = 10;
    st.n_beams = 3;
    allocate_arrays(st);
    st.size = {10.0, 10.0, 10.0};
    st.n_xyz = {10, 10, 10};
    st.defect = "void";
    st.defect_model = 4;
    st.f_defect = f_defect;
    return st;
}

std::string void_file(const std::string& radius, const std::string& centre) {
    return "             {Data for a spherical void}\n" + std::string(67, '=') + "\n" + radius +
           "   Radius of the void\n" + centre + "   Position of the void centre\n";
}

// Columns strictly inside the sphere of radius 5 about (1.5, 1.5, 4.5) in a slice at depth
// offset dz: lattice offsets (a, b) from the centre column with a, b >= -1.
int expected_inside(int dz) {
    int n = 0;
    for (int a = -1; a <= 8; ++a)
        for (int b = -1; b <= 8; ++b) n += a * a + b * b + dz * dz < 25;
    return n;
}

int inside_count(const State& st) {
    int n = 0;
    for (int j = 1; j <= st.n_xyz[1]; ++j)
        for (int i = 1; i <= st.n_xyz[0]; ++i) n += st.flag_vacancy(i, j) == 0;
    return n;
}

} // namespace

// Centre (1.5, 1.5, 4.5), radius 5: in slice 5 (depth 4.5) column (5, 6) lies at distance
// sqrt(3^2 + 4^2) = 5 exactly, on the surface, and is crystal.
TEST(Void, ColumnOnTheSurfaceIsOutside) {
    ScratchDir dir;
    dir.write("void.ini", void_file("5.0", "1.5, 1.5, 4.5"));
    State st = grid_state(dir.str() + "void.ini");
    st.flag_vacancy.fill(7);
    auto field = make_void_field();
    field->fill_slice(st, 5);

    EXPECT_EQ(st.v_radius, 5.0);
    EXPECT_EQ(st.v_position, (Vec3{1.5, 1.5, 4.5}));
    EXPECT_EQ(st.flag_vacancy(5, 6), 1); // distance 5: on the surface
    EXPECT_EQ(st.flag_vacancy(6, 5), 1);
    EXPECT_EQ(st.flag_vacancy(5, 5), 0); // distance sqrt(18)
    EXPECT_EQ(st.flag_vacancy(2, 2), 0); // the centre column
    EXPECT_EQ(st.flag_vacancy(7, 2), 1); // distance 5 along x alone
    EXPECT_EQ(st.flag_vacancy(6, 2), 0);
    for (int j = 1; j <= 10; ++j)
        for (int i = 1; i <= 10; ++i)
            ASSERT_TRUE(st.flag_vacancy(i, j) == 0 || st.flag_vacancy(i, j) == 1);
    EXPECT_EQ(inside_count(st), expected_inside(0));
}

// The same void seen from the slices: slice 10 (depth 9.5) only touches the sphere and slices
// beyond the radius miss it; every flag is rewritten to 1 there.
TEST(Void, SliceMissedByTheVoidIsPerfectCrystal) {
    ScratchDir dir;
    dir.write("void.ini", void_file("5.0", "1.5, 1.5, 4.5"));
    State st = grid_state(dir.str() + "void.ini");
    auto field = make_void_field();
    field->fill_slice(st, 5);
    ASSERT_GT(inside_count(st), 0);
    field->fill_slice(st, 10); // |9.5 - 4.5| = 5: touches only
    EXPECT_EQ(inside_count(st), 0);
    field->fill_slice(st, 9);
    EXPECT_EQ(inside_count(st), expected_inside(4));

    // A void wholly outside the foil leaves every slice perfect.
    dir.write("far.ini", void_file("3.0", "5.0 5.0 -3.0"));
    st.f_defect = dir.str() + "far.ini";
    st.flag_vacancy.fill(0);
    for (int l = 1; l <= 10; ++l) {
        field->fill_slice(st, l);
        EXPECT_EQ(inside_count(st), 0) << "slice " << l;
    }
}

// Through the defect dispatch the strain terms and the jump are cleared for every slice.
TEST(Void, DispatchClearsStrainAndJump) {
    ScratchDir dir;
    dir.write("void.ini", void_file("2.5", "5 5 5"));
    State st = grid_state(dir.str() + "void.ini");
    st.s_g_r.fill(1.25);
    st.s_f.fill(-0.5);
    auto field = make_defect_field(st);
    field->fill_slice(st, 5);
    for (std::size_t n = 0; n < st.s_g_r.size(); ++n) ASSERT_EQ(st.s_g_r.data()[n], 0.0);
    for (std::size_t n = 0; n < st.s_f.size(); ++n) ASSERT_EQ(st.s_f.data()[n], 0.0);
    EXPECT_EQ(st.flag_vacancy(5, 5), 0);
    EXPECT_EQ(st.flag_vacancy(1, 1), 1);
}

// A configuration that is missing or ends before the centre stops with the reader's message.
TEST(Void, MissingOrShortConfigurationStops) {
    ScratchDir dir;
    State st = grid_state(dir.str() + "none.ini");
    auto field = make_void_field();
    auto lines = korvex::testing::stop_lines([&] { field->fill_slice(st, 1); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("none.ini"), std::string::npos);

    dir.write("short.ini", "{void}\n====\n4.0 radius\n");
    st.f_defect = dir.str() + "short.ini";
    EXPECT_THROW(field->fill_slice(st, 1), ReadError);
}
