// The guard that keeps non-finite numbers out of the images: after each slice the strain term
// and the amplitudes are scanned (a fast pass beside the propagation), and the first value that
// is not finite stops the run naming the beam, the column and the slice.
#pragma once

#include "state/state.hpp"

namespace korvex {

// The strain term of slice `islice`, before it is used.
void check_finite_strain(const State& st, int islice);
// The same for a slice's terms held elsewhere (a map is written only of finite terms).
void check_finite_strain(const State& st, const Array3<double>& s_g_r, int islice);
// The amplitudes at the exit of slice `islice`.
void check_finite_amplitudes(const State& st, int islice);

} // namespace korvex
