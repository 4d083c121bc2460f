// A hand-built state for the dislocation tests: Cu at 200 kV, g = (2 0 0), zone axis [0 0 1],
// five beams -1 .. 3, and a small grid. The beam tilts are those of the condition (g, f_g g);
// under the column approximation they are zero, as the driver sets them.
#pragma once

#include "state/state.hpp"
#include "support/testing.hpp"

#include <cmath>
#include <sstream>
#include <string>

namespace korvex::testing {

struct Grid {
    int nx = 8, ny = 6, nz = 10;
    double sx = 64.0, sy = 48.0, sz = 200.0;
};

inline State cu_state(const std::string& ca, double f_g = 1.0, Grid grid = {}) {
    State st;
    st.sample = "Cu";
    st.ca = ca;
    st.n_beams = 5;
    st.n_pixel_x = grid.nx;
    st.n_pixel_y = grid.ny;
    st.n_slice = grid.nz;
    st.size_x = grid.sx;
    st.size_y = grid.sy;
    st.size_z = grid.sz;
    st.size = {grid.sx, grid.sy, grid.sz};
    st.n_xyz = {grid.nx, grid.ny, grid.nz};
    st.foil = {0, 0, 1};
    st.v_g = {2, 0, 0};
    st.co_x = st.v_g;
    st.co_y = {0, 1, 0};
    st.g = 0.554017;
    st.k = 39.8884;
    st.f_g = f_g;
    allocate_arrays(st);
    const double t = 0.5 * f_g * st.g, kz0 = std::sqrt(st.k * st.k - t * t);
    for (int n = 1; n <= 5; ++n) {
        st.mtx_beams(n) = n - 2;
        st.mtx_g(n) = st.mtx_beams(n) * st.g;
        const double tilt = ca == "yes" ? 0.0 : std::atan((st.mtx_g(n) - t) / kz0);
        st.mtx_q(n) = {0.0, tilt};
    }
    return st;
}

// Beam of order m in the state above.
inline int beam(int m) {
    return m + 2;
}

// A configuration file: the header, the separator and the given records.
inline std::string config(const std::string& header, const std::string& records) {
    return header + "\n" + std::string(67, '=') + "\n" + records;
}

inline std::string edge_ini(const std::string& b, const std::string& point, const std::string& line,
                            double nu = 0.3, double r0 = 0.0) {
    std::ostringstream s;
    s << b << "   Burger vector m/n[i,j,k]\n"
      << point << "   A point that the edge dislocation passes\n"
      << line << "   Dislocation line\n"
      << nu << "   Poissons ratio\n"
      << r0 << "   A factor to avoid the singularity\n"
      << "0   Surface relaxation, 1: with, 0 without\n";
    return config("             {Data for the edge dislocation in Crystal}", s.str());
}

inline std::string screw_ini(const std::string& b, const std::string& point, const std::string& cut,
                             const std::string& relax = "0") {
    std::ostringstream s;
    s << b << "   Burger vector m/n[i,j,k]\n"
      << point << "   A point that the screw dislocation passes\n"
      << cut << "   Cut plane\n"
      << relax << "   Surface relaxation, 1: with, 0 without\n";
    return config("             {Data for the screw dislocation in Crystal}", s.str());
}

// Largest |value| of s_g_r over the grid for beam n.
inline double max_abs(const Array3<double>& a, int n) {
    double m = 0.0;
    for (int j = 1; j <= a.n2(); ++j)
        for (int i = 1; i <= a.n1(); ++i) m = std::max(m, std::abs(a(i, j, n)));
    return m;
}

} // namespace korvex::testing
