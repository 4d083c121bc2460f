// The amplitudes outside the column engines: the entering wave, the lateral shift between
// slices, the intensities, and the check of the grid against the beams' travel.
#include "solver/propagation.hpp"

#include <cmath>
#include <cstddef>
#include <string>

namespace korvex {

void initial_amplitudes(State& st) {
    const std::size_t plane = st.phi_grid.plane();
    cplx* phi = st.phi_grid.data();
    for (int b = 1; b <= st.n_beams; ++b) {
        const cplx a0 = st.mtx_beams(b) == 0 ? cplx(std::sqrt(st.mtx_bg(b)), 0.0) : cplx(0.0);
        cplx* pb = phi + plane * static_cast<std::size_t>(b - 1);
        for (std::size_t c = 0; c < plane; ++c) pb[c] = a0;
    }
}

std::string resolution_warnings(const State& st) {
    std::string w;
    if (st.n_beams < 1) return w;
    const double dz = st.size_z / st.n_slice;
    const double travel = dz * st.mtx_g(st.n_beams) / st.k;
    if (st.size_x / st.n_pixel_x <= travel)
        w += " The number of pixels in x or y coordinate is too large or the number of slices is "
             "too small\n";
    if (st.size_y / st.n_pixel_y <= travel)
        w += " the number of pixels in y coordinate  is too large or the number of slices is too "
             "small\n";
    return w;
}

double lateral_step(const std::array<int, 3>& n_xyz, const Vec3& size, double angle) {
    return std::abs(std::tan(angle)) * (size[2] / n_xyz[2]) / (size[0] / n_xyz[0]);
}

void shift_row(cplx* row, int npx, double angle, double t) {
    if (angle < 0.0) {
        // Each new value uses its right neighbour's old value: go left to right.
        for (int i = 0; i < npx - 1; ++i) row[i] = row[i] + t * (row[i + 1] - row[i]);
    } else if (npx >= 2) {
        // Each new value uses its left neighbour's old value: go right to left.
        for (int i = npx - 1; i >= 1; --i) row[i] = row[i] - t * (row[i] - row[i - 1]);
    }
}

void linear_itp(const std::array<int, 3>& n_xyz, int n_beams, const Vec3& size,
                const Array1<double>& shift_angle, Array3<cplx>& phi) {
    const int npx = n_xyz[0], npy = n_xyz[1];
#pragma omp parallel for collapse(2) schedule(static)
    for (int b = 1; b <= n_beams; ++b)
        for (int j = 1; j <= npy; ++j)
            shift_row(&phi(1, j, b), npx, shift_angle(b),
                      lateral_step(n_xyz, size, shift_angle(b)));
}

void intensities(State& st) {
    const std::size_t plane = st.phi_grid.plane();
    for (int b = 1; b <= st.n_beams; ++b) {
        const double scale = std::sqrt(st.mtx_bg(b));
        const cplx* pb = st.phi_grid.data() + plane * static_cast<std::size_t>(b - 1);
        double* ib = st.mtx_intensity.data() + plane * static_cast<std::size_t>(b - 1);
        for (std::size_t c = 0; c < plane; ++c) {
            // The amplitude normalised by sqrt(mtx_bg), then its modulus squared.
            const double m = std::abs(cplx(pb[c].real() / scale, pb[c].imag() / scale));
            ib[c] = m * m;
        }
    }
}

} // namespace korvex
