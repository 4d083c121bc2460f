// Text reports of a run: the banner, the terminal summary of a diffraction condition, the
// parameter report (.par) with its defect section, the appended simulation record, and the
// number-to-text conversion used in file names.
#pragma once

#include "output/run_files.hpp"
#include "state/state.hpp"

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

namespace korvex {

void print_head(std::ostream& out);

// Terminal summary (sets co_y = foil x co_x first).
void show_system_parameters(State& st);

// The lines of the parameter report for the current condition; `defect_lines` (the section of
// the run's defect configuration) close it.
std::vector<std::string> parameter_report(const State& st, const std::tm& now,
                                          const std::vector<std::string>& defect_lines = {});
// The simulation-record entry.
std::vector<std::string> simulation_record(const State& st, const std::tm& now);

// Writes the parameter report trim(datadir)//trim(f_out)//".par" and, unless f_out is "test",
// appends the entry to trim(simrecdir)//"record.sim".
void print_parameters(State& st, const RunFiles& rc, const std::vector<std::string>& defect_lines);

// x with its integer digits, a point and two truncated decimals, blank-padded to 20
// characters. Stops with "the number is bigger than 1E9" above 1e9.
std::string number_text(double x);

// The projection file trim(datadir)//trim(f_out)//"_pjt".
void print_projection(const State& st);

} // namespace korvex
