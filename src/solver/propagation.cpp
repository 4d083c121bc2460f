#include "solver/propagation.hpp"

#include "solver/eigen.hpp"
#include "solver/kernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <vector>

namespace korvex {

namespace {

using solver::SliceData;

std::string_view trimmed(const std::string& s) {
    std::string_view v(s);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    return v;
}

// Storage of the run-time (N = 0) kernels: grown once per thread and kept, so that neither a
// slice nor a column allocates. Fixed-size kernels carry their own storage.
double* runtime_storage(std::vector<double>& buf, std::size_t need) {
    if (buf.size() < need) buf.resize(need);
    return buf.data();
}

template <int N> struct SliceHolder {
    SliceData<N> sd;
    explicit SliceHolder(int) {}
};
template <> struct SliceHolder<0> {
    SliceData<0> sd;
    explicit SliceHolder(int n) {
        thread_local std::vector<double> buf;
        sd.bind(runtime_storage(buf, SliceData<0>::doubles_needed(n)), n);
    }
};

template <int N, int L> struct KernelHolder {
    solver::BatchKernel<N, L> k;
    explicit KernelHolder(const SliceData<N>& sd) : k(sd) {}
};
template <int L> struct KernelHolder<0, L> {
    solver::BatchKernel<0, L> k;
    explicit KernelHolder(const SliceData<0>& sd) : k(sd, storage(sd.n)) {}
    static double* storage(int n) {
        thread_local std::vector<double> buf;
        return runtime_storage(buf, solver::BatchKernel<0, L>::doubles_needed(n));
    }
};

// Records lane l's structure matrix and eigen-solution in the state's cell variables.
template <int N, int L>
void store_solution(State& st, const SliceData<N>& sd, const solver::BatchKernel<N, L>& k, int l) {
    const int n = sd.n;
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            const int e = r + n * c;
            const double re = r == c ? 2.0 * (sd.s_g.p()[r] + k.sgr()[r * L + l]) : sd.a_off.p()[e];
            st.h(r + 1, c + 1) = cplx(re, sd.b.p()[e]);
            st.eigenvectors_h(r + 1, c + 1) = cplx(k.eigenvector(r, c, l), 0.0);
        }
        st.eigenvalues_h(c + 1) = cplx(k.eigenvalue_re(c, l), k.eigenvalue_im(c, l));
    }
}

// The shared solution of the slice, from the state's cell variables.
template <int N> void load_solution(const State& st, SliceData<N>& sd) {
    const int n = sd.n;
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) sd.v.p()[r + n * c] = st.eigenvectors_h(r + 1, c + 1).real();
        sd.wr.p()[c] = st.eigenvalues_h(c + 1).real();
        sd.wi.p()[c] = st.eigenvalues_h(c + 1).imag();
    }
    sd.set_shared_propagator();
}

struct Grid {
    std::ptrdiff_t ncol; // columns, also the distance between beams
    cplx* phi;
    const double* sgr;
    const double* sf;
    const int* vacancy;
    std::array<double, 3> v_g;
    bool is_void;

    double jump(std::ptrdiff_t c) const {
        return v_g[0] * sf[c] + v_g[1] * sf[c + ncol] + v_g[2] * sf[c + 2 * ncol];
    }
    // Inside a void the amplitudes pass the slice unchanged.
    bool passes(std::ptrdiff_t c) const { return is_void && vacancy[c] == 0; }
};

// Every column solves its own structure matrix, kLanes columns at a time.
template <int N> void solve_every_column(State& st, const SliceData<N>& sd, const Grid& grid) {
    constexpr int L = solver::kLanes;
    const int n = sd.n;
    const std::ptrdiff_t ncol = grid.ncol;
    const std::ptrdiff_t nblock = (ncol + L - 1) / L;
#pragma omp parallel
    {
        KernelHolder<N, L> holder(sd);
        solver::BatchKernel<N, L>& k = holder.k;
        double* sgr = k.sgr();
        double* re = k.re();
        double* im = k.im();
        // Small static chunks: the sweeps a column needs vary across the image (most near a
        // defect core), and interleaved chunks share that work evenly between threads.
#pragma omp for schedule(static, 16)
        for (std::ptrdiff_t blk = 0; blk < nblock; ++blk) {
            // A short last block repeats its last column in the spare lanes.
            std::ptrdiff_t col[L];
            double p[L];
            const std::ptrdiff_t c0 = blk * L;
            const int count = static_cast<int>(std::min<std::ptrdiff_t>(L, ncol - c0));
            for (int l = 0; l < L; ++l) {
                const std::ptrdiff_t c = c0 + std::min(l, count - 1);
                col[l] = c;
                p[l] = grid.jump(c);
                for (int r = 0; r < n; ++r) {
                    const cplx x = grid.phi[c + ncol * r];
                    sgr[r * L + l] = grid.sgr[c + ncol * r];
                    re[r * L + l] = x.real();
                    im[r * L + l] = x.imag();
                }
            }
            k.solve();
            // Serially the last column solved is the one whose solution stays in the state;
            // exactly one thread owns it.
            if (c0 + count == ncol) store_solution(st, sd, k, count - 1);
            k.transfer_own(p);
            for (int l = 0; l < count; ++l) {
                const std::ptrdiff_t c = col[l];
                if (grid.passes(c)) continue;
                for (int r = 0; r < n; ++r)
                    grid.phi[c + ncol * r] = cplx(re[r * L + l], im[r * L + l]);
            }
        }
    }
}

// One eigen-solution (already in sd) serves every column.
template <int N> void apply_shared(const SliceData<N>& sd, const Grid& grid) {
    const int n = sd.n;
    const std::ptrdiff_t ncol = grid.ncol;
#pragma omp parallel
    {
        KernelHolder<N, 1> holder(sd);
        solver::ColumnKernel<N>& k = holder.k;
        double* re = k.re();
        double* im = k.im();
#pragma omp for schedule(static)
        for (std::ptrdiff_t c = 0; c < ncol; ++c) {
            if (grid.passes(c)) continue;
            for (int r = 0; r < n; ++r) {
                re[r] = grid.phi[c + ncol * r].real();
                im[r] = grid.phi[c + ncol * r].imag();
            }
            k.transfer_shared(grid.jump(c));
            for (int r = 0; r < n; ++r) grid.phi[c + ncol * r] = cplx(re[r], im[r]);
        }
    }
}

template <int N> void run_slice(State& st, double dz, int& flag, bool shared, bool is_void) {
    const int n = st.n_beams;
    SliceHolder<N> holder(n);
    SliceData<N>& sd = holder.sd;
    prepare_slice_data<N>(st, dz, sd);

    const Grid grid{static_cast<std::ptrdiff_t>(st.phi_grid.plane()),
                    st.phi_grid.data(),
                    st.s_g_r.data(),
                    st.s_f.data(),
                    st.flag_vacancy.data(),
                    st.v_g,
                    is_void};
    if (grid.ncol == 0) return;

    // The perfect crystal and the void: the solution of the first column of the first slice
    // serves every column from then on.
    if (flag != 0 && shared) {
        KernelHolder<N, 1> first(sd);
        for (int r = 0; r < n; ++r) first.k.sgr()[r] = grid.sgr[grid.ncol * r];
        first.k.solve();
        store_solution(st, sd, first.k, 0);
        flag = 0;
    }
    if (flag != 0) {
        solve_every_column(st, sd, grid);
    } else {
        load_solution(st, sd);
        apply_shared(sd, grid);
    }
}

} // namespace

void initial_amplitudes(State& st) {
    const std::size_t plane = st.phi_grid.plane();
    cplx* phi = st.phi_grid.data();
    for (int b = 1; b <= st.n_beams; ++b) {
        const cplx a0 = st.mtx_beams(b) == 0 ? cplx(std::sqrt(st.mtx_bg(b)), 0.0) : cplx(0.0);
        cplx* pb = phi + plane * static_cast<std::size_t>(b - 1);
        for (std::size_t c = 0; c < plane; ++c) pb[c] = a0;
    }
}

void resolution_check(const State& st) {
    if (st.n_beams < 1) return;
    const double dz = st.size_z / st.n_slice;
    const double travel = dz * st.mtx_g(st.n_beams) / st.k;
    if (st.size_x / st.n_pixel_x <= travel)
        st.console() << " The number of pixels in x or y coordinate is too large or the number "
                        "of slices is too small\n";
    if (st.size_y / st.n_pixel_y <= travel)
        st.console() << " the number of pixels in y coordinate  is too large or the number of "
                        "slices is too small\n";
}

void propagate_slice(State& st, int islice, int& flag) {
    const std::string_view defect = trimmed(st.defect);
    const bool is_void = defect == "void";
    const bool shared = is_void || defect == "no";
    const double dz = st.slicethickness(islice);
    solver::with_beam_count(st.n_beams,
                            [&]<int N>() { run_slice<N>(st, dz, flag, shared, is_void); });

    const std::string_view ca = trimmed(st.ca);
    if (ca == "no" || ca == "half")
        linear_itp(st.n_xyz, st.n_beams, st.size, st.shift_angle, st.phi_grid);
}

void linear_itp(const std::array<int, 3>& n_xyz, int n_beams, const Vec3& size,
                const Array1<double>& shift_angle, Array3<cplx>& phi) {
    const int npx = n_xyz[0], npy = n_xyz[1];
    const double dx = size[0] / n_xyz[0];
    const double dz = size[2] / n_xyz[2];
#pragma omp parallel for collapse(2) schedule(static)
    for (int b = 1; b <= n_beams; ++b) {
        for (int j = 1; j <= npy; ++j) {
            const double angle = shift_angle(b);
            const double t = std::abs(std::tan(angle)) * dz / dx;
            cplx* row = &phi(1, j, b);
            if (angle < 0.0) {
                // Each new value uses its right neighbour's old value: go left to right.
                for (int i = 0; i < npx - 1; ++i) row[i] = row[i] + t * (row[i + 1] - row[i]);
            } else if (npx >= 2) {
                // Each new value uses its left neighbour's old value: go right to left.
                for (int i = npx - 1; i >= 1; --i) row[i] = row[i] - t * (row[i] - row[i - 1]);
            }
        }
    }
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
