// The elasticity of the straight-dislocation models: isotropic (the closed forms, the default)
// or anisotropic (the sextic solution with the crystal's elastic constants), chosen by an
// optional last record of the edge and screw configuration files (read by
// driver/defect_files.hpp).
#pragma once

#include "defects/stroh.hpp"

#include <memory>

namespace korvex {

enum class Elasticity { isotropic, anisotropic };

// "isotropic" or "anisotropic".
const char* elasticity_name(Elasticity e);

// The sextic solution of the last configuration. The models re-read their file at every slice;
// the solution is rebuilt only when the constants, the frame or the Burgers vector change.
class StrohCache {
  public:
    std::shared_ptr<const StrohDislocation> get(const CubicElastic& c, const Mat3& frame,
                                                const Vec3& b);

  private:
    CubicElastic c_{};
    Mat3 frame_{};
    Vec3 b_{};
    std::shared_ptr<const StrohDislocation> field_;
};

// Every component of a gradient times f: the anisotropic fields take the core damping of the
// isotropic models as the factor f = r^2 / R^2 their 1/r terms get there (edge: R = r + r0,
// screw: R^2 = r^2 + core constant).
inline Mat3 damped(Mat3 d, double f) {
    for (double& v : d.a) v *= f;
    return d;
}

} // namespace korvex
