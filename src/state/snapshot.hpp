// Streaming readers of atomistic snapshots: LAMMPS text dumps and extended XYZ files.
//
// The header (atom count, periodic cell, column layout) is read when the reader is made; the
// atoms then come in chunks of any size, so a snapshot of any number of atoms is read with a
// fixed amount of memory. Only the first frame of a file is read.
//
// LAMMPS dump: the ITEM sections TIMESTEP, NUMBER OF ATOMS, BOX BOUNDS (orthogonal, or
// triclinic with the tilt factors xy xz yz) and ATOMS, whose column names may come in any
// order; an "id" column and the positions as x y z, xu yu zu, or scaled xs ys zs / xsu ysu zsu
// are required. Other ITEM sections before ATOMS are skipped. A boundary flag "pp" marks a
// periodic direction (all periodic when the flags are absent).
// Extended XYZ: the atom count, then a comment line of key=value pairs holding
// Lattice="ax ay az bx by bz cx cy cz" (required), optionally Properties=name:type:cols:...
// (default species:S:1:pos:R:3; "pos" required, an "id" column optional: without one the atoms
// are numbered 1, 2, ... in file order), pbc="T T T" (default) and Origin="x y z" (default 0).
//
// Every failure throws ReadError: Error reading "<file>", line <n>: <what>.
#pragma once

#include "state/reader.hpp"
#include "state/state.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

// The periodic cell of a snapshot: origin + s1 a + s2 b + s3 c, 0 <= s < 1 (Angstrom).
struct SnapshotBox {
    Vec3 origin{};
    std::array<Vec3, 3> edge{}; // a, b, c
    std::array<bool, 3> periodic{true, true, true};
    long line = 0; // the line that describes the cell
};

struct SnapshotAtom {
    std::int64_t id = 0;
    Vec3 r{};      // Angstrom, the snapshot's own axes
    long line = 0; // its line in the file
};

// Lines of a file read in large blocks.
class LineSource {
  public:
    explicit LineSource(const std::string& path);
    ~LineSource();
    LineSource(const LineSource&) = delete;
    LineSource& operator=(const LineSource&) = delete;
    // The next line without its end; false at the end of the file.
    bool next(std::string_view& line);
    long line() const { return line_; }
    const std::string& path() const { return path_; }
    [[noreturn]] void fail(const std::string& what) const; // names the current line
    [[noreturn]] void fail_at(long line, const std::string& what) const;

  private:
    std::string path_;
    std::FILE* fp_ = nullptr;
    std::vector<char> buf_;
    std::size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    long line_ = 0;
};

class SnapshotReader {
  public:
    explicit SnapshotReader(const std::string& path);
    const std::string& path() const { return src_.path(); }
    const char* format() const { return lammps_ ? "LAMMPS dump" : "extended XYZ"; }
    std::int64_t count() const { return count_; }
    long count_line() const { return count_line_; }
    const SnapshotBox& box() const { return box_; }
    // Appends up to `max` atoms to `out` (cleared first); fewer only at the end of the frame.
    // A file that ends before the count is reached stops with a message.
    std::size_t next(std::vector<SnapshotAtom>& out, std::size_t max);

  private:
    void read_lammps_header();
    void read_xyz_header(std::string_view first);
    void parse_atom(std::string_view line, SnapshotAtom& a);

    LineSource src_;
    bool lammps_ = false;
    std::int64_t count_ = 0, done_ = 0;
    long count_line_ = 0;
    SnapshotBox box_;
    std::size_t n_cols_ = 0, id_col_ = 0, pos_col_[3]{};
    bool has_id_ = false, scaled_ = false;
    std::vector<std::string_view> tok_;
};

// Splits on blanks and tabs.
void split_words(std::string_view line, std::vector<std::string_view>& out);

} // namespace korvex
