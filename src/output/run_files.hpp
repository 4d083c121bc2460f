// What the writers of a run's files keep from one call to the next: the run record and the
// report document being written, the names of the last images, and the clock of the reports.
// The driver's RunContext holds it; the writers take it, never the driver's own context.
#pragma once

#include "output/run_results.hpp"
#include "state/textout.hpp"

#include <ctime>
#include <functional>
#include <string>

namespace korvex {

struct RunFiles {
    std::string condition_text;  // text of the current condition n (20 characters)
    std::string last_image_path; // full name of the last image written
    std::string last_layer_name; // name of the last layer image, without directory
    int figure_images = 0;       // images in the report document's open figure
    bool report_body = false;    // the report document holds a figure or note
    RecordFile imi;              // run record (.imi)
    RecordFile tex;              // report document (.tex)
    // Where the run's results are collected (--hdf5, a run from Python); none: not kept.
    RunResults* results = nullptr;
    bool hdf5 = false; // --hdf5: the collected results go to <out>.h5 at the end of the run
    bool files = true; // false: the run writes no file at all (a run from Python)
    // Local date and time used by the reports (replaceable in tests).
    std::function<std::tm()> now = [] {
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm;
    };
};

} // namespace korvex
