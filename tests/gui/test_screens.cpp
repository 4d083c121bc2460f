#include "gui/screens.hpp"

#include "state/image_file.hpp"

#include "scripted_graphics.hpp"
#include "support/testing.hpp"

#include <gtest/gtest.h>

namespace korvex {
namespace {

using testing::ScratchDir;
using testing::stop_lines;
using testing::TestGui;

// A graphic context after the entry form: viewer layout, screen open, left-panel frame.
struct Screen : TestGui {
    Screen() {
        ButtonLayout& l = gui.layout;
        l.grid_columns = 6;
        l.grid_rows = 2;
        l.button_area_x1 = l.plot_viewport_x1 = 0.05f;
        l.button_area_x2 = l.plot_viewport_x2 = 0.95f;
        l.button_area_y1 = 0.05f;
        l.button_area_y2 = 0.13f;
        l.plot_viewport_y1 = 0.35f;
        l.plot_viewport_y2 = 0.80f;
        gui.device = gr.open("/XWINDOW");
        const char* labels[12] = {"RUN",  "ZOOM+",  "ZOOM-", "GIF",  "C-PS",  "EXIT",
                                  "DIFF", "DEFECT", "CTS+",  "CTS-", "LABEL", "STOP"};
        for (int nb = 1; nb <= 12; ++nb) button(gui, nb, labels[nb - 1], 0);
        rpgenv(gui, 0.0f, 1.0f, 0.0f, 1.0f, 0, -2);
        gr.texts.clear();
    }
    PanelMemory mem{3, 0.9f};
    State st;
};

TEST(RunPanel, ClicksBesideButtonsAndOtherButtonsWait) {
    Screen s;
    s.gr.click(0.5f, 0.5f);
    s.gr.press(2); // ZOOM+: not served here
    s.gr.press(1);
    EXPECT_TRUE(run_panel(s.gui, s.mem));
    EXPECT_EQ(s.out.str(), " Cursor at: 0.5 0.5\n");
    EXPECT_TRUE(s.gr.events.empty());
    // RUN remembers the colour index and height current when it was pressed (a drawn button
    // leaves colour index 1), and RUN is redrawn pressed (light label).
    EXPECT_EQ(s.mem.colour_index, 1);
    EXPECT_FLOAT_EQ(s.mem.char_height, 0.9f);
    ASSERT_FALSE(s.gr.texts.empty());
    EXPECT_EQ(s.gr.texts.back().text, "RUN");
    EXPECT_EQ(s.gr.texts.back().ci, 1);
    EXPECT_EQ(s.gr.panel_x, 2);
}

TEST(RunPanel, ExitClosesTheWindow) {
    Screen s;
    s.gr.press(6);
    EXPECT_FALSE(run_panel(s.gui, s.mem));
    EXPECT_EQ(s.gr.closes, 1);
    EXPECT_EQ(s.gui.device, 0);
    EXPECT_EQ(s.gr.texts.back().text, "EXIT");
}

TEST(ResultViewer, ExportWithoutImageIsRefused) {
    Screen s;
    s.st.job = 2;
    s.gr.press(5);
    s.gr.press(4);
    s.gr.press(6);
    EXPECT_FALSE(result_viewer(s.gui, s.mem, s.st, ""));
    const std::string msg = " No image to store: the run (job 2) wrote no image file.\n";
    EXPECT_EQ(s.out.str(), msg + msg);
    EXPECT_EQ(s.gr.opened.size(), 1u); // only the screen
}

TEST(ResultViewer, OtherButtonsGoBackToTheRunPanel) {
    for (int nb : {1, 2, 3, 7, 12}) {
        Screen s;
        s.gr.click(0.5f, 0.5f);
        s.gr.press(nb);
        EXPECT_TRUE(result_viewer(s.gui, s.mem, s.st, "x_01g"));
        EXPECT_TRUE(s.gr.opened.size() == 1u);
    }
}

TEST(ResultViewer, PostScriptAndGifExports) {
    ScratchDir dir;
    ImageData img;
    img.values.resize(2, 2);
    img.values(1, 1) = 1.0;
    img.values(2, 2) = 3.0;
    const std::string file = dir.str() + "cu_01g";
    write_image_file(file, img, RowFormat::es12_3);
    for (const bool ps : {true, false}) {
        Screen s;
        s.gr.press(ps ? 5 : 4);
        EXPECT_FALSE(result_viewer(s.gui, s.mem, s.st, file));
        EXPECT_EQ(s.gr.opened.back(), file + (ps ? ".ps/VCPS" : ".gif/GIF"));
        EXPECT_EQ(s.gr.closes, 2); // the screen, then the file
        ASSERT_EQ(s.gr.images.size(), 1u);
        // Level of 1 between 0 and 3: 255 / 3 and 127 / 3, in the top row after the flip.
        EXPECT_EQ(s.gr.images[0].cells, (std::vector<int>{0, ps ? 255 : 127, ps ? 85 : 42, 0}));
        const std::string out = s.out.str();
        EXPECT_NE(out.find(" The image has been stored into the file: \n " + file +
                           (ps ? ".ps\n" : ".gif\n")),
                  std::string::npos);
    }
}

TEST(ResultViewer, UnavailableDeviceStops) {
    Screen s;
    s.gr.refuse_open = true;
    s.gr.press(5);
    EXPECT_EQ(stop_lines([&] { result_viewer(s.gui, s.mem, s.st, "x_01g"); }),
              (std::vector<std::string>{"the plot device is not available"}));
}

PhaseDiagram small_diagram() {
    PhaseDiagram d;
    d.perfect = {{0.0, 0.0}, {6.0, 0.0}, {6.0, 6.0}};
    d.defect = {{0.0, 0.0}, {0.0, 12.0}};
    return d;
}

TEST(PhasePanel, ScreenDiagramAndItsButtons) {
    Screen s;
    s.gr.press(5);
    EXPECT_EQ(draw_phase_diagram(s.gui, s.mem, small_diagram(), ""),
              PhasePlotter::Choice::to_files);
    // Dashed perfect-crystal path scaled by 1/60 and lifted by 0.6, then the defect path.
    bool dashed = false, full = false;
    for (const auto& l : s.gr.lines) {
        if (l.x.size() == 3 && l.ls == 2) {
            dashed = true;
            EXPECT_FLOAT_EQ(l.x[1], 0.1f);
            EXPECT_FLOAT_EQ(l.y[2], 0.7f);
        }
        if (l.x.size() == 2 && l.ls == 1 && l.y[1] > 0.79f) full = true;
    }
    EXPECT_TRUE(dashed);
    EXPECT_TRUE(full);
    EXPECT_EQ(s.gr.arrows, 2);
    EXPECT_EQ(s.gr.lw, 2);
    // The plot rectangle is cleared, then framed in the foreground colour.
    ASSERT_FALSE(s.gr.boxes.empty());
    EXPECT_EQ(s.gr.boxes.back().xopt, "BC");
    EXPECT_EQ(s.gr.boxes.back().ci, 1);

    Screen e;
    e.gr.press(6);
    EXPECT_EQ(draw_phase_diagram(e.gui, e.mem, small_diagram(), ""), PhasePlotter::Choice::exit);
    EXPECT_EQ(e.gui.device, 0);

    Screen r;
    r.gr.click(0.5f, 0.5f);
    r.gr.press(3);
    EXPECT_EQ(draw_phase_diagram(r.gui, r.mem, small_diagram(), ""),
              PhasePlotter::Choice::back_to_run);
    EXPECT_EQ(r.out.str(), " Cursor at: 0.5 0.5\n");
}

TEST(PhasePanel, FileModeWritesOneFilePerPosition) {
    Screen s;
    EXPECT_EQ(draw_phase_diagram(s.gui, s.mem, small_diagram(), "cu_-100.ps"),
              PhasePlotter::Choice::next);
    EXPECT_EQ(draw_phase_diagram(s.gui, s.mem, small_diagram(), "cu_-98.ps"),
              PhasePlotter::Choice::next);
    EXPECT_EQ(s.gr.opened,
              (std::vector<std::string>{"/XWINDOW", "cu_-100.ps/VCPS", "cu_-98.ps/VCPS"}));
    EXPECT_EQ(s.gr.closes, 3);
    EXPECT_TRUE(s.gr.devices.empty());
    s.gr.refuse_open = true;
    EXPECT_EQ(stop_lines([&] { draw_phase_diagram(s.gui, s.mem, small_diagram(), "x.ps"); }),
              (std::vector<std::string>{"the plot device is not available"}));
}

} // namespace
} // namespace korvex
