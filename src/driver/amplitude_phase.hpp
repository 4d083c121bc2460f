// Job 9: kinematical amplitude-phase diagrams of single columns along a line of 100 positions
// across the defect, with the per-slice phase records of the screw dislocation.
#pragma once

#include "defects/defect.hpp"
#include "driver/run.hpp"

namespace korvex {

// Column position p (1..100): y = -100, -98, .., -2, 2, 4, .., 100 Angstrom (0 is skipped).
double amplitude_phase_position(int p);

// One record of the ".gdr", ".sgz" and ".tot" files: depth z (single precision, F6.2) and a
// value (F10.5), a field widened to the width the value needs where it does not fit.
std::string phase_record(double z, double v);

// Runs all positions; drawing goes through rc.plotter when there is one.
void amplitude_phase_job(State& st, RunContext& rc, DefectField& field);

} // namespace korvex
