#include "defects/defect.hpp"

#include <cmath>

namespace korvex {

int defect_model_code(const std::string& defect) {
    if (defect == "no") return 0;
    if (defect == "edge") return 1;
    if (defect == "screw") return 2;
    if (defect == "loop") return 3;
    if (defect == "void") return 4;
    if (defect == "pg_loop") return 5;
    if (defect == "tetrahedron") return 6;
    if (defect == "3D-strain") return 7;
    return -1;
}

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
    switch (st.defect_model) {
    case 1:
        return make_edge_field();
    case 2:
        return make_screw_field();
    case 3:
        return make_loop_field();
    case 4:
        return std::make_unique<VoidWrapper>(make_void_field());
    case 5:
        return std::make_unique<ClearJumpWrapper>(make_pgloop_field());
    case 6:
        return make_tetrahedron_field();
    case 7:
        return make_strain_field();
    default:
        return std::make_unique<NoDefect>();
    }
}

} // namespace korvex
