#include "gui/input_box.hpp"

#include "state/error.hpp"

#include <cmath>
#include <limits>

namespace korvex {

namespace {

constexpr char kReturn = 13, kBackspace = 8;

// The character height of a box of world height h: 30 h where the window is the viewport in
// NDC (a character of height 1 is 1/40 of the surface), on any viewport; 34 h in those units
// fills the box with its capitals and descenders.
float box_char_height(Graphics& g, float h) {
    float vx1, vx2, vy1, vy2, wx1, wx2, wy1, wy2;
    g.qvp(vx1, vx2, vy1, vy2);
    g.qwin(wx1, wx2, wy1, wy2);
    const float scale = wy2 != wy1 ? std::abs((vy2 - vy1) / (wy2 - wy1)) : 1.0f;
    return 34.0f * h * scale;
}

// Drawing common to the three boxes: label, filled box, text attributes.
void draw_box(Gui& gui, const InputBox& b) {
    Graphics& g = gui.gr;
    if (!(b.x1 < b.x2) || !(b.y1 < b.y2))
        halt("The location of input box defined wrong in INPUTBOXREAL");
    const float w = b.x2 - b.x1, h = b.y2 - b.y1;
    g.scf(2);
    g.scr(kBoxFillColour, b.colour1[0], b.colour1[1], b.colour1[2]);
    g.scr(kBoxTextColour, b.colour2[0], b.colour2[1], b.colour2[2]);
    g.sch(box_char_height(g, h));
    g.sci(kBoxTextColour);
    const std::string label = b.label.substr(0, static_cast<std::size_t>(std::max(0, b.lablen)));
    if (b.layout == 1)
        g.ptxt(b.x1 - 0.2f * h, b.y1 + 0.2f * h, 0.0f, 1.0f, label);
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

// What an entry shows: the box filled again and the text typed so far, followed by the cursor
// bar while the entry goes on. Redrawing the whole box leaves no trace of an earlier bar.
class Echo {
  public:
    Echo(Gui& gui, const InputBox& b) : g_(gui.gr), b_(b), h_(b.y2 - b.y1) {}
    void start() { show(true); }
    void key(char ch) {
        text_ += ch;
        show(true);
    }
    // An offered value, in the colour of a value not yet taken.
    void offer(const std::string& text) {
        text_ = text;
        show(false, 14);
        text_.clear();
    }
    // The entry is over: the text without the bar.
    void finish() { show(false); }
    int count() const { return static_cast<int>(text_.size()); }

  private:
    void show(bool bar, int colour = kBoxTextColour) {
        const float w = b_.x2 - b_.x1;
        g_.sfs(1);
        g_.sci(kBoxFillColour);
        g_.rect(b_.x1 + 0.02f * w, b_.x2, b_.y1, b_.y2);
        g_.sci(colour);
        const float x0 = b_.x1 + 0.02f * w + 0.25f * h_, room = b_.x2 - x0 - 0.5f * h_;
        std::string shown = text_;
        float len = shown.empty() ? 0.0f : g_.text_length(shown);
        while (shown.size() > 1 && len > room) {
            shown.erase(0, 1);
            len = g_.text_length(shown);
        }
        if (!shown.empty()) g_.ptxt(x0, b_.y1 + 0.2f * h_, 0.0f, 0.0f, shown);
        if (bar) {
            g_.sci(kBoxTextColour);
            g_.slw(2);
            const float x = x0 + len + 0.1f * h_;
            vertical(g_, x, b_.y1 + 0.1f * h_, b_.y2 - 0.1f * h_);
        }
        g_.sci(1);
    }

    Graphics& g_;
    const InputBox& b_;
    float h_;
    std::string text_;
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

// Keys that nothing takes: control characters other than Return and Backspace.
bool is_control(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 32 && c != kReturn && c != kBackspace) || u == 127;
}

// One key of a numeric entry; returns true when it ends the entry.
template <class Value> class NumericKeys {
  public:
    NumericKeys(const InputBox& b, int n, std::vector<Value>& values, Echo& echo)
        : b_(b), values_(values), comp_(static_cast<std::size_t>(n)), echo_(echo) {}

    bool can_end() const { return i_ + 1 == comp_.size() && comp_[i_].digit; }

    bool take(char ch, float xc, float yc) {
        constexpr bool real = std::is_floating_point_v<Value>;
        Component& c = comp_[i_];
        Value& v = values_[i_];
        if (can_end()) {
            const bool outside = xc < b_.x1 || xc > b_.x2 || yc < b_.y1 || yc > b_.y2;
            if (ch == kReturn || (ch == 'A' && outside)) return true;
        }
        if (i_ + 1 < comp_.size() && c.digit && (ch == ' ' || ch == ',')) {
            echo_.key(ch);
            ++i_;
        } else if (ch == '-') {
            c.sign = -1;
            echo_.key(ch);
        } else if (real && ch == '.') {
            if (c.fraction) return false;
            c.fraction = true;
            echo_.key(ch);
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
                if (v > (std::numeric_limits<int>::max() - d) / 10) return false;
                v = 10 * v + d;
            }
            c.digit = true;
            echo_.key(ch);
        }
        return false;
    }

    void apply_signs() {
        for (std::size_t j = 0; j < comp_.size(); ++j) values_[j] *= comp_[j].sign;
    }

  private:
    const InputBox& b_;
    std::vector<Value>& values_;
    std::vector<Component> comp_;
    std::size_t i_ = 0;
    Echo& echo_;
};

// The entry of a numeric box. `Value` is double or int.
template <class Value>
void numeric_entry(Gui& gui, const InputBox& b, int n, std::vector<Value>& values, int& flag) {
    Echo echo(gui, b);
    flag = 1;
    NumericKeys<Value> keys(b, n, values, echo);
    float xc = b.x1, yc = b.y1;
    bool offered = !b.initial.empty();
    if (offered)
        echo.offer(b.initial);
    else
        echo.start();
    for (;;) {
        char ch = 0;
        // The pointer stays where the user has it.
        read_key(gui, 0, 0, b.x1, b.y1, xc, yc, ch);
        if (ch == kBackspace) {
            flag = 0;
            return;
        }
        if (offered) {
            offered = false;
            const bool outside = xc < b.x1 || xc > b.x2 || yc < b.y1 || yc > b.y2;
            if (ch == kReturn || (ch == 'A' && outside)) {
                for (char c : b.initial) keys.take(c, b.x1, b.y1);
                if (keys.can_end()) break;
                continue; // an offer that does not make a whole value is typed on
            }
            echo.start();
        }
        if (keys.take(ch, xc, yc)) break;
    }
    keys.apply_signs();
    echo.finish();
}

template <class Value>
void numeric_box(Gui& gui, const InputBox& b, int status, int n, std::vector<Value>& values,
                 int& flag) {
    draw_box(gui, b);
    values.assign(static_cast<std::size_t>(std::max(n, 0)), Value{});
    if (status == 0 || n < 1) {
        if (!b.initial.empty()) Echo(gui, b).offer(b.initial);
        if (status != 0) flag = 1;
        gui.gr.sci(1);
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
        if (!b.initial.empty()) echo.offer(b.initial);
        if (status != 0) flag = 1;
        gui.gr.sci(1);
        return;
    }
    flag = 1;
    bool offered = !b.initial.empty();
    if (offered)
        echo.offer(b.initial);
    else
        echo.start();
    float xc = b.x1, yc = b.y1;
    std::size_t stored = 0;
    while (stored < len) {
        char ch = 0;
        read_key(gui, 0, 0, b.x1, b.y1, xc, yc, ch);
        if (ch == kBackspace) {
            flag = 0;
            return;
        }
        // Middle and right mouse buttons, and control keys, are skipped; where the device
        // cannot tell a key from a button, 'D' and 'X' are taken for buttons.
        const int event = gui.gr.last_event();
        if (event > 1 || (event < 0 && (ch == 'D' || ch == 'X')) || is_control(ch)) continue;
        if (offered) {
            offered = false;
            if (ch == kReturn) {
                for (char c : b.initial.substr(0, len)) text[stored++] = c;
                break;
            }
            echo.start();
        }
        if (ch == kReturn) break;
        text[stored++] = ch;
        echo.key(ch);
    }
    echo.finish();
}

} // namespace korvex
