// The elasticity of the straight-dislocation models: isotropic (the closed forms, the default)
// or anisotropic (the sextic solution with the crystal's elastic constants), chosen by an
// optional last record of the edge and screw configuration files.
#pragma once

#include "defects/stroh.hpp"
#include "state/reader.hpp"

#include <memory>

namespace korvex {

enum class Elasticity { isotropic, anisotropic };

// Reads what follows the last value of a configuration file. When the last record that is not
// blank begins with the word "anisotropic" or "isotropic" (any case), that is the choice; a
// file without one is isotropic (a record beginning with a number, such as the relaxation
// indicator the entry form writes into the edge file, is no choice). Any other word stops with
// a message naming the file, the record and the word.
Elasticity read_elasticity(RecordReader& r);

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
