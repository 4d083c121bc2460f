// The defect field of a run: the model of st.defect_kind, fed at every slice with its
// configuration read again from the file (st.f_defect, or "loop.ini" for the circular loop), so
// that an edit during a run takes effect at the next slice, as it always has.
#pragma once

#include "defects/defect.hpp"

#include <memory>

namespace korvex {

// The field of st.defect_kind for one beam condition (the perfect crystal clears the terms).
// The circular loop's notes (a model that selects no method, a Burgers vector off the loop
// normal) go to st.console(); before its first slice, integral tables it needs and does not
// find in the working directory are computed and written there, for this run and later ones.
std::unique_ptr<DefectField> make_defect_field(State& st);

// The strain field of an atomistic calculation, streamed from its gradient files
// (driver/strain_field.cpp): the base name of the files `base`, or record 3 of st.f_defect.
std::unique_ptr<DefectField> make_strain_field(std::string base = "");

} // namespace korvex
