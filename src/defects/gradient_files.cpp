#include "defects/gradient_files.hpp"

#include "defects/edge.hpp"

#include "state/error.hpp"
#include "state/gradient_stream.hpp"
#include "state/pending_file.hpp"
#include "state/reader.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
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

void put_binary(char* b, double v, GradientFormat f) {
    if (f == GradientFormat::binary32) {
        const float x = static_cast<float>(v);
        std::memcpy(b, &x, 4);
    } else {
        std::memcpy(b, &v, 8);
    }
}

void write_all(PendingFile& file, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(file.fd(), s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) file.fail(n < 0 ? std::strerror(errno) : "write failed");
        done += static_cast<std::size_t>(n);
    }
}

std::string text_header(const GradientBox& box) {
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
    return header;
}

} // namespace

void write_gradient_files(const std::string& base, const GradientBox& box, const GradientFn& field,
                          int digits) {
    write_gradient_files(base, box, field, GradientOutput{GradientFormat::text, digits});
}

void write_gradient_files(const std::string& base, const GradientBox& box, const GradientFn& field,
                          const GradientOutput& out) {
    const int nx = box.cells[0];
    write_gradient_slices(
        base, box,
        [&](int l, std::vector<Gradient>& g) {
#pragma omp parallel for schedule(static)
            for (std::size_t c = 0; c < g.size(); ++c) {
                const int i = static_cast<int>(c % static_cast<std::size_t>(nx)) + 1;
                const int j = static_cast<int>(c / static_cast<std::size_t>(nx)) + 1;
                g[c] = field(box.centre(i, j, l));
            }
        },
        out);
}

void write_gradient_slices(const std::string& base, const GradientBox& box,
                           const GradientSlices& slice, const GradientOutput& out) {
    const int nx = box.cells[0], ny = box.cells[1], nz = box.cells[2];
    if (nx < 1 || ny < 1 || nz < 1) halt("Gradient files need at least one cell along each axis");
    const bool text = out.format == GradientFormat::text;

    const std::array<const char*, 3> suffix{".dX", ".dY", ".dZ"};
    std::array<std::unique_ptr<PendingFile>, 3> file;
    for (std::size_t f = 0; f < 3; ++f) {
        file[f] = std::make_unique<PendingFile>(base + suffix[f]);
        if (text) {
            write_all(*file[f], text_header(box));
        } else {
            GradientHeader h;
            h.cells = box.cells;
            for (int a = 0; a < 3; ++a) h.unit[static_cast<std::size_t>(a)] = box.unit(a);
            h.value_bytes = out.format == GradientFormat::binary32 ? 4 : 8;
            h.direction = static_cast<int>(f);
            const auto b = encode_gradient_header(h);
            write_all(*file[f], std::string(reinterpret_cast<const char*>(b.data()), b.size()));
        }
    }

    const std::size_t ncol = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    std::vector<Gradient> g(ncol);
    std::array<std::string, 3> buf;
    std::array<std::string, 3> err;
    for (int l = 1; l <= nz; ++l) {
        slice(l, g);
        if (!text) {
            // Binary records have fixed places: all threads fill the three buffers.
            const std::size_t bytes = out.format == GradientFormat::binary32 ? 4 : 8;
            for (auto& s : buf) s.resize(ncol * 3 * bytes);
#pragma omp parallel for schedule(static)
            for (std::size_t c = 0; c < ncol; ++c)
                for (std::size_t f = 0; f < 3; ++f)
                    for (std::size_t k = 0; k < 3; ++k) {
                        const double v = f == 2 ? 0.0 - g[c][f][k] : g[c][f][k];
                        put_binary(&buf[f][(3 * c + k) * bytes], v, out.format);
                    }
            for (std::size_t f = 0; f < 3; ++f) write_all(*file[f], buf[f]);
            continue;
        }
        // One thread per file formats and writes its records.
#pragma omp parallel for schedule(static)
        for (std::size_t f = 0; f < 3; ++f) {
            std::string& s = buf[f];
            s.clear();
            for (std::size_t c = 0; c < ncol; ++c) {
                for (std::size_t k = 0; k < 3; ++k) {
                    const double v = f == 2 ? 0.0 - g[c][f][k] : g[c][f][k]; // 0 - v keeps +0
                    append_number(s, v, out.digits);
                }
                s += '\n';
            }
            try {
                write_all(*file[f], s);
            } catch (const Fatal& e) {
                err[f] = e.what();
            }
        }
        for (std::size_t f = 0; f < 3; ++f)
            if (!err[f].empty()) halt(err[f]); // the pending files remove themselves
    }
    for (auto& f : file) f->close();
    for (auto& f : file) f->commit();
}

} // namespace korvex
