#include "state/checks.hpp"

#include "state/fmt.hpp"

#include <cmath>

namespace korvex {

namespace {

bool sane(double v) {
    return std::isfinite(v) && std::abs(v) <= kMaxMagnitude;
}

std::string vector_text(const std::array<double, 3>& v) {
    return list_real(v[0]) + " " + list_real(v[1]) + " " + list_real(v[2]);
}

const std::string kLimit = "at most 1.0E+06 in size";

} // namespace

ValueSource::ValueSource(const RecordReader& r)
    : where("Error reading \"" + r.name() + "\", record " + std::to_string(r.record())) {}

void bad_value(const ValueSource& at, const std::string& what, const std::string& read) {
    throw ReadError(std::vector<std::string>{at.where + ": " + what, "Read: " + read});
}

void check_real(const ValueSource& at, const char* what, double v, bool positive) {
    if (!sane(v)) bad_value(at, std::string("the ") + what + " must be " + kLimit, list_real(v));
    if (positive && !(v > 0.0))
        bad_value(at, std::string("the ") + what + " must be positive", list_real(v));
}

void check_vector(const ValueSource& at, const char* what, const std::array<double, 3>& v,
                  bool nonzero) {
    for (double c : v)
        if (!sane(c))
            bad_value(at, std::string("each component of the ") + what + " must be " + kLimit,
                      vector_text(v));
    if (nonzero && v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0)
        bad_value(at, std::string("the ") + what + " must not be zero", vector_text(v));
}

void check_fraction(const ValueSource& at, const char* what, double m, double n,
                    const std::array<double, 3>& dir) {
    const std::string read = list_real(m) + " " + list_real(n) + " " + vector_text(dir);
    if (!sane(m) || !sane(n))
        bad_value(at, std::string("the ") + what + " m/n [i j k] needs m and n " + kLimit, read);
    if (n == 0.0) bad_value(at, std::string("the ") + what + " m/n [i j k] needs n non-zero", read);
    check_vector(at, what, dir, true);
}

void check_poisson(const ValueSource& at, double nu) {
    if (!(nu > -1.0 && nu < 0.5))
        bad_value(at, "the Poisson ratio must lie between -1 and 0.5 (both excluded)",
                  list_real(nu));
}

void check_reflection(const ValueSource& at, const std::array<double, 3>& g) {
    check_vector(at, "diffraction vector g", g, true);
    for (double c : g)
        if (c != std::nearbyint(c))
            bad_value(at, "the diffraction vector g must have whole-number indices",
                      vector_text(g));
}

void check_beam_row(const ValueSource& at, int first, int last) {
    if (last >= first && (first > 0 || last < 0))
        bad_value(at, "the beam row must contain the transmitted beam 0",
                  std::to_string(first) + " " + std::to_string(last));
    if (first == last)
        bad_value(at, "the beam row must hold at least two beams (the transmitted and one more)",
                  std::to_string(first) + " " + std::to_string(last));
}

void check_switch(const ValueSource& at, const char* what, int v) {
    if (v != 0 && v != 1)
        bad_value(at, std::string("the ") + what + " must be 0 or 1", std::to_string(v));
}

} // namespace korvex
