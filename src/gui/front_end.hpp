// The graphical front end handed to the program's main.
#pragma once

#include "driver/program.hpp"

namespace korvex {

// A graphic session, or nullptr when no X display is available (a message says why).
std::unique_ptr<GraphicSession> make_graphic_session(State& st);

} // namespace korvex
