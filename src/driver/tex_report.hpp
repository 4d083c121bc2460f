// The LaTeX document collecting the layer images of a run, one figure per beam condition.
#pragma once

#include "driver/run.hpp"

namespace korvex {

// Opens trim(datadir)//"Images"//trim(f_out)//".tex" and writes the head.
void printtexfilehead(State& st, RunContext& rc);
// The two lines that include the current layer image (F_ML).
void printtexfileimagenames(RunContext& rc);
// Caption of the current condition, page break and a new figure.
void printtexfilepagebreak(const State& st, RunContext& rc);
// Closing lines; closes the document.
void printtexfileends(const State& st, RunContext& rc);

} // namespace korvex
