// Spherical void: a sphere of missing crystal with no strain field around it. For each slice
// the columns whose slice centre lies inside the sphere are marked; the propagation lets their
// amplitudes pass that slice unchanged, and every other column sees perfect crystal.
#include "defects/void.hpp"

#include <cmath>

namespace korvex {

namespace {

class VoidField final : public DefectField {
  public:
    explicit VoidField(ConfigSource<VoidConfig> source) : source_(std::move(source)) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        mark(st, w, islice);
        w.s_g_r.fill(0.0);
        w.s_f.fill(0.0);
    }

  private:
    void mark(const State& st, Workspace& w, int islice) {
        const VoidConfig cfg = source_();
        const int nx = st.n_xyz[0], ny = st.n_xyz[1];
        const double sx = st.size[0], sy = st.size[1];
        const double radius = cfg.radius;
        const Vec3 c = cfg.position;
        const double dz = st.slice_centre(islice) - c[2];
        Array2<int>& flag = w.flag_vacancy;
#pragma omp parallel for schedule(static)
        for (int j = 1; j <= ny; ++j) {
            const double dy = (j - 0.5) * sy / ny - c[1];
            for (int i = 1; i <= nx; ++i) {
                const double dx = (i - 0.5) * sx / nx - c[0];
                const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
                // Strictly inside only: a column centre on the surface is crystal.
                flag(i, j) = radius - d > 0.0 ? 0 : 1;
            }
        }
    }

    ConfigSource<VoidConfig> source_;
};

} // namespace

std::unique_ptr<DefectField> make_void_field(ConfigSource<VoidConfig> source) {
    return std::make_unique<VoidField>(std::move(source));
}

} // namespace korvex
