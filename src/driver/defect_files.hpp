// The readers of the defect models' configuration files and of the circular loop's integral
// tables. Every value is checked where it is read; a bad one stops with a message naming the
// file, the record and the value. The models themselves read no file: the driver hands them
// what these return (driver/defect_fields.hpp), again at every slice.
#pragma once

#include "defects/dissociated.hpp"
#include "defects/edge.hpp"
#include "defects/inclusion.hpp"
#include "defects/loop_iso.hpp"
#include "defects/loop_tables.hpp"
#include "defects/pgloop.hpp"
#include "defects/screw.hpp"
#include "defects/tetrahedron.hpp"
#include "defects/void.hpp"
#include "state/reader.hpp"

#include <string>
#include <vector>

namespace korvex {

// Where a reader puts its warnings (a record holding more numbers than it reads), when asked.
using Notes = std::vector<std::string>;

// Reads what follows the last value of a configuration file. When the last record that is not
// blank begins with the word "anisotropic" or "isotropic" (any case), that is the choice; a
// file without one is isotropic (a record beginning with a number, such as the relaxation
// indicator the entry form writes into the edge file, is no choice). Any other word stops with
// a message naming the file, the record and the word.
Elasticity read_elasticity(RecordReader& r);

namespace edge {
// Records 3 to 7 (Burgers vector, point, line, Poisson's ratio, r0) and the elasticity.
EdgeConfig read_edge_config(const std::string& file, Notes* notes = nullptr);
EdgeConfig read_edge_config(RecordReader& r); // the same from a reader at record 1
} // namespace edge

namespace screw {
// Records 3 to 6 (Burgers vector, point, cut-plane normal, relaxation 0 or 1) and the elasticity.
ScrewConfig read_screw_config(const std::string& file, Notes* notes = nullptr);
ScrewConfig read_screw_config(RecordReader& r); // the same from a reader at record 1
} // namespace screw

// Records 3 (radius) and 4 (centre) after the two ignored records.
VoidConfig read_void_config(const std::string& path, Notes* notes = nullptr);
VoidConfig read_void_config(RecordReader& r); // the same from a reader at record 1

// Records 3 (radius), 4 (centre), 5 (linear misfit) and 6 (Poisson's ratio) of an inclusion file.
InclusionConfig read_inclusion_config(const std::string& path, Notes* notes = nullptr);
InclusionConfig read_inclusion_config(RecordReader& r); // the same from a reader at record 1

// Records 3 to 9 of a dissociated dislocation (total b, line, midpoint, glide-plane normal,
// separation, Poisson's ratio, r0), then record 10: "fcc" or nothing for the fcc dissociation
// of b, else the leading partial m n i j k (the trailing one is b minus it).
DissociatedConfig read_dissociated_config(const std::string& path, Notes* notes = nullptr);
DissociatedConfig read_dissociated_config(RecordReader& r); // the same from a reader at record 1

// Records 3 to 12 of a polygonal-loop file (the loop style kept to 30 characters).
PgLoopFile read_pgloop_file(const std::string& path, Notes* notes = nullptr);
PgLoopFile read_pgloop_file(RecordReader& r); // the same from a reader at record 1

// Records 3 to 7 of a tetrahedron file (the loop style kept to 20 characters).
TetrahedronFile read_tetrahedron_file(const std::string& path, Notes* notes = nullptr);
TetrahedronFile read_tetrahedron_file(RecordReader& r); // the same from a reader at record 1

// "loop.ini", records 3 to 8 (the model name kept to 30 characters).
LoopIniFile read_loop_ini(const std::string& path = "loop.ini", Notes* notes = nullptr);
LoopIniFile read_loop_ini(RecordReader& r); // the same from a reader at record 1

// One loop-integral table file: a header record, then one record per v holding v and the
// kLoopTableSize values along |u|.
void read_loop_table(const std::string& path, LoopTable& table);

// Reads "i01.data", "i10.data", "i11.data", "i02.data", "i12.data" from the working directory.
// A table whose file has the same size and modification time as when it was last read is
// kept rather than parsed again (parsing them costs as much as a slice of columns on many
// cores).
void read_loop_tables(LoopTables& t);

// Writes the loop-integral table files (kLoopTableFiles) to the directory `dir` ("" the
// working directory, else ending in '/'), each complete under its name, and returns the names of
// those written: with `only_missing` those not there yet (none when all are), otherwise all five.
std::vector<std::string> write_loop_tables(const std::string& dir = "", bool only_missing = true);

} // namespace korvex
