#include "optics/geometry.hpp"

#include <cmath>

namespace korvex {

void cal_sample(State& st) {
    st.size = {st.size_x, st.size_y, st.size_z};
    st.unit_x = st.size_x / st.n_pixel_x;
    st.unit_y = st.size_y / st.n_pixel_y;
    st.unit_z = st.size_z / st.n_slice;
    st.n_xyz = {st.n_pixel_x, st.n_pixel_y, st.n_slice};

    // Columns and slices are represented by their centres.
    st.p_x.resize(st.n_pixel_x);
    st.p_y.resize(st.n_pixel_y);
    st.p_z.resize(st.n_slice);
    for (int i = 1; i <= st.n_pixel_x; ++i) st.p_x(i) = (i - 0.5) * st.size_x / st.n_pixel_x;
    for (int j = 1; j <= st.n_pixel_y; ++j) st.p_y(j) = (j - 0.5) * st.size_y / st.n_pixel_y;
    for (int l = 1; l <= st.n_slice; ++l) st.p_z(l) = (l - 0.5) * st.size_z / st.n_slice;

    // All slices are equally thick.
    st.effslicenumber = st.n_slice;
    st.sliceposition.resize(st.effslicenumber);
    st.slicethickness.resize(st.effslicenumber);
    for (int l = 1; l <= st.effslicenumber; ++l) {
        st.sliceposition(l) = st.p_z(l);
        st.slicethickness(l) = st.size_z / st.n_slice;
    }
}

void cal_mtx_g(State& st) {
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_g(n) = st.mtx_beams(n) * st.g;
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
