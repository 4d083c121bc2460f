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

// Where a value was read, for the message: a record of a file ("Error reading "<file>",
// record <n>") or a field of the entry form.
struct ValueSource {
    ValueSource(const RecordReader& r); // NOLINT: a reader stands for its current record
    ValueSource(std::string text) : where(std::move(text)) {}
    ValueSource(const char* text) : where(text) {}
    std::string where;
};

// Stops the run: "<where>: <what>", then "Read: <read>".
[[noreturn]] void bad_value(const ValueSource& at, const std::string& what,
                            const std::string& read);

// A size or coordinate: finite and |v| <= kMaxMagnitude; `positive` also asks v > 0.
void check_real(const ValueSource& at, const char* what, double v, bool positive = false);
// A vector: each component as check_real; `nonzero` asks for a non-zero vector (a direction or
// normal the model divides by).
void check_vector(const ValueSource& at, const char* what, const std::array<double, 3>& v,
                  bool nonzero = false);
// A vector given as m/n [i j k]: n non-zero, m and the indices sane, the direction non-zero.
void check_fraction(const ValueSource& at, const char* what, double m, double n,
                    const std::array<double, 3>& dir);
// A Poisson ratio: strictly between -1 and 0.5.
void check_poisson(const ValueSource& at, double nu);
// A diffraction vector: non-zero, with whole-number indices (the reflections m g are lattice
// vectors).
void check_reflection(const ValueSource& at, const std::array<double, 3>& g);
// A beam row first..last (last >= first) of two beams or more that holds the transmitted beam 0.
void check_beam_row(const ValueSource& at, int first, int last);
// A switch: 0 or 1.
void check_switch(const ValueSource& at, const char* what, int v);

} // namespace korvex
