// Single-line entry fields drawn in the current window: one for a vector of reals, one for a
// vector of integers, one for text. Each call draws the labelled box and clears the value;
// with a non-zero `status` it then takes keys one by one, echoing each at once, until the
// entry ends (`flag` 1) or Backspace cancels it (`flag` 0: the caller asks again).
//
// Keys: digits, "-" (negates the current component wherever it is typed) and, in the real box,
// one "." per component; blank or comma moves to the next component once the current one has a
// digit; on the last component Return, or a left click outside the box, ends the entry. The
// text box stores every key but the middle and right mouse buttons and control characters,
// ends on Return or when full. Nothing typed can be edited; Backspace starts the box again.
// What is typed is shown in full from the box's left edge, the cursor bar after it; text longer
// than the box shows its end.
#pragma once

#include "gui/toolkit.hpp"

#include <array>
#include <string>
#include <vector>

namespace korvex {

struct InputBox {
    int box = 0;                           // number in the caller's table (not used here)
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;  // world coordinates, x1 < x2, y1 < y2
    std::array<float, 3> colour1{1, 1, 1}; // fill, installed as colour index 31
    std::array<float, 3> colour2{1, 0, 0}; // label and typed text, colour index 32
    int layout = 1;                        // 1 label left of the box, 2 label above it
    int lablen = 0;                        // label characters drawn
    std::string label;
    // A value offered (as it would be typed): Return, or a click outside a numeric box, takes
    // it; any other first key starts a new value in its place; Backspace clears it.
    std::string initial;
};

inline constexpr int kBoxFillColour = 31, kBoxTextColour = 32;

// `values` is resized to n. `flag` is written only when status != 0.
void inputboxreal(Gui& gui, const InputBox& b, int status, int n, std::vector<double>& values,
                  int& flag);
void inputboxinte(Gui& gui, const InputBox& b, int status, int n, std::vector<int>& values,
                  int& flag);
// `text` receives at most n characters: positions 1..n are overwritten (blank-padded), the
// rest is left as it was.
void inputboxchar(Gui& gui, const InputBox& b, int status, int n, std::string& text, int& flag);

} // namespace korvex
