#include "gui/toolkit.hpp"

#include "scripted_graphics.hpp"
#include "support/testing.hpp"

#include <gtest/gtest.h>

namespace korvex {
namespace {

using testing::ScriptedGraphics;
using testing::stop_lines;
using testing::TestGui;

void viewer_layout(ButtonLayout& l) {
    l.grid_columns = 6;
    l.grid_rows = 2;
    l.button_area_x1 = 0.05f;
    l.button_area_x2 = 0.95f;
    l.button_area_y1 = 0.05f;
    l.button_area_y2 = 0.13f;
    l.plot_viewport_x1 = 0.05f;
    l.plot_viewport_x2 = 0.95f;
    l.plot_viewport_y1 = 0.35f;
    l.plot_viewport_y2 = 0.80f;
}

TEST(Buttons, DefaultLayoutGeometryOfButtonOne) {
    TestGui t;
    const Cell c = button_cell(t.gui.layout, 1);
    EXPECT_FLOAT_EQ(c.x1, 0.88f);
    EXPECT_FLOAT_EQ(c.x2, 0.98f);
    EXPECT_FLOAT_EQ(c.y1, 0.7875f);
    EXPECT_FLOAT_EQ(c.y2, 0.85f);

    button(t.gui, 1, "RUN", 0);
    // The face is inset by the bevels (w/20 across, h/7 up and down) plus the margins (a tenth
    // of a bevel); the label sits 0.35 of the cell height above the inset bottom edge.
    const float dx = 0.1f / 20.0f, dy = 0.0625f / 7.0f, gx = dx / 10.0f, gy = dy / 10.0f;
    ASSERT_FALSE(t.gr.rects.empty());
    const auto& face = t.gr.rects.front();
    EXPECT_EQ(face.ci, kFaceColour);
    EXPECT_NEAR(face.x1, 0.88f + gx + dx, 1e-6);
    EXPECT_NEAR(face.x2, 0.98f - gx - dx, 1e-6);
    EXPECT_NEAR(face.y1, 0.7875f + gy + dy, 1e-6);
    EXPECT_NEAR(face.y2, 0.85f - gy - dy, 1e-6);
    ASSERT_EQ(t.gr.texts.size(), 1u);
    EXPECT_EQ(t.gr.texts[0].text, "RUN");
    EXPECT_NEAR(t.gr.texts[0].x, 0.93f, 1e-6);
    EXPECT_NEAR(t.gr.texts[0].y, 0.7875f + gy + 0.35f * 0.0625f, 1e-6);
    EXPECT_EQ(t.gr.texts[0].ci, 0);   // raised: dark label
    EXPECT_EQ(t.gr.texts[0].font, 2); // the button font while drawing
    // Four bevels, and the caller's font, height, colour, viewport and window come back.
    EXPECT_EQ(t.gr.polygons.size(), 4u);
    EXPECT_EQ(t.gr.font, 1);
    EXPECT_EQ(t.gr.ci, 1);
    EXPECT_FLOAT_EQ(t.gr.vp[1], 1.0f);
    EXPECT_FLOAT_EQ(t.gr.win[1], 1.0f);
}

TEST(Buttons, ViewerLayoutCells) {
    ButtonLayout l;
    viewer_layout(l);
    const Cell b1 = button_cell(l, 1), b2 = button_cell(l, 2), b7 = button_cell(l, 7);
    EXPECT_FLOAT_EQ(b1.x1, 0.05f);
    EXPECT_FLOAT_EQ(b1.x2, 0.20f);
    EXPECT_FLOAT_EQ(b1.y1, 0.09f);
    EXPECT_FLOAT_EQ(b1.y2, 0.13f);
    EXPECT_FLOAT_EQ(b2.x1, 0.20f);
    EXPECT_FLOAT_EQ(b7.x1, 0.05f);
    EXPECT_FLOAT_EQ(b7.y1, 0.05f);
    EXPECT_FLOAT_EQ(b7.y2, 0.09f);
}

TEST(Buttons, HitTestEdgesMarginsAndInactiveCells) {
    TestGui t;
    viewer_layout(t.gui.layout);
    for (int nb = 1; nb <= 6; ++nb) button(t.gui, nb, "B", 0);
    const Cell b1 = button_cell(t.gui.layout, 1);
    // Window equal to NDC: positions are cell coordinates.
    EXPECT_EQ(ifbutton(t.gui, 0.1f, 0.11f), 1);
    EXPECT_EQ(ifbutton(t.gui, b1.x2, 0.11f), 1); // shared edge: lower number
    EXPECT_EQ(ifbutton(t.gui, b1.x2 + 0.001f, 0.11f), 2);
    EXPECT_EQ(ifbutton(t.gui, b1.x1 + 0.0001f, 0.11f), 1); // margin outside the drawn button
    EXPECT_EQ(ifbutton(t.gui, 0.1f, 0.07f), 0);            // button 7 was never drawn
    EXPECT_EQ(ifbutton(t.gui, 0.5f, 0.5f), 0);             // plot area
    EXPECT_EQ(ifbutton(t.gui, 0.04f, 0.11f), 0);

    button(t.gui, 2, "B", 3); // disabled
    EXPECT_EQ(ifbutton(t.gui, 0.3f, 0.11f), 0);
    button(t.gui, 3, "B", -1); // erased
    EXPECT_EQ(ifbutton(t.gui, 0.45f, 0.11f), 0);
    button(t.gui, 2, "B", 1); // label-only buttons can be hit
    EXPECT_EQ(ifbutton(t.gui, 0.3f, 0.11f), 2);
}

TEST(Buttons, HitTestIsIndependentOfWindowAndViewport) {
    TestGui t;
    for (int nb = 1; nb <= 8; ++nb) button(t.gui, nb, "B", 0);
    const ButtonLayout& l = t.gui.layout;
    struct Frame {
        float vp[4], win[4];
    };
    const Frame frames[] = {{{0.1f, 0.85f, 0.1f, 0.85f}, {-1.1f, 1.1f, -1.1f, 1.1f}},
                            {{0.0f, 0.5f, 0.2f, 0.3f}, {100.0f, -100.0f, 5.0f, 7.0f}},
                            {{0.3f, 0.9f, 0.0f, 1.0f}, {0.0f, 1e4f, 1.0f, 0.0f}}};
    for (const Frame& f : frames) {
        t.gr.svp(f.vp[0], f.vp[1], f.vp[2], f.vp[3]);
        t.gr.swin(f.win[0], f.win[1], f.win[2], f.win[3]);
        auto world = [&](float nx, float ny) {
            return std::pair<float, float>{
                f.win[0] + (nx - f.vp[0]) * (f.win[1] - f.win[0]) / (f.vp[1] - f.vp[0]),
                f.win[2] + (ny - f.vp[2]) * (f.win[3] - f.win[2]) / (f.vp[3] - f.vp[2])};
        };
        for (int nb = 1; nb <= 8; ++nb) {
            const Cell c = button_cell(l, nb);
            const auto [x, y] = world((c.x1 + c.x2) / 2.0f, (c.y1 + c.y2) / 2.0f);
            EXPECT_EQ(ifbutton(t.gui, x, y), nb);
        }
        const auto [x, y] = world(0.5f, 0.5f);
        EXPECT_EQ(ifbutton(t.gui, x, y), 0);
    }
}

TEST(Buttons, InvalidNumberOrStyleStopsWithTwoPartMessage) {
    TestGui t;
    viewer_layout(t.gui.layout);
    EXPECT_EQ(stop_lines([&] { button(t.gui, 0, "X", 0); }),
              (std::vector<std::string>{"BUTTON NUMBER =    0",
                                        "ERROR: invalid button number in SUBROUTINE BUTTON"}));
    EXPECT_EQ(stop_lines([&] { button(t.gui, 13, "X", 0); }),
              (std::vector<std::string>{"BUTTON NUMBER =   13",
                                        "ERROR: invalid button number in SUBROUTINE BUTTON"}));
    EXPECT_EQ(stop_lines([&] { button(t.gui, 1, "X", 6); }),
              (std::vector<std::string>{"TYPE =    6",
                                        "ERROR: invalid button type in SUBROUTINE BUTTON"}));
    EXPECT_TRUE(t.gr.texts.empty());
}

TEST(Buttons, StyleColoursOfLabelsAndSunkenButtons) {
    TestGui t;
    button(t.gui, 1, "A", -3); // a label alone in colour index 2
    button(t.gui, 2, "B", 5);  // pressed: light label, dark top-left bevels
    button(t.gui, 3, "C", 3);  // disabled label
    ASSERT_EQ(t.gr.texts.size(), 3u);
    EXPECT_EQ(t.gr.texts[0].ci, 2);
    EXPECT_EQ(t.gr.texts[1].ci, 1);
    EXPECT_EQ(t.gr.texts[2].ci, kDisabledColour);
    EXPECT_EQ(t.gr.polygons.at(0).ci, kDarkColour);
    EXPECT_EQ(t.gr.polygons.at(2).ci, kLightColour);
    EXPECT_EQ(t.gr.ci, 1); // style 3 leaves colour index 1
    EXPECT_TRUE(t.gui.layout.button_active[1]);
    EXPECT_FALSE(t.gui.layout.button_active[3]);
}

TEST(Rpgenv, AxisTable) {
    const std::pair<int, AxisOptions> table[] = {
        {-2, {" ", " "}},          {-1, {"BC", "BC"}},          {0, {"BCNST", "BCNST"}},
        {1, {"ABCNST", "ABCNST"}}, {2, {"ABCGNST", "ABCGNST"}}, {10, {"BCNSTL", "BCNST"}},
        {20, {"BCNST", "BCNSTL"}}, {30, {"BCNSTL", "BCNSTL"}},
    };
    for (const auto& [axis, want] : table) {
        TestGui t;
        rpgenv(t.gui, -1.1f, 1.1f, -1.0f, 1.0f, 0, axis);
        ASSERT_EQ(t.gr.boxes.size(), 1u);
        EXPECT_EQ(t.gr.boxes[0].xopt, want.x) << axis;
        EXPECT_EQ(t.gr.boxes[0].yopt, want.y) << axis;
        EXPECT_TRUE(t.out.str().empty());
        EXPECT_FLOAT_EQ(t.gr.vp[0], 0.10f); // the plot rectangle of the layout
        EXPECT_FLOAT_EQ(t.gr.vp[3], 0.85f);
        EXPECT_FLOAT_EQ(t.gr.win[0], -1.1f);
        EXPECT_FLOAT_EQ(t.gr.win[3], 1.0f);
    }
    TestGui t;
    rpgenv(t.gui, 0.0f, 1.0f, 0.0f, 1.0f, 0, 7);
    EXPECT_EQ(t.out.str(), " RPGENV: illegal AXIS argument.\n");
    EXPECT_EQ(t.gr.boxes.at(0).xopt, "BCNST");
}

TEST(Rpgenv, EqualLimitsLeaveWindowAndFrame) {
    TestGui t;
    t.gr.swin(2.0f, 3.0f, 4.0f, 5.0f);
    rpgenv(t.gui, 1.0f, 1.0f, 0.0f, 1.0f, 0, -1);
    rpgenv(t.gui, 0.0f, 1.0f, 7.0f, 7.0f, 0, -1);
    EXPECT_EQ(t.out.str(), " invalid x limits in RPGENV: XMIN = XMAX.\n"
                           " invalid y limits in RPGENV: YMIN = YMAX.\n");
    EXPECT_TRUE(t.gr.boxes.empty());
    EXPECT_FLOAT_EQ(t.gr.win[0], 2.0f);
}

TEST(Rpgband, FailedReadGivesOriginAndX) {
    TestGui t;
    t.gr.events.push_back({0.3f, 0.4f, 'A', false});
    float x = 9, y = 9;
    char ch = 0;
    rpgband(t.gui, 0, 0, 0.0f, 0.0f, x, y, ch);
    EXPECT_EQ(t.out.str(), " ERROR: in subroutine PGBAND.\n => returned XC=YC=0.0, CH=\"X\"\n");
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(ch, 'X');
    t.gr.click(0.25f, 0.5f, 'D');
    rpgband(t.gui, 0, 0, 0.0f, 0.0f, x, y, ch);
    EXPECT_EQ(ch, 'D');
    EXPECT_EQ(x, 0.25f);
}

TEST(Rpgband, CursorThatKeepsFailingStopsTheRun) {
    TestGui t;
    for (int i = 0; i < 50; ++i) t.gr.events.push_back({0, 0, 'A', false});
    const auto lines = stop_lines([&] {
        for (;;) {
            float x, y;
            char ch;
            rpgband(t.gui, 0, 0, 0.0f, 0.0f, x, y, ch);
        }
    });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("cursor"), std::string::npos);
}

TEST(Toolkit, TlenbuttAndFreeFormat) {
    EXPECT_EQ(tlenbutt("/XWINDOW   "), 8);
    EXPECT_EQ(tlenbutt("   "), 0);
    EXPECT_EQ(tlenbutt(""), 0);
    EXPECT_EQ(list_real32(0.25f), "0.25");
    EXPECT_EQ(list_real32(-2.0f), "-2.0");
    EXPECT_EQ(list_real32(1.0f / 3.0f), "0.3333333");
}

} // namespace
} // namespace korvex
