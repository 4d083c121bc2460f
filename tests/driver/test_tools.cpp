// The small programs as a user runs them: what cannot fit in memory or on disk refused at once
// with the numbers, a stop signal taken at the next step; each ends with a message and status 1,
// never an uncaught exception, and leaves no file and no temporary file behind.
#include "run_kit.hpp"
#include "snapshot_kit.hpp"

#include <array>
#include <cstdio>
#include <sys/wait.h>

using namespace korvex::testing;

namespace {

// Runs a shell script in `dir` with $T the folder of the tools; its status, and its output in
// `out`.
int script(const ScratchDir& dir, const std::string& text, std::string& out) {
    const std::string cmd =
        "cd '" + dir.str() + "' && T='" KORVEX_TOOLS_DIR "' && { " + text + "; } </dev/null 2>&1";
    out.clear();
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf{};
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;)
        out.append(buf.data(), n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(Tools, RefuseWhatCannotFitAndStopOnSignalsLeavingNothing) {
    ScratchDir dir;
    dir.write("filesystem.ini", filesystem_text());
    dir.write("huge.in", input_text({.size_x = 3000, .size_y = 3000, .size_z = 3000}));
    dir.write("small.in", input_text({.size_x = 12, .size_y = 12, .size_z = 12}));
    const Cell cube{{0, 0, 0}, {Vec3{14.44, 0, 0}, Vec3{0, 14.44, 0}, Vec3{0, 0, 14.44}}};
    dir.write("snap", lammps(fcc({4, 4, 4}, 3.61), cube));
    const std::set<std::string> inputs{"filesystem.ini", "huge.in", "small.in", "snap"};
    struct Case {
        std::string command, message;
    };
    const Case cases[] = {
        // One slice of 10^10 columns; 7.2 TB of binary files; 1.5 TB of averages.
        {"$T/korvex_gradients --field zero --size 1 1 1 --cells 100000 100000 100000 gz",
         "Not enough memory for writing gz.dX, .dY and .dZ (100000 x 100000 x 100000 cells) a "
         "slice at a time: about 3.0 TB needed, "},
        {"$T/korvex_gradients --field zero --size 1 1 1 --cells 10 10 2000000000 "
         "--format binary32 gz",
         "Not enough disk space for gz.dX, .dY and .dZ (10 x 10 x 2000000000 cells): about 7.2 "
         "TB needed, "},
        {"$T/korvex_atoms --input huge.in --lattice fcc 3.61 --partial snap box",
         "Not enough memory for the atoms averaged onto 3000 x 3000 x 3000 cells (56 bytes a "
         "cell): about 1.5 TB needed, "},
        // SIGTERM once the three files are in the making; while the snapshot is being read.
        {"$T/korvex_gradients --field zero --size 100 100 3000 gz & p=$!; "
         "while [ ! -e gz.dZ.part ] && kill -0 $p 2>/dev/null; do :; done; "
         "kill -STOP $p; kill -TERM $p; kill -CONT $p; wait $p",
         "Stopped by SIGTERM: gz.dX, .dY and .dZ were not written"},
        {"mkfifo fifo && { $T/korvex_atoms --input small.in --lattice fcc 3.61 fifo box & "
         "p=$!; exec 3>fifo; kill -TERM $p; cat snap >&3; exec 3>&-; wait $p; }; r=$?; "
         "rm fifo; exit $r",
         "Stopped by SIGTERM while the atoms were read and averaged"}};
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(script(dir, c.command, out), 1) << c.command << "\n" << out;
        EXPECT_TRUE(contains(out, c.message));
        EXPECT_EQ(dir.names(), inputs) << c.command;
    }
}
