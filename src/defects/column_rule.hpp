// How each defect model takes the column approximation, stated once for all of them.
#pragma once

#include "state/settings.hpp"

namespace korvex {

// Whether the strain term of model `kind` under `ca` adds the lateral derivative of g.R along
// each tilted beam to the depth derivative. A model that refuses `ca` stops with "Please make
// right choice for the Column Approximation".
//
//   model                          "yes"   "no"      "half"
//   edge, screw, inclusion,        depth   lateral   lateral
//   dissociated
//   loop (infinitesimal model)     depth   lateral   depth
//   pg_loop, tetrahedron, 3D-strain depth  lateral   refused
//
// The perfect crystal and the void have no strain term; an unknown `ca` never reaches a model
// (the condition set-up refuses it first).
bool lateral_derivative(DefectKind kind, ColumnApprox ca);
// Whether model `kind` takes `ca` at all (lateral_derivative would not stop).
bool column_approx_taken(DefectKind kind, ColumnApprox ca);

} // namespace korvex
