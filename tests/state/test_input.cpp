#include "state/input.hpp"
#include "state/reader.hpp"
#include "support/testing.hpp"

#include <map>

using namespace korvex;
using korvex::testing::ScratchDir;
using korvex::testing::stop_lines;

namespace {

// The 28 records of an input parameter file (Cu, 200 kV, g 2 0 0, beams -1..3); records can be
// replaced by number (1-based).
std::string input_file(const std::map<int, std::string>& replace = {}) {
    auto rec = korvex::testing::split_lines(
        "Specimen label\ntest-1\nCrystal\nCu\nJob\n1\nColumn approximation\nyes\n"
        "Voltage (kV)\n200\nDefect\nno\nImage width x\n100.0\nImage width y\n80\n"
        "Foil thickness\n250.4\nZone axis\n0 0 1\nDiffraction vector\n2 0 0\nBeams\n-1 3\n"
        "(g,ng)\n1.0\nAbsorption\n1\n");
    for (const auto& [n, text] : replace) rec.at(static_cast<std::size_t>(n - 1)) = text;
    std::string s;
    for (const auto& r : rec) s += r + "\n";
    return s;
}

const std::string kFilesystem = "KORVEX directories\n"
                                "------------------\n"
                                "''\n"
                                "'sys/'\n"
                                "'./'\n"
                                "'rec/'\n"
                                "'out/'\n";

// A scratch directory entered as the working directory, holding filesystem.ini and the input.
struct RunDir {
    ScratchDir dir;
    explicit RunDir(const std::string& input, const std::string& filesystem = kFilesystem) {
        dir.enter();
        dir.write("filesystem.ini", filesystem);
        dir.write("cu.in", input);
    }
};

std::vector<std::string> read_stop(const std::string& input) {
    RunDir run(input);
    State st;
    auto lines = stop_lines([&] { read_system_parameters(st, "cu.in"); });
    EXPECT_FALSE(st.allocated) << "a refused parameter set must not make arrays";
    return lines;
}

} // namespace

TEST(FilesystemIni, SevenRecordsSetTheDirectoriesWithTheRootPrefixed) {
    ScratchDir dir;
    dir.write("filesystem.ini", "a\nb\n'/data/run1/'  root\n'sys/'\n'in/'\n'rec/' x\n'out/'\n");
    State st;
    read_filesystem_ini(st, dir.str() + "filesystem.ini");
    EXPECT_EQ(st.homedir, "/data/run1/");
    EXPECT_EQ(st.sysdir, "/data/run1/sys/");
    EXPECT_EQ(st.rundir, "/data/run1/in/");
    EXPECT_EQ(st.simrecdir, "/data/run1/rec/");
    EXPECT_EQ(st.datadir, "/data/run1/out/");
}

TEST(FilesystemIni, BlankRootLeavesTheDirectoriesAsRead) {
    ScratchDir dir;
    dir.write("filesystem.ini", kFilesystem);
    State st;
    read_filesystem_ini(st, dir.str() + "filesystem.ini");
    EXPECT_EQ(st.homedir, "");
    EXPECT_EQ(st.sysdir, "sys/");
    EXPECT_EQ(st.rundir, "./");
    EXPECT_EQ(st.simrecdir, "rec/");
    EXPECT_EQ(st.datadir, "out/");
}

TEST(FilesystemIni, MissingOrIncompleteFileGivesAllDefaults) {
    ScratchDir dir;
    // Five records: three directories are read before the file ends, yet all five take the
    // defaults.
    dir.write("five.ini", "a\nb\n'/root/'\n'sys/'\n'in/'\n");
    for (const std::string name : {"five.ini", "absent.ini"}) {
        State st;
        st.homedir = "old/";
        read_filesystem_ini(st, dir.str() + name);
        EXPECT_EQ(st.homedir, "") << name;
        EXPECT_EQ(st.sysdir, "./") << name;
        EXPECT_EQ(st.rundir, "./") << name;
        EXPECT_EQ(st.simrecdir, "./") << name;
        EXPECT_EQ(st.datadir, "./") << name;
    }
}

TEST(FilesystemIni, PrefixedValuesAreCutToOneHundredCharacters) {
    ScratchDir dir;
    const std::string root = "'/" + std::string(90, 'r') + "/'";
    dir.write("filesystem.ini", "a\nb\n" + root + "\n'system-directory/'\n'./'\n'./'\n'./'\n");
    State st;
    read_filesystem_ini(st, dir.str() + "filesystem.ini");
    EXPECT_EQ(st.sysdir.size(), 100u);
    EXPECT_EQ(st.sysdir, ("/" + std::string(90, 'r') + "/system-directory/").substr(0, 100));
}

TEST(ReadSystemParameters, ReadsEveryRecordAndDerivesTheGrid) {
    RunDir run(input_file());
    State st;
    read_system_parameters(st, "cu.in");
    EXPECT_EQ(st.sample_no, "test-1");
    EXPECT_EQ(st.sample, "Cu");
    EXPECT_EQ(st.job, 1);
    EXPECT_EQ(st.ca, "yes");
    EXPECT_EQ(st.voltage, 200.0);
    EXPECT_EQ(st.defect, "no");
    EXPECT_EQ(st.size_x, 100.0);
    EXPECT_EQ(st.size_y, 80.0);
    EXPECT_EQ(st.size_z, 250.4);
    EXPECT_EQ(st.n_slice, 250);
    EXPECT_EQ(st.n_pixel_x, 100);
    EXPECT_EQ(st.n_pixel_y, 80);
    EXPECT_EQ(st.foil, (Vec3{0, 0, 1}));
    EXPECT_EQ(st.v_g, (Vec3{2, 0, 0}));
    EXPECT_EQ(st.co_x, st.v_g);
    EXPECT_EQ(st.f_g, 1.0);
    EXPECT_EQ(st.iabs, 1);
    EXPECT_EQ(st.eigen_model, 4);
    EXPECT_EQ(st.interpolation_method, "linear");
    EXPECT_EQ(st.slicing_method, "normal");
    EXPECT_EQ(st.converangle, 0.0);
    EXPECT_EQ(st.ncon, 1);
    EXPECT_EQ(st.f_in, "cu.in");
    EXPECT_EQ(st.f_out, "cu.in");
    EXPECT_EQ(st.datadir, "out/");

    ASSERT_TRUE(st.allocated);
    ASSERT_EQ(st.n_beams, 5);
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(st.mtx_beams(n), n - 2);
    EXPECT_EQ(st.mtx_intensity.n1(), 100);
    EXPECT_EQ(st.mtx_intensity.n2(), 80);
    EXPECT_EQ(st.mtx_intensity.n3(), 5);
    EXPECT_EQ(st.p_z.size(), 250);
    EXPECT_EQ(st.u.size(), 4);
}

TEST(ReadSystemParameters, SizesRoundHalvesAwayFromZero) {
    RunDir run(input_file({{14, "127.5"}, {16, "127.49"}, {18, "250.5"}}));
    State st;
    read_system_parameters(st, "cu.in");
    EXPECT_EQ(st.n_pixel_x, 128);
    EXPECT_EQ(st.n_pixel_y, 127);
    EXPECT_EQ(st.n_slice, 251);
}

TEST(ReadSystemParameters, OneBeamAndTheReversedRange) {
    {
        RunDir run(input_file({{24, "2 2"}}));
        State st;
        read_system_parameters(st, "cu.in");
        ASSERT_EQ(st.n_beams, 1);
        EXPECT_EQ(st.mtx_beams(1), 2);
        EXPECT_TRUE(st.u.empty());
        EXPECT_TRUE(st.ui.empty());
    }
    EXPECT_EQ(read_stop(input_file({{24, "3 -1"}})),
              std::vector<std::string>{"The beam range given is wrong"});
}

TEST(ReadSystemParameters, ZoneAxisMustBePerpendicularToG) {
    EXPECT_EQ(read_stop(input_file({{20, "1 1 1"}, {22, "1 1 1"}})),
              std::vector<std::string>{"SAMPLE COORDINATES SYSTEM GIVEN WRONG!"});
    // The beam range is checked first.
    EXPECT_EQ(read_stop(input_file({{20, "1 1 1"}, {22, "1 1 1"}, {24, "1 0"}})),
              std::vector<std::string>{"The beam range given is wrong"});
    // A word after the three values of a record is ignored.
    RunDir run(input_file({{20, "1 1 1 zone"}, {22, "2 -2 0 g"}}));
    State st;
    read_system_parameters(st, "cu.in");
    EXPECT_EQ(st.foil, (Vec3{1, 1, 1}));
    EXPECT_EQ(st.v_g, (Vec3{2, -2, 0}));
}

TEST(ReadSystemParameters, TextValuesQuotedAndCutToTheirLength) {
    RunDir run(input_file({{2, "'Cu foil, no. 1/2 of a long series'"},
                           {4, "Cu-annealed"},
                           {8, "half-and-half"},
                           {12, "'pg_loop'"}}));
    State st;
    read_system_parameters(st, "cu.in");
    EXPECT_EQ(st.sample_no, "Cu foil, no. 1/2 of"); // 20 characters, trailing blank trimmed
    EXPECT_EQ(st.sample, "Cu-annealed");
    EXPECT_EQ(st.ca, "half-");
    EXPECT_EQ(st.defect, "pg_loop");
}

TEST(ReadSystemParameters, LabelBeforeAbsorptionIsSkippedUnread) {
    // A blank record 27 would be passed over by a read; it is skipped as a whole record.
    RunDir run(input_file({{27, ""}, {28, "0"}}) + "extra records are ignored\n");
    State st;
    read_system_parameters(st, "cu.in");
    EXPECT_EQ(st.iabs, 0);
}

TEST(ReadSystemParameters, ShortRecordShiftsTheFollowingRecords) {
    // "0 0" continues on the label record of g, so g is read from "Beams".
    const auto lines = read_stop(input_file({{20, "0 0"}, {21, "1"}}));
    EXPECT_EQ(lines, std::vector<std::string>{"Error reading \"./cu.in\", record 23: expected a "
                                              "real number, found \"Beams\""});
}

TEST(ReadSystemParameters, InputErrorsOfTheReadingLayer) {
    EXPECT_EQ(read_stop(input_file({{6, "2.5"}})),
              std::vector<std::string>{
                  "Error reading \"./cu.in\", record 6: expected an integer, found \"2.5\""});
    EXPECT_EQ(read_stop(input_file({{10, "abc"}})),
              std::vector<std::string>{
                  "Error reading \"./cu.in\", record 10: expected a real number, found \"abc\""});
    std::string text = input_file();
    text.erase(text.rfind("1\n")); // ends after record 27
    EXPECT_EQ(read_stop(text),
              std::vector<std::string>{"Error reading \"./cu.in\": the file ends after record "
                                       "27, before an integer could be read"});
}

TEST(ReadSystemParameters, MissingInputFileIsNamedWithItsDirectory) {
    ScratchDir dir;
    dir.enter();
    dir.write("filesystem.ini", "a\nb\n''\n'./'\n'in/'\n'./'\n'./'\n");
    State st;
    const auto lines = stop_lines([&] { read_system_parameters(st, "none.in"); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"in/none.in\""), std::string::npos) << lines[0];
}

TEST(ReadSystemParameters, InputIsLookedUpInTheRootedRunDirectory) {
    ScratchDir dir;
    dir.enter();
    std::filesystem::create_directories(dir.path() / "in");
    dir.write("in/cu.in", input_file());
    dir.write("filesystem.ini", "a\nb\n'" + dir.str() + "'\n'./'\n'in/'\n'./'\n'./'\n");
    State st;
    read_system_parameters(st, "cu.in");
    EXPECT_EQ(st.rundir, dir.str() + "in/");
    EXPECT_EQ(st.f_out, "cu.in");
    EXPECT_EQ(st.sample, "Cu");
}

TEST(ReadSystemParameters, SizesGivingNoColumnOrSliceAreRefusedBeforeArraysAreMade) {
    for (const std::string bad : {"0.4", "0", "-20", "1e12"}) {
        for (const int rec : {14, 16, 18}) {
            const auto lines = read_stop(input_file({{rec, bad}}));
            ASSERT_EQ(lines.size(), 1u) << bad;
            EXPECT_NE(lines[0].find(rec == 18 ? "foil thickness" : "image width"),
                      std::string::npos)
                << lines[0];
        }
    }
    RunDir run(input_file({{14, "0.5"}, {16, "0.5"}, {18, "0.5"}}));
    State st;
    read_system_parameters(st, "cu.in");
    EXPECT_EQ(st.n_pixel_x * st.n_pixel_y * st.n_slice, 1);
}

TEST(ReadSystemParameters, OversizedGridStopsWithTheGuardBeforeAllocation) {
    // 10000 x 10000 columns x 5 beams would need tens of GiB.
    EXPECT_EQ(read_stop(input_file({{14, "10000"}, {16, "10000"}})),
              std::vector<std::string>{
                  "The size of array is too big, please reduce the number of grids"});
}

TEST(CheckGrid, GuardAcceptsExactlyTheLimit) {
    State st;
    st.size_x = st.size_y = st.size_z = 1.0;
    st.n_pixel_x = 2500;
    st.n_pixel_y = 2500;
    st.n_beams = 10;
    EXPECT_NO_THROW(check_grid(st));
    st.n_pixel_x = 62'500'001;
    st.n_pixel_y = 1;
    st.n_beams = 1;
    EXPECT_EQ(stop_lines([&] { check_grid(st); }),
              std::vector<std::string>{
                  "The size of array is too big, please reduce the number of grids"});
    // A product beyond 32 bits is still refused.
    st.n_pixel_x = 100000;
    st.n_pixel_y = 100000;
    EXPECT_THROW(check_grid(st), Fatal);
}
