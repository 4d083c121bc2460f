// Column and slice grid of the foil, the reciprocal vector of every beam, and the tilt and
// excitation error of every beam for one diffraction condition.
#pragma once

#include "state/state.hpp"

namespace korvex {

// size, n_xyz, unit_x/y/z, p_x, p_y, p_z, effslicenumber, sliceposition, slicethickness.
// (The slice table file is written by the driver.)
void cal_sample(const InputParameters& in, SampleGrid& grid);

// mtx_g(n) = mtx_beams(n) * g.
void cal_mtx_g(const InputParameters& in, RunOptics& o);

// Beam tilts (imaginary part of mtx_q) and excitation errors for the diffraction condition
// n of (g, ng), `condition_n`: the Bragg condition is met exactly for the beam n g.
void geometry(int n, double g, const Array1<double>& mtx_g, double k, double condition_n,
              Array1<cplx>& mtx_q, Array1<double>& s_g);

} // namespace korvex
