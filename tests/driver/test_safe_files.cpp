// Whole runs against a hostile or unlucky file system and stops from outside: links planted
// under result names, long directories, an input in another folder, a signal mid-run and a
// file-size limit. Whatever happens, nothing is written through a link, no temporary file
// stays, and the run record and report document are complete or absent.
#include "driver/finite_check.hpp"
#include "support/input_files.hpp"

#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace korvex;
using namespace korvex::testing;
namespace fs = std::filesystem;

namespace {

void expect_no_temporaries(const ScratchDir& d) {
    for (const auto& e : fs::recursive_directory_iterator(d.path()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

} // namespace

TEST(SafeFiles, LinksUnderRunFilesAreRefusedAndLeftAlone) {
    for (const std::string name :
         {"data/in.imi", "data/Imagesin.tex", "record.sim", "data/in.par", "data/in00g"}) {
        KorvexRun r({}, "data/");
        r.dir.write("precious", "precious\n");
        fs::create_symlink(r.dir.path() / "precious", r.dir.path() / name);
        EXPECT_FALSE(r.run()) << name;
        EXPECT_EQ(r.dir.read("precious"), "precious\n") << name;
        EXPECT_TRUE(fs::is_symlink(r.dir.path() / name)) << name;
        const std::string shown = name == "record.sim" ? "./record.sim" : name;
        EXPECT_NE(r.output.find(" Error writing \"" + shown + "\": a symbolic link"),
                  std::string::npos)
            << r.output;
        EXPECT_FALSE(name != "data/in.imi" && r.dir.exists("data/in.imi")) << name;
        expect_no_temporaries(r.dir);
    }
}

// A 150-character data directory receives every result; an input file in another folder gives
// its own name to the results, written into the data directory.
TEST(SafeFiles, LongDataDirectoryAndInputInAnotherFolder) {
    const std::string longdir = std::string(70, 'd') + "/" + std::string(78, 'e') + "/";
    KorvexRun r({}, longdir);
    ASSERT_TRUE(r.run()) << r.output;
    for (const char* name : {"in00g", "in.imi", "Imagesin.tex", "in.par", "in_pjt"})
        EXPECT_TRUE(fs::exists(r.file(name))) << name;

    KorvexRun s({}, "data/");
    fs::create_directories(s.dir.path() / "sub");
    s.dir.write("sub/cu.in", input_text({}));
    std::string out;
    EXPECT_EQ(run_program(s.dir.str(), "-t sub/cu.in", out), 0) << out;
    for (const char* name : {"data/cu.in00g", "data/cu.in.imi", "data/Imagescu.in.tex"})
        EXPECT_TRUE(s.dir.exists(name)) << name;
}

// SIGTERM while the slices run: the progress line is already in the log (standard output is
// line-buffered), the run stops non-zero, and no temporary file, run record or report
// document is left.
TEST(SafeFiles, SignalMidRunLeavesNoPartialFile) {
    KorvexRun r({.job = 3, .size_x = 48, .size_y = 48, .size_z = 3000, .f_g = 1.5}, "data/");
    const std::string log = r.dir.str() + "log";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || chdir(r.dir.str().c_str()) != 0) _exit(99);
        dup2(fd, 1);
        dup2(fd, 2);
        execl(KORVEX_BINARY, "korvex", "-t", "in", static_cast<char*>(nullptr));
        _exit(98);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (read_file(log).find("% finished") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const std::string text = read_file(log);
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(text.find(" The run was stopped by signal SIGTERM."), std::string::npos) << text;
    EXPECT_FALSE(r.dir.exists("data/in.imi") || r.dir.exists("data/Imagesin.tex"));
    expect_no_temporaries(r.dir);
}

// A file-size limit while the simulation record is rebuilt: the message gives the reason, and
// the old record stays as it was.
TEST(SafeFiles, FileSizeLimitNamesTheReason) {
    KorvexRun r({}, "data/");
    const std::string old(200000, 'x');
    r.dir.write("record.sim", old);
    EXPECT_FALSE(r.run("", "ulimit -f 100 &&"));
    EXPECT_NE(r.output.find(" Error writing \"./record.sim\": File too large"), std::string::npos)
        << r.output;
    EXPECT_EQ(r.dir.read("record.sim"), old);
    expect_no_temporaries(r.dir);
}

// The guard against non-finite numbers names the first bad value's beam, column and slice.
TEST(SafeFiles, NonFiniteResultsNameBeamColumnAndSlice) {
    State st;
    std::tie(st.n_pixel_x, st.n_pixel_y, st.n_slice, st.n_beams) = std::tuple(3, 2, 1, 3);
    allocate_arrays(st);
    for (int n = 1; n <= 3; ++n) st.mtx_beams(n) = n - 2;
    EXPECT_NO_THROW(check_finite_strain(st, 7));
    EXPECT_NO_THROW(check_finite_amplitudes(st, 7));
    st.s_g_r(2, 1, 3) = std::nan("");
    st.s_g_r(3, 2, 3) = std::nan("");
    st.phi_grid(3, 2, 1) = cplx(0.0, HUGE_VAL);
    EXPECT_EQ(stop_lines([&] { check_finite_strain(st, 7); })[0],
              "The strain term turned non-finite: beam 1g, column (2, 1), slice 7.");
    EXPECT_EQ(stop_lines([&] { check_finite_amplitudes(st, 9); })[0],
              "The amplitude turned non-finite: beam -1g, column (3, 2), slice 9.");
}
