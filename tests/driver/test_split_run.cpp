// Runs split over MPI ranks (-np 2 and 3, uneven row blocks; -np 1 in some) against one process:
// every file the same but for the clock; series split by condition; stops end every rank once.
// Whole runs of every model, table engine against exact; the wait policy the threads start with.
#include "run_kit.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <sys/wait.h>

using namespace korvex::testing;

namespace {

// Why split runs cannot be tested here, or empty.
std::string mpi_missing() {
#ifndef KORVEX_MPI
    return "korvex was built without MPI (Debian: libopenmpi-dev openmpi-bin)";
#else
    return have("mpirun") ? "" : "mpirun is not installed";
#endif
}

#define REQUIRE_MPI()                                                                              \
    if (const std::string why = mpi_missing(); !why.empty())                                       \
    GTEST_SKIP() << "split runs not tested: " << why

std::string mpirun(int np) {
    return "OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_NUM_THREADS=1 "
           "OMPI_MCA_btl=self,vader mpirun --oversubscribe -np " +
           std::to_string(np);
}

// `text` without the lines that hold any of `clock` (the clock readings).
std::string without(const std::string& text, std::initializer_list<const char*> clock) {
    std::string kept;
    for (const auto& line : split_lines(text))
        if (std::ranges::none_of(clock, [&](const char* c) { return line.find(c) != line.npos; }))
            kept += line + '\n';
    return kept;
}

// Every file of a run's directory, the clock readings aside.
std::map<std::string, std::string> files_of(const KorvexRun& r) {
    std::map<std::string, std::string> files;
    for (const std::string& name : r.dir.names())
        files[name] = without(r.dir.read(name), {"ate: ", "ATE: ", "(hours:minutes:seconds)"});
    return files;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != text.npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct Case {
    const char* name;
    InputSpec in;
    std::string config;
    std::string engine = "exact";
    int min_np = 1; // the fewest ranks tried
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

// 9 x 7 columns, 20 slices, three beams, no column approximation (the lateral shift runs).
std::vector<Case> cases() {
    auto with = [](int job, const char* defect) {
        return InputSpec{.job = job, .defect = defect, .size_x = 9, .size_y = 7, .size_z = 20};
    };
    return {
        {"PerfectCrystal", with(1, "no"), ""},
        {"Edge", with(1, "edge"), kMidEdge},
        {"EdgeThicknessFringes", with(2, "edge"), kMidEdge, "exact", 2},
        {"EdgeLayerImages", with(3, "edge"), kMidEdge, "exact", 2},
        {"Void", with(1, "void"), kMidVoid, "exact", 2},
        {"FaultedLoop", with(1, "pg_loop"), kMidFault, "exact", 2},
        {"StrainFiles", with(1, "3D-strain"), kBoxStrain},
        {"EdgeTable", with(1, "edge"), kMidEdge, "table", 2},
        {"TetrahedronTable", with(1, "tetrahedron"),
         "{tetrahedron}\n===\nfaulted\n4.5 3.5 10\n8\n0.3\n1\n", "table", 2},
        {"StrainFilesTable", with(1, "3D-strain"), kBoxStrain, "table", 2},
    };
}

// The case's run, launched by `launcher` (empty: one process).
bool run_case(KorvexRun& r, const Case& c, const std::string& launcher = "") {
    if (c.in.defect == "3D-strain") write_smooth_box(r);
    return r.run(c.config, launcher, "--engine=" + c.engine);
}

struct Model {
    const char* defect;
    std::string config;
};

const std::vector<Model> kModels = {
    {"edge", kMidEdge},
    {"screw", "{screw}\n===\n1 2 1 1 0\n4.5 3.5 10.0\n1 -1 1\n0\n"},
    {"screw", "{screw, surface relaxation}\n===\n1 2 0 1 1\n4.5 3.5 10.0\n1 0 0\n1\n"},
    {"loop", "{loop}\n===\n1 3 1 1 1\n4\n4.5 3.5 10\n1 1 1\n0.3\nintegral\n"},
    {"pg_loop", kMidFault},
    {"pg_loop", "{loop}\n===\nperfect\n1 2 1 1 0\n1 3 1 1 1\n4.0\n4.5 3.5 10.0\n1 1 1\n1 -1 0\n6\n"
                "0.34\n1.0\n"},
    {"tetrahedron", "{tetrahedron}\n===\nfaulted\n4.5 3.5 10\n8\n0.3\n1\n"},
    {"void", kMidVoid},
    {"3D-strain", kBoxStrain},
};

} // namespace

class SplitRun : public ::testing::TestWithParam<Case> {};

TEST_P(SplitRun, EveryFileMatchesTheOneProcessRun) {
    REQUIRE_MPI();
    const Case& c = GetParam();
    KorvexRun one(c.in);
    ASSERT_TRUE(run_case(one, c)) << one.output;
    const auto expected = files_of(one);
    for (int np = c.min_np; np <= 3; ++np) {
        SCOPED_TRACE("ranks " + std::to_string(np));
        KorvexRun split(c.in);
        ASSERT_TRUE(run_case(split, c, mpirun(np))) << split.output;
        const auto got = files_of(split);
        EXPECT_EQ(got.size(), expected.size());
        for (const auto& [name, text] : expected) EXPECT_EQ(got.at(name), text) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, SplitRun, ::testing::ValuesIn(cases()),
                         [](const auto& p) { return std::string(p.param.name); });

// Rank 0 started in `a`'s folder, rank 1 in `b`'s (nodes without a shared file system), both
// with `args`; the status of mpirun.
int run_in_two_folders(const KorvexRun& a, const KorvexRun& b, const std::string& args,
                       std::string& out) {
    return run_program(a.dir.str(),
                       args + " : -np 1 --wdir '" + b.dir.str() + "' " + KORVEX_BINARY + " " + args,
                       out, mpirun(1));
}

// Inputs that differ between the ranks' folders stop every rank before anything is read or
// written, with one message naming the file; the same inputs in two folders run.
TEST(SplitRunStop, RanksInFoldersOfTheirOwnReadTheSameInputsOrStop) {
    REQUIRE_MPI();
    const InputSpec in{.defect = "edge", .size_x = 9, .size_y = 7, .size_z = 20};
    const std::set<std::string> inputs = {"defect.ini", "filesystem.ini", "in"};
    struct Differ {
        std::string name, file, text;
    };
    InputSpec thicker = in;
    thicker.size_z = 21;
    const Differ cases[] = {
        {"in", "in", input_text(thicker)},
        {"defect.ini", "defect.ini", "{edge}\n===\n1 2 1 0 1\n4.5 3.5 11.0\n0 1 0\n0.34\n0.0\n0\n"},
        {"filesystem.ini", "filesystem.ini", filesystem_text("out/")},
        {"the same", "", ""},
    };
    for (const Differ& c : cases) {
        SCOPED_TRACE(c.name);
        KorvexRun a(in), b(in);
        a.dir.write("defect.ini", kMidEdge), b.dir.write("defect.ini", kMidEdge);
        if (!c.file.empty()) b.dir.write(c.file, c.text);
        std::string out;
        const int status = run_in_two_folders(a, b, "-t in defect.ini", out);
        EXPECT_EQ(b.dir.names(), inputs);
        if (c.file.empty()) {
            EXPECT_EQ(status, 0) << out;
            EXPECT_TRUE(a.dir.exists("in01g")) << out;
            continue;
        }
        EXPECT_NE(status, 0) << out;
        EXPECT_EQ(occurrences(out, "The processes of this run read different inputs: \"" +
                                       std::string(c.file == "in" ? "./in" : c.file) +
                                       "\" is not the same in every process."),
                  1u)
            << out;
        EXPECT_EQ(a.dir.names(), inputs);
    }
    // Different command lines stop alike.
    KorvexRun a(in), b(in);
    std::string out;
    EXPECT_NE(run_program(a.dir.str(), "-t in : -np 1 " + std::string(KORVEX_BINARY) + " -t in x",
                          out, mpirun(1)),
              0);
    EXPECT_EQ(occurrences(out, "started with different command lines"), 1u) << out;
}

// Rank 1 reads strain files that end before the middle slice; the writer's are whole.
TEST(SplitRunStop, SeriesSplitByConditionAndStopsOnAnyRank) {
    REQUIRE_MPI();
    const InputSpec box{.defect = "3D-strain", .size_x = 9, .size_y = 7, .size_z = 20};
    KorvexRun r(box), other(box);
    write_smooth_box(r);
    for (const char* ext : {".dX", ".dY", ".dZ"}) {
        const std::string text = read_file(r.file(std::string("box") + ext));
        other.dir.write(std::string("box") + ext, text.substr(0, text.size() * 2 / 5));
    }
    r.dir.write("defect.ini", kBoxStrain), other.dir.write("defect.ini", kBoxStrain);
    std::string out;
    const int status = run_in_two_folders(r, other, "-t in defect.ini", out);
    EXPECT_NE(status, 0) << out;
    EXPECT_EQ(occurrences(out, "box.d"), 1u) << out;
    for (const std::string& name : r.dir.names())
        EXPECT_TRUE(name.find(".part") == name.npos && !name.starts_with("in0") &&
                    !name.starts_with("in-0"))
            << name;

    // SIGINT to mpirun after the first progress line: every rank stops, the message printed once,
    // mpirun exits non-zero, nothing left but the inputs and the slice table.
    KorvexRun sig(InputSpec{.defect = "edge", .size_x = 96, .size_y = 96, .size_z = 8000});
    sig.dir.write("defect.ini", kMidEdge);
    const std::string script =
        "cd '" + sig.dir.str() + "' && (" + mpirun(2) + " " + KORVEX_BINARY +
        " -t in defect.ini > out 2>&1 & p=$!; for i in $(seq 400); do grep -q finished out && "
        "break; sleep 0.05; done; kill -INT $p; wait $p)";
    const int killed = std::system(script.c_str());
    out = read_file(sig.dir.str() + "/out");
    EXPECT_TRUE(WIFEXITED(killed) && WEXITSTATUS(killed) != 0) << out;
    EXPECT_EQ(occurrences(out, "stopped by signal"), 1u) << out;
    EXPECT_EQ(sig.dir.names(),
              (std::set<std::string>{"defect.ini", "filesystem.ini", "in", "in.slice", "out"}));

    // A (g,ng) series of twelve conditions split by condition over 2 and 3 ranks: the same files
    // and lines as in one process.
    REQUIRE_MPI();
    InputSpec in{.job = 3, .defect = "edge", .size_x = 5, .size_y = 4, .size_z = 4, .f_g = 999};
    for (const auto& [job, np] : {std::pair{3, 2}, {2, 3}}) {
        in.job = job;
        const Case c{"Series", in, kMidEdge};
        KorvexRun one(in), split(in);
        ASSERT_TRUE(run_case(one, c)) << one.output;
        ASSERT_TRUE(run_case(split, c, mpirun(np))) << split.output;
        EXPECT_EQ(files_of(split), files_of(one)) << "job " << job << ", ranks " << np;
        EXPECT_EQ(without(split.output, {"time", " left", "Finished in "}),
                  without(one.output, {"time", " left", "Finished in "}))
            << "job " << job << ", ranks " << np;
    }
}

// The float images of every beam agree to 1e-4 in each pixel and 1e-5 on average: three beams
// with the column approximation, five without (two scalars and the lateral shift).
TEST(TableImages, EveryModelAgreesWithTheExactEngineAndTheRuntimeReadsTheWaitPolicy) {
    for (const Model& m : kModels)
        for (const auto& [ca, last] : {std::pair{"yes", 1}, std::pair{"no", 2}}) {
            SCOPED_TRACE(m.config.substr(0, m.config.find('\n')) + " " + ca + " " +
                         std::to_string(2 * last + 1) + " beams");
            InputSpec in{.ca = ca, .defect = m.defect, .size_x = 9, .size_y = 7, .size_z = 20};
            in.first = -last, in.last = last;
            KorvexRun exact(in), table(in);
            for (const KorvexRun* r : {&exact, &table}) {
                if (std::string(m.defect) == "3D-strain") write_smooth_box(*r);
                for (const char* name : {"defect.ini", "loop.ini"}) r->dir.write(name, m.config);
            }
            ASSERT_TRUE(exact.run(m.config)) << exact.output;
            ASSERT_TRUE(table.run(m.config, "", "--engine=table")) << table.output;
            double worst = 0.0, sum = 0.0;
            std::size_t count = 0;
            for (int b = -last; b <= last; ++b) {
                const std::string name = "in" + kBeamNames[std::size_t(b + 2)] + ".tif";
                const TiffFloat e = read_tiff(exact.file(name)), t = read_tiff(table.file(name));
                ASSERT_TRUE(e.opened && t.opened && e.values.size() == t.values.size()) << name;
                for (std::size_t q = 0; q < e.values.size(); ++q) {
                    const double d = std::abs(double(e.values[q]) - double(t.values[q]));
                    worst = std::max(worst, d);
                    sum += d;
                    ++count;
                }
            }
            EXPECT_TRUE(worst <= 1e-4 && sum / double(count) <= 1e-5) << worst << ' ' << sum;
            // The run, its run record and its parameter report tell the same engine.
            const std::size_t at = table.output.find(" Column engine: ");
            ASSERT_NE(at, std::string::npos) << table.output;
            const std::string ran =
                table.output.substr(at + 16, table.output.find('\n', at) - at - 16);
            EXPECT_NE(read_file(table.file("in.imi")).find(" engine " + ran + "\n"),
                      std::string::npos);
            EXPECT_NE(read_file(table.file("in.par")).find(" " + ran + "\n"), std::string::npos);
            EXPECT_EQ(read_file(exact.file("in.imi")).find(" engine"), std::string::npos);
        }

#if !defined(__clang__) // clang's OpenMP runtime has a wait policy of its own (KMP_BLOCKTIME)
    // Without a wait policy the runtime starts with the program's short spin (set before it
    // reads its environment); a policy the user set is the one it reads. One runtime starts,
    // and the images are the same either way.
    const InputSpec in{.size_x = 4, .size_y = 3, .size_z = 10};
    const std::string shown = "OMP_DISPLAY_ENV=verbose ";
    const Sim passive(in, "", "./", "env -u GOMP_SPINCOUNT " + shown + "OMP_WAIT_POLICY=passive"),
        unset(in, "", "./", "env -u OMP_WAIT_POLICY -u GOMP_SPINCOUNT " + shown),
        spin(in, "", "./", "env -u OMP_WAIT_POLICY " + shown + "GOMP_SPINCOUNT=7");
    for (const auto& [r, read] : {std::pair{&passive, "'0'"}, {&unset, "'1000'"}, {&spin, "'7'"}}) {
        const std::size_t at = r->output.find("GOMP_SPINCOUNT = ");
        EXPECT_TRUE(at != std::string::npos &&
                    r->output.compare(at + 17, std::strlen(read), read) == 0 &&
                    r->output.find("GOMP_SPINCOUNT", at + 1) == std::string::npos)
            << r->output;
    }
    EXPECT_EQ(read_file(passive.file("in00g.tif")), read_file(unset.file("in00g.tif")));
#endif
}
