// ScriptedGraphics stands in for the plot devices: it keeps their state, records what is drawn and
// answers cursor reads from a script (an exhausted script fails the test instead of waiting). With
// it come the real devices, the pictures and the helpers every window test uses.
#pragma once

#include "gui/gif_file.hpp"
#include "gui/image_display.hpp"
#include "gui/plot.hpp"
#include "gui/toolkit.hpp"
#include "support/input_files.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace korvex::testing {

struct CursorEvent {
    float x = 0.7f, y = 0.5f;
    char ch = 'A';
    bool ok = true; // false: the read fails
    int button = 0; // > 0: a left click on the centre of this button, placed at read time
    int kind = -1;  // what the device says it was: 0 a key, 1..3 a mouse button, -1 unknown
};

// A frame drawn: x and y options, colour index.
using Frame = std::tuple<std::string, std::string, int>;

class ScriptedGraphics final : public Graphics {
  public:
    using Colours = std::array<std::array<float, 3>, 272>;
    struct Text {
        float x, y, fjust, height;
        std::string text;
        int ci, font;
    };
    struct Line {
        std::vector<float> x, y;
        int ls;
    };
    struct Image {
        std::vector<int> cells;
        int nx, ny;
        float x1, y2;
        Colours colours; // the colour table when the image was drawn
    };

    std::deque<CursorEvent> events;
    bool refuse_open = false;
    const ButtonLayout* layout = nullptr; // where pressed buttons are looked up

    // What was drawn: texts, lines, frames, images, the devices opened (names in order), closed.
    std::vector<Text> texts;
    std::vector<Line> lines;
    std::vector<Frame> boxes;
    std::vector<Image> images;
    std::vector<std::string> opened;
    int closes = 0, arrows = 0;

    // Current state.
    std::array<float, 4> vp{0, 1, 0, 1}, win{0, 1, 0, 1};
    int ci = 1, font = 1, lw = 1, ls = 1, fs = 1, panel_x = 1, current = 0;
    float height = 1.0f;
    Colours colours{};
    std::map<int, std::string> devices;

    // Key events at one position (inside the tests' input boxes): "12\r" is '1', '2', Return.
    void type(const std::string& text) {
        for (char c : text) events.push_back({0.7f, 0.5f, c});
    }
    // Keys and mouse buttons as a device that tells them apart reports them.
    void key(char c) { events.push_back({0.7f, 0.5f, c, true, 0, 0}); }
    void keys(const std::string& text) {
        for (char c : text) key(c);
    }
    void click_button(int b) { events.push_back({0.7f, 0.5f, "ADX"[b - 1], true, 0, b}); }
    void click(float x, float y) { events.push_back({x, y}); }
    void press(int nb) { events.push_back({0, 0, 'A', true, nb}); }
    void fail_reads(int n) { events.insert(events.end(), n, CursorEvent{0, 0, 'A', false}); }
    // How many texts drawn, from the `from`-th on, read `s`.
    long count_text(const std::string& s, std::size_t from = 0) const {
        return std::count_if(texts.begin() + long(from), texts.end(),
                             [&](const Text& x) { return x.text == s; });
    }
    // World coordinates of a position given in normalised device coordinates.
    std::pair<float, float> to_world(float nx, float ny) const {
        return {win[0] + (nx - vp[0]) * (win[1] - win[0]) / (vp[1] - vp[0]),
                win[2] + (ny - vp[2]) * (win[3] - win[2]) / (vp[3] - vp[2])};
    }

    int open(const std::string& device) override {
        opened.push_back(device);
        if (refuse_open) return 0;
        devices[current = next_id_++] = device;
        return current;
    }
    void select(int id) override { current = devices.count(id) ? id : current; }
    void close() override {
        ++closes;
        devices.erase(current);
        current = devices.empty() ? 0 : devices.begin()->first;
    }
    void list_devices(std::ostream& out) override { out << " /XWINDOW /VCPS /GIF\n"; }
    void ask(bool) override {}
    void eras() override {}
    void update() override {}
    void subp(int, int) override {}
    void panl(int ix, int) override { panel_x = ix; }
    void svp(float a, float b, float c, float d) override { vp = {a, b, c, d}; }
    void qvp(float& a, float& b, float& c, float& d) override { get(vp.data(), a, b, c, d); }
    void swin(float a, float b, float c, float d) override { win = {a, b, c, d}; }
    // As the library does on a square panel: the viewport shrinks about its centre to equal scales.
    void wnad(float a, float b, float c, float d) override {
        win = {a, b, c, d};
        const float sx = (vp[1] - vp[0]) / std::abs(b - a), sy = (vp[3] - vp[2]) / std::abs(d - c);
        const float w = (vp[1] - vp[0]) * std::min(sx, sy) / sx, mx = (vp[0] + vp[1]) / 2;
        const float h = (vp[3] - vp[2]) * std::min(sx, sy) / sy, my = (vp[2] + vp[3]) / 2;
        vp = {mx - w / 2, mx + w / 2, my - h / 2, my + h / 2};
    }
    void qwin(float& a, float& b, float& c, float& d) override { get(win.data(), a, b, c, d); }
    void vstd() override { vp = {0.1f, 0.9f, 0.1f, 0.9f}; }
    void box(const std::string& xopt, float, int, const std::string& yopt, float, int) override {
        boxes.push_back({xopt, yopt, ci});
    }
    void ptxt(float x, float y, float, float fjust, const std::string& text) override {
        texts.push_back({x, y, fjust, height, text, ci, font});
    }
    void line(int n, const float* x, const float* y) override {
        lines.push_back({{x, x + n}, {y, y + n}, ls});
    }
    void move(float, float) override {}
    void draw(float, float) override {}
    void rect(float, float, float, float) override {}
    void poly(int, const float*, const float*) override {}
    void arro(float, float, float, float) override { ++arrows; }
    void pixl(const int* ia, int idim, int jdim, int, int, int, int, float x1, float, float,
              float y2) override {
        images.push_back({{ia, ia + idim * jdim}, idim, jdim, x1, y2, colours});
    }
    void sci(int c) override { ci = c; }
    int qci() override { return ci; }
    void scr(int c, float r, float g, float b) override { colours.at(std::size_t(c)) = {r, g, b}; }
    void qcr(int c, float& r, float& g, float& b) override {
        get(colours.at(std::size_t(c)).data(), r, g, b);
    }
    void scir(int, int) override {}
    void scf(int f) override { font = f; }
    int qcf() override { return font; }
    void sch(float h) override { height = h; }
    float qch() override { return height; }
    void slw(int w) override { lw = w; }
    int qlw() override { return lw; }
    void sls(int s) override { ls = s; }
    void sfs(int s) override { fs = s; }
    int qfs() override { return fs; }
    void sah(int, float, float) override {}
    int band(int, int, float, float, float& x, float& y, char& ch) override {
        if (events.empty()) throw std::runtime_error("the script has no further cursor event");
        const CursorEvent e = events.front();
        events.pop_front();
        if (!e.ok) return 0;
        std::tie(x, y, ch, last_kind_) = std::tuple{e.x, e.y, e.ch, e.kind};
        if (e.button > 0) {
            if (!layout) throw std::logic_error("no button layout to press a button in");
            const Cell c = button_cell(*layout, e.button);
            std::tie(x, y) = to_world((c.x1 + c.x2) / 2, (c.y1 + c.y2) / 2);
        }
        return 1;
    }

    int last_event() override { return last_kind_; }

  private:
    int last_kind_ = -1;
    template <class... F> static void get(const float* a, F&... v) {
        int i = 0;
        ((v = a[i++]), ...);
    }
    int next_id_ = 1;
};

// A graphic context over a scripted device, with its terminal output kept.
struct TestGui {
    ScriptedGraphics gr;
    std::ostringstream out;
    Gui gui{gr, out, {}, 0, 0};
    TestGui() { gr.layout = &gui.layout; }
};

// The viewer's layout: a 6 x 2 grid of buttons under the plot rectangle.
inline void viewer_layout(ButtonLayout& l) {
    std::tie(l.grid_columns, l.grid_rows) = std::pair(6, 2);
    std::tie(l.button_area_x1, l.button_area_x2, l.button_area_y1, l.button_area_y2) =
        std::tuple(0.05f, 0.95f, 0.05f, 0.13f);
    std::tie(l.plot_viewport_x1, l.plot_viewport_x2, l.plot_viewport_y1, l.plot_viewport_y2) =
        std::tuple(0.05f, 0.95f, 0.35f, 0.80f);
}

} // namespace korvex::testing
