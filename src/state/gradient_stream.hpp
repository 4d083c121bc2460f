// Reading one displacement-gradient file (".dX", ".dY" or ".dZ") slice by slice, in either of
// its two layouts, told apart by the first bytes of the file:
//
// - text: twelve header records (a label record before each of: cells along x, y, z, cell size
//   along x, y, z in Angstrom), then one record of three values per cell, x fastest;
// - binary: a 64-byte header, then the same values in the same order as little-endian IEEE
//   floats of 4 or 8 bytes. Header (all little-endian):
//       bytes  0- 7  magic "KVXGRAD\n"
//       bytes  8-11  version, unsigned 32-bit (1)
//       bytes 12-15  bytes per value, unsigned 32-bit (4 or 8)
//       bytes 16-27  cells along x, y, z, unsigned 32-bit each
//       bytes 28-31  derivative direction of the file, unsigned 32-bit (0 x, 1 y, 2 z)
//       bytes 32-55  cell size along x, y, z in Angstrom, 64-bit floats
//       bytes 56-63  zero
//
// Only one slice of values is held at a time. Every failure throws ReadError naming the file
// and the record (text), the header field with its value, or the cell (binary).
#pragma once

#include "state/reader.hpp"
#include "state/state.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace korvex {

inline constexpr char kGradientMagic[8] = {'K', 'V', 'X', 'G', 'R', 'A', 'D', '\n'};
inline constexpr std::uint32_t kGradientVersion = 1;
inline constexpr std::size_t kGradientHeaderBytes = 64;

struct GradientHeader {
    std::array<int, 3> cells{}; // cells along x, y, z
    Vec3 unit{};                // cell size along x, y, z, Angstrom
    int value_bytes = 0;        // 4 or 8 in a binary file; 0 for text
    int direction = 0;          // derivative direction of a binary file (0 x, 1 y, 2 z)
};

// The 64 header bytes of a binary gradient file.
std::array<unsigned char, kGradientHeaderBytes> encode_gradient_header(const GradientHeader& h);

class GradientStream {
  public:
    // Opens the file; throws ReadError when it cannot be opened. The header is read by
    // read_header(), so that a caller can tell a missing file from a bad one.
    explicit GradientStream(const std::string& path);
    ~GradientStream();
    GradientStream(const GradientStream&) = delete;
    GradientStream& operator=(const GradientStream&) = delete;

    // Reads the header; a binary one is checked field by field (the derivative direction
    // against `direction`, 0 x, 1 y, 2 z, when one is given) and the file's length against
    // its grid.
    const GradientHeader& read_header(int direction = -1);
    bool binary() const { return header_.value_bytes != 0; }
    // The next out.size() records (one slice) into `out`.
    void read_cells(std::vector<Vec3>& out);
    // Passes over the next n records without keeping them (binary: seeks past them).
    void skip_cells(std::uint64_t n);
    // After a failed read_cells or skip_cells: the index, counted from the first record of the
    // call, of the record that failed.
    std::size_t failed_cell() const { return failed_; }

  private:
    [[noreturn]] void fail(const std::string& what) const;

    std::string path_;
    std::FILE* fp_ = nullptr;            // binary files
    std::unique_ptr<RecordReader> text_; // text files
    GradientHeader header_;
    std::uint64_t cell_ = 0; // binary: cells read so far
    std::size_t failed_ = 0;
    std::vector<unsigned char> buf_;
};

} // namespace korvex
