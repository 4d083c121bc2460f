#include "output/run_record.hpp"

#include "state/fmt.hpp"

namespace korvex {

void open_run_record(const State& st, RunFiles& rc) {
    rc.imi.open(trim(st.datadir) + trim(st.f_out) + ".imi");
    // An exact-absorption run says so first (a tabulated run says after each condition what its
    // engine did); a default run keeps the record as it always was.
    if (st.absorption != Absorption::first_order)
        rc.imi.line(std::string(" absorption ") + absorption_name(st.absorption));
}

void record_layer_image(RunFiles& rc) {
    rc.imi.line(" " + trim(rc.last_layer_name));
}

void record_engine(RunFiles& rc, const std::string& engine_ran) {
    rc.imi.line(" engine " + engine_ran);
}

void record_new_simulation(RunFiles& rc) {
    rc.imi.line(" NewSimulation");
}

void close_run_record(RunFiles& rc) {
    if (!rc.imi.is_open()) return;
    rc.imi.line(" exit");
    rc.imi.close();
}

} // namespace korvex
