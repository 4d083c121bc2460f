#include "driver/gradient_files.hpp"

#include "driver/defect_files.hpp"
#include "driver/resource_checks.hpp"
#include "state/error.hpp"
#include "state/gradient_stream.hpp"
#include "state/pending_file.hpp"
#include "state/stop_signals.hpp"

#include <cerrno>
#include <charconv>
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

namespace {

// The longest text of a value (shortest exact form or at most 17 digits,
// "-2.2250738585072014e-308") and so of a cell's record: three values after a blank each, and the
// line end.
constexpr std::size_t kMaxValueChars = 24;
constexpr std::size_t kMaxRecordChars = 3 * (1 + kMaxValueChars) + 1;
// The shortest record, " 0 0 0" and the line end.
constexpr std::size_t kMinRecordChars = 7;

std::size_t value_bytes(GradientFormat f) {
    return f == GradientFormat::binary32 ? 4 : 8;
}

std::string grid_text(const GradientBox& box) {
    return std::to_string(box.cells[0]) + " x " + std::to_string(box.cells[1]) + " x " +
           std::to_string(box.cells[2]) + " cells";
}

void check_stop(const std::string& base) {
    if (const char* sig = received_stop_signal())
        halt({std::string("Stopped by ") + sig + ": " + base + ".dX, .dY and .dZ were not written",
              "(their unfinished files were removed)"});
}

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

double gradient_writer_memory(const GradientBox& box, const GradientOutput& out) {
    const double columns = double(box.cells[0]) * double(box.cells[1]);
    const double record = out.format == GradientFormat::text ? double(kMaxRecordChars)
                                                             : double(3 * value_bytes(out.format));
    return columns * (double(sizeof(Gradient)) + 3.0 * record);
}

double gradient_file_size(const GradientBox& box, const GradientOutput& out) {
    const double cells = double(box.cells[0]) * double(box.cells[1]) * double(box.cells[2]);
    if (out.format == GradientFormat::text)
        return double(text_header(box).size()) + cells * double(kMinRecordChars);
    return double(kGradientHeaderBytes) + cells * double(3 * value_bytes(out.format));
}

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
    // What the files will take, before any is made: one slice in memory; on disk the exact size
    // of binary files, and for text at least the shortest records (checked again once the first
    // slice shows how long the records are).
    const std::string files = base + ".dX, .dY and .dZ (" + grid_text(box) + ")";
    check_memory_need(gradient_writer_memory(box, out), "writing " + files + " a slice at a time");
    check_disk_need(base, 3.0 * gradient_file_size(box, out),
                    files + (text ? " as text (at least 7 bytes a cell)" : ""));
    check_stop(base);

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
        check_stop(base);
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
        // One thread per file formats and writes its records, in a string of its own (the
        // buffers lie side by side: appending to them in place would write lengths that share
        // a cache line across threads); the buffer's memory is taken over and handed back.
#pragma omp parallel for schedule(static)
        for (std::size_t f = 0; f < 3; ++f) {
            std::string s = std::move(buf[f]);
            s.clear();
            s.reserve(ncol * kMaxRecordChars); // once: no copies as it grows
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
            buf[f] = std::move(s);
        }
        for (std::size_t f = 0; f < 3; ++f)
            if (!err[f].empty()) halt(err[f]); // the pending files remove themselves
        if (l == 1 && nz > 1) {
            double rest = 0.0; // the other slices, at the length of this one's records
            for (const auto& b : buf) rest += double(b.size()) * (nz - 1);
            check_disk_need(base, rest,
                            "the rest of " + files + " as text, at the length of the first slice");
        }
    }
    for (auto& f : file) f->close();
    for (auto& f : file) f->commit();
}

} // namespace korvex
