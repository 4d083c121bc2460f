#include "defects/pgloop.hpp"

#include "defects/angular_dislocation.hpp"
#include "defects/defect.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/reader.hpp"

#include <cmath>

namespace korvex {

PgLoopFile read_pgloop_file(const std::string& path) {
    PgLoopFile f;
    RecordReader r(path);
    r.skip(2);
    r.read(f.loopstyle);
    if (f.loopstyle.size() > 30) f.loopstyle.resize(30);
    r.read(f.b_m, f.b_n, f.b_dir);
    r.read(f.f_m, f.f_n, f.f_dir);
    r.read(f.radius);
    r.read(f.position);
    r.read(f.normal);
    r.read(f.polar);
    r.read(f.nsides);
    r.read(f.poissonsratio);
    r.read(f.correction);
    return f;
}

LoopStyle loop_style(const std::string& text) {
    if (text.find("pureSF") != std::string::npos) return LoopStyle::pure_fault;
    if (text.find("perfect") != std::string::npos) return LoopStyle::perfect;
    if (text.find("faulted") != std::string::npos) return LoopStyle::faulted;
    halt("LOOPSTYLE DEFINED WRONG IN THE INITIAL FILE");
}

int loop_marker(const std::string& file) {
    if (file.find("alpha.ini") != std::string::npos) return 2;
    if (file.find("beta.ini") != std::string::npos) return 4;
    if (file.find("gamma.ini") != std::string::npos) return 6;
    if (file.find("delta.ini") != std::string::npos) return 8;
    return 1;
}

Vec3 lattice_vector(double m, double n, const Vec3& v, const char* what) {
    if (n == 0.0) halt(std::string("The ") + what + " m/n [i j k] is given with n = 0");
    return scaled(v, m / n);
}

PgLoopKernel::PgLoopKernel(const State& st, const PgLoopFile& f) {
    n_ = f.nsides;
    if (n_ < 3 || !(f.radius > 0.0))
        halt(std::vector<std::string>{
            "POINT A B C ARE NOT VERTEXES OF A TRIANGLE",
            "(a polygonal loop needs at least 3 sides and a positive radius)"});
    constexpr double pi = 3.141592653589793;
    const double alpha = pi / n_;
    rc_ = f.radius * std::cos(alpha);
    rs_ = f.radius * std::sin(alpha);
    const double beta = 2.0 * pi / n_;
    cb_ = std::cos(beta);
    sb_ = std::sin(beta);
    nu_ = f.poissonsratio;
    eps_ = f.correction;

    const Vec3 x2 = cross_product(st.foil, st.co_x);
    const Vec3 lz = cross_product(f.normal, f.polar);
    t1_ = coordinates_transfer(st.co_x, x2, st.foil, f.normal, f.polar, lz);
    inverse_three_real_matrix(t1_); // refuses a degenerate loop frame
    // Crystal axes -> loop frame, for the Burgers vector and g.
    const Mat3 t1c = coordinates_transfer({1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0},
                                          f.normal, f.polar, lz);
    const Vec3 b = lattice_vector(f.b_m, f.b_n, f.b_dir, "Burgers vector");

    const auto un = static_cast<std::size_t>(n_);
    t2_.resize(un);
    b_.resize(un);
    g_.resize(un);
    ck_.resize(un);
    sk_.resize(un);
    for (std::size_t k = 0; k < un; ++k) {
        const double theta = 2.0 * pi * static_cast<double>(k) / n_;
        ck_[k] = std::cos(theta);
        sk_[k] = std::sin(theta);
        Mat3 rk;
        rk(1, 1) = 1.0;
        rk(2, 2) = ck_[k];
        rk(2, 3) = sk_[k];
        rk(3, 2) = -sk_[k];
        rk(3, 3) = ck_[k];
        t2_[k] = mul(rk, t1_);
        const Mat3 t2c = mul(rk, t1c);
        b_[k] = mul(t2c, b);
        g_[k] = mul(t2c, st.v_g);
    }
}

Vec3 PgLoopKernel::gradient(const Vec3& p) const {
    Vec3 grad{};
    const auto un = static_cast<std::size_t>(n_);
    // The vertex shared by sides k-1 and k is the origin of the angular dislocation of side k;
    // side n precedes side 1.
    Vec3 prev = mul(t2_[un - 1], p);
    for (std::size_t k = 0; k < un; ++k) {
        const Vec3 xi = mul(t2_[k], p);
        const AngularGradients a = cal_strain_anglur(xi[0], xi[1] - rc_, xi[2] + rs_, prev[1] - rc_,
                                                     prev[2] - rs_, cb_, sb_, nu_, eps_);
        const Vec3 d = contract_gradients(a, b_[k], g_[k]);
        const Vec3 s = mul_t(t2_[k], d);
        grad[0] += s[0];
        grad[1] += s[1];
        grad[2] += s[2];
        prev = xi;
    }
    return grad;
}

bool PgLoopKernel::crosses(const Vec3& p, double half_slab) const {
    const Vec3 l = mul(t1_, p);
    if (!(std::abs(l[0]) <= half_slab)) return false;
    // Inside the convex polygon: on the inner side of every chord. (Testing the triangles of
    // the sides one by one would lose the columns lying exactly on a spoke.)
    for (std::size_t k = 0; k < static_cast<std::size_t>(n_); ++k)
        if (!(ck_[k] * l[1] + sk_[k] * l[2] < rc_)) return false;
    return true;
}

void pgloop(State& st, const std::string& file, int islice, Array3<double>& sgr, Array3<double>& sf,
            bool accumulate, const std::array<double, 2>* column) {
    const int marker = loop_marker(file);
    const PgLoopFile f = read_pgloop_file(file);
    const LoopStyle style = loop_style(f.loopstyle);

    st.loopstyle = f.loopstyle;
    st.l_radius = f.radius;
    st.l_position = f.position;
    st.l_normal = f.normal;
    st.l_polar = f.polar;
    st.l_z = cross_product(f.normal, f.polar);
    st.nsides = f.nsides;
    st.poissonsratio = f.poissonsratio;
    st.correction = f.correction;
    st.v_b = f.b_dir;
    st.b_p_m = f.b_m;
    st.b_p_n = f.b_n;
    st.b_sf = f.f_dir;
    st.b_sf_m = f.f_m;
    st.b_sf_n = f.f_n;

    const std::string ca = trim(st.ca);
    if (ca != "yes" && ca != "no") halt("Please make right choice for the Column Approximation");
    const bool lateral = ca == "no";

    const PgLoopKernel kernel(st, f);
    const Vec3 fault = lattice_vector(f.f_m, f.f_n, f.f_dir, "stacking-fault vector");
    const BeamTilts tilts = beam_tilts(st);

    const int nx = st.n_xyz[0], ny = st.n_xyz[1], nz = st.n_xyz[2], nb = st.n_beams;
    const double half_slab = (st.size[2] / nz) / 1.9;
    const double z = (islice - 0.5) * st.size[2] / nz - f.position[2];
    const bool strain = style != LoopStyle::pure_fault;
    const bool perfect = style == LoopStyle::perfect;

    // The depth rate of g.R of every beam at p, stored in (or added to) sgr(i, j, :).
    auto store = [&](int i, int j, const Vec3& p) {
        Vec3 grad{};
        if (strain) {
            grad = kernel.gradient(p);
            // On a leg of an angular dislocation without a core term the field is undefined;
            // such a column gets no strain in this slice.
            if (!std::isfinite(grad[0]) || !std::isfinite(grad[1]) || !std::isfinite(grad[2]))
                grad = Vec3{};
        }
        for (int n = 1; n <= nb; ++n) {
            const int m = tilts.order(n);
            const double v = m == 0    ? 0.0
                             : lateral ? m * (grad[0] * tilts.tan_tilt(n) + grad[2])
                                       : m * grad[2];
            if (accumulate)
                sgr(i, j, n) += v;
            else
                sgr(i, j, n) = v;
        }
    };

    if (column) {
        store(1, 1, Vec3{(*column)[0], (*column)[1], z});
        return;
    }

    Array3<int>& proj = st.projection;
#pragma omp parallel for schedule(static)
    for (int j = 1; j <= ny; ++j) {
        const double y = (j - 0.5) * st.size[1] / ny - f.position[1];
        for (int i = 1; i <= nx; ++i) {
            const Vec3 p{(i - 0.5) * st.size[0] / nx - f.position[0], y, z};
            if (kernel.crosses(p, half_slab)) {
                int& p1 = proj(i, j, 1);
                int& p2 = proj(i, j, 2);
                // A column takes the jump of a loop once, at its first crossing.
                bool jump = false;
                if (p1 == 0) {
                    p1 = marker;
                    jump = true;
                } else if (p1 != marker && p2 != marker) {
                    p2 = marker;
                    jump = true;
                }
                if (jump)
                    for (int c = 1; c <= 3; ++c)
                        sf(i, j, c) = fault[static_cast<std::size_t>(c - 1)];
            }
            if (perfect)
                for (int c = 1; c <= 3; ++c) sf(i, j, c) = 0.0;
            store(i, j, p);
        }
    }
}

namespace {

class PgLoopField : public DefectField {
  public:
    void fill_slice(State& st, int islice) override {
        pgloop(st, st.f_defect, islice, st.s_g_r, st.s_f, false);
    }
    // The amplitude-phase job: the column at st.colxy from the loop centre.
    void fill_column(State& st, int islice) override {
        st.s_g_r.fill(0.0);
        pgloop(st, st.f_defect, islice, st.s_g_r, st.s_f, false, &st.colxy);
    }
};

} // namespace

std::unique_ptr<DefectField> make_pgloop_field() {
    return std::make_unique<PgLoopField>();
}

} // namespace korvex
