// The defect models: for each slice they fill the per-column terms the solver consumes
// (s_g_r, s_f, flag_vacancy, projection, g_r). One `DefectField` is made per beam condition;
// models that read their configuration file re-read it at every slice.
#pragma once

#include "state/state.hpp"

#include <memory>
#include <string>

namespace korvex {

class DefectField {
  public:
    virtual ~DefectField() = default;
    // Fills the terms of slice `islice` (1-based) for every column of the grid.
    virtual void fill_slice(State& st, int islice) = 0;
    // Amplitude-phase job: the terms of the single column at st.colxy for slice `islice`,
    // stored at column (1, 1) (s_g_r, and g_r for the screw dislocation).
    virtual void fill_column(State& st, int islice) { fill_slice(st, islice); }
    // Only the terms of image rows first..last (1-based) will be used: a model may leave the
    // other rows' terms at zero and keep less in memory (a run split over processes). Called
    // before the first slice.
    virtual void keep_rows(int first, int last) { (void)first, (void)last; }
};

// The field of st.defect_kind for one beam condition (the perfect crystal clears the terms).
std::unique_ptr<DefectField> make_defect_field(State& st);

// Factories of the individual models (one file each).
std::unique_ptr<DefectField> make_edge_field();        // cal_dislocation
std::unique_ptr<DefectField> make_screw_field();       // cal_screw
std::unique_ptr<DefectField> make_loop_field();        // cal_loop_iso
std::unique_ptr<DefectField> make_void_field();        // void
std::unique_ptr<DefectField> make_pgloop_field();      // pgloop
std::unique_ptr<DefectField> make_tetrahedron_field(); // tetrahedron
std::unique_ptr<DefectField> make_strain_field();      // atomic

// Per-beam quantities every model forms from mtx_q, mtx_g and g: tan of the beam tilt
// (kgx/kgz) and the beam order m_n = nint(mtx_g(n)/g).
struct BeamTilts {
    Array1<double> tan_tilt; // kgx(n) / kgz(n)
    Array1<int> order;       // m_n
};
BeamTilts beam_tilts(const State& st);

} // namespace korvex
