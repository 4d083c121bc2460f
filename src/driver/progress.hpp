// Progress of a run on the terminal: one line at each tenth of the slices of a condition, with
// an estimate of the time left, and a closing summary of the run (time, engine, files written).
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvex {

// The line for slice `done` of `total` when it completes a further tenth ("30% finished",
// list style), or nothing. With `seconds` (the time the slices so far took, >= 0) a line before
// the last adds the estimate ", about 12 s left"; the last line is " 100% finished".
std::optional<std::string> indicator_line(int done, int total, double seconds = -1.0);

// The indicator lines of one condition's slice loop, timed from its construction.
class SliceProgress {
  public:
    std::optional<std::string> line(int done, int total) const;

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// A duration for people: "0.4 s", "12 s", "3 min 05 s", "2 h 04 min".
std::string duration_text(double seconds);

// The files of `dir` ("" the working directory) whose names begin with one of `prefixes` and
// that were written at or after `since`, sorted by name.
std::vector<std::string> files_written(const std::string& dir,
                                       const std::vector<std::string>& prefixes,
                                       std::filesystem::file_time_type since);

// The closing lines: " Finished in <time>, engine <engine>, absorption <absorption>", then for
// each folder with files " <n> files written in <folder>: <names>" (at most 12 names, then
// "... and <k> more").
std::string run_summary(double seconds, const std::string& engine, const std::string& absorption,
                        const std::vector<std::pair<std::string, std::vector<std::string>>>& dirs);

} // namespace korvex
