// Automatic slicing (--slice-thickness=auto[:T]): the foil is cut into slices of 1, 3, 9 or 27
// even steps, thick where no column's strain term changes much with depth and as thin as the
// even step near cores, faults and voids.
//
// A thick slice carries its columns with the terms at its centre. Against carrying it as its
// even steps, each with its own terms, a column's beam n then misses the phase
// 2 pi dz sum_i (s_g_r_i - s_g_r_centre) to first order in the changes (dz the even step);
// the planner bounds sum_i |s_g_r_i - s_g_r_centre| dz 2 pi, for the beam of the largest order,
// by the tolerance T times the slice's share of the foil, so that a column's phase errors over
// the whole foil add up to T at most (radians). Slices where a sampled column crosses a fault or
// lies in a void stay even steps: a jump is placed at the slice that holds it.
//
// The terms are sampled on every even slice, in every column. A defect that may hold faults or
// voids (loops, tetrahedra, dissociated dislocations, voids, populations) is sampled in every
// image row, since a fault crossed in a thick slice would take its jump at the wrong depth; the
// straight dislocations, inclusions and the perfect crystal, whose terms are smooth across rows,
// in every kPlanRowStep-th row (and the last).
#pragma once

#include "defects/defect.hpp"
#include "state/state.hpp"

#include <optional>
#include <string>

namespace korvex {

// The tolerance (radians) of --slice-thickness=auto.
inline constexpr double kAutoSliceTolerance = 1e-2;
// Image rows between the sampled ones, for smooth fields.
inline constexpr int kPlanRowStep = 4;

// The tolerance of "auto" followed by `rest`: nothing (kAutoSliceTolerance) or ":T", T a finite
// number above zero, the whole text; nothing when `rest` is neither.
std::optional<double> auto_slice_tolerance(const std::string& rest);

// Why automatic slicing cannot take strain files (alone or as a population's background).
inline constexpr const char* kGradedStrainFiles =
    "Automatic slicing (--slice-thickness=auto) cannot read strain files: they hold the terms "
    "of even slices (use --slice-thickness=A)";

// Why automatic slicing cannot serve the run as set up ("" when it can): it needs the column
// approximation "yes" and images (job 1) or reports (job 999), no probe and no strain files.
std::string graded_slices_refusal(const State& st);

// Samples the terms of `field` (of the state's condition) on the even slices and replaces the
// state's slices with the graded ones (st.graded, effslicenumber, sliceposition,
// slicethickness). Returns the line the run prints about them.
std::string plan_graded_slices(State& st, DefectField& field);

// The slice holding the middle of the foil (the slice of the strain maps).
int middle_slice(const State& st);

} // namespace korvex
