#include "gui/input_box.hpp"

#include "state/error.hpp"

#include <limits>

namespace korvex {

namespace {

constexpr char kReturn = 13, kBackspace = 8;

// Drawing common to the three boxes: label, filled box, text attributes.
void draw_box(Gui& gui, const InputBox& b) {
    Graphics& g = gui.gr;
    if (!(b.x1 < b.x2) || !(b.y1 < b.y2))
        halt("The location of input box defined wrong in INPUTBOXREAL");
    const float w = b.x2 - b.x1, h = b.y2 - b.y1;
    g.scf(2);
    g.scr(kBoxFillColour, b.colour1[0], b.colour1[1], b.colour1[2]);
    g.scr(kBoxTextColour, b.colour2[0], b.colour2[1], b.colour2[2]);
    g.sch(30.0f * h);
    g.sci(kBoxTextColour);
    const std::string label = b.label.substr(0, static_cast<std::size_t>(std::max(0, b.lablen)));
    if (b.layout == 1)
        g.ptxt(b.x1, b.y1 + 0.1f * h, 0.0f, 1.0f, label);
    else if (b.layout == 2)
        g.ptxt(b.x1 - 0.1f * w, b.y1 + 1.3f * h, 0.0f, 0.0f, label);
    else
        halt("The layout of INPUTBOX given wrong");
    g.sfs(1);
    g.sci(kBoxFillColour);
    g.rect(b.x1 + 0.02f * w, b.x2, b.y1, b.y2);
}

void vertical(Graphics& g, float x, float y1, float y2) {
    const float px[2] = {x, x};
    const float py[2] = {y1, y2};
    g.line(2, px, py);
}

// One entry's cursor bar and echo.
class Echo {
  public:
    Echo(Gui& gui, const InputBox& b) : g_(gui.gr), b_(b), h_(b.y2 - b.y1) {}
    void start() {
        g_.sci(kBoxTextColour);
        g_.slw(4);
        vertical(g_, b_.x1 + 0.75f * h_, b_.y1, b_.y2);
    }
    void key(char ch) {
        ++k_;
        const float kf = static_cast<float>(k_);
        g_.sci(1);
        vertical(g_, b_.x1 + (kf + 0.5f) * h_ / 2.0f, b_.y1, b_.y2);
        g_.sci(kBoxTextColour);
        g_.ptxt(b_.x1 + (kf + 1.0f) * h_ / 2.0f, b_.y1 + 0.1f * h_, 0.0f, 1.0f, std::string(1, ch));
        vertical(g_, b_.x1 + (kf + 1.5f) * h_ / 2.0f, b_.y1, b_.y2);
    }
    // Covers the last cursor bar.
    void finish() {
        g_.sci(1);
        vertical(g_, b_.x1 + (static_cast<float>(k_) + 1.5f) * h_ / 2.0f, b_.y1, b_.y2);
    }
    int count() const { return k_; }

  private:
    Graphics& g_;
    const InputBox& b_;
    float h_;
    int k_ = 0;
};

struct Component {
    int sign = 1;
    bool digit = false;
    bool fraction = false;
    int fraction_digits = 0;
};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The entry of a numeric box. `Value` is double or int.
template <class Value>
void numeric_entry(Gui& gui, const InputBox& b, int n, std::vector<Value>& values, int& flag) {
    constexpr bool real = std::is_floating_point_v<Value>;
    Echo echo(gui, b);
    echo.start();
    flag = 1;
    std::vector<Component> comp(static_cast<std::size_t>(n));
    std::size_t i = 0;
    float xc = b.x1, yc = b.y1;
    bool first = true;
    for (;;) {
        char ch = 0;
        // The cursor goes back where the previous key of this entry left it; for the first key
        // it stays where the user has it.
        read_key(gui, 0, first ? 0 : 1, b.x1, b.y1, xc, yc, ch);
        first = false;
        if (ch == kBackspace) {
            flag = 0;
            return;
        }
        Component& c = comp[i];
        Value& v = values[i];
        if (i + 1 == comp.size() && c.digit) {
            const bool outside = xc < b.x1 || xc > b.x2 || yc < b.y1 || yc > b.y2;
            if (ch == kReturn || (ch == 'A' && outside)) break;
        }
        if (i + 1 < comp.size() && c.digit && (ch == ' ' || ch == ',')) {
            echo.key(ch);
            ++i;
        } else if (ch == '-') {
            c.sign = -1;
            echo.key(ch);
        } else if (real && ch == '.') {
            if (c.fraction) continue;
            c.fraction = true;
            echo.key(ch);
        } else if (is_digit(ch)) {
            const int d = ch - '0';
            if constexpr (real) {
                if (!c.fraction) {
                    v = 10.0 * v + d;
                } else {
                    // The power of ten is formed in single precision.
                    float p = 1.0f;
                    for (int j = 0; j <= c.fraction_digits; ++j) p *= 10.0f;
                    ++c.fraction_digits;
                    v += d / static_cast<double>(p);
                }
            } else {
                // A component that would leave the integer range takes no further digits.
                if (v > (std::numeric_limits<int>::max() - d) / 10) continue;
                v = 10 * v + d;
            }
            c.digit = true;
            echo.key(ch);
        }
    }
    for (std::size_t j = 0; j < comp.size(); ++j) values[j] *= comp[j].sign;
    echo.finish();
}

template <class Value>
void numeric_box(Gui& gui, const InputBox& b, int status, int n, std::vector<Value>& values,
                 int& flag) {
    draw_box(gui, b);
    values.assign(static_cast<std::size_t>(std::max(n, 0)), Value{});
    if (status == 0 || n < 1) {
        Echo(gui, b).finish();
        if (status != 0) flag = 1;
        return;
    }
    numeric_entry(gui, b, n, values, flag);
}

} // namespace

void inputboxreal(Gui& gui, const InputBox& b, int status, int n, std::vector<double>& values,
                  int& flag) {
    numeric_box(gui, b, status, n, values, flag);
}

void inputboxinte(Gui& gui, const InputBox& b, int status, int n, std::vector<int>& values,
                  int& flag) {
    numeric_box(gui, b, status, n, values, flag);
}

void inputboxchar(Gui& gui, const InputBox& b, int status, int n, std::string& text, int& flag) {
    draw_box(gui, b);
    const std::size_t len = static_cast<std::size_t>(std::max(n, 0));
    if (text.size() < len) text.resize(len, ' ');
    std::fill_n(text.begin(), len, ' ');
    Echo echo(gui, b);
    if (status == 0 || n < 1) {
        echo.finish();
        if (status != 0) flag = 1;
        return;
    }
    echo.start();
    flag = 1;
    float xc = b.x1, yc = b.y1;
    std::size_t stored = 0;
    while (stored < len) {
        char ch = 0;
        read_key(gui, 0, 0, b.x1, b.y1, xc, yc, ch);
        if (ch == kBackspace) {
            flag = 0;
            return;
        }
        if (ch == 'D' || ch == 'X') continue; // middle and right mouse buttons
        if (ch == kReturn) break;
        text[stored++] = ch;
        echo.key(ch);
    }
    echo.finish();
}

} // namespace korvex
