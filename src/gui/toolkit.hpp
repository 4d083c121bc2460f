// The widget layer every graphic screen is built from: one window, a grid of push buttons in a
// reserved rectangle of the panel, a framed plot rectangle beside it, and the cursor read.
//
// All rectangles are in normalised device coordinates (0..1) of the current panel. A button is
// numbered left to right, then top to bottom; a button can be hit only after it has been drawn
// in an active style. The callers run their own cursor loops: `read_cursor_band` to read a click,
// `button_hit` to learn which button it hit, `button` to redraw it pressed.
#pragma once

#include "gui/graphics.hpp"

#include <array>
#include <functional>
#include <ostream>
#include <string>

namespace korvex {

struct ButtonLayout {
    int grid_columns = 1;
    int grid_rows = 8;
    int button_font = 2;
    float button_char_height = 1.0f;
    float label_baseline_fraction = 0.35f; // of the cell height, above the button's bottom
    float plot_viewport_x1 = 0.10f, plot_viewport_x2 = 0.85f;
    float button_area_x1 = 0.88f, button_area_x2 = 0.98f;
    float plot_viewport_y1 = 0.10f, plot_viewport_y2 = 0.85f;
    float button_area_y1 = 0.35f, button_area_y2 = 0.85f;
    static constexpr int kCapacity = 1000;
    std::array<bool, kCapacity + 1> button_active{}; // 1-based

    int count() const { return grid_columns * grid_rows; }
};

// A button's cell (x1..x2 x y1..y2, NDC), before the drawn button's margins.
struct Cell {
    float x1, x2, y1, y2;
};

// The graphic context shared by the widgets, the entry form and the viewer screens.
struct Gui {
    Graphics& gr;
    std::ostream& out; // terminal messages
    ButtonLayout layout;
    int device = 0;          // identifier of the screen device, 0 when closed
    int cursor_failures = 0; // consecutive cursor reads that failed
    // Whether a click at (x, y), in the world coordinates current at the read, is on the EXIT
    // button; while it is set, such a click in an input box ends the entry with ExitRequested.
    std::function<bool(float, float)> exit_button = {};
};

// Thrown out of an input box when EXIT is clicked while the box is being typed into.
struct ExitRequested {};

// Colour indices of the button faces, bevels and disabled labels.
inline constexpr int kFaceColour = 12, kLightColour = 13, kDarkColour = 14, kDisabledColour = 15;

// Opens the screen window ("/XWINDOW"), selects it (identifier in `idn`), installs the default
// layout and the button colours. A window that cannot be opened stops the run.
void rpgbegin(Gui& gui, int& idn);

// Draws button `nb` in style `type` (0 raised, 4 sunken, 5 pressed, 1/2 label only, 3 disabled
// label, -1 erased, below -1 a label in colour index -type-1) and marks it active or not.
void button(Gui& gui, int nb, const std::string& text, int type);

// The cell of button `nb` under the current layout.
Cell button_cell(const ButtonLayout& layout, int nb);

// The first active button whose cell holds (xc, yc), given in the current world coordinates;
// 0 when none.
int button_hit(Gui& gui, float xc, float yc);

// One cursor event. When it cannot be read, says so in two lines and returns (0, 0) with the
// key 'X'; a cursor that keeps failing stops the run instead of spinning.
void read_cursor_band(Gui& gui, int mode, int posn, float xref, float yref, float& xc, float& yc,
                      char& ch);

// A cursor read for the input boxes: the same failure guard, without the messages. Returns
// false when the read failed; throws ExitRequested for a click on EXIT (see Gui::exit_button).
bool read_key(Gui& gui, int mode, int posn, float xref, float yref, float& xc, float& yc, char& ch);

// Makes the plot rectangle the viewport, sets the window (equal scales when just = 1) and
// draws the frame chosen by `axis`.
void rpgenv(Gui& gui, float xmin, float xmax, float ymin, float ymax, int just, int axis);

// The box options of each `axis` value of rpgenv; `known` is false for an illegal value
// (which gets the options of axis 0).
struct AxisOptions {
    std::string x, y;
    bool known = true;
};
AxisOptions rpgenv_axis_options(int axis);

// Position of the last character with a code above 32 (0 when there is none).
int button_text_length(const std::string& text);

// A single-precision value (a cursor position) in free format: seven significant digits,
// always with a point or an exponent ("0.1222222", "-1.5", "1.0E-05").
std::string list_real32(float v);

} // namespace korvex
