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

// A connection to the X display of $DISPLAY, or nullptr when none can be made (`why` then says
// so in one line). An X server may reset itself when its last client disconnects, and a window
// opened during the reset fails; holding this connection while the window is opened and used
// avoids that, and a check made during a reset (a previous run has just ended) is retried for
// up to two seconds. A connection lost later (the window killed) ends the program at once:
// the files in the making are removed, and the status is 1 during a run, 0 in the viewer.
std::shared_ptr<void> connect_x_display(std::string& why);

// The plot library asks the window manager to send it a close request, which it then ignores
// while it waits for a key or a click: the window would stay open with the program waiting.
// Without the request, a window manager's close ends the window's connection instead, and the
// program ends as for any lost connection (see above). Applied to the windows titled `title`.
void hand_close_to_window_manager(const char* title);

} // namespace korvex
