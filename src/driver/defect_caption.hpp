// What a figure caption says about the run's defect: its kind and size and its Burgers vector,
// read again from the configuration file the run used.
#pragma once

#include "output/caption.hpp"
#include "state/state.hpp"

#include <string>

namespace korvex {

// A file that cannot be read leaves only the kind named.
DefectCaption defect_caption(const State& st);

} // namespace korvex
