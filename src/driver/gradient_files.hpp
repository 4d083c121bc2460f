// Writing displacement-gradient files (".dX", ".dY", ".dZ").
//
// The strain-field model reads the gradients of an atomistic box from three text files, one
// per derivative direction. The routines here write such files from a field known in closed
// form, on the simulation's own grid, so that a pipeline can be checked against the analytic
// models and tests can make inputs of any size.
//
// File layout (the same for the three files): twelve header records (a label record before
// each of: cells along x, cells along y, cells along z, cell size along x, y, z in Angstrom),
// then one record per cell, x running fastest, then y, then z, holding the three derivatives
// of the displacement components along the crystal cube axes (dimensionless) with respect to
// the file's direction of the sample frame (x along g, y along zone x g, z along the zone axis
// into the foil). Cell (i, j, l) is sampled at its centre ((i-0.5) dx, (j-0.5) dy, (l-0.5) dz).
//
// Sign convention: the strain model takes the depth derivative with the opposite sign to the
// lateral ones, so ".dZ" holds -dR/dz. A field written here gives the same image through the
// strain model as through the matching analytic model.
#pragma once

#include "defects/gradient_field.hpp"

#include <functional>
#include <string>
#include <vector>

namespace korvex {

// The edge dislocation of a configuration file (records 3 to 7, read as the edge model reads
// them) as the writer takes it.
EdgeDislocation read_edge_configuration(const std::string& path);

// How the files are written: text (the layout above), or binary with 32- or 64-bit values
// after a 64-byte header (state/gradient_stream.hpp). The strain model reads either.
enum class GradientFormat { text, binary32, binary64 };
struct GradientOutput {
    GradientFormat format = GradientFormat::text;
    int digits = 0; // text: significant digits; 0 = as many as read back exactly
};

// Memory the writer holds (one slice of gradients and of each file's records) and the size of
// one file on disk: exact for binary files, the least it can be for text (every value "0").
double gradient_writer_memory(const GradientBox& box, const GradientOutput& out);
double gradient_file_size(const GradientBox& box, const GradientOutput& out);

// Writes base + ".dX", ".dY", ".dZ" for `field` sampled at every cell centre of `box`
// (".dZ" negated, see above). Values are written with `digits` significant digits, or, with
// digits = 0, with as many as are needed to read them back exactly. Each file is written to a
// temporary name and renamed once complete; a failure stops with a message naming the file.
// The memory and disk space the files need are checked before anything is written (for text,
// again after the first slice, at the length of its records), and a stop signal received
// (stop_signals.hpp) is taken between slices: the unfinished files are removed.
void write_gradient_files(const std::string& base, const GradientBox& box, const GradientFn& field,
                          int digits = 0);
void write_gradient_files(const std::string& base, const GradientBox& box, const GradientFn& field,
                          const GradientOutput& out);

// The same files from gradients made a slice at a time: `slice(l, g)` fills g (one entry per
// column, x fastest) with the gradients of slice l = 1 .. cells[2], in the sign convention of
// `field` above (physical dR/dz; ".dZ" gets it negated).
using GradientSlices = std::function<void(int l, std::vector<Gradient>& g)>;
void write_gradient_slices(const std::string& base, const GradientBox& box,
                           const GradientSlices& slice, const GradientOutput& out);

} // namespace korvex
