#include "scripted_graphics.hpp"

namespace korvex::testing {

std::vector<CursorEvent> keys(const std::string& text, float x, float y) {
    std::vector<CursorEvent> ev;
    for (char c : text) ev.push_back({x, y, c, true});
    return ev;
}

void ScriptedGraphics::button_centre(int nb, float& x, float& y) const {
    if (!layout) throw std::logic_error("no button layout to press a button in");
    const Cell c = button_cell(*layout, nb);
    const float nx = (c.x1 + c.x2) / 2.0f, ny = (c.y1 + c.y2) / 2.0f;
    x = win[0] + (nx - vp[0]) * (win[1] - win[0]) / (vp[1] - vp[0]);
    y = win[2] + (ny - vp[2]) * (win[3] - win[2]) / (vp[3] - vp[2]);
}

} // namespace korvex::testing
