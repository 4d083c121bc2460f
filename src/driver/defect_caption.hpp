// What a figure caption says about the run's defect: its kind and size and its Burgers vector,
// read again from the configuration file the run used.
#pragma once

#include "state/state.hpp"

#include <string>

namespace korvex {

struct DefectCaption {
    std::string what;    // "edge dislocation", "faulted 12-sided loop, diameter 20 nm", ...
    std::string burgers; // "1/2[1 0 1]", empty when the defect has none
};

// A file that cannot be read leaves only the kind named.
DefectCaption defect_caption(const State& st);

} // namespace korvex
