// Progress lines: one line each time the whole percentage of slices done changes.
#pragma once

#include <optional>
#include <string>

namespace korvex {

// The line for slice `done` of `total` ("2% finished" style, list style), or nothing when the
// percentage did not change with this slice.
std::optional<std::string> indicator_line(int done, int total);

} // namespace korvex
