// Slices carried in blocks: where a run allows it, the slice loop hands the engine several
// slices at once and each image row goes through all of them on one thread, its terms filled
// slice by slice just before it is carried (ColumnEngine::propagate_slices). The row's
// amplitudes and terms then stay in that core's cache from slice to slice, and the threads meet
// once per block instead of once per slice.
#pragma once

#include "defects/defect.hpp"
#include "solver/propagation.hpp"
#include "state/state.hpp"

#include <vector>

namespace korvex {

// Slices of one block at most: a stop signal waits for the block to end.
constexpr int kSliceBlock = 16;

// Whether the slices of a condition may go in blocks: the amplitude images alone (the other
// jobs keep something of every slice), some rows in this process, a model that fills rows, and
// an engine that carries them (ColumnEngine::carries_blocks).
bool slices_in_blocks(const State& st, const DefectField& field, RowBlock rows);

// The last slice of the block that starts at `islice`: slices of its thickness, at most
// kSliceBlock of them, none of them the middle slice (its maps need the whole slice first)
// unless it is the only one.
int block_end(const State& st, int islice, int middle);

// Carries the image rows `rows` (this process's) through slices first..last (a block of
// block_end) in `engine`, with the terms of `field` (the model's lines for each slice printed
// first), and stops as the slice loop would at the first slice whose terms or amplitudes are
// not finite. `fills` is kept for the next block.
void carry_block(ColumnEngine& engine, DefectField& field, State& st, int first, int last,
                 int& flag, std::vector<RowFill>& fills, RowBlock rows);

} // namespace korvex
