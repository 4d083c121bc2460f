#include "state/input.hpp"

#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/reader.hpp"

#include <climits>
#include <cmath>
#include <cstdint>

namespace korvex {

namespace {

std::string cut(const std::string& s, std::size_t n) {
    return s.size() > n ? s.substr(0, n) : s;
}

// Text variables hold their value without trailing blanks, cut to the variable's length.
std::string text_value(const std::string& s, std::size_t n) {
    return trim(cut(s, n));
}

// Refuses a size that would give no column or slice, or more than an int can count.
void check_size(double size, const char* what, const char* unit) {
    // Nearest integer with halves away from zero is at least 1 exactly when size >= 0.5.
    if (!(size >= 0.5))
        halt(std::string("The ") + what + " must be at least 0.5 Angstrom (one " + unit +
             "), but " + list_real(size) + " was given");
    if (!(size < static_cast<double>(INT_MAX) - 0.5))
        halt(std::string("The ") + what + " of " + list_real(size) + " Angstrom gives more " +
             unit + "s than can be counted");
}

// Nearest integer, halves away from zero, for a value already known to fit an int; values out
// of range give 0 so that a later check_grid refuses them.
int grid_count(double size) {
    if (!(std::abs(size) < static_cast<double>(INT_MAX) - 0.5)) return 0;
    return nint(size);
}

} // namespace

void read_filesystem_ini(State& st, const std::string& path) {
    bool ok = false;
    if (RecordReader::exists(path)) {
        try {
            RecordReader r(path);
            r.skip(2);
            std::string home, sys, run, simrec, data;
            r.read(home);
            r.read(sys);
            r.read(run);
            r.read(simrec);
            r.read(data);
            st.homedir = text_value(home, kDirLen);
            st.sysdir = text_value(sys, kDirLen);
            st.rundir = text_value(run, kDirLen);
            st.simrecdir = text_value(simrec, kDirLen);
            st.datadir = text_value(data, kDirLen);
            ok = true;
        } catch (const ReadError&) {
            ok = false;
        }
    }
    if (!ok) {
        // A missing or incomplete file sets all five together, also those read already.
        st.homedir.clear();
        st.sysdir = st.rundir = st.simrecdir = st.datadir = "./";
        return;
    }
    // The root directory is joined without a separator: the values carry their own "/".
    const std::string home = trim(st.homedir);
    st.sysdir = text_value(home + trim(st.sysdir), kDirLen);
    st.rundir = text_value(home + trim(st.rundir), kDirLen);
    st.simrecdir = text_value(home + trim(st.simrecdir), kDirLen);
    st.datadir = text_value(home + trim(st.datadir), kDirLen);
}

void check_grid(const State& st) {
    check_size(st.size_x, "image width along x", "column");
    check_size(st.size_y, "image width along y", "column");
    check_size(st.size_z, "foil thickness", "slice");
    // Every per-column array holds npx * npy * nb values (64-bit product: no overflow).
    const std::int64_t cells = static_cast<std::int64_t>(st.n_pixel_x) *
                               static_cast<std::int64_t>(st.n_pixel_y) *
                               static_cast<std::int64_t>(st.n_beams);
    if (cells > 62'500'000) halt("The size of array is too big, please reduce the number of grids");
}

void read_system_parameters(State& st, const std::string& file_name) {
    read_filesystem_ini(st);
    st.f_in = cut(file_name, kFileNameLen);

    RecordReader r(trim(st.rundir) + trim(file_name));
    // Each value record follows one label record, read as one text item and discarded.
    auto value = [&r](auto&... v) {
        std::string label;
        r.read(label);
        r.read(v...);
    };
    auto text = [&](std::size_t max) {
        std::string t;
        value(t);
        return text_value(t, max);
    };

    st.sample_no = text(20);
    st.sample = text(20);
    value(st.job);
    st.ca = text(5);
    st.eigen_model = 4;
    st.interpolation_method = "linear";
    value(st.voltage);
    st.converangle = 0.0;
    st.ncon = 1;
    st.defect = text(30);
    value(st.size_x);
    value(st.size_y);
    value(st.size_z);
    // About one slice per Angstrom of thickness and one column per Angstrom of image width.
    st.n_slice = grid_count(st.size_z);
    st.slicing_method = "normal";
    st.n_pixel_x = grid_count(st.size_x);
    st.n_pixel_y = grid_count(st.size_y);
    value(st.foil);
    value(st.v_g);
    st.co_x = st.v_g;
    int first = 0, last = 0;
    value(first, last);
    value(st.f_g);

    r.skip(1); // the label before the absorption switch is not read
    r.read(st.iabs);

    st.f_out = trim(cut(file_name, kFileNameLen));

    if (last < first) halt("The beam range given is wrong");
    st.n_beams = static_cast<int>(static_cast<std::int64_t>(last) - first + 1 > INT_MAX
                                      ? INT_MAX
                                      : static_cast<std::int64_t>(last) - first + 1);

    // The zone axis is the sample z axis and g its x axis: they must be exactly perpendicular.
    // Checked before any array is made, so that a refused parameter set never costs memory.
    const double fg = st.foil[0] * st.v_g[0] + st.foil[1] * st.v_g[1] + st.foil[2] * st.v_g[2];
    if (fg != 0.0) halt("SAMPLE COORDINATES SYSTEM GIVEN WRONG!");

    check_grid(st);
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
}

} // namespace korvex
