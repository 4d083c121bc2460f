#include "gui/toolkit.hpp"

#include "state/error.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cstdio>

namespace korvex {

namespace {

// Cursor reads that may fail in a row before the run is stopped: a window that no longer
// answers would otherwise turn every cursor loop into an endless stream of messages.
constexpr int kMaxCursorFailures = 20;

void note_cursor_result(Gui& gui, bool ok) {
    if (ok) {
        gui.cursor_failures = 0;
        return;
    }
    if (++gui.cursor_failures >= kMaxCursorFailures)
        halt("The cursor of the graphics window cannot be read any more; the program stops.");
}

// Colours of the framed styles: left/top bevels, bottom/right bevels, the two corner lines
// and the label.
struct FrameColours {
    int light_side, dark_side, top_left_corner, bottom_right_corner, label;
};

} // namespace

void rpgbegin(Gui& gui, int& idn) {
    gui.gr.list_devices(gui.out);
    gui.out.flush();
    const std::string device = "/XWINDOW";
    idn = gui.gr.open(device.substr(0, static_cast<std::size_t>(button_text_length(device))));
    if (idn <= 0) halt("the plot device is not available");
    gui.device = idn;
    gui.gr.select(idn);
    gui.layout = ButtonLayout{};
    gui.gr.scr(kFaceColour, 0.5f, 0.5f, 0.5f);
    gui.gr.scr(kLightColour, 0.7f, 0.7f, 0.7f);
    gui.gr.scr(kDarkColour, 0.3f, 0.3f, 0.3f);
    gui.gr.scr(kDisabledColour, 0.6f, 0.6f, 0.6f);
}

Cell button_cell(const ButtonLayout& l, int nb) {
    const int r = (nb - 1) / l.grid_columns;
    const int c = nb - 1 - r * l.grid_columns;
    const float w = (l.button_area_x2 - l.button_area_x1) / static_cast<float>(l.grid_columns);
    const float h = (l.button_area_y2 - l.button_area_y1) / static_cast<float>(l.grid_rows);
    const float x0 = l.button_area_x1 + static_cast<float>(c) * w;
    const float y1 = l.button_area_y2 - static_cast<float>(r) * h;
    return Cell{x0, x0 + w, y1 - h, y1};
}

void button(Gui& gui, int nb, const std::string& text, int type) {
    ButtonLayout& l = gui.layout;
    if (nb < 1 || nb > l.count())
        halt({"BUTTON NUMBER = " + fmt_i(nb, 4),
              "ERROR: invalid button number in SUBROUTINE BUTTON"});
    if (type > 5)
        halt({"TYPE = " + fmt_i(type, 4), "ERROR: invalid button type in SUBROUTINE BUTTON"});
    int style = type, label_colour = 0;
    if (type < -1) {
        style = 2;
        label_colour = -type - 1;
    }
    l.button_active[static_cast<std::size_t>(nb)] = !(style == -1 || style == 3);

    Graphics& g = gui.gr;
    const Cell cell = button_cell(l, nb);
    const float w = cell.x2 - cell.x1, h = cell.y2 - cell.y1;
    const float dx = w / 20.0f, dy = h / 7.0f;
    const float gx = dx / 10.0f, gy = dy / 10.0f;
    const float yoff = h * l.label_baseline_fraction;
    const float xmin = cell.x1 + gx, xmax = cell.x1 + w - gx;
    const float ymin = cell.y1 + gy, ymax = cell.y2 - gy;

    // Draw in the button rectangle with world coordinates equal to NDC.
    float wx1, wx2, wy1, wy2, vx1, vx2, vy1, vy2;
    g.qwin(wx1, wx2, wy1, wy2);
    g.qvp(vx1, vx2, vy1, vy2);
    g.svp(l.button_area_x1, l.button_area_x2, l.button_area_y1, l.button_area_y2);
    g.swin(l.button_area_x1, l.button_area_x2, l.button_area_y1, l.button_area_y2);

    if (style == -1) {
        g.sci(0);
        g.rect(xmin - gx, xmax + gx, ymin - gy, ymax + gy);
        g.sci(1);
    } else {
        const int font = g.qcf();
        const float height = g.qch();
        g.scf(l.button_font);
        g.sch(l.button_char_height);
        const float xlabel = (xmin + xmax) / 2.0f, ylabel = ymin + yoff;
        if (style == 0 || style == 4 || style == 5) {
            const FrameColours fc = style == 0   ? FrameColours{kLightColour, kDarkColour, 1, 0, 0}
                                    : style == 4 ? FrameColours{kDarkColour, kLightColour, 0, 1, 0}
                                                 : FrameColours{kDarkColour, kLightColour, 0, 1, 1};
            g.sci(kFaceColour);
            g.rect(xmin + dx, xmax - dx, ymin + dy, ymax - dy);
            g.sci(fc.light_side);
            {
                const float px[4] = {xmin, xmin + dx, xmin + dx, xmin};
                const float py[4] = {ymin, ymin + dy, ymax - dy, ymax};
                g.poly(4, px, py);
            }
            {
                const float px[4] = {xmin, xmin + dx, xmax - dx, xmax};
                const float py[4] = {ymax, ymax - dy, ymax - dy, ymax};
                g.poly(4, px, py);
            }
            g.sci(fc.dark_side);
            {
                const float px[4] = {xmin, xmin + dx, xmax - dx, xmax};
                const float py[4] = {ymin, ymin + dy, ymin + dy, ymin};
                g.poly(4, px, py);
            }
            {
                const float px[4] = {xmax, xmax - dx, xmax - dx, xmax};
                const float py[4] = {ymin, ymin + dy, ymax - dy, ymax};
                g.poly(4, px, py);
            }
            g.sci(fc.top_left_corner);
            {
                const float px[2] = {xmin, xmin + dx};
                const float py[2] = {ymax, ymax - dy};
                g.line(2, px, py);
            }
            g.sci(fc.bottom_right_corner);
            {
                const float px[2] = {xmax, xmax - dx};
                const float py[2] = {ymin, ymin + dy};
                g.line(2, px, py);
            }
            g.sci(fc.label);
            g.ptxt(xlabel, ylabel, 0.0f, 0.5f, text);
            g.sci(0);
            g.move(xmin, ymin);
            g.draw(xmax, ymin);
            g.draw(xmax, ymax);
            g.draw(xmin, ymax);
            g.draw(xmin, ymin);
            g.sci(1);
        } else {
            g.sci(style == 1 ? 1 : style == 2 ? label_colour : kDisabledColour);
            g.ptxt(xlabel, ylabel, 0.0f, 0.5f, text);
        }
        g.scf(font);
        g.sch(height);
        if (style == 3) g.sci(1);
    }
    g.svp(vx1, vx2, vy1, vy2);
    g.swin(wx1, wx2, wy1, wy2);
}

int button_hit(Gui& gui, float xc, float yc) {
    const ButtonLayout& l = gui.layout;
    float wx1, wx2, wy1, wy2, vx1, vx2, vy1, vy2;
    gui.gr.qwin(wx1, wx2, wy1, wy2);
    gui.gr.qvp(vx1, vx2, vy1, vy2);
    const float sx = (wx2 - wx1) / (vx2 - vx1), sy = (wy2 - wy1) / (vy2 - vy1);
    for (int nb = 1; nb <= l.count(); ++nb) {
        if (!l.button_active[static_cast<std::size_t>(nb)]) continue;
        const Cell c = button_cell(l, nb);
        float xa = wx1 + (c.x1 - vx1) * sx, xb = wx1 + (c.x2 - vx1) * sx;
        float ya = wy1 + (c.y1 - vy1) * sy, yb = wy1 + (c.y2 - vy1) * sy;
        if (xa > xb) std::swap(xa, xb);
        if (ya > yb) std::swap(ya, yb);
        if (xa <= xc && xc <= xb && ya <= yc && yc <= yb) return nb;
    }
    return 0;
}

bool read_key(Gui& gui, int mode, int posn, float xref, float yref, float& xc, float& yc,
              char& ch) {
    const bool ok = gui.gr.band(mode, posn, xref, yref, xc, yc, ch) == 1;
    note_cursor_result(gui, ok);
    if (ok && ch == 'A' && gui.exit_button && gui.exit_button(xc, yc)) throw ExitRequested{};
    return ok;
}

void read_cursor_band(Gui& gui, int mode, int posn, float xref, float yref, float& xc, float& yc,
                      char& ch) {
    if (read_key(gui, mode, posn, xref, yref, xc, yc, ch)) return;
    gui.out << " ERROR: in subroutine PGBAND.\n"
            << " => returned XC=YC=0.0, CH=\"X\"\n";
    xc = 0.0f;
    yc = 0.0f;
    ch = 'X';
}

AxisOptions rpgenv_axis_options(int axis) {
    switch (axis) {
    case -2:
        return {" ", " "};
    case -1:
        return {"BC", "BC"};
    case 0:
        return {"BCNST", "BCNST"};
    case 1:
        return {"ABCNST", "ABCNST"};
    case 2:
        return {"ABCGNST", "ABCGNST"};
    case 10:
        return {"BCNSTL", "BCNST"};
    case 20:
        return {"BCNST", "BCNSTL"};
    case 30:
        return {"BCNSTL", "BCNSTL"};
    default:
        return {"BCNST", "BCNST", false};
    }
}

void rpgenv(Gui& gui, float xmin, float xmax, float ymin, float ymax, int just, int axis) {
    const ButtonLayout& l = gui.layout;
    Graphics& g = gui.gr;
    g.svp(l.plot_viewport_x1, l.plot_viewport_x2, l.plot_viewport_y1, l.plot_viewport_y2);
    if (xmin == xmax) {
        gui.out << " invalid x limits in RPGENV: XMIN = XMAX.\n";
        return;
    }
    if (ymin == ymax) {
        gui.out << " invalid y limits in RPGENV: YMIN = YMAX.\n";
        return;
    }
    if (just == 1)
        g.wnad(xmin, xmax, ymin, ymax);
    else
        g.swin(xmin, xmax, ymin, ymax);
    const AxisOptions o = rpgenv_axis_options(axis);
    if (!o.known) gui.out << " RPGENV: illegal AXIS argument.\n";
    g.box(o.x, 0.0f, 0, o.y, 0.0f, 0);
}

int button_text_length(const std::string& text) {
    for (std::size_t i = text.size(); i > 0; --i)
        if (static_cast<unsigned char>(text[i - 1]) > 32) return static_cast<int>(i);
    return 0;
}

std::string list_real32(float v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(v));
    std::string s = buf;
    if (s.find_first_of(".EN") == std::string::npos) s += ".0";
    return s;
}

} // namespace korvex
