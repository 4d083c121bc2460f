// One simulation run: the quantities fixed for the run, the beam-condition loop with its jobs,
// and the closing records.
#pragma once

#include "driver/communicator.hpp"
#include "driver/display.hpp"
#include "output/run_files.hpp"
#include "state/state.hpp"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace korvex {

class ConditionTape;

// Values the driver keeps beside the simulation state during a run (with those of its file
// writers).
struct RunContext : RunFiles {
    RunDisplay* display = nullptr;          // graphic-mode hooks (none in text mode)
    PhasePlotter* plotter = nullptr;        // amplitude-phase diagrams (none: records only)
    OverviewWriter* overview = nullptr;     // the run's overview picture (none: not drawn)
    std::vector<OverviewRow> overview_rows; // beam images of each condition so far
    Communicator* comm = nullptr;           // the processes sharing the run (none: this one alone)
    bool whole_conditions = false;          // a series split by condition: rows are not split
    ConditionTape* tape = nullptr;          // the condition's record (series split by condition)
    std::string output_base_at_start;       // f_out at start-up; series names are built from it
    double nominal_condition_n = 0.0;       // condition_n as read
    int n_layer = 0;                        // layer images on the current report page
    std::chrono::steady_clock::time_point count_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point run_start; // set by start_run, for the summary
    std::filesystem::file_time_type files_since{};   // files written from here on are the run's
    bool job9_finished = false;                      // the amplitude-phase job ended the run
    bool exit_requested = false;                     // EXIT was pressed during the run
    bool back_to_run_panel = false; // another panel button was pressed during job 9
};

// Stops the run when the defect style is none of the known ones, or needs a configuration file
// and none is given (checked before anything is computed).
void check_defect_style(const State& st);

// Start-up steps after the parameters are known: potential coefficients, array-size guard,
// sample grid and slice table, wave quantities, beam vectors, report head, run record.
void start_run(State& st, RunContext& rc);
// All beam conditions of the run (one, or the twelve of a series).
void run_conditions(State& st, RunContext& rc);
// Closing records of the report document and the run record; releases the slice tables.
void end_run(State& st, RunContext& rc);

// Condition s (1..kSeriesLength) of a (g,ng) series: condition_n, its text and f_out.
void select_condition(State& st, RunContext& rc, int s);

// One beam condition with the current condition_n and f_out.
void run_condition(State& st, RunContext& rc);

// Whether this process holds the run's results (the only one, or the writer of a split run).
inline bool holds_results(const RunContext& rc) {
    return !rc.comm || rc.comm->writer();
}

// Whether this process writes the run's files: it holds the results and the run writes files.
inline bool writes_files(const RunContext& rc) {
    return holds_results(rc) && rc.files;
}

// Seconds since start-up, whole.
int elapsed_seconds(const RunContext& rc);

// After a condition's images: its processing time, parameter report, projection file and the
// report document's page break.
void close_condition_reports(State& st, RunContext& rc);

} // namespace korvex
