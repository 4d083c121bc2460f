// Graphic mode end to end, as a person uses it: a virtual X server (Xvfb) started and stopped
// here, the program driven with xdotool key by key and click by click, screenshots kept under
// the build directory (test-artifacts/gui/).
//
// The plot library reads one event at a time and drops what arrives while it redraws, so each
// key is sent alone with a pause after it, and clicks come only once the program has shown
// that it waits (its terminal output, or a pause longer than a redraw).
#include "gui/gif_file.hpp"

#include "support/testing.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace korvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ScratchDir;

fs::path artifacts_dir() {
    // KORVEX_BINARY is <build>/app/korvex.
    const fs::path dir = fs::path(KORVEX_BINARY).parent_path().parent_path() / "test-artifacts/gui";
    fs::create_directories(dir);
    return dir;
}

bool have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command and returns its standard output.
std::string capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

pid_t spawn(const std::vector<std::string>& args, posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// The exit status of `pid`, or -1 when it has not ended within `limit`.
int wait_for(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (std::chrono::steady_clock::now() > end) return -1;
        std::this_thread::sleep_for(50ms);
    }
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (wait_for(pid, 3s) == -1) {
        kill(pid, SIGKILL);
        wait_for(pid, 3s);
    }
}

// A virtual X server of its own. Other test runs on the same machine may start servers at the
// same moment, so the display number is drawn at random well above the usual ones and the
// server counts as started only once a client has connected to it.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        if (!have("Xvfb")) {
            why_ = "Xvfb is not installed";
            return;
        }
        std::random_device rd;
        for (int attempt = 0; attempt < 5 && name_.empty(); ++attempt) {
            const int n = 200 + static_cast<int>(rd() % 700);
            if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
            const std::string name = ":" + std::to_string(n);
            pid_ = spawn(
                {"Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
            if (pid_ <= 0) break;
            for (int i = 0; i < 100; ++i) {
                if (wait_for(pid_, 0ms) != -1) { // the server gave up (display taken)
                    pid_ = -1;
                    break;
                }
                if (std::system(("xdpyinfo -display " + name + " >/dev/null 2>&1").c_str()) == 0) {
                    name_ = name;
                    break;
                }
                std::this_thread::sleep_for(100ms);
            }
            if (name_.empty()) {
                stop(pid_);
                pid_ = -1;
            }
        }
    }
    ~VirtualDisplay() { stop(pid_); }
    bool ok() const { return !name_.empty(); }
    const std::string& name() const { return name_; }
    const std::string& why() const { return why_; }

  private:
    pid_t pid_ = -1;
    std::string name_, why_ = "Xvfb did not start";
};

// The program running in a scratch directory, and the tools that drive its window.
class Session {
  public:
    Session(const VirtualDisplay& x, const ScratchDir& dir) : display_(x.name()), dir_(dir) {
        dir.write("filesystem.ini", "KORVEX directories\nroot, system, run, record, data\n''\n"
                                    "'./'\n'./'\n'./'\n'./'\n");
        const std::string cmd = "cd '" + dir.str() + "' && DISPLAY=" + display_ +
                                " exec timeout 240 '" + KORVEX_BINARY +
                                "' -x </dev/null >out.txt 2>&1";
        pid_ = spawn({"/bin/sh", "-c", cmd});
    }
    ~Session() { stop(pid_); }

    std::string output() const { return dir_.read("out.txt"); }
    // What the test saw, for failure messages.
    std::string describe() const {
        return "display " + display_ + ", windows: " + xdo("search --name .") + "\noutput:\n" +
               output();
    }
    // Waits until `text` has appeared `times` times in the terminal output.
    bool wait_output(const std::string& text, std::chrono::seconds limit, int times = 1) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const std::string out = output();
            int n = 0;
            for (auto p = out.find(text); p != std::string::npos; p = out.find(text, p + 1)) ++n;
            if (n >= times) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    int wait_exit(std::chrono::seconds limit) {
        const int rc = wait_for(pid_, limit);
        if (rc != -1) pid_ = -1;
        return rc;
    }

    bool find_window() {
        for (int i = 0; i < 300 && window_.empty(); ++i) {
            const std::string w = xdo("search --name '^KORVEX$'");
            window_ = w.substr(0, w.find('\n'));
            if (window_.empty()) std::this_thread::sleep_for(100ms);
        }
        if (window_.empty()) return false;
        // The 800 x 600 drawing area is centred in the window.
        const std::string g = xdo("getwindowgeometry --shell " + window_);
        const auto value = [&](const std::string& key) {
            const auto p = g.find(key + "=");
            return p == std::string::npos ? 0 : std::atoi(g.c_str() + p + key.size() + 1);
        };
        off_x_ = (value("WIDTH") - 800) / 2;
        off_y_ = (value("HEIGHT") - 600) / 2;
        return true;
    }

    // Keys one by one; '\r' is Return, '\b' BackSpace. The pointer stays where it is.
    void type(const std::string& text) {
        for (char c : text) {
            std::string k(1, c);
            if (c == ' ') k = "space";
            if (c == '-') k = "minus";
            if (c == '.') k = "period";
            if (c == ',') k = "comma";
            if (c == '\r') k = "Return";
            if (c == '\b') k = "BackSpace";
            xdo("key " + k);
            std::this_thread::sleep_for(120ms);
        }
    }

    // Moves the pointer to a drawing-area pixel (from the top left), waits, clicks.
    void click_at(int x, int y) {
        xdo("mousemove --window " + window_ + " " + std::to_string(off_x_ + x) + " " +
            std::to_string(off_y_ + y));
        std::this_thread::sleep_for(200ms);
        xdo("click 1");
        std::this_thread::sleep_for(200ms);
    }
    // The viewer buttons: 6 x 2 cells over x 0.05..0.95, y 0.05..0.13 of the right panel.
    void press(int nb) {
        const int col = (nb - 1) % 6, row = (nb - 1) / 6;
        click_at(400 + 20 + 60 * col + 30, 600 - (66 - 24 * row));
    }
    void point_into_form() {
        xdo("mousemove --window " + window_ + " " + std::to_string(off_x_ + 200) + " " +
            std::to_string(off_y_ + 450));
        std::this_thread::sleep_for(300ms);
    }

    void screenshot(const std::string& name) const {
        const fs::path out = artifacts_dir() / name;
        std::system(("xwd -root -silent -display " + display_ + " | convert xwd:- '" +
                     out.string() + "' 2>/dev/null")
                        .c_str());
    }

  private:
    std::string xdo(const std::string& args) const {
        return capture("DISPLAY=" + display_ + " xdotool " + args + " 2>/dev/null");
    }
    std::string display_;
    const ScratchDir& dir_;
    pid_t pid_ = -1;
    std::string window_;
    int off_x_ = 0, off_y_ = 0;
};

// The keys of a Cu 200 kV perfect-crystal job-1 run: 32 x 32 columns, 40 slices, g = 200.
const char* const kCopperForm = "Cu"      // crystal (two characters end the box)
                                "1\r"     // job
                                "no\r"    // column approximation
                                "200\r"   // voltage
                                "no\r"    // defect
                                "32 32\r" // image size
                                "40\r"    // thickness
                                "0 0 1\r" // zone axis
                                "2 0 0\r" // diffraction vector
                                "-1 1\r"  // beam range
                                "1\r"     // (g, ng)
                                "1\r"     // absorption
                                "cu\r";   // output file

// Runs the form and RUN; returns once the image is shown.
void run_to_image(Session& s, const std::string& shots) {
    ASSERT_TRUE(s.find_window()) << s.describe();
    ASSERT_TRUE(s.wait_output("Device types", 10s)) << s.output();
    s.point_into_form();
    s.type(kCopperForm);
    std::this_thread::sleep_for(500ms);
    s.screenshot(shots + "_form.png");
    s.press(1);
    ASSERT_TRUE(s.wait_output("Contrast:", 120s)) << s.output();
    std::this_thread::sleep_for(500ms);
    s.screenshot(shots + "_image.png");
}

struct Tally {
    long dark = 0, light = 0;
};
Tally tally(const RgbPicture& p) {
    Tally t;
    for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
        const int v = (p.rgb[i] + p.rgb[i + 1] + p.rgb[i + 2]) / 3;
        if (v < 64) ++t.dark;
        if (v > 192) ++t.light;
    }
    return t;
}

// The file named on the line after "The image has been stored into the file:".
std::string stored_file(const std::string& out) {
    const std::string key = "The image has been stored into the file: \n";
    const auto p = out.find(key);
    if (p == std::string::npos) return {};
    const auto b = out.find_first_not_of(' ', p + key.size());
    return out.substr(b, out.find('\n', b) - b);
}

class GraphicSession : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "xdpyinfo", "xwd", "convert"})
            ASSERT_TRUE(have(tool)) << tool << " is needed to drive the window";
        x = std::make_unique<VirtualDisplay>();
        if (!x->ok()) GTEST_SKIP() << "graphic session not tested: " << x->why();
    }
    std::unique_ptr<VirtualDisplay> x;
};

TEST_F(GraphicSession, FormRunAndPostScriptExport) {
    ScratchDir dir;
    Session s(*x, dir);
    ASSERT_NO_FATAL_FAILURE(run_to_image(s, "cu200"));
    s.press(5); // C-PS
    ASSERT_EQ(s.wait_exit(60s), 0) << s.output();
    const std::string out = s.output();
    const std::string ps = stored_file(out);
    ASSERT_FALSE(ps.empty()) << out;
    EXPECT_EQ(ps.substr(ps.size() - 3), ".ps");
    const std::string path = fs::path(ps).is_absolute() ? ps : dir.str() + ps;
    ASSERT_TRUE(fs::exists(path)) << path;
    if (!have("gs")) GTEST_SKIP() << "Ghostscript is not installed: the PostScript is not rendered";
    const std::string png = (artifacts_dir() / "cu200_export_ps.png").string();
    ASSERT_EQ(std::system(("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=png16m -r50 -sOutputFile='" +
                           png + "' '" + path + "' >/dev/null 2>&1")
                              .c_str()),
              0);
    const Tally t = tally(read_png(png));
    EXPECT_GT(t.light, 1000); // paper
    EXPECT_GT(t.dark, 1000);  // the image is not blank
}

TEST_F(GraphicSession, SecondRunExportsGif) {
    ScratchDir dir;
    Session s(*x, dir);
    ASSERT_NO_FATAL_FAILURE(run_to_image(s, "cu200_rerun"));
    // A button the viewer does not serve leads back to the RUN panel; RUN runs again with
    // the same parameters, without the form.
    s.press(7);
    std::this_thread::sleep_for(300ms);
    s.press(1);
    ASSERT_TRUE(s.wait_output("Contrast:", 120s, 2)) << s.output();
    std::this_thread::sleep_for(500ms);
    s.screenshot("cu200_rerun_image.png");
    s.press(4); // GIF
    ASSERT_EQ(s.wait_exit(60s), 0) << s.output();
    const std::string gif = stored_file(s.output());
    ASSERT_FALSE(gif.empty()) << s.output();
    const std::string path = fs::path(gif).is_absolute() ? gif : dir.str() + gif;
    const RgbPicture p = read_gif(path);
    EXPECT_EQ(p.width, 850);
    EXPECT_EQ(p.height, 680);
    const Tally t = tally(p);
    EXPECT_GT(t.dark, 1000);
    EXPECT_GT(t.light, 100); // the frame and the bright parts of the image
}

TEST(GraphicMode, WithoutDisplayTheProgramSaysSoAndStops) {
    ScratchDir dir;
    std::string out;
    const int rc = testing::run_program(dir.str(), "-x", out, "DISPLAY=");
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("No X display is available"), std::string::npos) << out;
    EXPECT_EQ(out.find("Device types"), std::string::npos); // no window was tried
}

} // namespace
} // namespace korvex
