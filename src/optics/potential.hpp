// Fourier coefficients of the crystal potential: tabulated electron scattering amplitudes with
// a Debye-Waller factor for the real part, the Bird-King thermal-diffuse-scattering integral
// (adaptive 16-point Gauss-Legendre quadrature in two dimensions) for the absorptive part.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace korvex {

// Electron scattering amplitude f(s) in Angstrom of the element `symbol` (first two characters,
// one-letter symbols blank-padded) at s = sin(theta)/lambda. Returns `f_unchanged` when the
// symbol has no table.
double cal_fab(const std::string& symbol, double s, double f_unchanged = 0.0);
// Whether an amplitude table exists for the symbol.
bool has_scattering_table(const std::string& symbol);

struct BirdKingResult {
    double a = 0.0;            // lattice constant written from the crystal table, Angstrom
    std::vector<double> u, ui; // nmax elements each, 1/Angstrom^2
    std::string notes;         // the quadrature's notes, one line each, in reflection order
};

// U and U' of the reflections m*(h k l), m = 1..nmax, for a crystal of one element, multiplied
// by the cell's geometric structure factor divided by the atoms per cell (so forbidden
// reflections are zero). An exhausted outer quadrature stops the run.
BirdKingResult birdking(double voltage_volts, const std::string& symbol, int nmax,
                        std::array<int, 3> hkl, int iabs);

// The same for any list of reflections m (h k l), computed side by side (the zero beam and a
// row together keep every thread busy); results and notes in the order of the list.
struct Reflection {
    int m = 1;
    std::array<int, 3> hkl{};
};
BirdKingResult birdking(double voltage_volts, const std::string& symbol,
                        const std::vector<Reflection>& reflections, int iabs);

// Two-dimensional adaptive quadrature: integral over x in [x_lo, x_hi] of fx(x) times the
// inner integral over y in ylim(x) of fxy(x, y). `rel` and `abs` are the tolerances as the
// caller passes them (the scheme uses rel/10 and abs/100). An exhausted inner quadrature adds
// a note line to `notes`; an exhausted outer one stops the run.
double gauss2(double x_lo, double x_hi, double rel, double abs,
              const std::function<std::pair<double, double>(double)>& ylim,
              const std::function<double(double)>& fx,
              const std::function<double(double, double)>& fxy, std::string& notes);

} // namespace korvex
