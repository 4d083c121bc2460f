// A beam condition with a convergent probe (st.illumination.scanning()): the slice loop carries
// every incident direction with the strain terms of the slice filled once, and the detectors'
// images are written instead of the beam images.
#pragma once

#include "defects/defect.hpp"
#include "driver/run.hpp"

namespace korvex {

// Refuses, before anything is written, an illumination the run cannot take: a column
// approximation other than "yes", a job other than 1, 2 or 999, a split run, a direction whose
// beams leave the Ewald sphere, and a detector that takes no beam of any direction (in some
// condition of a series). Needs the wave quantities (k, g).
void check_illumination(const State& st, const RunContext& rc);

// The slices and outputs of the current condition (set up, amplitudes at the entrance, `field`
// made), in place of run_condition's.
void run_probe_condition(State& st, RunContext& rc, DefectField& field);

} // namespace korvex
