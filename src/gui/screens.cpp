#include "gui/screens.hpp"

#include "gui/image_display.hpp"
#include "gui/viewer.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"

#include <vector>

namespace korvex {

namespace {

// Draws the RUN button and waits for a click on a button; a click beside every button is
// remembered by the view (in nm of its image) when it lies on the image.
int wait_for_button(Gui& gui, PanelMemory& mem, ImageView* view = nullptr) {
    for (;;) {
        gui.gr.panl(2, 1);
        gui.gr.sci(mem.colour_index);
        gui.gr.sch(mem.char_height);
        button(gui, kRunButton, "RUN", 0);
        if (view) use_view_window(gui, *view);
        float x = 0.0f, y = 0.0f;
        char ch = 0;
        read_cursor_band(gui, 0, 0, 0.0f, 0.0f, x, y, ch);
        const int ib = button_hit(gui, x, y);
        if (ib != 0) return ib;
        if (view) view_click(*view, x, y);
    }
}

void close_screen(Gui& gui) {
    if (gui.device > 0) {
        gui.gr.select(gui.device);
        gui.gr.close();
        gui.device = 0;
    }
}

int open_file_device(Gui& gui, const std::string& device) {
    const int id = gui.gr.open(device);
    if (id <= 0) halt("the plot device is not available");
    return id;
}

// A polyline through the running sums, scaled to the frame and lifted by 0.6.
void phase_curve(Graphics& g, const std::vector<std::pair<double, double>>& pts) {
    std::vector<float> x, y;
    x.reserve(pts.size());
    y.reserve(pts.size());
    for (const auto& [re, im] : pts) {
        x.push_back(static_cast<float>(re / 60.0));
        y.push_back(static_cast<float>(im / 60.0 + 0.6));
    }
    if (x.size() >= 2) g.line(static_cast<int>(x.size()), x.data(), y.data());
    if (x.empty()) return;
    // The resultant amplitude from the start point, and a dot on the start point.
    g.slw(10);
    g.arro(x.front(), y.front(), x.back(), y.back());
    g.slw(20);
    const float dx[2] = {x.front(), x.front()}, dy[2] = {y.front(), y.front()};
    g.line(2, dx, dy);
}

} // namespace

bool run_panel(Gui& gui, PanelMemory& mem) {
    for (;;) {
        const int ib = wait_for_button(gui, mem);
        if (ib == kRunButton) {
            mem.colour_index = gui.gr.qci();
            mem.char_height = gui.gr.qch();
            button(gui, kRunButton, "RUN", 5);
            gui.gr.panl(2, 1);
            gui.gr.update();
            return true;
        }
        if (ib == kExitButton) {
            button(gui, kExitButton, "EXIT", 5);
            close_screen(gui);
            return false;
        }
    }
}

void export_view(Gui& gui, ImageView& view, bool postscript) {
    const std::string image = view.images.at(static_cast<std::size_t>(view.current)).path;
    const std::string file = image + (postscript ? ".ps" : ".gif");
    // The file device is opened beside the screen, which stays as it is; a view keeps what it
    // shows (zoom, contrast, beam) but draws the whole page of the file afresh.
    const int id = gui.gr.open(file + (postscript ? "/VCPS" : "/GIF"));
    if (id <= 0) {
        gui.out << " The image could not be stored: the file \"" << file
                << "\" cannot be written.\n";
        gui.out.flush();
        if (gui.device > 0) gui.gr.select(gui.device);
        return;
    }
    const ButtonLayout layout = gui.layout;
    const bool was_drawn = view.drawn;
    float vp[4], win[4];
    std::copy(view.vp, view.vp + 4, vp);
    std::copy(view.win, view.win + 4, win);
    rpgenv(gui, -1.1f, 1.1f, -1.1f, 1.1f, 0, -1);
    draw_view(gui, view, postscript ? 256 : 128, false);
    gui.gr.close();
    gui.layout = layout;
    // The cursor is read on the screen again, in the view drawn there.
    std::copy(vp, vp + 4, view.vp);
    std::copy(win, win + 4, view.win);
    view.drawn = was_drawn;
    if (gui.device > 0) gui.gr.select(gui.device);
    gui.out << " The image has been stored into the file: \n " << file << '\n';
    gui.out.flush();
}

bool result_viewer(Gui& gui, PanelMemory& mem, const State& st, const std::string& last_image) {
    ImageView view = view_of_run(st, last_image);
    if (!view.images.empty()) {
        gui.gr.panl(2, 1);
        draw_view(gui, view, 100, false);
        gui.out << " The viewer shows " << view.images[static_cast<std::size_t>(view.current)].label
                << ": DIFF shows the next beam, GIF and C-PS store the image shown, RUN runs "
                   "again, EXIT ends.\n";
        gui.out.flush();
    }
    for (;;) {
        const int ib = wait_for_button(gui, mem, &view);
        if (ib == kPostScriptButton || ib == kGifButton) {
            if (view.images.empty()) {
                // Thickness fringes and the other jobs without images leave nothing to store.
                gui.out << " No image to store: the run (job " << job_number(st.job)
                        << ") wrote no image file.\n";
                gui.out.flush();
                continue;
            }
            const bool ps = ib == kPostScriptButton;
            button(gui, ib, ps ? "C-PS" : "GIF", 5);
            gui.gr.update();
            export_view(gui, view, ps);
            gui.gr.panl(2, 1);
            button(gui, ib, ps ? "C-PS" : "GIF", 0);
            draw_view(gui, view, 100, false);
            continue;
        }
        if (ib == kExitButton) {
            button(gui, kExitButton, "EXIT", 5);
            close_screen(gui);
            return false;
        }
        if (is_view_button(ib)) {
            if (view_button(view, ib)) {
                gui.gr.panl(2, 1);
                draw_view(gui, view, 100, false);
            }
            continue;
        }
        return true;
    }
}

PhasePlotter::Choice draw_phase_diagram(Gui& gui, PanelMemory& mem, const PhaseDiagram& d,
                                        const std::string& ps_path) {
    Graphics& g = gui.gr;
    const bool file_mode = !ps_path.empty();
    int file_device = 0;
    if (file_mode) {
        close_screen(gui);
        file_device = open_file_device(gui, ps_path + "/VCPS");
    } else {
        // A diagram replaces whatever the plot rectangle showed before.
        g.panl(2, 1);
        rpgenv(gui, -1.1f, 1.1f, -1.1f, 1.1f, 0, -2);
        g.sfs(1);
        g.sci(0);
        g.rect(-1.1f, 1.1f, -1.1f, 1.1f);
    }
    g.sci(1);
    rpgenv(gui, -1.1f, 1.1f, -1.1f, 1.1f, 0, -1);

    const int fs = g.qfs();
    g.sci(1);
    g.sls(2);
    g.slw(2);
    phase_curve(g, d.perfect);
    g.sci(1);
    g.sls(1);
    g.slw(2);
    phase_curve(g, d.defect);
    g.slw(2);
    g.sfs(fs);

    if (file_mode) {
        // Each position's file is finished at once.
        g.select(file_device);
        g.close();
        return PhasePlotter::Choice::next;
    }
    g.update();
    const int ib = wait_for_button(gui, mem);
    if (ib == kPostScriptButton) {
        button(gui, kPostScriptButton, "C-PS", 5);
        return PhasePlotter::Choice::to_files;
    }
    if (ib == kExitButton) {
        button(gui, kExitButton, "EXIT", 5);
        close_screen(gui);
        return PhasePlotter::Choice::exit;
    }
    return PhasePlotter::Choice::back_to_run;
}

} // namespace korvex
