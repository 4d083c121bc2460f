#include "defects/defect.hpp"

#include "defects/column_rule.hpp"

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

TermWeights term_weights(const State& st, DefectKind kind) {
    const bool lateral = lateral_derivative(kind, st.ca);
    const BeamTilts bt = beam_tilts(st);
    TermWeights w;
    w.wx.resize(st.n_beams);
    w.wz.resize(st.n_beams);
    for (int n = 1; n <= st.n_beams; ++n) {
        w.wz(n) = bt.order(n);
        w.wx(n) = lateral ? bt.order(n) * bt.tan_tilt(n) : 0.0;
    }
    return w;
}

namespace {

class PerfectField : public DefectField {
  public:
    void fill_slice(const State&, Workspace& w, int) override {
        w.s_g_r.fill(0.0);
        w.s_f.fill(0.0);
    }
};

} // namespace

std::unique_ptr<DefectField> make_perfect_field() {
    return std::make_unique<PerfectField>();
}

} // namespace korvex
