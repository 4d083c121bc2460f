#include "gui/front_end.hpp"

namespace korvex {

// Placeholder until the graphical interface lands.
std::unique_ptr<GraphicSession> make_graphic_session(State&) {
    return nullptr;
}

} // namespace korvex
