// What the reports say of a convergent probe: the parameter report's section, the captions of
// the report document and the overview picture, the terminal lines of a condition.
#pragma once

#include "state/state.hpp"

#include <string>
#include <vector>

namespace korvex {

// "probe 5 mrad, 19 directions, BF 0-5 mrad"; "" with parallel illumination.
std::string illumination_caption(const State& st);

// The parameter report's section (title, value lines, closing rule); none when parallel.
std::vector<std::string> illumination_section(const State& st);

// The file of detector k (from 0) of the current condition: datadir, f_out, "_" and its name.
std::string detector_path(const State& st, std::size_t k);

} // namespace korvex
