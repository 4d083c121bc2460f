#include "optics/geometry.hpp"

#include <cmath>

namespace korvex {

void cal_sample(const InputParameters& in, SampleGrid& grid) {
    grid.size = {in.size_x, in.size_y, in.size_z};
    grid.unit_x = in.size_x / in.n_pixel_x;
    grid.unit_y = in.size_y / in.n_pixel_y;
    grid.unit_z = in.size_z / in.n_slice;
    grid.n_xyz = {in.n_pixel_x, in.n_pixel_y, in.n_slice};

    // Columns and slices are represented by their centres.
    grid.p_x.resize(in.n_pixel_x);
    grid.p_y.resize(in.n_pixel_y);
    grid.p_z.resize(in.n_slice);
    for (int i = 1; i <= in.n_pixel_x; ++i) grid.p_x(i) = (i - 0.5) * in.size_x / in.n_pixel_x;
    for (int j = 1; j <= in.n_pixel_y; ++j) grid.p_y(j) = (j - 0.5) * in.size_y / in.n_pixel_y;
    for (int l = 1; l <= in.n_slice; ++l) grid.p_z(l) = (l - 0.5) * in.size_z / in.n_slice;

    // All slices are equally thick.
    grid.effslicenumber = in.n_slice;
    grid.sliceposition.resize(grid.effslicenumber);
    grid.slicethickness.resize(grid.effslicenumber);
    for (int l = 1; l <= grid.effslicenumber; ++l) {
        grid.sliceposition(l) = grid.p_z(l);
        grid.slicethickness(l) = in.size_z / in.n_slice;
    }
}

void cal_mtx_g(const InputParameters& in, RunOptics& o) {
    for (int n = 1; n <= in.n_beams; ++n) o.mtx_g(n) = in.mtx_beams(n) * o.g;
}

void geometry(int n, double g, const Array1<double>& mtx_g, double k, double condition_n,
              Array1<cplx>& mtx_q, Array1<double>& s_g) {
    // The incident beam is tilted by the Bragg angle of condition_n * g: its wave vector has the
    // component -t along g, and every beam of the row ends on the Ewald sphere's x-z circle.
    const double t = condition_n * g * 0.5;
    const double kz0 = std::sqrt(k * k - t * t);
    for (int i = 1; i <= n; ++i) {
        const double d = mtx_g(i) - t;
        mtx_q(i) = cplx(0.0, std::atan(d / kz0));
        s_g(i) = std::sqrt(k * k - d * d) - kz0;
    }
}

} // namespace korvex
