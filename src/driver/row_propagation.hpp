// Propagation of a block of image rows only (the share of one process of a split run).
#pragma once

#include "driver/communicator.hpp"
#include "solver/propagation.hpp"
#include "state/state.hpp"

namespace korvex {

// propagate_slice for rows `rows` of the image: the rows' amplitudes, strain, jumps and void
// marks are carried through the slice as a grid of their own, so every column gets the same
// numbers as in a whole-image slice. The other rows are left as they are.
void propagate_rows(ColumnEngine& engine, State& st, int islice, int& flag, RowBlock rows);

} // namespace korvex
