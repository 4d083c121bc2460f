// The results of a run held in memory: every beam image of every condition, the middle-slice
// maps, the thickness-fringe profiles and layer images, with their axes, the input parameters,
// the derived optics and what ran. The driver collects them where it writes the text files (or
// instead of those, for a run from Python); the HDF5 writer and the Python module take them.
#pragma once

#include "state/image_file.hpp"
#include "state/state.hpp"

#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace korvex {

// One axis of a signal: the coordinate of each index, in `units`.
struct SignalAxis {
    std::string name, units;
    std::vector<double> values;
};

// An array with its axes, slowest index first (an image is (y, x): a[y-1][x-1]).
struct Signal {
    std::string name;     // "00g", "00g_sgr", "01g_layers", ...
    std::string quantity; // "intensity", "s_g_r", ...
    std::string units;    // of the values ("" for fractions of the incident beam)
    std::string file;     // the text file holding the same values, without the data directory
    int beam_order = 0;
    std::vector<SignalAxis> axes;
    std::vector<double> values; // row-major over the axes
};

// What a condition gave: the beam images (jobs 1 and 3), the middle-slice maps of a strained
// crystal, the thickness fringes (job 2), the layer images (job 3).
struct ConditionResults {
    double condition_n = 0.0;
    std::string output_name;      // f_out of the condition
    std::vector<int> beam_orders; // of each beam
    std::vector<double> s_g;      // excitation error of each beam, 1/Angstrom
    std::string engine;           // what ran
    double seconds = 0.0;         // wall time of the condition
    std::vector<Signal> images, maps, fringes, layers;
};

using ParameterValue = std::variant<long long, double, std::string, std::vector<double>>;

struct RunResults {
    // The input parameters and the derived optics as (name, value) in a fixed order; the names
    // carry their unit where they have one ("voltage_kV").
    std::vector<std::pair<std::string, ParameterValue>> parameters, optics;
    std::string defect_configuration; // the text of the defect configuration file as run
    std::string program_version;
    std::string engine;   // the last condition's engine, as the summary names it
    double seconds = 0.0; // wall time of the run
    std::vector<ConditionResults> conditions;
};

// Collecting, called by the driver on the process that holds the results. `begin_run` after
// the wave quantities; `begin_condition` after the condition's geometry; the others where the
// text files of the same values are written; `end_condition` after the images.
void begin_run(RunResults& r, const State& st, std::string defect_configuration,
               std::string version);
void begin_condition(RunResults& r, const State& st);
void add_beam_images(RunResults& r, const State& st);
void add_strain_maps(RunResults& r, const State& st);
// A scanning run: images(i, j, k) is the image of the detector named names[k] (its file's tag).
void add_detector_images(RunResults& r, const State& st, const Array3<double>& images,
                         const std::vector<std::string>& names);
// Job 2: `profiles` are the fringe images of every beam (x = slice).
void add_fringes(RunResults& r, const State& st, const std::vector<ImageData>& profiles);
// Job 3: the layer image of the beam of order 1 after slice `islice`.
void add_layer(RunResults& r, const State& st, int islice);
void end_condition(RunResults& r, const State& st, double seconds);

} // namespace korvex
