// Spherical void: which columns of a slice lie inside the sphere.
#include "fixture.hpp"

using namespace korvex;
using namespace korvex::testing;

// Centre (1.5, 1.5, 4.5), radius 5: a column on the sphere is crystal (flag 1), strictly inside
// void (0), every flag rewritten, terms cleared; slice 10 only touches it; one outside the foil
// leaves every slice perfect.
TEST(Void, ColumnsStrictlyInsideTheSphere) {
    DefectRun run(4, "void.ini", config("{void}", {"5.0", "1.5, 1.5, 4.5"}), "no", cube(10));
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
    for (int l : {5, 10, 9, 1}) {
        run.slice(l);
        int voids = 0, inside = 0; // columns (i, j) at (i - 2, j - 2, l - 5) from the centre
        for (int j = 1; j <= 10; ++j)
            for (int i = 1; i <= 10; ++i) {
                ASSERT_LE(st.flag_vacancy(i, j), 1);
                voids += st.flag_vacancy(i, j) == 0;
                inside += (i - 2) * (i - 2) + (j - 2) * (j - 2) + (l - 5) * (l - 5) < 25;
            }
        EXPECT_EQ(voids, inside) << l;
        EXPECT_EQ(voids > 0, l != 10) << l;
    }
    run.dir.write("void.ini", config("{void}", {"3.0", "5.0 5.0 -3.0"}));
    st.flag_vacancy.fill(0);
    for (int l = 1; l <= 10; ++l) {
        const auto& flag = run.slice(l).st.flag_vacancy;
        EXPECT_EQ(std::count(flag.data(), flag.data() + flag.size(), 0), 0) << "slice " << l;
    }
}
