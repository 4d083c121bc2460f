// What the slices of some defect models leave besides their terms: the circular loop's strain
// maps at every slice and the tetrahedron's face files (written again only when their text
// changes). The models only compute; this adapter around the field of a condition writes.
#pragma once

#include "defects/defect.hpp"
#include "state/image_file.hpp"
#include "state/state.hpp"

#include <memory>
#include <string>
#include <vector>

namespace korvex {

// `field` with the slice outputs of st.defect_kind. Files are written only where `writer`
// (the process that writes a split run's files).
std::unique_ptr<DefectField> with_slice_outputs(std::unique_ptr<DefectField> field, const State& st,
                                                bool writer);

// The memory the circular loop's maps are made in, kept from slice to slice (memory new to the
// process costs a page fault every 4 KB).
struct LoopMapsScratch {
    std::vector<ImageData> beams;
    std::vector<std::vector<std::string>> text; // each beam's records, in parts
};

// The circular loop's maps trim(f_out) + "sgr" + NN of every beam's `s_g_r`, in the working
// directory.
void print_loop_sgr(const State& st, const Array3<double>& s_g_r, LoopMapsScratch& scratch);

} // namespace korvex
