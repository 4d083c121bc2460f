#include "defects/defect.hpp"

#include <cmath>

namespace korvex {

BeamTilts beam_tilts(const State& st) {
    BeamTilts t;
    t.tan_tilt.resize(st.n_beams);
    t.order.resize(st.n_beams);
    for (int n = 1; n <= st.n_beams; ++n) {
        const double qa = st.mtx_q(n).real(), qb = st.mtx_q(n).imag();
        const double kgx = st.k * std::cos(qa) * std::sin(qb);
        const double kgz = st.k * std::cos(qa) * std::cos(qb);
        t.tan_tilt(n) = kgx / kgz;
        t.order(n) = nint(st.mtx_g(n) / st.g);
    }
    return t;
}

namespace {

// Perfect crystal: no strain, no jump.
class NoDefect : public DefectField {
  public:
    void fill_slice(State& st, int) override {
        st.s_g_r.fill(0.0);
        st.s_f.fill(0.0);
    }
};

// Void: the model marks the columns inside it; strain and jump are zero.
class VoidWrapper : public DefectField {
  public:
    explicit VoidWrapper(std::unique_ptr<DefectField> inner) : inner_(std::move(inner)) {}
    void fill_slice(State& st, int islice) override {
        inner_->fill_slice(st, islice);
        st.s_g_r.fill(0.0);
        st.s_f.fill(0.0);
    }
    void fill_column(State& st, int islice) override {
        inner_->fill_column(st, islice);
        st.s_g_r.fill(0.0);
        st.s_f.fill(0.0);
    }

  private:
    std::unique_ptr<DefectField> inner_;
};

// Polygonal loop: the jump is cleared before the model adds its crossings.
class ClearJumpWrapper : public DefectField {
  public:
    explicit ClearJumpWrapper(std::unique_ptr<DefectField> inner) : inner_(std::move(inner)) {}
    void fill_slice(State& st, int islice) override {
        st.s_f.fill(0.0);
        inner_->fill_slice(st, islice);
    }
    void fill_column(State& st, int islice) override {
        st.s_f.fill(0.0);
        inner_->fill_column(st, islice);
    }

  private:
    std::unique_ptr<DefectField> inner_;
};

} // namespace

std::unique_ptr<DefectField> make_defect_field(State& st) {
    switch (st.defect_kind) {
    case DefectKind::edge:
        return make_edge_field();
    case DefectKind::screw:
        return make_screw_field();
    case DefectKind::loop:
        return make_loop_field();
    case DefectKind::vacancy:
        return std::make_unique<VoidWrapper>(make_void_field());
    case DefectKind::pg_loop:
        return std::make_unique<ClearJumpWrapper>(make_pgloop_field());
    case DefectKind::tetrahedron:
        return make_tetrahedron_field();
    case DefectKind::strain:
        return make_strain_field();
    default:
        return std::make_unique<NoDefect>();
    }
}

} // namespace korvex
