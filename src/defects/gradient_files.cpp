#include "defects/gradient_files.hpp"

#include "defects/edge.hpp"

#include "state/error.hpp"
#include "state/reader.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace korvex {

EdgeDislocation read_edge_configuration(const std::string& path) {
    const edge::EdgeConfig c = edge::read_edge_config(path);
    EdgeDislocation e;
    e.b_m = c.b_m;
    e.b_n = c.b_n;
    e.b_dir = c.b_index;
    e.point = c.point;
    e.line = c.line;
    e.nu = c.nu;
    e.r0 = c.r0;
    e.elasticity = c.elasticity;
    return e;
}

EdgeGradient::EdgeGradient(const EdgeDislocation& e, const GradientBox& box)
    : origin_(e.point), nu_(e.nu), r0_(e.r0) {
    const Vec3 b = scaled(e.b_dir, e.b_m / e.b_n);
    if (std::abs(dot(b, e.line)) >= 1e-4)
        halt("The dislocation line is not perpendicular to the Burgers vector");
    if (!(e.r0 > 0.0)) halt("The core radius r0 of the edge dislocation must be positive");
    if (!(box.lat_c > 0.0)) halt("The lattice constant must be positive");
    const double b_len = magnitude(b);
    if (!(b_len > 0.0)) halt("The Burgers vector of the edge dislocation is zero");

    const Vec3 e2 = cross_product(e.line, b);
    const Vec3 co_y = cross_product(box.foil, box.v_g);
    t_ = coordinates_transfer(box.v_g, co_y, box.foil, b, e2, e.line);
    to_cube_ =
        coordinates_transfer({1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, b, e2, e.line);
    if (e.elasticity == Elasticity::anisotropic)
        stroh_ =
            std::make_shared<const StrohDislocation>(e.constants, to_cube_, Vec3{1.0, 0.0, 0.0});
    // The field is per unit Burgers vector; |b| is in lattice parameters.
    for (double& v : to_cube_.a) v *= box.lat_c * b_len;
}

Gradient EdgeGradient::operator()(const Vec3& p) const {
    constexpr double two_pi = 6.283185307179586;
    const Vec3 q = mul(t_, Vec3{p[0] - origin_[0], p[1] - origin_[1], p[2] - origin_[2]});
    const double x = q[0], y = q[1];
    const double rho = std::sqrt(x * x + y * y), r = rho + r0_;
    const double r2 = r * r, r4 = r2 * r2;
    const double c1 = 1.0 / (2.0 * (1.0 - nu_)); // 1 / 2(1 - nu)
    const double c2 = (1.0 - 2.0 * nu_) * c1;    // (1 - 2 nu) / 2(1 - nu)
    // d(q, r) = du_r / dx'_q in the dislocation frame; nothing varies along the line (and, for
    // the isotropic field, u3 = 0).
    Mat3 d;
    if (stroh_) {
        d = damped(stroh_->gradient(x, y), rho * rho / r2);
    } else {
        d(1, 1) = ((y * y - x * x) * y * c1 / r4 - y / r2) / two_pi;
        d(2, 1) = ((x * x - y * y) * x * c1 / r4 + x / r2) / two_pi;
        d(1, 2) = -(x * y * y * 2.0 * c1 / r4 + x * c2 / r2) / two_pi;
        d(2, 2) = -(y * c2 / r2 - y * x * x * 2.0 * c1 / r4) / two_pi;
    }
    // Derivative directions back to the sample frame, displacement components to cube axes.
    const Mat3 s = mul(real_matrix_transpose(t_), d);
    const Mat3 grad = mul(s, to_cube_);
    Gradient out;
    for (int e = 1; e <= 3; ++e)
        for (int c = 1; c <= 3; ++c)
            out[static_cast<std::size_t>(e - 1)][static_cast<std::size_t>(c - 1)] = grad(e, c);
    return out;
}

namespace {

void append_number(std::string& s, double v, int digits) {
    char buf[64];
    const auto res =
        digits > 0 ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits)
                   : std::to_chars(buf, buf + sizeof buf, v);
    s += ' ';
    s.append(buf, res.ptr);
}

[[noreturn]] void write_failed(const std::string& path, int err) {
    halt("Error writing \"" + path +
         "\": " + (err ? std::string(std::strerror(err)) : std::string("write failed")));
}

} // namespace

void write_gradient_files(const std::string& base, const GradientBox& box, const GradientFn& field,
                          int digits) {
    const int nx = box.cells[0], ny = box.cells[1], nz = box.cells[2];
    if (nx < 1 || ny < 1 || nz < 1) halt("Gradient files need at least one cell along each axis");

    const std::array<const char*, 3> suffix{".dX", ".dY", ".dZ"};
    std::array<std::string, 3> path, tmp;
    std::array<std::FILE*, 3> fp{};
    auto close_all = [&fp]() {
        for (auto*& f : fp)
            if (f) {
                std::fclose(f);
                f = nullptr;
            }
    };

    std::string header;
    const std::array<const char*, 3> axis{"x", "y", "z"};
    for (int a = 0; a < 3; ++a)
        header += std::string(" cells along ") + axis[static_cast<std::size_t>(a)] + "\n " +
                  std::to_string(box.cells[static_cast<std::size_t>(a)]) + "\n";
    for (int a = 0; a < 3; ++a) {
        header +=
            std::string(" cell size along ") + axis[static_cast<std::size_t>(a)] + " (Angstrom)\n";
        append_number(header, box.unit(a), 0); // exact: the model compares it exactly
        header += '\n';
    }

    for (std::size_t f = 0; f < 3; ++f) {
        path[f] = base + suffix[f];
        tmp[f] = path[f] + ".part";
        fp[f] = std::fopen(tmp[f].c_str(), "wb");
        if (!fp[f]) {
            const int err = errno;
            close_all();
            for (std::size_t g = 0; g < f; ++g) std::remove(tmp[g].c_str());
            write_failed(path[f], err);
        }
        std::fputs(header.c_str(), fp[f]);
    }

    const std::size_t ncol = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    std::vector<Gradient> slice(ncol);
    std::array<std::string, 3> text;
    std::array<int, 3> err{};
    for (int l = 1; l <= nz; ++l) {
#pragma omp parallel for schedule(static)
        for (std::size_t c = 0; c < ncol; ++c) {
            const int i = static_cast<int>(c % static_cast<std::size_t>(nx)) + 1;
            const int j = static_cast<int>(c / static_cast<std::size_t>(nx)) + 1;
            slice[c] = field(box.centre(i, j, l));
        }
        // One thread per file formats and writes its records.
#pragma omp parallel for schedule(static)
        for (std::size_t f = 0; f < 3; ++f) {
            if (err[f]) continue;
            std::string& s = text[f];
            s.clear();
            for (std::size_t c = 0; c < ncol; ++c) {
                for (std::size_t k = 0; k < 3; ++k) {
                    const double v = slice[c][f][k];
                    append_number(s, f == 2 ? 0.0 - v : v, digits); // 0 - v keeps zeros +0
                }
                s += '\n';
            }
            if (std::fwrite(s.data(), 1, s.size(), fp[f]) != s.size()) err[f] = errno ? errno : -1;
        }
        for (std::size_t f = 0; f < 3; ++f)
            if (err[f]) {
                close_all();
                for (const auto& t : tmp) std::remove(t.c_str());
                write_failed(path[f], err[f] > 0 ? err[f] : 0);
            }
    }

    for (std::size_t f = 0; f < 3; ++f) {
        const bool bad = std::ferror(fp[f]) != 0;
        const bool closed = std::fclose(fp[f]) == 0;
        fp[f] = nullptr;
        if (bad || !closed) {
            const int e = errno;
            close_all();
            for (const auto& t : tmp) std::remove(t.c_str());
            write_failed(path[f], e);
        }
    }
    for (std::size_t f = 0; f < 3; ++f)
        if (std::rename(tmp[f].c_str(), path[f].c_str()) != 0) write_failed(path[f], errno);
}

} // namespace korvex
