#include "output/result_files.hpp"

#include "output/image_export.hpp"
#include "output/layer_postscript.hpp"
#include "state/fmt.hpp"
#include "state/pending_file.hpp"
#include "state/stop_signals.hpp"
#include "state/textout.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>
#include <memory>
#include <omp.h>
#include <string>
#include <vector>

namespace korvex {

std::string beam_tag(int m) {
    const int a = std::abs(m);
    std::string t;
    if (m < 0) t += '-';
    t += static_cast<char>('0' + (a / 10) % 10);
    t += static_cast<char>('0' + a % 10);
    t += 'g';
    return t;
}

ImageData beam_image(const State& st, const Array3<double>& a, int n) {
    ImageData img;
    img.unit_x = st.unit_x;
    img.unit_y = st.unit_y;
    img.values.resize(st.n_pixel_x, st.n_pixel_y);
    for (int j = 1; j <= st.n_pixel_y; ++j)
        for (int i = 1; i <= st.n_pixel_x; ++i) img.values(i, j) = a(i, j, n);
    return img;
}

namespace {

// A beam's image with its text (in parts of records) and its values as printed, made ahead of
// writing.
struct BeamImage {
    ImageData img, shown;
    std::vector<std::string> text;
    std::string png;
    // Its three files written under their temporary names, or what stopped that: the text, and
    // the pictures (made on two threads where they are free).
    std::unique_ptr<PendingFile> text_file, png_file, tiff_file;
    std::array<std::exception_ptr, 2> error;
};

// The parts a beam's records are formatted in: enough that the threads share a group evenly
// whatever its beams hold (the zero beam's map formats in a fraction of the others' time).
constexpr int kParts = 8;

// The image files of every beam (`name(n)`, `what` on its TIFF) from array `a`. A group of beams
// is formatted on all threads, part by part, and its files written under their temporary names
// on all threads too; this thread then gives them their names in beam order, so that a stop (a
// failed write, a signal) leaves no file of a later beam. The text is the same whichever thread
// formats a part. `last` receives the last beam's name.
template <class Name>
void beam_image_files(const State& st, const Array3<double>& a, RowFormat fmt, Name&& name,
                      const char* what, std::string* last = nullptr) {
    const int nb = st.n_beams, nx = st.n_pixel_x, ny = st.n_pixel_y;
    // As many beams at a time as there are threads: the same memory serves group after group
    // (new memory costs a page fault every 4 KB, see memory_policy.hpp).
    const int group = std::max(1, std::min(nb, omp_get_max_threads()));
    const int parts = std::max(1, std::min(nx, kParts));
    std::vector<BeamImage> made(static_cast<std::size_t>(group));
    for (int first = 1; first <= nb; first += group) {
        const int count = std::min(group, nb - first + 1);
#pragma omp parallel
        {
#pragma omp for schedule(static)
            for (int k = 0; k < count; ++k) {
                BeamImage& b = made[static_cast<std::size_t>(k)];
                b.img.unit_x = b.shown.unit_x = st.unit_x;
                b.img.unit_y = b.shown.unit_y = st.unit_y;
                if (b.img.nx() != nx || b.img.ny() != ny) {
                    b.img.values.resize(nx, ny);
                    b.shown.values.resize(nx, ny);
                }
                b.text.resize(static_cast<std::size_t>(parts));
            }
#pragma omp for schedule(dynamic, 1)
            for (int t = 0; t < count * parts; ++t) {
                const int k = t / parts, p = t % parts, n = first + k;
                BeamImage& b = made[static_cast<std::size_t>(k)];
                const int i0 = 1 + nx * p / parts, i1 = nx * (p + 1) / parts;
                for (int j = 1; j <= ny; ++j)
                    for (int i = i0; i <= i1; ++i) {
                        const double v = a(i, j, n);
                        b.img.values(i, j) = v;
                        b.shown.values(i, j) = printed_value(v, fmt);
                    }
                std::string& part = b.text[static_cast<std::size_t>(p)];
                part = image_part(std::move(part), b.img, fmt, p, parts);
            }
#pragma omp for schedule(dynamic, 1)
            for (int t = 0; t < 2 * count; ++t) {
                BeamImage& b = made[static_cast<std::size_t>(t / 2)];
                const int n = first + t / 2;
                try {
                    const std::string path = name(n);
                    if (t % 2 == 0) {
                        b.text_file = written_text_file(path, b.text);
                        continue;
                    }
                    b.png = png_encoding(b.shown);
                    b.png_file = written_png_bytes(path + ".png", b.png);
                    ImageInfo info = image_info(st, st.mtx_beams(n));
                    if (what) info.quantity = what;
                    b.tiff_file = written_tiff(path, b.img, info);
                } catch (...) {
                    b.error[static_cast<std::size_t>(t % 2)] = std::current_exception();
                }
            }
        }
        for (int k = 0; k < count; ++k) {
            // A signal stops the run between two beams rather than after all of them (an MPI
            // launcher kills its processes soon after passing a signal on); the files not yet
            // named go with the stop.
            check_stop_signal();
            BeamImage& b = made[static_cast<std::size_t>(k)];
            for (const auto& e : b.error)
                if (e) std::rethrow_exception(e);
            if (last) *last = b.text_file->final_path();
            for (auto* f : {&b.text_file, &b.png_file, &b.tiff_file}) {
                (*f)->commit();
                f->reset();
            }
        }
    }
}

} // namespace

void amplitude_contrast_images(const State& st, RunFiles& rc) {
    beam_image_files(
        st, st.mtx_intensity, RowFormat::es12_3,
        [&](int n) { return trim(st.datadir) + trim(st.f_out) + beam_tag(st.mtx_beams(n)); },
        nullptr, &rc.last_image_path);
}

bool multi_layer_images(const State& st, RunFiles& rc, int islice) {
    for (int n = 1; n <= st.n_beams; ++n) {
        if (st.mtx_beams(n) != 1) continue;
        char dddd[8];
        std::snprintf(dddd, sizeof dddd, "%04d", islice % 10000);
        rc.last_layer_name = trim(st.f_out) + "01g" + "ml" + dddd;
        rc.last_image_path = trim(st.datadir) + rc.last_layer_name;
        const ImageData img = beam_image(st, st.mtx_intensity, n);
        write_image_file(rc.last_image_path, img, RowFormat::es12_3);
        ImageInfo info = image_info(st, 1);
        info.quantity = "intensity at the exit of slice " + std::to_string(islice);
        if (islice <= st.sliceposition.size() && islice <= st.slicethickness.size())
            info.quantity += " (depth " +
                             list_real(st.sliceposition(islice) + 0.5 * st.slicethickness(islice)) +
                             " Angstrom)";
        const ImageData shown = as_printed(img, RowFormat::es12_3);
        export_png(rc.last_image_path, shown);
        export_tiff(rc.last_image_path, img, info);
        // The report document names the layer images by their PostScript copies.
        export_postscript(rc.last_image_path, shown);
        return true;
    }
    return false;
}

void print_sgr(const State& st) {
    beam_image_files(
        st, st.s_g_r, RowFormat::list,
        [&](int n) {
            return trim(st.datadir) + trim(st.f_out) + beam_tag(st.mtx_beams(n)) + "sgr";
        },
        "strain term s_g_r of the middle slice, 1/Angstrom");
}

void ThicknessFringes::open_files(const State& st) {
    names_.clear();
    texts_.clear();
    images_.clear();
    infos_.clear();
    for (int n = 1; n <= st.n_beams; ++n) {
        ImageData img;
        img.unit_x = st.unit_z; // one column per slice
        img.unit_y = st.unit_y;
        img.values.resize(st.effslicenumber, st.n_pixel_y);
        images_.push_back(std::move(img));
        ImageInfo info = image_info(st, st.mtx_beams(n));
        info.quantity = "intensity against depth (thickness fringes)";
        info.x_axis = "depth: column k is the exit of slice k";
        infos_.push_back(std::move(info));
        names_.push_back(trim(st.datadir) + trim(st.f_out) + beam_tag(st.mtx_beams(n)));
        std::string h = " width\n " + list_int(st.n_pixel_x) + "\n height\n " +
                        list_int(st.n_pixel_y) + "\n unit of width\n " + list_real(st.unit_x) +
                        "\n unit of height\n " + list_real(st.unit_y) + "\n";
        texts_.push_back(std::move(h));
    }
}

void ThicknessFringes::thickness_fringes(const State& st, int islice) {
    const int x = column(st, islice);
    for (int n = 1; n <= st.n_beams; ++n) {
        std::string& t = texts_[static_cast<std::size_t>(n - 1)];
        ImageData& img = images_[static_cast<std::size_t>(n - 1)];
        for (int j = 1; j <= st.n_pixel_y; ++j) {
            t += ' ';
            t += list_real(st.mtx_intensity(x, j, n));
            if (islice <= img.nx()) img.values(islice, j) = st.mtx_intensity(x, j, n);
        }
        t += '\n';
    }
}

void ThicknessFringes::close_files() {
    for (std::size_t n = 0; n < names_.size(); ++n) {
        write_text_file(names_[n], texts_[n]);
        export_views(names_[n], images_[n], RowFormat::list, infos_[n]);
    }
    names_.clear();
    texts_.clear();
    images_.clear();
    infos_.clear();
}

void write_slice_table(const State& st) {
    std::string s;
    for (int i = 1; i <= st.effslicenumber; ++i) {
        const double pos = st.sliceposition(i), th = st.slicethickness(i);
        s += fmt_i(i, 5) + fmt_f(pos, 10, 3) + fmt_f(th, 10, 3) + fmt_f(pos + 0.5 * th, 10, 3) +
             "\n";
    }
    write_text_file(trim(st.f_out) + ".slice", s);
}

} // namespace korvex
