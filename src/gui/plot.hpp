// The plot devices of this platform behind the `Graphics` interface: "/XWINDOW" (the screen:
// an 800 x 600 window titled "KORVEX"), "file.ps/VCPS" (colour PostScript, portrait),
// "file.gif/GIF" (an 850 x 680 GIF picture), "file.png/PNG" and "/NULL", each with the classic
// colour table of its kind (screen and GIF pictures on black, PostScript on white), no
// prompting, and the cursor convention of `Graphics::band`.
#pragma once

#include "gui/graphics.hpp"

#include <memory>
#include <string>

namespace korvex {

std::unique_ptr<Graphics> open_plot_devices();

// Whether an X display can be reached; when not, `why` says so in one line.
bool x_display_available(std::string& why);

} // namespace korvex
