// The defect models: for each slice they fill the per-column terms the solver consumes
// (s_g_r, s_f, flag_vacancy, projection, g_r). One `DefectField` is made per beam condition.
// A model reads no file and prints nothing: it takes its configuration from a `ConfigSource`
// at every slice (the driver's source reads the file again, so that an edit during a run takes
// effect at the next slice; driver/defect_fields.hpp makes the fields of a run).
#pragma once

#include "state/state.hpp"

#include <functional>
#include <memory>
#include <string>

namespace korvex {

class DefectField {
  public:
    virtual ~DefectField() = default;
    // Fills the terms of slice `islice` (1-based) for every column of the grid into `w`; of
    // the state it only reads the rest.
    virtual void fill_slice(const State& st, Workspace& w, int islice) = 0;
    // Amplitude-phase job: the terms of the single column at st.colxy for slice `islice`,
    // stored at column (1, 1) (s_g_r, and g_r for the screw dislocation).
    virtual void fill_column(const State& st, Workspace& w, int islice) {
        fill_slice(st, w, islice);
    }
    // The same into the state's own working arrays.
    void fill_slice(State& st, int islice) { fill_slice(st, st.work(), islice); }
    void fill_column(State& st, int islice) { fill_column(st, st.work(), islice); }
    // Row by row: where `fills_rows`, `rows_of_slice` may stand in for fill_slice. It takes the
    // model's configuration for slice `islice` (and stops where fill_slice would), then returns
    // a function that fills every term of image row j (1-based) of that slice into `w`, to be
    // called once for every row, on any threads at once. The functions of several slices may
    // be held together and called in turn for the same row (slices carried in blocks), so each
    // keeps what its slice needs. The caller can then compute each row where it is used.
    virtual bool fills_rows() const { return false; }
    virtual RowFill rows_of_slice(const State& st, Workspace& w, int islice) {
        (void)st, (void)w, (void)islice;
        return {};
    }
    // Only the terms of image rows first..last (1-based) will be used: a model may leave the
    // other rows' terms at zero and keep less in memory (a run split over processes). Called
    // before the first slice.
    virtual void keep_rows(int first, int last) { (void)first, (void)last; }
};

// What a model is configured with, asked for at every slice (and every amplitude-phase column).
template <class Config> using ConfigSource = std::function<Config()>;

// The perfect crystal: no strain and no jump in any slice. The factories of the models are
// declared with their configurations (edge.hpp, screw.hpp, loop_iso.hpp, void.hpp, pgloop.hpp,
// tetrahedron.hpp).
std::unique_ptr<DefectField> make_perfect_field();

// Per-beam quantities every model forms from mtx_q, mtx_g and g: tan of the beam tilt
// (kgx/kgz) and the beam order m_n = nint(mtx_g(n)/g).
struct BeamTilts {
    Array1<double> tan_tilt; // kgx(n) / kgz(n)
    Array1<int> order;       // m_n
};
BeamTilts beam_tilts(const State& st);

// The weights of a model's strain term m_n (G3 + tan_n G1) for every beam: wz(n) = m_n and
// wx(n) = m_n tan_n, or 0 where the model of `kind` takes no lateral term under st.ca (a model
// that refuses st.ca stops here).
struct TermWeights {
    Array1<double> wx, wz;
};
TermWeights term_weights(const State& st, DefectKind kind);

} // namespace korvex
