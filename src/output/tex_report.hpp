// The LaTeX document collecting the layer images of a run, one figure per beam condition.
//
// A figure is opened by its first image, so that no figure stands empty: a condition without
// layer images (jobs 1 and 2) gets its caption as a note, naming its image files, instead.
#pragma once

#include "output/caption.hpp"
#include "output/run_files.hpp"
#include "state/state.hpp"

namespace korvex {

// Opens trim(datadir)//"Images"//trim(f_out)//".tex" and writes the head.
void begin_report_document(State& st, RunFiles& rc);
// The lines that include the current layer image (last_layer_name), labelled with the depth of
// the exit of slice `islice`.
void report_layer_image(const State& st, RunFiles& rc, int islice);
// Caption of the current condition and a page break; a note when the figure has no image.
void report_page_break(const State& st, RunFiles& rc, const DefectCaption& defect);
// Closing lines; closes the document.
void end_report_document(const State& st, RunFiles& rc);

} // namespace korvex
