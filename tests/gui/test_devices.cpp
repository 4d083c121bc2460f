// The plot devices for real: file devices drawn on and read back; graphic mode end to end on a
// virtual X server (Xvfb) driven by xdotool, screenshots under <build>/test-artifacts/gui/. Keys
// are typed as fast as a paste (10 ms apart, while the program checks and redraws), and clicks
// follow a pointer move at once: nothing may be dropped or land in another box.

#include "gui/overview.hpp"
#include "scripted_graphics.hpp"

#include <chrono>
#include <csignal>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace korvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testing;

// Pixels of a picture read back from a real device: dark (< 64), light (> 192) and the rest.
struct Tally {
    long dark = 0, light = 0, mid = 0;
};
Tally tally(const RgbPicture& p) {
    Tally t;
    for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
        const int v = (p.rgb[i] + p.rgb[i + 1] + p.rgb[i + 2]) / 3;
        ++(v < 64 ? t.dark : v > 192 ? t.light : t.mid);
    }
    return t;
}

// A PostScript page rendered by Ghostscript and read back.
RgbPicture render_postscript(const std::string& ps, const std::string& png, int dpi) {
    if (!shell("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=png16m -r" + std::to_string(dpi) +
               " -sOutputFile='" + png + "' '" + ps + "'"))
        throw std::runtime_error("Ghostscript failed on " + ps);
    return read_png(png);
}

// Draws on `device` for real, as the result viewer does, a 40 x 30 image: a bright disc on grey,
// a black strip at the left. Returns the colour of index 0 (the background), -1s if not opened.
std::array<float, 3> draw_page(const ScratchDir& dir, const std::string& device) {
    const auto value = [](int i, int j) {
        return i <= 4 ? 0.0 : 1.0 + ((i - 20) * (i - 20) + (j - 15) * (j - 15) < 64);
    };
    write_image_file(dir.str() + "disc_01g", make_image(40, 30, value), RowFormat::es12_3);
    auto g = open_plot_devices();
    if (g->open(dir.str() + device) <= 0) return {-1, -1, -1};
    std::array<float, 3> paper;
    g->qcr(0, paper[0], paper[1], paper[2]);
    std::ostringstream out;
    Gui gui{*g, out, {}, 0, 0};
    viewer_layout(gui.layout);
    rpgenv(gui, -1.1f, 1.1f, -1.1f, 1.1f, 0, -1);
    dataimaging(gui, dir.str() + "disc_01g", 128);
    g->close();
    return paper;
}

// A GIF page is a real GIF of the page size, drawn on black, with the image's three tones,
// readable by its owner, no temporary left; a PostScript page is on white paper, image in it.
TEST(PlotDevices, PagesRefusedDevicesGifPalettesAndNoDisplay) {
    ScratchDir dir;
    EXPECT_EQ(draw_page(dir, "page.gif/GIF"), (std::array{0.0f, 0.0f, 0.0f}));
    const RgbPicture p = read_gif(dir.str() + "page.gif");
    EXPECT_EQ(std::pair(p.width, p.height), std::pair(850, 680));
    const auto t = tally(p); // the disc (level 127 is white), the image's grey, the page
    EXPECT_TRUE(t.light > 1000 && t.mid > 10000 && t.dark > 10000) << t.light << ' ' << t.mid;
    EXPECT_FALSE(dir.exists("page.gif.page.png"));
    EXPECT_NE(fs::status(dir.str() + "page.gif").permissions() & fs::perms::owner_read,
              fs::perms::none);

    EXPECT_EQ(draw_page(dir, "page.ps/VCPS"), (std::array{1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(read_file(dir.str() + "page.ps").substr(0, 4), "%!PS");

    // Devices that cannot be opened (or would write through a link) are refused, not crashed on;
    // a file device has no cursor.
    auto g = open_plot_devices();
    dir.write("precious", "kept\n");
    fs::create_symlink(dir.path() / "precious", dir.path() / "link.ps");
    for (const char* d :
         {"no/dir/x.ps/VCPS", "no/dir/x.gif/GIF", "x.foo/NOSUCHTYPE", "no-type", "link.ps/VCPS"})
        EXPECT_LE(g->open(dir.str() + d), 0) << d;
    EXPECT_EQ(dir.read("precious"), "kept\n");
    ASSERT_GT(g->open(dir.str() + "x.ps/VCPS"), 0);
    float x, y;
    char ch;
    EXPECT_EQ(g->band(0, 0, 0.0f, 0.0f, x, y, ch), 0);
    g->close();
    if (!have("gs")) GTEST_SKIP() << "no Ghostscript";
    const auto r = tally(render_postscript(dir.str() + "page.ps", dir.str() + "p.png", 40));
    EXPECT_TRUE(r.mid > 2000 && r.light > 2000) << r.mid << ' ' << r.light; // image; paper, disc

    // Up to 256 colours a GIF stores every pixel exactly; more are reduced to 256 with a bounded
    // error.
    ScratchDir gdir;
    RgbPicture few{3, 2, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 255, 255, 255}};
    RgbPicture many{64, 64, {}};
    for (int k = 0; k < 64 * 64; ++k)
        many.rgb.insert(many.rgb.end(),
                        {std::uint8_t(4 * (k % 64)), std::uint8_t(4 * (k / 64)), 128});
    int worst[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        const RgbPicture& pic = k == 0 ? few : many;
        std::ofstream(gdir.str() + "p.gif", std::ios::binary) << encode_gif(pic);
        const RgbPicture back = read_gif(gdir.str() + "p.gif");
        ASSERT_EQ(std::tuple(back.width, back.height, back.rgb.size()),
                  std::tuple(pic.width, pic.height, pic.rgb.size()));
        for (std::size_t i = 0; i < pic.rgb.size(); ++i)
            worst[k] = std::max(worst[k], std::abs(back.rgb[i] - pic.rgb[i]));
    }
    EXPECT_EQ(worst[0], 0);
    EXPECT_LE(worst[1], 32); // 4096 colours reduced to 256

    // Without a display, or with one that cannot be reached (named), the program says so in one
    // line and stops before any window is tried.
    ScratchDir ndir;
    for (const char* env : {"DISPLAY=", "DISPLAY=:12345"}) {
        std::string nout;
        EXPECT_NE(run_program(ndir.str(), "-x", nout, env), 0);
        const auto np = nout.find("No X display is available");
        ASSERT_NE(np, std::string::npos) << nout;
        const std::string line = nout.substr(np, nout.find('\n', np) - np);
        EXPECT_TRUE(contains(line, env[8] ? "\":12345\"" : "DISPLAY is not set"));
        EXPECT_EQ(nout.find("Device types"), std::string::npos); // no window was tried
    }
}

// A file kept for people to look at: <build>/test-artifacts/gui/name (beside <build>/app).
std::string artifact(const std::string& name) {
    const fs::path dir = fs::path(KORVEX_BINARY).parent_path().parent_path() / "test-artifacts/gui";
    fs::create_directories(dir);
    return (dir / name).string();
}

pid_t spawn_shell(const std::string& cmd) {
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ);
    return rc == 0 ? pid : -1;
}

// Whether `done()` came true, polled every 100 ms, within `limit`.
template <class F> bool wait_until(F done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (wait_until([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 3s)) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// A virtual X server of its own and the program on it, each test in a scratch directory, with
// the tools that drive the window. Other test runs may start X servers at the same moment, so
// the server picks a free display number itself and names it once it accepts connections.
class GraphicSession : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "xwd", "convert"})
            ASSERT_TRUE(have(tool)) << tool << " is needed to drive the window";
        if (!have("Xvfb")) GTEST_SKIP() << "graphic session not tested: Xvfb is not installed";
        xvfb_ =
            spawn_shell("exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>'" +
                        dir_.str() + "display' 2>/dev/null");
        wait_until(
            [&] {
                if (waitpid(xvfb_, nullptr, WNOHANG) == xvfb_) xvfb_ = -1; // it gave up
                return output("display").ends_with("\n") || xvfb_ == -1;
            },
            10s);
        display_ = ":" + output("display").substr(0, output("display").find('\n'));
        if (display_ == ":") GTEST_SKIP() << "graphic session not tested: Xvfb did not start";
        dir_.write("filesystem.ini", filesystem_text());
    }
    // Starts the program with these arguments in the scratch directory.
    void start(const std::string& args = "-x") {
        program_ =
            spawn_shell("cd '" + dir_.str() + "' && DISPLAY=" + display_ + " exec timeout 240 '" +
                        KORVEX_BINARY + "' " + args + " </dev/null >out.txt 2>&1");
    }
    void TearDown() override { stop(program_), stop(xvfb_); }

    std::string output(const std::string& file = "out.txt") const { return dir_.read(file); }
    // Whether `text` appears in the terminal output after its first `from` characters in time.
    bool wait_output(const std::string& text, std::chrono::seconds limit, std::size_t from = 0) {
        return wait_until([&] { return output().find(text, from) != std::string::npos; }, limit);
    }
    int wait_exit(std::chrono::seconds limit) {
        int status = 0;
        if (!wait_until([&] { return waitpid(program_, &status, WNOHANG) == program_; }, limit))
            return -1;
        program_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The output of a command run on the display.
    std::string on_display(const std::string& cmd) const {
        shell("(DISPLAY=" + display_ + " " + cmd + " >'" + dir_.str() + "xdo')");
        return output("xdo");
    }
    std::string xdo(const std::string& args) const { return on_display("xdotool " + args); }
    // Finds the window and where its centred 800 x 600 drawing area begins.
    bool find_window() {
        wait_until([&] { return !(window_ = xdo("search --name '^KORVEX$'")).empty(); }, 30s);
        window_ = window_.substr(0, window_.find('\n'));
        int w = 0, h = 0;
        std::sscanf(xdo("getwindowgeometry --shell " + window_).c_str(),
                    "WINDOW=%*d X=%*d Y=%*d WIDTH=%d HEIGHT=%d", &w, &h);
        std::tie(off_x_, off_y_) = std::pair((w - 800) / 2, (h - 600) / 2);
        return !window_.empty();
    }
    // Keys typed 10 ms apart, as a paste; '\r' is Return. The pointer stays where it is.
    void type(const std::string& text) {
        dir_.write("keys", text);
        xdo("type --delay 10 --file '" + dir_.str() + "keys'");
    }
    // Moves the pointer to a drawing-area pixel (from the top left) and clicks at once.
    void point_at(int x, int y, bool click = true) {
        xdo("mousemove --window " + window_ + " " + std::to_string(off_x_ + x) + " " +
            std::to_string(off_y_ + y) + (click ? " click 1" : ""));
    }
    // The viewer buttons: 6 x 2 cells over x 0.05..0.95, y 0.05..0.13 of the right panel.
    void press(int nb) { point_at(450 + 60 * ((nb - 1) % 6), 534 + 24 * ((nb - 1) / 6)); }
    void screenshot(const std::string& name) const {
        shell("xwd -root -silent -display " + display_ + " | convert xwd:- '" + artifact(name) +
              "'");
    }
    // Types the form of a Cu 200 kV job-1 run (`defect` and its page, 32 x 32 columns, 40
    // slices, g = 200, beams -1..1, absorption, output "cu") in one paste, presses RUN, returns
    // once the viewer shows the image.
    void run_to_image(const std::string& shots, const std::string& defect = "no\r") {
        ASSERT_TRUE(find_window()) << "display " << display_ << "\n" << output();
        ASSERT_TRUE(wait_output("Device types", 10s)) << output();
        point_at(200, 450, false);
        type("cuCu1\rno\r200\r" + defect.substr(0, defect.find('\r') + 1) +
             "32 32\r40\r0 0 1\r2 0 0\r-1 1\r1\r1\rcu\r" + defect.substr(defect.find('\r') + 1));
        ASSERT_NO_FATAL_FAILURE(press_run(shots));
    }
    // RUN, and the image on screen (its screenshots before and after).
    void press_run(const std::string& shots, std::size_t from = 0) {
        std::this_thread::sleep_for(500ms);
        screenshot(shots + "_form.png");
        press(1);
        ASSERT_TRUE(wait_output("The viewer shows", 120s, from)) << output();
        std::this_thread::sleep_for(300ms);
        screenshot(shots + "_image.png");
    }

    ScratchDir dir_;
    pid_t xvfb_ = -1, program_ = -1;
    std::string display_, window_;
    int off_x_ = 0, off_y_ = 0;
};

// A user's form typed as fast as a paste: a crystal not in the table refused in the window and
// asked again, every later value in its own box; the screw's page written under another name
// than the user's screw.ini, which is kept; RUN clicked as the pointer arrives. The viewer opens
// on BF; C-PS and GIF store the image and return to it; STOP leads back to the RUN panel and
// RUN runs again without the form; EXIT ends with status 0. The run's input file is saved and
// reruns in text mode.
TEST_F(GraphicSession, FastFormRefusalsFilesExportsAndRerun) {
    dir_.write("screw.ini", "the user's screw\n");
    start();
    ASSERT_NO_FATAL_FAILURE(
        run_to_image("cu200", "screw\r\r1 2 1 -1 0\r16 16 20\r0\r\rno\rmine.ini\r"));
    const std::string out = output();
    EXPECT_TRUE(contains(out, "No this element found") && contains(out, "\"cu\"")) << out;
    EXPECT_EQ(dir_.read("screw.ini"), "the user's screw\n");
    EXPECT_TRUE(contains(dir_.read("mine.ini"), "Burger vector"));
    EXPECT_TRUE(contains(out, "The viewer shows BF")) << out;
    EXPECT_EQ(read_png(dir_.str() + "cu_overview.png").width, overview_page(3, 1).width);
    for (const char* gone : {"Cursor at", "Contrast:", "Are you using"})
        EXPECT_FALSE(contains(out, gone)) << gone;
    // The saved parameters are those typed.
    const std::string saved = dir_.read("cu.in");
    for (const char* v : {"\nCu\n", "\nscrew\n", "\n32.0\n", "\n-1 1\n"})
        EXPECT_TRUE(contains(saved, v)) << v << saved;

    press(5);
    ASSERT_TRUE(wait_output("cu00g.ps\n", 30s)) << output();
    press(4);
    ASSERT_TRUE(wait_output("cu00g.gif\n", 30s)) << output();
    EXPECT_EQ(waitpid(program_, nullptr, WNOHANG), 0); // still in the viewer
    EXPECT_EQ(read_gif(dir_.str() + "cu00g.gif").width, 850);

    const std::size_t first_run = output().size();
    press(12);
    ASSERT_NO_FATAL_FAILURE(press_run("cu200_rerun", first_run));
    press(7);
    std::this_thread::sleep_for(1000ms);
    screenshot("cu200_diff.png");
    EXPECT_NE(read_file(artifact("cu200_diff.png")), read_file(artifact("cu200_rerun_image.png")));
    press(6);
    ASSERT_EQ(wait_exit(30s), 0) << output();
    if (!have("gs")) GTEST_SKIP() << "Ghostscript is not installed: the PostScript is not rendered";
    const auto t = tally(render_postscript(dir_.str() + "cu00g.ps", artifact("cu200_ps.png"), 50));
    // Paper, and a picture filling the frame (a frame alone is ~1200).
    EXPECT_TRUE(t.light > 1000 && t.dark + t.mid > 20000) << t.light << ' ' << t.dark + t.mid;
}

// An input file and a defect file on the command line fill the form: Return takes every value
// offered; the run uses them. The window killed in the viewer then ends the program at once with
// status 0; the finished run's record and document stay whole.
TEST_F(GraphicSession, LoadedFormAndKilledWindow) {
    InputSpec in;
    in.defect = "void";
    std::tie(in.size_x, in.size_y, in.size_z) = std::tuple(24, 24, 30);
    dir_.write("run.in", input_text(in));
    dir_.write("hole.ini", " {void}\n ===\n 5.0\n 12 12 15\n");
    start("-x run.in hole.ini");
    ASSERT_TRUE(find_window()) << output();
    ASSERT_TRUE(wait_output("Device types", 10s)) << output();
    point_at(200, 450, false);
    type(std::string(14, '\r'));
    ASSERT_NO_FATAL_FAILURE(press_run("loaded"));
    for (const char* f : {"run.in00g", "run.in.in"}) EXPECT_TRUE(dir_.exists(f)) << f;
    EXPECT_EQ(read_image_file(dir_.str() + "run.in00g").nx(), 24);
    EXPECT_TRUE(contains(dir_.read("run.in.in"), "\nvoid\n"));
    // No close request the plot library would ignore: a window manager's close kills instead.
    EXPECT_TRUE(
        contains(on_display("xprop -id " + window_ + " WM_PROTOCOLS"), "WM_PROTOCOLS:  not found"));
    xdo("windowkill " + window_); // as a window manager does
    ASSERT_EQ(wait_exit(10s), 0) << output();
    EXPECT_TRUE(contains(output(), " The connection to the X display was lost"));
    for (const char* f : {"run.in.imi", "Imagesrun.in.tex"}) EXPECT_TRUE(dir_.exists(f)) << f;
    EXPECT_FALSE(dir_.exists("run.in.imi.part"));
}

// EXIT while a box is being typed into ends the program at once, with status 0 and no run.
TEST_F(GraphicSession, ExitWhileTyping) {
    start();
    ASSERT_TRUE(find_window()) << output();
    ASSERT_TRUE(wait_output("Device types", 10s)) << output();
    point_at(200, 450, false);
    type("Cu1\rn");
    press(6);
    ASSERT_EQ(wait_exit(10s), 0) << output();
    EXPECT_TRUE(contains(output(), "EXIT")) << output();
    EXPECT_FALSE(dir_.exists("cu.imi"));
}

} // namespace
} // namespace korvex
