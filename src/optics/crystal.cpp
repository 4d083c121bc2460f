#include "optics/crystal.hpp"

#include "state/error.hpp"
#include "state/fmt.hpp"

#include <array>
#include <cmath>

namespace korvex {

namespace {

struct CrystalRow {
    const char* symbol;
    CrystalParams params;
};

// Room-temperature cubic cells. <u^2> is the mean-square thermal displacement of one atom along
// one direction (the Debye-Waller B is 8 pi^2 <u^2>).
constexpr std::array<CrystalRow, 7> kCrystals{{
    {"Ag", {4.0, 4.0853, 0.0105, Lattice::fcc}},
    {"Al", {4.0, 4.0495, 0.0108, Lattice::fcc}},
    {"Au", {4.0, 4.078, 0.0074, Lattice::fcc}},
    {"Cu", {4.0, 3.61, 0.0069, Lattice::fcc}},
    {"Mo", {2.0, 3.1472, 0.0022, Lattice::bcc}},
    {"Si", {8.0, 5.42, 0.0045, Lattice::diamond}},
    {"Fe", {2.0, 2.8664, 0.005, Lattice::bcc}},
}};

struct ElasticRow {
    const char* symbol;
    CubicElastic c;
};

// Room-temperature stiffnesses C11, C12, C44 in GPa, as tabulated by Hirth and Lothe, Theory
// of Dislocations (2nd ed., 1982), table 13-1.
constexpr std::array<ElasticRow, 7> kElastic{{
    {"Ag", {124.0, 93.4, 46.1}},
    {"Al", {108.2, 61.3, 28.5}},
    {"Au", {186.0, 157.0, 42.0}},
    {"Cu", {168.4, 121.4, 75.4}},
    {"Mo", {460.0, 176.0, 110.0}},
    {"Si", {165.7, 63.9, 79.6}},
    {"Fe", {242.0, 146.5, 112.0}},
}};

constexpr std::array<double, 10> kLorentz{1.1957, 1.3914, 1.5871, 1.7828, 1.9785,
                                          2.1742, 2.3698, 2.5655, 2.7612, 2.9569};

} // namespace

namespace {

// The stop of a symbol the table does not hold: the table's own line, then where the symbol
// was read (when known), what is accepted and the value.
[[noreturn]] void unknown_crystal(const std::string& symbol, const std::string& where) {
    std::string known;
    for (const auto& row : kCrystals) known += std::string(known.empty() ? "" : ", ") + row.symbol;
    halt({"No this element found in the subroutine CrystalParameter.",
          (where.empty() ? std::string() : where + ": ") +
              "the crystal symbol (its first two characters, case matters) must be one of " + known,
          "Read: \"" + symbol + "\""});
}

} // namespace

CrystalParams crystalparameter(const std::string& symbol, const std::string& where) {
    const std::string key = first_two(symbol);
    for (const auto& row : kCrystals)
        if (key == row.symbol) return row.params;
    unknown_crystal(symbol, where);
}

CubicElastic elastic_constants(const std::string& symbol) {
    const std::string key = first_two(symbol);
    for (const auto& row : kElastic)
        if (key == row.symbol) return row.c;
    unknown_crystal(symbol, "");
}

double lorentzfactor(double voltage_volts) {
    for (int i = 1; i <= 10; ++i)
        if (std::abs(voltage_volts - i * 100000.0) < 1.0)
            return kLorentz[static_cast<std::size_t>(i - 1)];
    halt({"ERROR: No Lorentz Factor found for",
          "       accelerating voltage V = " + list_real(voltage_volts)});
}

void cal_wave_quantities(const InputParameters& in, RunOptics& o) {
    // The constants of the wave number are single-precision numbers used in double arithmetic.
    const double c_rel = static_cast<double>(0.9788f);
    const double c_kilo = static_cast<double>(0.001f);
    const double c_h = static_cast<double>(12.26f);
    const double v = in.voltage;
    o.k = std::sqrt(1000.0 * v) * std::sqrt(1.0 + c_rel * c_kilo * v) / c_h;
    o.wavelength = 1.0 / o.k;
    o.d =
        o.lat_c / std::sqrt(in.v_g[0] * in.v_g[0] + in.v_g[1] * in.v_g[1] + in.v_g[2] * in.v_g[2]);
    o.b_angle = std::asin(o.wavelength / (2.0 * o.d));
    o.g = 1.0 / o.d;
}

} // namespace korvex
