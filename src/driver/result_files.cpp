#include "driver/result_files.hpp"

#include "state/fmt.hpp"
#include "state/textout.hpp"

#include <cstdlib>

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

void amplitude_contrast_images(const State& st, RunContext& rc) {
    for (int n = 1; n <= st.n_beams; ++n) {
        rc.FILE_ML = trim(st.datadir) + trim(st.f_out) + beam_tag(st.mtx_beams(n));
        write_image_file(rc.FILE_ML, beam_image(st, st.mtx_intensity, n), RowFormat::es12_3);
    }
}

bool multi_layer_images(const State& st, RunContext& rc, int islice) {
    for (int n = 1; n <= st.n_beams; ++n) {
        if (st.mtx_beams(n) != 1) continue;
        char dddd[8];
        std::snprintf(dddd, sizeof dddd, "%04d", islice % 10000);
        rc.F_ML = trim(st.f_out) + "01g" + "ml" + dddd;
        rc.FILE_ML = trim(st.datadir) + rc.F_ML;
        write_image_file(rc.FILE_ML, beam_image(st, st.mtx_intensity, n), RowFormat::es12_3);
        return true;
    }
    return false;
}

void print_sgr(const State& st) {
    for (int n = 1; n <= st.n_beams; ++n) {
        const std::string name =
            trim(st.datadir) + trim(st.f_out) + beam_tag(st.mtx_beams(n)) + "sgr";
        write_image_file(name, beam_image(st, st.s_g_r, n), RowFormat::list);
    }
}

void ThicknessFringes::open_files(const State& st) {
    names_.clear();
    texts_.clear();
    for (int n = 1; n <= st.n_beams; ++n) {
        names_.push_back(trim(st.datadir) + trim(st.f_out) + beam_tag(st.mtx_beams(n)));
        std::string h = " width\n " + list_int(st.n_pixel_x) + "\n height\n " +
                        list_int(st.n_pixel_y) + "\n unit of width\n " + list_real(st.unit_x) +
                        "\n unit of height\n " + list_real(st.unit_y) + "\n";
        texts_.push_back(std::move(h));
    }
}

void ThicknessFringes::thickness_fringes(const State& st, int islice) {
    const int x = islice <= st.n_pixel_x ? islice : st.n_pixel_x;
    for (int n = 1; n <= st.n_beams; ++n) {
        std::string& t = texts_[static_cast<std::size_t>(n - 1)];
        for (int j = 1; j <= st.n_pixel_y; ++j) {
            t += ' ';
            t += list_real(st.mtx_intensity(x, j, n));
        }
        t += '\n';
    }
}

void ThicknessFringes::close_files() {
    for (std::size_t n = 0; n < names_.size(); ++n) write_text_file(names_[n], texts_[n]);
    names_.clear();
    texts_.clear();
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
