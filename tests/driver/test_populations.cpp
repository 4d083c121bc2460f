// Whole runs of defect populations: a population of one defect against that defect alone, and
// the population files a run refuses before it writes anything.
#include "driver/run_kit.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace korvex;
using namespace korvex::testing;
namespace fs = std::filesystem;

namespace {

// Records 3 on of each kind's own file, the defect in the middle of the 9 x 7 x 20 grid.
struct KindCase {
    const char* kind;
    std::string records;
};
const std::vector<KindCase> kKinds = {
    {"edge", "1 2 1 0 1\n4.5 3.5 10.0\n0 1 0\n0.34\n0.0\n0\n"},
    {"screw", "1 2 1 1 0\n4.5 3.5 10.0\n1 -1 1\n0\n"},
    {"loop", "1 3 1 1 1\n3.0\n4.5 3.5 10.0\n1 1 1\n0.34\ninfinitesimal\n"},
    {"void", "3.0\n4.5 3.5 10.0\n"},
    {"pg_loop", "faulted\n1 3 1 1 1\n1 3 1 1 1\n3.0\n4.5 3.5 10.0\n1 1 1\n1 -1 0\n6\n0.34\n1.0\n"},
    {"tetrahedron", "faulted\n4.5 3.5 10.0\n6.0\n0.34\n1.0\n"},
    {"inclusion", "2.0\n4.5 3.5 10.0\n0.02\n0.3\n"},
    {"dissociated", "1 2 1 1 0\n1 1 0\n4.5 3.5 10.0\n1 -1 1\n4.0\n0.34\n1.0\nfcc\n"},
    {"3D-strain", "'box'\nanisotropic\n"},
};

std::string population(const std::string& entries, const std::string& tolerance = "1e-4") {
    return "{population}\n===\n" + tolerance + "   tolerance\n" + entries;
}

// The files of a run directory that a run wrote, by name.
std::set<std::string> written(const KorvexRun& r, const std::set<std::string>& inputs) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(r.dir.path()))
        if (!inputs.contains(e.path().filename().string()))
            out.insert(e.path().filename().string());
    return out;
}

} // namespace

// A population of one entry, its records inline or its file named, gives the images and the
// projection of that defect alone to the byte, every kind, the lateral shift running.
TEST(PopulationRuns, OneEntryIsTheDefectAlone) {
    for (const auto& [kind, records] : kKinds) {
        SCOPED_TRACE(kind);
        InputSpec s{.size_x = 9, .size_y = 7, .size_z = 20};
        s.defect = kind;
        const std::string own = "{" + std::string(kind) + "}\n===\n" + records;
        KorvexRun alone(s);
        s.defect = "population";
        KorvexRun inline_entry(s), named(s);
        for (KorvexRun* r : {&alone, &inline_entry, &named}) {
            write_smooth_box(*r);
            r->dir.write("loop.ini", own);
            r->dir.write("own.ini", own);
        }
        ASSERT_TRUE(alone.run(own)) << alone.output;
        ASSERT_TRUE(inline_entry.run(population("defect " + std::string(kind) + "\n" + records)))
            << inline_entry.output;
        ASSERT_TRUE(named.run(population("\ndefect " + std::string(kind) + " own.ini\n\n", "0")))
            << named.output;
        for (const std::string tag : {"-01g", "00g", "01g", "_pjt"})
            for (const KorvexRun* r : {&inline_entry, &named})
                EXPECT_EQ(read_file(r->file("in" + tag)), read_file(alone.file("in" + tag))) << tag;
    }
}

// Each bad file stops the run with the file, the entry and the value, and leaves no result.
TEST(PopulationRuns, BadFilesStopBeforeAnythingIsWritten) {
    const std::string tetra = "defect tetrahedron\nfaulted\n4.5 3.5 10.0\n6.0\n0.34\n1.0\n";
    std::string many;
    for (int k = 1; k <= 36; ++k) many += tetra;
    std::string huge;
    for (int k = 0; k <= 100000; ++k) huge += "defect void own.ini\n";
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {population("defect tetrahedra\n"),
         {"\"defect.ini\", entry 1 (record 4): the kind of a defect", "Read: \"tetrahedra\""}},
        {population(many + "defect tetrahedron\nfaulted\n4.5 3.5 10.0\n-6.0\n0.34\n1.0\n"),
         {"defect.ini, entry 37 (tetrahedron from record 220)\", record 5", "Read: -6.0"}},
        {population(tetra + "defect pg_loop frank.ini\n"),
         {"\"defect.ini\", entry 2 (record 10): the pg_loop configuration file it names cannot",
          "Read: \"frank.ini\""}},
        {population(tetra + "defect void\n1.0\n6.0 3.5 10.0\n"),
         {"\"defect.ini\", entry 2 (record 10): the void overlaps entry 1 (tetrahedron)"}},
        {population(huge),
         {"\"defect.ini\", entry 100001 (record 100004): a population holds at most 100000",
          "Read: entry 100001"}},
        {population("defect 3D-strain\n'box'\ndefect 3D-strain own.ini\n"),
         {"\"defect.ini\", entry 2 (record 6): a population holds one strain-file background"}},
        {"{p}\n===\n-1e-4\ndefect void own.ini\n", {"the tolerance on a defect's strain term"}},
        {population("3.0\ndefect void own.ini\n"),
         {"\"defect.ini\", record 4: each entry begins with a record \"defect <kind>\""}},
        {population("defect void own.ini\n3.0\n"), {"an entry naming a file holds no records"}},
    };
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(want.front());
        InputSpec s{.defect = "population"};
        KorvexRun r(s);
        r.dir.write("own.ini", "{void}\n===\n1.0\n100 100 100\n");
        EXPECT_FALSE(r.run(text));
        for (const auto& w : want) EXPECT_TRUE(contains(r.output, w)) << r.output;
        EXPECT_EQ(written(r, {"in", "filesystem.ini", "defect.ini", "own.ini"}),
                  std::set<std::string>{})
            << r.output;
    }

    // A member that refuses the column approximation is named.
    KorvexRun half(InputSpec{.ca = "half", .defect = "population"});
    EXPECT_FALSE(half.run(population("defect void\n1.0\n1 1 1\n" + tetra)));
    EXPECT_TRUE(contains(half.output, "\"defect.ini\", entry 2 (record 7) is a tetrahedron"))
        << half.output;
}

// korvex_population: one seed, the same files (another seed, others); every column the run
// marks as crossing a fault lies in the ground-truth box of a faulted defect, and every
// defect's centre in its own box.
TEST(PopulationTool, SameSeedSameFilesEveryDefectInItsBox) {
    KorvexRun r(InputSpec{.defect = "population", .size_x = 64, .size_y = 48, .size_z = 40});
    const std::string tool = "cd '" + r.dir.str() + "' && '" KORVEX_TOOLS_DIR +
                             "/korvex_population' --input in --count 8 --kinds 1 0 1 0.5 0 " +
                             "--size uniform 8 16 --seed ";
    for (const char* run : {"5 a", "5 b", "6 c"}) ASSERT_TRUE(shell(tool + run + " > /dev/null"));
    EXPECT_EQ(r.dir.read("a.ini"), r.dir.read("b.ini"));
    EXPECT_EQ(r.dir.read("a.csv"), r.dir.read("b.csv"));
    EXPECT_NE(r.dir.read("a.ini"), r.dir.read("c.ini"));
    ASSERT_TRUE(r.run(r.dir.read("a.ini"))) << r.output;

    struct Box {
        bool faulted;
        double x0, x1, y0, y1;
    };
    std::vector<Box> boxes;
    const auto lines = split_lines(r.dir.read("a.csv"));
    ASSERT_EQ(lines.size(), 9u);
    for (std::size_t k = 1; k < lines.size(); ++k) {
        std::vector<std::string> f;
        std::stringstream s(lines[k]);
        for (std::string v; std::getline(s, v, ',');) f.push_back(v);
        ASSERT_GE(f.size(), 17u) << lines[k];
        const Box b{f[1] != "void", std::stod(f[13]), std::stod(f[14]), std::stod(f[15]),
                    std::stod(f[16])};
        const double ci = std::stod(f[2]) + 0.5, cj = std::stod(f[3]) + 0.5; // 1 A per column
        EXPECT_TRUE(b.x0 <= ci && ci <= b.x1 + 1 && b.y0 <= cj && cj <= b.y1 + 1) << lines[k];
        boxes.push_back(b);
    }
    const ImageData pjt = r.image("_pjt");
    int marked = 0;
    for (int j = 1; j <= 48; ++j)
        for (int i = 1; i <= 64; ++i) {
            if (pjt.values(i, j) == 0.0) continue;
            ++marked;
            EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(),
                                    [&](const Box& b) {
                                        return b.faulted && b.x0 <= i && i <= b.x1 && b.y0 <= j &&
                                               j <= b.y1;
                                    }))
                << "column " << i << ' ' << j;
        }
    EXPECT_GT(marked, 20);
}
