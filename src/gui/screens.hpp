// The screens of graphic mode after the entry form: the RUN panel, the result viewer with its
// exports of the last image, and the amplitude-phase diagrams of job 9 with their panel.
#pragma once

#include "driver/display.hpp"
#include "gui/toolkit.hpp"
#include "gui/viewer.hpp"
#include "state/state.hpp"

#include <string>

namespace korvex {

// The colour index and character height the RUN panel restores each time it is drawn; saved
// when RUN is pressed, first set from what the entry form leaves current.
struct PanelMemory {
    int colour_index = 1;
    float char_height = 1.0f;
};

// Viewer buttons served by the panels.
inline constexpr int kRunButton = 1, kGifButton = 4, kPostScriptButton = 5, kExitButton = 6;

// Waits for RUN (true) or EXIT (false: the window is closed); other buttons and clicks beside
// them are ignored.
bool run_panel(Gui& gui, PanelMemory& mem);

// After a run the viewer shows the beams of the row: DIFF steps to the next beam, ZOOM+ and
// ZOOM- magnify by two about the centre or the point last clicked on the image, CTS+ and CTS-
// narrow or widen the grey range, LABEL switches the annotations and DEFECT the defect's
// outline. GIF or C-PS stores the image shown, as shown, and the viewer waits again; EXIT ends
// (false); RUN and STOP go back to the RUN panel (true). An export after a run that wrote no image
// is refused with a message and the viewer waits again.
bool result_viewer(Gui& gui, PanelMemory& mem, const State& st, const std::string& last_image);

// Stores the image of `view`, as the screen shows it, through the file device
// "<image>.ps/VCPS" (256 levels) or "<image>.gif/GIF" (128 levels), opened beside the screen,
// which stays open and selected afterwards. A file that cannot be written is reported and the
// run goes on.
void export_view(Gui& gui, ImageView& view, bool postscript);

// One column position's amplitude-phase diagrams (job 9): on screen, followed by the panel,
// or into the PostScript file `ps_path` when it is not empty.
PhasePlotter::Choice draw_phase_diagram(Gui& gui, PanelMemory& mem, const PhaseDiagram& d,
                                        const std::string& ps_path);

} // namespace korvex
