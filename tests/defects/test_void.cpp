// Spherical void: which columns of a slice lie inside the sphere.
#include "fixture.hpp"

using namespace korvex;
using namespace korvex::testing;

namespace {

std::string void_ini(const std::string& radius, const std::string& centre) {
    return config("{Data for a spherical void}", {radius, centre});
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

// Centre (1.5, 1.5, 4.5), radius 5 on columns and slices of 1 Angstrom: a column exactly on
// the sphere is crystal (flag 1), one strictly inside is void (0), every flag is rewritten,
// and the strain terms and the jump are cleared. Slice 10 only touches the sphere; a void
// wholly outside the foil leaves every slice perfect.
TEST(Void, ColumnsStrictlyInsideTheSphere) {
    DefectRun run(4, "void.ini", void_ini("5.0", "1.5, 1.5, 4.5"), "no", cube(10));
    State& st = run.st;
    st.flag_vacancy.fill(7);
    st.s_g_r.fill(1.25);
    st.s_f.fill(-0.5);
    run.slice(5);
    EXPECT_FALSE(any_nonzero(st.s_g_r) || any_nonzero(st.s_f));
    const std::tuple<int, int, int> flags[] = {
        {5, 6, 1}, {6, 5, 1}, {7, 2, 1}, // distance 5: on the surface
        {5, 5, 0}, {2, 2, 0}, {6, 2, 0}};
    for (const auto& [i, j, flag] : flags) EXPECT_EQ(st.flag_vacancy(i, j), flag) << i << ' ' << j;
    for (int j = 1; j <= 10; ++j)
        for (int i = 1; i <= 10; ++i) ASSERT_TRUE(st.flag_vacancy(i, j) <= 1);
    EXPECT_EQ(inside_count(st), expected_inside(0));
    EXPECT_EQ(inside_count(run.slice(10).st), 0);
    EXPECT_EQ(inside_count(run.slice(9).st), expected_inside(4));

    run.dir.write("void.ini", void_ini("3.0", "5.0 5.0 -3.0"));
    st.flag_vacancy.fill(0);
    for (int l = 1; l <= 10; ++l) EXPECT_EQ(inside_count(run.slice(l).st), 0) << "slice " << l;
}
