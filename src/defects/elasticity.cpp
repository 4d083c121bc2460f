#include "defects/elasticity.hpp"

namespace korvex {

const char* elasticity_name(Elasticity e) {
    return e == Elasticity::anisotropic ? "anisotropic" : "isotropic";
}

std::shared_ptr<const StrohDislocation> StrohCache::get(const CubicElastic& c, const Mat3& frame,
                                                        const Vec3& b) {
    const bool same = field_ && c.c11 == c_.c11 && c.c12 == c_.c12 && c.c44 == c_.c44 &&
                      frame.a == frame_.a && b == b_;
    if (!same) {
        field_ = std::make_shared<const StrohDislocation>(c, frame, b);
        c_ = c;
        frame_ = frame;
        b_ = b;
    }
    return field_;
}

} // namespace korvex
