// Checks of physical values where they are read. Each stops the run with two lines: what is
// wrong, naming the file and the record just read, then the value as read.
//
// Every coordinate, vector component and size read must be finite and at most kMaxMagnitude
// in size: 1e6 Angstrom (0.1 mm) is far beyond any foil or image a column-by-column run can
// compute, and larger values only reach the models as overflow.
#pragma once

#include "state/reader.hpp"

#include <array>
#include <string>

namespace korvex {

inline constexpr double kMaxMagnitude = 1e6;

// Stops the run: Error reading "<file>", record <n>: <what>; then "Read: <read>".
[[noreturn]] void bad_value(const RecordReader& r, const std::string& what,
                            const std::string& read);

// A size or coordinate: finite and |v| <= kMaxMagnitude; `positive` also asks v > 0.
void check_real(const RecordReader& r, const char* what, double v, bool positive = false);
// A vector: each component as check_real; `nonzero` asks for a non-zero vector (a direction or
// normal the model divides by).
void check_vector(const RecordReader& r, const char* what, const std::array<double, 3>& v,
                  bool nonzero = false);
// A vector given as m/n [i j k]: n non-zero, m and the indices sane, the direction non-zero.
void check_fraction(const RecordReader& r, const char* what, double m, double n,
                    const std::array<double, 3>& dir);
// A Poisson ratio: strictly between -1 and 0.5.
void check_poisson(const RecordReader& r, double nu);
// A switch: 0 or 1.
void check_switch(const RecordReader& r, const char* what, int v);

} // namespace korvex
