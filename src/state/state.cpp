#include "state/state.hpp"

#include <cmath>
#include <stdexcept>

namespace korvex {

void allocate_arrays(State& st) {
    if (st.allocated) throw std::logic_error("allocate_arrays called twice on one state");
    const int npx = st.n_pixel_x, npy = st.n_pixel_y, nb = st.n_beams, nz = st.n_slice;
    st.p_x.resize(npx);
    st.p_y.resize(npy);
    st.p_z.resize(nz);
    st.mtx_q.resize(nb);
    st.shift_angle.resize(nb);
    st.mtx_g.resize(nb);
    st.mtx_bg.resize(nb);
    st.mtx_beams.resize(nb);
    st.h.resize(nb, nb);
    st.eigenvectors_h.resize(nb, nb);
    st.eigenvalues_h.resize(nb);
    st.mtx_phi_in.resize(nb);
    st.mtx_phi_out.resize(nb);
    st.mtx_intensity.resize(npx, npy, nb);
    st.phi_grid.resize(npx, npy, nb);
    st.s_g_r.resize(npx, npy, nb);
    st.g_r.resize(npx, npy, nb);
    st.s_f.resize(npx, npy, 3);
    st.projection.resize(npx, npy, 2);
    st.s_g.resize(nb);
    st.kg_z.resize(nb);
    st.flag_vacancy.resize(npx, npy);
    st.u.resize(nb - 1);
    st.ui.resize(nb - 1);
    st.allocated = true;
}

std::string first_two(const std::string& s) {
    std::string r = s.substr(0, 2);
    r.resize(2, ' ');
    return r;
}

int nint(double x) {
    return static_cast<int>(std::lround(x));
}

} // namespace korvex
