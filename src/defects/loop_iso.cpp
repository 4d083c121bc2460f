#include "defects/defect.hpp"
#include "state/error.hpp"

namespace korvex {

// Placeholder until the model lands.
std::unique_ptr<DefectField> make_loop_field() {
    halt("The defect model \"loop_iso\" is not available in this build");
}

} // namespace korvex
