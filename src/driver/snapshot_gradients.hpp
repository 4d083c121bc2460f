// Displacement-gradient files of a run's grid from an atomistic snapshot and its reference.
//
// The snapshot and its reference (a second snapshot with the same atom ids, or a perfect
// lattice) are read as streams; each atom's displacement, taken across the periodic cell by the
// shortest image, is averaged onto the cell centres by the kernel of defects/atom_grid.hpp at
// the atom's reference position; the gradients are written as the strain model's three files.
// Memory follows the grid (56 bytes per cell) and not the atoms, as long as the two snapshots
// list their atoms in about the same order (atoms met in one file before the other wait in a
// table until their partner comes).
#pragma once

#include "defects/atom_grid.hpp"
#include "driver/gradient_files.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace korvex {

struct SnapshotConversion {
    std::string snapshot;             // the deformed configuration
    std::string reference;            // a reference snapshot; empty with `lattice`
    std::optional<Structure> lattice; // perfect-lattice reference
    double lattice_a = 0.0;           // its lattice constant, Angstrom
    Vec3 lattice_origin{};            // a site of it, snapshot frame
    std::array<Vec3, 3> axes{Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}}; // crystal directions
    std::optional<Vec3> centre; // sample-frame point of the box centre (grid centre)
    double width = 0.0;         // kernel width, Angstrom; 0: the default
    bool partial = false;       // accept a box that leaves cells of the grid outside
    GradientOutput output;
    std::ostream* progress = nullptr; // progress lines on long conversions
    // Told each warning as it is found (they are also listed in the summary).
    std::function<void(const std::string&)> warn;
};

struct ConversionSummary {
    std::int64_t atoms = 0;
    std::int64_t empty_cells = 0, cells = 0;
    std::int64_t unfit_cells = 0; // cells atoms reach too sparsely for a slope (zero gradients)
    double width = 0.0;
    std::size_t most_waiting = 0; // atoms held at once waiting for their partner
    double max_displacement = 0.0;
    double read_seconds = 0.0, write_seconds = 0.0; // reading and averaging; gradients
    // Grids that give zero or meaningless gradients: no atoms, a kernel width out of scale
    // with the grid, a lattice constant that does not fit the atoms' density, most or all
    // cells without a gradient. The files are written all the same.
    std::vector<std::string> warnings;
};

// Writes base + ".dX", ".dY", ".dZ" for the grid and orientation of `box`. Every check (file
// layouts, counts, ids met twice in a file or in one file only, the box against the grid, the
// memory and disk space needed) is made before any file is written. A stop signal received
// (state/stop_signals.hpp) is taken between chunks of atoms and between slices.
ConversionSummary convert_snapshot(const SnapshotConversion& c, const GradientBox& box,
                                   const std::string& base);

} // namespace korvex
