// Whether the first-order treatment of absorption can be trusted for a beam condition.
//
// First order takes the eigenvectors of the real structure matrix and adds the absorptive part
// to each eigenvalue alone: sound while the absorption is small against the spacing of the
// eigenvalues. Two cases break it in practice:
// - two beams of the row with equal excitation errors (beams m and n - m at the condition
//   (g, ng)) coupled only weakly: their eigenvalues nearly cross in every weakly strained
//   column, split by just 2 |U((m_a - m_b) g)|; when that is below the mean absorption U'(0)
//   (Cu, g = (4 2 0), beams -1 .. 3 at (g,g): beams -1 and 2, split by 2 U(3g) = 0.002 against
//   U'(0) = 0.005 1/A^2) the first-order images are off by about 0.01;
// - a heavy element, whose absorption is large against all spacings: U'(0) above 5 % of U(0)
//   (Au: 7.6 %; Cu: 2.6 %), off by a few hundredths per column.
// These are rules of thumb from such comparisons with exact absorption, not error bounds.
#pragma once

#include "state/state.hpp"

#include <optional>
#include <string>

namespace korvex {

// U'(0) / U(0) above which an element counts as strongly absorbing.
inline constexpr double kStrongAbsorption = 0.05;

// The warning lines (each ending in a newline) for a condition run with first-order absorption
// whose row is degenerate or strongly absorbing as above; nothing otherwise, and nothing
// without absorption or with exact absorption. Needs s_g, u, ui, u0, ui0 and mtx_beams.
std::optional<std::string> first_order_absorption_warning(const State& st);

} // namespace korvex
