// The graphical front end handed to the program's main.
#pragma once

#include "driver/program.hpp"
#include "gui/graphics.hpp"
#include "gui/overview.hpp"

#include <memory>

namespace korvex {

// A graphic session, or nullptr when no X display is available (a message says why).
std::unique_ptr<GraphicSession> make_graphic_session(State& st, OverviewOptions overview = {});

// Amplitude-phase diagrams straight to PostScript files, for text mode (no display needed).
std::unique_ptr<PhasePlotter> make_file_plotter(State& st);

// A session drawing through the given graphics (tests pass a scripted one).
std::unique_ptr<GraphicSession> make_graphic_session(State& st, std::unique_ptr<Graphics> gr,
                                                     OverviewOptions overview = {});

} // namespace korvex
