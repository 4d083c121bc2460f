// A stand-in for the plot devices in unit tests: it keeps the viewport, window and attribute
// state the way the real devices do, records what is drawn, and answers cursor reads from a
// script of events (running out of events fails the test instead of waiting).
#pragma once

#include "gui/graphics.hpp"
#include "gui/toolkit.hpp"

#include <array>
#include <deque>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvex::testing {

struct CursorEvent {
    float x = 0.5f, y = 0.5f;
    char ch = 'A';
    bool ok = true; // false: the read fails
    int button = 0; // > 0: a left click on the centre of this button, placed at read time
};

// Key events at one position: keys("12\r") is '1', '2', Return.
std::vector<CursorEvent> keys(const std::string& text, float x = 0.7f, float y = 0.5f);

class ScriptedGraphics final : public Graphics {
  public:
    struct Text {
        float x, y, fjust;
        std::string text;
        int ci, font;
        float height;
    };
    struct Rect {
        float x1, x2, y1, y2;
        int ci;
    };
    struct Line {
        std::vector<float> x, y;
        int ci, lw, ls;
    };
    struct Box {
        std::string xopt, yopt;
        int ci;
    };
    struct Image {
        std::vector<int> cells;
        int nx, ny;
        float x1, x2, y1, y2;
        std::array<std::array<float, 3>, 272> colours;
    };

    std::deque<CursorEvent> events;
    bool refuse_open = false;

    // What was drawn.
    std::vector<Text> texts;
    std::vector<Rect> rects;
    std::vector<Line> lines, polygons;
    std::vector<Box> boxes;
    std::vector<Image> images;
    std::vector<std::string> opened; // device names, in order
    int closes = 0;
    int arrows = 0;

    // Current state.
    float vp[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    float win[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    int ci = 1, font = 1, lw = 1, ls = 1, fs = 1;
    float height = 1.0f;
    std::array<std::array<float, 3>, 272> colours{};
    std::map<int, std::string> devices;
    int current = 0;
    int panel_x = 1, panel_y = 1;

    void add(const std::vector<CursorEvent>& ev) {
        events.insert(events.end(), ev.begin(), ev.end());
    }
    void click(float x, float y, char ch = 'A') { events.push_back({x, y, ch, true}); }
    // A left click at the centre of button nb, in the world frame current when it is read.
    void press(int nb) { events.push_back({0.0f, 0.0f, 'A', true, nb}); }
    const ButtonLayout* layout = nullptr; // where pressed buttons are looked up
    std::vector<std::string> texts_drawn() const {
        std::vector<std::string> t;
        for (const auto& x : texts) t.push_back(x.text);
        return t;
    }

    int open(const std::string& device) override {
        opened.push_back(device);
        if (refuse_open) return 0;
        const int id = next_id_++;
        devices[id] = device;
        current = id;
        return id;
    }
    void select(int id) override {
        if (devices.count(id)) current = id;
    }
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
    void panl(int ix, int iy) override {
        panel_x = ix;
        panel_y = iy;
    }
    void svp(float x1, float x2, float y1, float y2) override {
        vp[0] = x1;
        vp[1] = x2;
        vp[2] = y1;
        vp[3] = y2;
    }
    void qvp(float& x1, float& x2, float& y1, float& y2) override {
        x1 = vp[0];
        x2 = vp[1];
        y1 = vp[2];
        y2 = vp[3];
    }
    void swin(float x1, float x2, float y1, float y2) override {
        win[0] = x1;
        win[1] = x2;
        win[2] = y1;
        win[3] = y2;
    }
    void wnad(float x1, float x2, float y1, float y2) override { swin(x1, x2, y1, y2); }
    void qwin(float& x1, float& x2, float& y1, float& y2) override {
        x1 = win[0];
        x2 = win[1];
        y1 = win[2];
        y2 = win[3];
    }
    void vstd() override { svp(0.1f, 0.9f, 0.1f, 0.9f); }
    void box(const std::string& xopt, float, int, const std::string& yopt, float, int) override {
        boxes.push_back({xopt, yopt, ci});
    }
    void ptxt(float x, float y, float, float fjust, const std::string& text) override {
        texts.push_back({x, y, fjust, text, ci, font, height});
    }
    void line(int n, const float* x, const float* y) override {
        lines.push_back({std::vector<float>(x, x + n), std::vector<float>(y, y + n), ci, lw, ls});
    }
    void move(float x, float y) override {
        pen_x_ = x;
        pen_y_ = y;
    }
    void draw(float x, float y) override {
        const float px[2] = {pen_x_, x}, py[2] = {pen_y_, y};
        line(2, px, py);
        move(x, y);
    }
    void rect(float x1, float x2, float y1, float y2) override {
        rects.push_back({x1, x2, y1, y2, ci});
    }
    void poly(int n, const float* x, const float* y) override {
        polygons.push_back(
            {std::vector<float>(x, x + n), std::vector<float>(y, y + n), ci, lw, ls});
    }
    void arro(float, float, float, float) override { ++arrows; }
    void pixl(const int* ia, int idim, int jdim, int, int, int, int, float x1, float x2, float y1,
              float y2) override {
        images.push_back(
            {std::vector<int>(ia, ia + idim * jdim), idim, jdim, x1, x2, y1, y2, colours});
    }
    void sci(int c) override { ci = c; }
    int qci() override { return ci; }
    void scr(int c, float r, float g, float b) override {
        if (c >= 0 && c < 272) colours[static_cast<std::size_t>(c)] = {r, g, b};
    }
    void qcr(int c, float& r, float& g, float& b) override {
        const auto& v = colours[static_cast<std::size_t>(c)];
        r = v[0];
        g = v[1];
        b = v[2];
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
        x = e.x;
        y = e.y;
        ch = e.ch;
        if (e.button > 0) button_centre(e.button, x, y);
        return 1;
    }

  private:
    void button_centre(int nb, float& x, float& y) const;
    int next_id_ = 1;
    float pen_x_ = 0.0f, pen_y_ = 0.0f;
};

// A graphic context over a scripted device, with its terminal output kept.
struct TestGui {
    ScriptedGraphics gr;
    std::ostringstream out;
    Gui gui{gr, out, {}, 0, 0};
    TestGui() { gr.layout = &gui.layout; }
};

} // namespace korvex::testing
