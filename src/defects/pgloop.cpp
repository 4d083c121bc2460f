#include "defects/defect.hpp"
#include "state/error.hpp"

namespace korvex {

// Placeholder until the model lands.
std::unique_ptr<DefectField> make_pgloop_field() {
    halt("The defect model \"pgloop\" is not available in this build");
}

} // namespace korvex
