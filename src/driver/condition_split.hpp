// A (g,ng) series split by condition: with at least as many conditions as processes, each
// process computes whole conditions (condition s belongs to process (s - 1) mod size, so the
// writer's own turns alternate with the others' and nobody waits long), and the writer writes
// every condition in turn, its own as it computes them and the others' from their records
// (`ConditionTape`), so that every file and line comes out as in one process.
//
// The writer asks a process for each of its conditions when it comes to it; the process sends
// the record or, if the condition stopped, its message, which the writer then stops with as
// the run in one process would have at that condition. When the writer stops (its own failure
// or a received one), it tells every process that would still be asked that it will not be;
// a process computing one of them notices between slices. All then meet at the program's end.
#pragma once

#include "driver/run.hpp"

namespace korvex {

// Whether this run's series is split by condition (several processes, no more than twelve;
// not job 9 nor the graphic interface).
bool series_split_by_condition(const State& st, const RunContext& rc);

// The twelve conditions of the series over the processes.
void run_series_split(State& st, RunContext& rc);

} // namespace korvex
