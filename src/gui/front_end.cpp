#include "gui/front_end.hpp"

#include "gui/entry_form.hpp"
#include "gui/image_display.hpp"
#include "gui/overview.hpp"
#include "gui/plot.hpp"
#include "gui/screens.hpp"
#include "gui/toolkit.hpp"
#include "gui/viewer.hpp"
#include "state/fmt.hpp"

namespace korvex {

namespace {

class Session;

class Display final : public RunDisplay {
  public:
    explicit Display(Gui& gui) : gui_(gui) {}
    void begin_condition(const State&) override {
        rpgenv(gui_, -1.1f, 1.1f, -1.1f, 1.1f, 0, -1);
        gui_.gr.update();
    }
    void slice_done(const State&, int, int) override {}
    void show_image(const State& st, const std::string& path) override {
        ImageView view = view_of_run(st, path);
        draw_view(gui_, view, 100, false);
    }

  private:
    Gui& gui_;
};

class Plotter final : public PhasePlotter {
  public:
    Plotter(Gui& gui, PanelMemory& mem) : gui_(gui), mem_(mem) {}
    Choice draw(const State&, const PhaseDiagram& d, const std::string& ps_path) override {
        return draw_phase_diagram(gui_, mem_, d, ps_path);
    }

  private:
    Gui& gui_;
    PanelMemory& mem_;
};

class Session final : public GraphicSession {
  public:
    Session(State& st, std::unique_ptr<Graphics> gr, OverviewOptions overview)
        : graphics_(std::move(gr)), gui_{*graphics_, st.console(), {}, 0, 0}, display_(gui_),
          plotter_(gui_, memory_), overview_(make_overview_writer(*graphics_, overview)) {}

    void input_parameters(State& st) override {
        try {
            guiinput_system_parameters(st, gui_);
        } catch (const ExitRequested&) {
            // EXIT in the form: the RUN panel is not shown, nothing runs.
            exit_ = true;
            button(gui_, kExitButton, "EXIT", 5);
            gui_.out << " EXIT: the program ends without a run.\n";
            return;
        }
        // The RUN panel starts with what the form leaves current.
        memory_.colour_index = graphics_->qci();
        memory_.char_height = graphics_->qch();
    }
    bool run_panel(State&) override { return !exit_ && korvex::run_panel(gui_, memory_); }
    RunDisplay& display() override { return display_; }
    PhasePlotter* phase_plotter() override { return &plotter_; }
    OverviewWriter* overview_writer() override { return overview_.get(); }
    bool result_viewer(State& st, const std::string& last_image) override {
        return korvex::result_viewer(gui_, memory_, st, last_image);
    }

    // Keeps the X display connection the session was checked with open while it lives.
    void hold(std::shared_ptr<void> x_connection) { x_connection_ = std::move(x_connection); }

  private:
    std::shared_ptr<void> x_connection_; // released after the devices below are closed
    std::unique_ptr<Graphics> graphics_; // closes any device still open when the session ends
    Gui gui_;
    PanelMemory memory_;
    bool exit_ = false; // EXIT was pressed in the form
    Display display_;
    Plotter plotter_;
    std::unique_ptr<OverviewWriter> overview_;
};

// Text mode has no screen: each column position's diagrams go straight to their file.
class FilePlotter final : public PhasePlotter {
  public:
    explicit FilePlotter(State& st)
        : graphics_(open_plot_devices()), gui_{*graphics_, st.console(), {}, 0, 0} {}
    Choice draw(const State& st, const PhaseDiagram& d, const std::string& ps_path) override {
        return draw_phase_diagram(gui_, memory_, d,
                                  ps_path.empty() ? trim(st.f_out) + ".ps" : ps_path);
    }

  private:
    std::unique_ptr<Graphics> graphics_;
    Gui gui_;
    PanelMemory memory_;
};

} // namespace

std::unique_ptr<PhasePlotter> make_file_plotter(State& st) {
    return std::make_unique<FilePlotter>(st);
}

std::unique_ptr<GraphicSession> make_graphic_session(State& st, std::unique_ptr<Graphics> gr,
                                                     OverviewOptions overview) {
    return std::make_unique<Session>(st, std::move(gr), overview);
}

std::unique_ptr<GraphicSession> make_graphic_session(State& st, OverviewOptions overview) {
    std::string why;
    std::shared_ptr<void> x = connect_x_display(why);
    if (!x) {
        st.console() << " " << why << '\n';
        return nullptr;
    }
    auto session = std::make_unique<Session>(st, open_plot_devices(x), overview);
    session->hold(std::move(x));
    return session;
}

} // namespace korvex
