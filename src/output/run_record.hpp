// The run record <out>.imi: what ran, in the order it ran. It is written under its temporary
// name during the whole run and appears under its own at the end, so a stopped run leaves none.
#pragma once

#include "output/run_files.hpp"
#include "state/state.hpp"

#include <string>

namespace korvex {

// Opens trim(datadir)//trim(f_out)//".imi"; a run whose absorption is not first order says so
// first (" absorption exact").
void open_run_record(const State& st, RunFiles& rc);
// The current layer image (last_layer_name).
void record_layer_image(RunFiles& rc);
// What the column engine did in the condition just run (" engine ...").
void record_engine(RunFiles& rc, const std::string& engine_ran);
// Between two conditions of a series.
void record_new_simulation(RunFiles& rc);
// The closing " exit"; the record appears under its name. Nothing when it is not open.
void close_run_record(RunFiles& rc);

} // namespace korvex
