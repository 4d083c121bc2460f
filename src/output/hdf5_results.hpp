// The results of a run in one HDF5 file, <out>.h5, laid out as the EMD convention (version 0.2)
// describes a signal and its axes, so that h5py, HyperSpy and other EMD readers find the images
// with calibrated axes (layout in docs/outputs.md):
//
//   /                    version_major = 0, version_minor = 2, program, program_version,
//                        engine, run_seconds
//   /parameters          one attribute per input parameter
//   /optics              derived optics: U_g, U'_g, extinction distances, ...
//   /defect              the defect configuration text as run
//   /conditions/c01      condition_n, output name, engine, seconds; beam_orders, s_g_per_A
//   /data/c01_00g        emd_group_type = 1: `data` (float32), `data_double` (float64), `dim1`,
//                        `dim2` (...) the axes in nm, HDF5 dimension scales of both
//
// The file is built in memory and written whole through the safe writer (complete or absent).
#pragma once

#include "output/run_results.hpp"

#include <string>

namespace korvex {

// The bytes of the file. Values that are not finite are refused (none reach an image).
std::string hdf5_bytes(const RunResults& r);

// Writes them to `path`; a failure stops the run with a message naming the file.
void write_hdf5_results(const RunResults& r, const std::string& path);

} // namespace korvex
