// The configuration file of a population of defects (docs/populations.md): record 3 the
// tolerance on a defect's strain term, then one entry per defect, each opened by a record
// "defect <kind>" followed by the records 3, 4, ... of that kind's own configuration file, or
// "defect <kind> <file>" naming such a file. Every value is checked by the kind's own reader; a
// message names the population file, the entry and the value.
#pragma once

#include "driver/defect_files.hpp"
#include "state/settings.hpp"

#include <string>
#include <variant>
#include <vector>

namespace korvex {

// The most entries a population file may hold: far more than a field of view shows.
inline constexpr int kMaxPopulationEntries = 100000;

// A strain-file background: the base name of its gradient files.
struct StrainBackground {
    std::string base;
};

struct PopulationEntry {
    int number = 0; // 1-based, in the order of the file
    int record = 0; // the record of its "defect" line
    DefectKind kind = DefectKind::unknown;
    std::string file;  // the file it names, "" when its records stand in the entry
    std::string where; // "<file>, entry <n>" for messages
    std::variant<edge::EdgeConfig, screw::ScrewConfig, LoopIniFile, PgLoopFile, TetrahedronFile,
                 VoidConfig, InclusionConfig, DissociatedConfig, StrainBackground>
        config;
};

struct PopulationFile {
    std::string path;
    double tolerance = 0.0; // 1/Angstrom
    std::vector<PopulationEntry> entries;
};

// The word of a kind in a population file ("edge", "void", "3D-strain", ...).
const char* kind_word(DefectKind kind);

// Reads and checks the whole file: each entry by its kind's reader, at most one strain
// background, at most kMaxPopulationEntries entries, no void overlapping another bounded defect.
PopulationFile read_population_file(const std::string& path);

// Stops with "Please make right choice for the Column Approximation" naming the first entry
// whose kind refuses `ca`.
void check_population_columns(const PopulationFile& f, ColumnApprox ca);

// The reference point of an entry (a point on a dislocation, the centre of a loop, a tetrahedron
// or an inclusion), sample frame; zero for a strain background.
Vec3 entry_reference(const PopulationEntry& e);

} // namespace korvex
