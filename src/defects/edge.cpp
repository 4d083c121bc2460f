#include "defects/defect.hpp"
#include "state/error.hpp"

namespace korvex {

// Placeholder until the model lands.
std::unique_ptr<DefectField> make_edge_field() {
    halt("The defect model \"edge\" is not available in this build");
}

} // namespace korvex
