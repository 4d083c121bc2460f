// The LaTeX document collecting the layer images of a run, one figure per beam condition.
#pragma once

#include "driver/run.hpp"

namespace korvex {

// Opens trim(datadir)//"Images"//trim(f_out)//".tex" and writes the head.
void begin_report_document(State& st, RunContext& rc);
// The two lines that include the current layer image (last_layer_name).
void report_layer_image(RunContext& rc);
// Caption of the current condition, page break and a new figure.
void report_page_break(const State& st, RunContext& rc);
// Closing lines; closes the document.
void end_report_document(const State& st, RunContext& rc);

} // namespace korvex
