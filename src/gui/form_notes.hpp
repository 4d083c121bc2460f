// The two note lines under the entry form's boxes: what the box being filled takes, and why the
// last value typed was refused (the box is then taken again).
#pragma once

#include "gui/toolkit.hpp"

#include <string>

namespace korvex {

// A short hint for the box with this label ("" for a label without one).
std::string box_hint(const std::string& label);

// Draws the hint and the message (either may be empty) below the boxes, in the form's window
// (0..1 on both axes), replacing what the lines showed before.
void form_notes(Gui& gui, const std::string& hint, const std::string& message);

} // namespace korvex
