// A small simulation state for the loop models: Cu at 200 kV, g = (2 0 0), zone axis [0 0 1],
// beams -1..3 at the Bragg condition of g, one column and one slice per Angstrom by default.
#pragma once

#include "optics/vectors.hpp"
#include "state/state.hpp"

#include <cmath>
#include <sstream>
#include <string>

namespace korvex::testing {

inline State loop_state(int nx, int ny, int nz, double sx, double sy, double sz,
                        const std::string& ca = "no", Vec3 foil = {0, 0, 1}, Vec3 v_g = {2, 0, 0}) {
    State st;
    st.ca = ca;
    st.foil = foil;
    st.v_g = v_g;
    st.co_x = v_g;
    st.co_y = cross_product(foil, v_g);
    st.size_x = sx;
    st.size_y = sy;
    st.size_z = sz;
    st.n_pixel_x = nx;
    st.n_pixel_y = ny;
    st.n_slice = nz;
    st.n_beams = 5;
    allocate_arrays(st);
    st.size = {sx, sy, sz};
    st.n_xyz = {nx, ny, nz};
    st.g = 0.554017;
    st.k = 39.8884;
    st.f_g = 1.0;
    const double t = st.f_g * st.g * 0.5;
    const double kz0 = std::sqrt(st.k * st.k - t * t);
    for (int n = 1; n <= st.n_beams; ++n) {
        st.mtx_beams(n) = n - 2;
        st.mtx_g(n) = st.mtx_beams(n) * st.g;
        st.mtx_q(n) = cplx(0.0, std::atan((st.mtx_g(n) - t) / kz0));
    }
    return st;
}

inline std::string vec_text(const Vec3& v) {
    std::ostringstream s;
    s.precision(17);
    s << v[0] << ' ' << v[1] << ' ' << v[2];
    return s.str();
}

// A polygonal-loop configuration file.
struct PgLoopConfig {
    std::string style = "faulted";
    std::string burgers = "1 3 1 1 1";
    std::string fault = "1 3 1 1 1";
    double radius = 10.0;
    Vec3 position{16, 16, 8};
    Vec3 normal{0, 0, 1};
    Vec3 polar{1, 0, 0};
    int nsides = 6;
    double nu = 0.3;
    double correction = 1.0;

    std::string text() const {
        std::ostringstream s;
        s.precision(17);
        s << "             {Data for the polygonal loop in Crystal}\n"
          << std::string(67, '=') << "\n"
          << style << "  loop style\n"
          << burgers << "  Burgers vector\n"
          << fault << "  stacking fault\n"
          << radius << "  radius\n"
          << vec_text(position) << "  position\n"
          << vec_text(normal) << "  normal\n"
          << vec_text(polar) << "  polar\n"
          << nsides << "  sides\n"
          << nu << "  Poisson\n"
          << correction << "  correction\n";
        return s.str();
    }
};

} // namespace korvex::testing
