// Crystal table, relativistic factor and the electron wave-vector quantities.
#pragma once

#include "state/state.hpp"

#include <string>

namespace korvex {

// Cubic lattice of the crystals the program knows.
enum class Lattice { fcc, bcc, diamond };

struct CrystalParams {
    double atoms = 0.0; // atoms per cubic cell
    double a = 0.0;     // lattice constant, Angstrom
    double msd = 0.0;   // mean-square thermal displacement <u^2>, Angstrom^2
    Lattice lattice = Lattice::fcc;
};

// Looks up the first two characters of `symbol` (case matters). Stops with
// "No this element found in the subroutine CrystalParameter." when unknown, followed by a line
// naming `where` the symbol was read (a file and record, or a form box) and the known symbols,
// and the value read.
CrystalParams crystalparameter(const std::string& symbol, const std::string& where = "");

// Room-temperature elastic stiffnesses of a cubic crystal, GPa.
struct CubicElastic {
    double c11 = 0.0, c12 = 0.0, c44 = 0.0;
    // Zener ratio 2 C44 / (C11 - C12): 1 for an elastically isotropic crystal.
    double zener() const { return 2.0 * c44 / (c11 - c12); }
};

// The elastic constants of the crystal named by the first two characters of `symbol`, for the
// same crystals as crystalparameter; stops with the same message when unknown.
CubicElastic elastic_constants(const std::string& symbol);

// Relativistic factor for a voltage in volts (within 1 V of 100..1000 kV in steps of 100 kV);
// otherwise stops with the two-line message "ERROR: No Lorentz Factor found for" /
// "       accelerating voltage V = <volts>".
double lorentzfactor(double voltage_volts);

// Sets k, wavelength, d, b_angle and g from voltage (kV), lat_c and v_g.
void cal_wave_quantities(const InputParameters& in, RunOptics& o);

} // namespace korvex
