// Reading the directory configuration "filesystem.ini" and the 28-record input parameter file.
#pragma once

#include "state/state.hpp"

#include <string>

namespace korvex {

// Reads "filesystem.ini" from the current directory into homedir, sysdir, rundir, simrecdir and
// datadir (defaults "./" when it is missing or incomplete) and prefixes the root directory.
void read_filesystem_ini(InputParameters& st, const std::string& path = "filesystem.ini");

// Text mode: read_filesystem_ini, then the input file rundir + file_name; sets the derived
// grid and beam quantities, checks them, and calls allocate_arrays (unless `make_arrays` is
// false: a program that needs only the grid and the crystal).
void read_system_parameters(State& st, const std::string& file_name, bool make_arrays = true);
// The same records from a text in memory (the directories stay as they are); `name` stands for
// the file in messages and names the results.
void read_input_text(State& st, const std::string& name, const std::string& text,
                     bool make_arrays = true);

// Checks made on every parameter set before arrays are made (also used by the entry form):
// grid sizes that round to no column or slice, and the array-size guard.
void check_grid(const InputParameters& st);

// Cells of `step` Angstrom across `size` Angstrom: the nearest integer of size / step (halves
// away from zero), at least one where the size is at least half an Angstrom; step 0 gives one
// cell per Angstrom. A count that does not fit an int gives 0, which check_grid refuses.
int grid_cells(double size, double step);
// n_pixel_x, n_pixel_y and n_slice from the sizes and the chosen steps (pixel_size, slice_size).
void set_grid_counts(InputParameters& st);

// The length of a run of these parameters: "about 2.1E+09 column-slices: roughly 5.8 hours of
// one core's time with the exact engine" (a rough measure, as the guards and a long run say it).
std::string run_length_text(const InputParameters& st);
// The same time in seconds of one core.
double run_core_seconds(const InputParameters& st);

} // namespace korvex
