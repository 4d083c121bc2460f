#include "gui/input_box.hpp"

#include "scripted_graphics.hpp"
#include "support/testing.hpp"

#include <gtest/gtest.h>

namespace korvex {
namespace {

using testing::keys;
using testing::stop_lines;
using testing::TestGui;

// A box in the middle of a 0..1 window; key events arrive inside it.
InputBox test_box() {
    InputBox b;
    b.x1 = 0.55f;
    b.x2 = 0.95f;
    b.y1 = 0.50f;
    b.y2 = 0.53f;
    b.label = "Zone Axis:";
    b.lablen = 10;
    return b;
}

std::string echoed(const TestGui& t) {
    std::string s;
    for (const auto& x : t.gr.texts)
        if (x.text.size() == 1) s += x.text;
    return s;
}

TEST(InputBox, RealVectorWithSignsFractionsAndSeparators) {
    TestGui t;
    t.gr.add(keys("1,-2.5 3\r"));
    std::vector<double> v;
    int flag = -1;
    inputboxreal(t.gui, test_box(), 1, 3, v, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(v, (std::vector<double>{1.0, -2.5, 3.0}));
    EXPECT_EQ(echoed(t), "1,-2.5 3");
    EXPECT_TRUE(t.gr.events.empty());
    EXPECT_EQ(t.gr.ci, 1); // the last cursor bar is covered in colour 1
}

TEST(InputBox, RealEndsOnlyAfterADigitAndOnAClickOutside) {
    TestGui t;
    t.gr.add(keys("\r-.5"));
    t.gr.click(0.7f, 0.51f); // inside the box: ignored
    t.gr.click(0.2f, 0.51f); // outside: ends the entry
    std::vector<double> v;
    int flag = -1;
    inputboxreal(t.gui, test_box(), 1, 1, v, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(v, (std::vector<double>{-0.5}));
    EXPECT_EQ(echoed(t), "-.5");
}

TEST(InputBox, RealSecondPointIgnoredAndSeparatorNeedsADigit) {
    TestGui t;
    t.gr.add(keys("1..5\r"));
    std::vector<double> v;
    int flag = 0;
    inputboxreal(t.gui, test_box(), 1, 1, v, flag);
    EXPECT_EQ(v, (std::vector<double>{1.5}));
    EXPECT_EQ(echoed(t), "1.5");

    TestGui u;
    u.gr.add(keys(" ,2 x 7,0.05\r")); // separators before a digit and letters do nothing
    inputboxreal(u.gui, test_box(), 1, 3, v, flag);
    EXPECT_EQ(v, (std::vector<double>{2.0, 7.0, 0.05}));
    EXPECT_EQ(echoed(u), "2 7,0.05");
}

TEST(InputBox, IntegerVectorKeepsEachSign) {
    TestGui t;
    t.gr.add(keys("3 -4.\r"));
    std::vector<int> v;
    int flag = 0;
    inputboxinte(t.gui, test_box(), 1, 2, v, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(v, (std::vector<int>{3, -4}));
    EXPECT_EQ(echoed(t), "3 -4"); // a point is not taken by an integer box
}

TEST(InputBox, IntegerRefusesDigitsBeyondItsRange) {
    TestGui t;
    t.gr.add(keys("21474836479\r"));
    std::vector<int> v;
    int flag = 0;
    inputboxinte(t.gui, test_box(), 1, 1, v, flag);
    EXPECT_EQ(v, (std::vector<int>{2147483647}));
}

TEST(InputBox, TextEndsWhenFullOrOnReturn) {
    TestGui t;
    t.gr.add(keys("Cu"));
    std::string s;
    int flag = 0;
    inputboxchar(t.gui, test_box(), 1, 2, s, flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(s, "Cu");
    EXPECT_TRUE(t.gr.events.empty());

    t.gr.add(keys("XDW\r"));
    inputboxchar(t.gui, test_box(), 1, 2, s, flag);
    EXPECT_EQ(s, "W ");
    EXPECT_TRUE(t.gr.events.empty());

    // A left click is stored like a typed "A"; the text beyond n characters is kept.
    s = "abcdef";
    t.gr.add(keys("q"));
    t.gr.click(0.1f, 0.1f, 'A');
    inputboxchar(t.gui, test_box(), 1, 2, s, flag);
    EXPECT_EQ(s, "qAcdef");
}

TEST(InputBox, BackspaceCancelsWithTheTypedValueUnsigned) {
    for (int kind = 0; kind < 3; ++kind) {
        TestGui t;
        t.gr.add(keys("\b"));
        int flag = 1;
        std::vector<double> r{5.0};
        std::vector<int> i{5};
        std::string s = "zz";
        if (kind == 0) inputboxreal(t.gui, test_box(), 1, 1, r, flag);
        if (kind == 1) inputboxinte(t.gui, test_box(), 1, 1, i, flag);
        if (kind == 2) inputboxchar(t.gui, test_box(), 1, 2, s, flag);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(r, (std::vector<double>{kind == 0 ? 0.0 : 5.0}));
        EXPECT_EQ(i, (std::vector<int>{kind == 1 ? 0 : 5}));
        EXPECT_EQ(s, kind == 2 ? "  " : "zz");
        EXPECT_EQ(t.gr.ci, kBoxTextColour);
    }
    TestGui t;
    t.gr.add(keys("-3\b"));
    std::vector<double> v;
    int flag = 1;
    inputboxreal(t.gui, test_box(), 1, 1, v, flag);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(v, (std::vector<double>{3.0}));
}

TEST(InputBox, StatusZeroDrawsAndClearsOnly) {
    TestGui t;
    std::vector<double> v{1.0, 2.0};
    int flag = 7;
    inputboxreal(t.gui, test_box(), 0, 2, v, flag);
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(v, (std::vector<double>{0.0, 0.0}));
    ASSERT_EQ(t.gr.texts.size(), 1u);
    EXPECT_EQ(t.gr.texts[0].text, "Zone Axis:");
    EXPECT_FLOAT_EQ(t.gr.texts[0].x, 0.55f); // layout 1: label ends at the box
    EXPECT_FLOAT_EQ(t.gr.texts[0].fjust, 1.0f);
    EXPECT_NEAR(t.gr.texts[0].height, 30.0f * 0.03f, 1e-5);
    ASSERT_EQ(t.gr.rects.size(), 1u);
    EXPECT_EQ(t.gr.rects[0].ci, kBoxFillColour);
    EXPECT_FLOAT_EQ(t.gr.colours[kBoxTextColour][0], 1.0f);
    EXPECT_FLOAT_EQ(t.gr.colours[kBoxTextColour][1], 0.0f);
}

TEST(InputBox, LabelAboveAndShortLabel) {
    TestGui t;
    InputBox b = test_box();
    b.layout = 2;
    b.lablen = 4;
    std::string s;
    int flag = 0;
    inputboxchar(t.gui, b, 0, 5, s, flag);
    ASSERT_EQ(t.gr.texts.size(), 1u);
    EXPECT_EQ(t.gr.texts[0].text, "Zone");
    EXPECT_FLOAT_EQ(t.gr.texts[0].fjust, 0.0f);
    EXPECT_NEAR(t.gr.texts[0].x, 0.55f - 0.04f, 1e-6);
    EXPECT_NEAR(t.gr.texts[0].y, 0.50f + 1.3f * 0.03f, 1e-6);
}

TEST(InputBox, BadRectangleOrLayoutStops) {
    TestGui t;
    InputBox b = test_box();
    std::vector<double> v;
    int flag = 0;
    b.x2 = b.x1;
    EXPECT_EQ(
        stop_lines([&] { inputboxreal(t.gui, b, 0, 1, v, flag); }),
        (std::vector<std::string>{"The location of input box defined wrong in INPUTBOXREAL"}));
    b = test_box();
    b.layout = 3;
    EXPECT_EQ(stop_lines([&] { inputboxreal(t.gui, b, 0, 1, v, flag); }),
              (std::vector<std::string>{"The layout of INPUTBOX given wrong"}));
}

} // namespace
} // namespace korvex
