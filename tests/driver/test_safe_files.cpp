// Hostile file systems and outside stops: no write through a link, no partial file left.
#include "driver/finite_check.hpp"
#include "run_kit.hpp"
#include "solver/fixture.hpp"

using namespace korvex::testing;
namespace fs = std::filesystem;

// A link under each run file (target untouched, named); a file-size limit while the record is
// rebuilt (the reason named, the old record kept).
TEST(SafeFiles, LinksAFileSizeLimitAndASignalStopCleanly) {
    for (const std::string name :
         {"data/in.imi", "data/Imagesin.tex", "record.sim", "data/in.par", "data/in00g"}) {
        KorvexRun r({}, "data/");
        r.dir.write("precious", "precious\n");
        fs::create_symlink(r.dir.path() / "precious", r.dir.path() / name);
        EXPECT_FALSE(r.run()) << name;
        EXPECT_EQ(
            r.dir.read("precious") + r.output.substr(r.output.rfind('\n', r.output.size() - 2)),
            "precious\n\n Error writing \"" + (name == "record.sim" ? "./" + name : name) +
                "\": a symbolic link stands under this name; it is not followed or replaced\n");
        if (!name.ends_with(".imi") && !name.ends_with(".tex")) expect_clean(r);
    }
    KorvexRun r({}, "data/");
    r.dir.write("record.sim", std::string(200000, 'x'));
    EXPECT_FALSE(r.run("", "ulimit -f 100 &&"));
    EXPECT_TRUE(r.output.ends_with(" Error writing \"./record.sim\": File too large\n") &&
                r.dir.read("record.sim") == std::string(200000, 'x'))
        << r.output;
    expect_clean(r);

    // SIGTERM after the first progress line: the run stops non-zero and cleanly.
    KorvexRun sig({.job = 3, .size_x = 48, .size_y = 48, .size_z = 3000}, "data/");
    const std::string script = "cd '" + sig.dir.str() +
                               "' && { '" KORVEX_BINARY
                               "' -t in >log 2>&1 & p=$!; until grep -q finished log; do "
                               "sleep 0.02; done; kill -TERM $p; wait $p; echo $? >status; }";
    ASSERT_EQ(std::system(script.c_str()), 0);
    EXPECT_NE(sig.dir.read("status"), "0\n");
    EXPECT_TRUE(contains(sig.dir.read("log"), " The run was stopped by signal SIGTERM."))
        << sig.dir.read("log");
    expect_clean(sig);
}

// A 150-character data directory receives the results; an input in another folder names them.
TEST(SafeFiles, LongDataDirectoryInputElsewhereAndNonFiniteResults) {
    Sim r({}, "", std::string(70, 'd') + "/" + std::string(78, 'e') + "/");
    for (const char* name : {"in00g", "in.imi", "Imagesin.tex", "in.par", "in_pjt"})
        EXPECT_TRUE(fs::exists(r.file(name))) << name;
    fs::create_directory(r.dir.path() / "sub");
    r.dir.write("sub/cu.in", input_text({}));
    EXPECT_EQ(run_program(r.dir.str(), "-t sub/cu.in", r.output), 0) << r.output;
    EXPECT_TRUE(fs::exists(r.file("cu.in00g")) && fs::exists(r.file("Imagescu.in.tex")));

    // The guard against non-finite numbers names the first bad value's beam, column and slice.
    State st = make_state({.first = -1, .last = 1, .npx = 3, .npy = 2, .nslice = 1});
    st.s_g_r(2, 1, 3) = st.s_g_r(3, 2, 3) = std::nan("");
    st.phi_grid(3, 2, 1) = cplx(0.0, HUGE_VAL);
    EXPECT_EQ(stop_lines([&] { check_finite_strain(st, 7); })[0],
              "The strain term turned non-finite: beam 1g, column (2, 1), slice 7.");
    EXPECT_EQ(stop_lines([&] { check_finite_amplitudes(st, 9); })[0],
              "The amplitude turned non-finite: beam -1g, column (3, 2), slice 9.");
}
