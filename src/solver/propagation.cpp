#include "solver/propagation.hpp"

#include "state/error.hpp"

namespace korvex {

// Placeholders until the solver lands.
void initial_amplitudes(State&) {
    halt("solver not available in this build");
}
void resolution_check(const State&) {}
void propagate_slice(State&, int, int&) {
    halt("solver not available in this build");
}
void linear_itp(const std::array<int, 3>&, int, const Vec3&, const Array1<double>&, Array3<cplx>&) {
}
void intensities(State&) {}

} // namespace korvex
