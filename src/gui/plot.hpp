// The plot devices of this platform behind the `Graphics` interface: "/XWINDOW" (the screen:
// an 800 x 600 window titled "KORVEX"), "file.ps/VCPS" (colour PostScript, portrait),
// "file.gif/GIF" (an 850 x 680 GIF picture), "file.png/PNG" and "/NULL", each with the classic
// colour table of its kind (screen and GIF pictures on black, PostScript on white), no
// prompting, and the cursor convention of `Graphics::band`.
#pragma once

#include "gui/graphics.hpp"

#include <functional>
#include <memory>
#include <string>

namespace korvex {

// With `x_connection` (from connect_x_display) the screen's keys and clicks are read on that
// connection, in the order they came, none dropped (see ScreenEvents); without it, through the
// plot library's own cursor call.
std::unique_ptr<Graphics> open_plot_devices(std::shared_ptr<void> x_connection = {});

// Keys and clicks of one window, read from the X server on a connection of our own. The plot
// library's cursor call takes one event and throws away every event queued after it (a key
// typed or pasted quickly, a click that follows a pointer move); here every key press and
// button press is kept in the order it came. Exposed parts of the window are redrawn by
// `redraw` while the reader waits.
class ScreenEvents {
  public:
    virtual ~ScreenEvents() = default;
    // Waits for the next key or button press: its position in window pixels, its character
    // (keys as typed, Return 13, Backspace 8; buttons 1, 2, 3 as 'A', 'D', 'X') and which it
    // was (0 a key, else the button). false when the window cannot be read.
    virtual bool next(int& px, int& py, char& ch, int& button) = 0;
};

// The screen window was destroyed under the program (killed by a window manager): ends the
// program as a lost display connection does (see connect_x_display).
[[noreturn]] void window_lost();

// Finds the window titled `title` (just opened by the plot library), gives it the title
// `new_title` and reads its events; nullptr when the window is not found.
std::unique_ptr<ScreenEvents> watch_screen_events(const std::shared_ptr<void>& x_connection,
                                                  const std::string& title,
                                                  const std::string& new_title,
                                                  std::function<void()> redraw);

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
