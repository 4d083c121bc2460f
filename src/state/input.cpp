#include "state/input.hpp"

#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/reader.hpp"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits.h>

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

int grid_cells(double size, double step) {
    if (!(step > 0.0)) return grid_count(size);
    const int n = grid_count(size / step);
    return n == 0 && size >= 0.5 ? 1 : n;
}

void set_grid_counts(InputParameters& st) {
    st.n_slice = grid_cells(st.size_z, st.slice_size);
    st.slicing_method = "normal";
    st.n_pixel_x = grid_cells(st.size_x, st.pixel_size);
    st.n_pixel_y = grid_cells(st.size_y, st.pixel_size);
}

void read_filesystem_ini(InputParameters& st, const std::string& path) {
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
            st.homedir = trim(home);
            st.sysdir = trim(sys);
            st.rundir = trim(run);
            st.simrecdir = trim(simrec);
            st.datadir = trim(data);
            ok = true;
        } catch (const RecordTooLong&) {
            throw; // not a short file but no text file at all
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
    // Values of any length are kept whole; one too long for a path is refused, never shortened.
    const std::string home = trim(st.homedir);
    const std::pair<std::string*, int> dirs[] = {
        {&st.sysdir, 4}, {&st.rundir, 5}, {&st.simrecdir, 6}, {&st.datadir, 7}};
    for (auto [dir, record] : dirs) {
        *dir = home + trim(*dir);
        if (dir->size() >= PATH_MAX)
            halt({"Error reading \"" + path + "\", record " + std::to_string(record) +
                      ": the directory is longer than the system allows (" +
                      std::to_string(PATH_MAX - 1) + " characters)",
                  "Read: " + *dir});
    }
}

double run_core_seconds(const InputParameters& st) {
    // Measured on defect fields (edge, screw; 3 and 10 beams), alike for both engines: some
    // 1e-7 s per column-slice and squared beam on one core.
    const double beams = st.n_beams;
    return static_cast<double>(st.n_pixel_x) * st.n_pixel_y * st.n_slice * beams * beams * 1e-7;
}

std::string run_length_text(const InputParameters& st) {
    const double column_slices = static_cast<double>(st.n_pixel_x) * st.n_pixel_y * st.n_slice;
    const double seconds = run_core_seconds(st);
    char count[32];
    std::snprintf(count, sizeof count, "%.1E", column_slices);
    char time[48];
    if (seconds < 60)
        std::snprintf(time, sizeof time, "under a minute");
    else if (seconds < 3600)
        std::snprintf(time, sizeof time, "%.0f minutes", seconds / 60);
    else if (seconds < 48 * 3600)
        std::snprintf(time, sizeof time, "%.1f hours", seconds / 3600);
    else
        std::snprintf(time, sizeof time, "%.0f days", seconds / 86400);
    return std::string("about ") + count + " column-slices: roughly " + time +
           " of one core's time with the " + engine_name(st.engine) + " engine";
}

void check_grid(const InputParameters& st) {
    check_size(st.size_x, "image width along x", "column");
    check_size(st.size_y, "image width along y", "column");
    check_size(st.size_z, "foil thickness", "slice");
    const std::string read = "Read: " + std::to_string(st.n_pixel_x) + " x " +
                             std::to_string(st.n_pixel_y) + " columns, " +
                             std::to_string(st.n_slice) + " slices, " + std::to_string(st.n_beams) +
                             " beams";
    // Every per-column array holds npx * npy * nb values (64-bit product: no overflow).
    const std::int64_t cells = static_cast<std::int64_t>(st.n_pixel_x) *
                               static_cast<std::int64_t>(st.n_pixel_y) *
                               static_cast<std::int64_t>(st.n_beams);
    if (cells > 62'500'000)
        halt({"The size of array is too big, please reduce the number of grids",
              read + ": " + std::to_string(cells) +
                  " values per array (columns x beams), more than 62500000",
              "This run: " + run_length_text(st)});
    // Every array of a run, the per-slice tables and the per-slice records of the fringe and
    // profile jobs included, counted before any is made.
    const double columns = static_cast<double>(st.n_pixel_x) * st.n_pixel_y;
    const double beams = st.n_beams, slices = st.n_slice;
    double bytes = static_cast<double>(cells) * (8 + 16 + 8 + 8) + columns * (24 + 8 + 4) +
                   slices * (8 + 8 + 8 + 48) + beams * beams * 48;
    if (st.job == Job::thickness_fringes) bytes += slices * st.n_pixel_y * beams * 24;
    if (st.job == Job::amplitude_phase) bytes += slices * beams * 96;
    constexpr double kMaxBytes = 4e9;
    if (bytes > kMaxBytes)
        halt({"The size of array is too big, please reduce the number of grids",
              read + ": about " + std::to_string(static_cast<long long>(bytes / 1e6)) +
                  " MB, more than " + std::to_string(static_cast<long long>(kMaxBytes / 1e6)) +
                  " MB",
              "This run: " + run_length_text(st)});
}

namespace {

// The records of an input parameter file from `r`; the results are named after `file_name`.
void read_input_records(State& st, RecordReader& r, const std::string& file_name,
                        bool make_arrays) {
    std::vector<std::string> notes;
    r.collect_notes(notes);
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
    st.sample_source = ValueSource(r).where; // the crystal table checks it
    int job = 0;
    value(job);
    if (job != 1 && job != 2 && job != 3 && job != 9 && job != 999)
        bad_value(r, "the job must be 1, 2, 3, 9 or 999", std::to_string(job));
    st.job = Job{job};
    st.ca = column_approx_from_text(text(5));
    st.eigen_model = 4;
    st.interpolation_method = "linear";
    value(st.voltage);
    st.converangle = 0.0;
    st.ncon = 1;
    st.defect = text(30);
    st.defect_kind = defect_kind_from_name(st.defect);
    value(st.size_x);
    check_real(r, "image width along x", st.size_x);
    value(st.size_y);
    check_real(r, "image width along y", st.size_y);
    value(st.size_z);
    check_real(r, "foil thickness", st.size_z);
    // About one slice per Angstrom of thickness and one column per Angstrom of image width,
    // unless the command line chose the steps.
    set_grid_counts(st);
    value(st.foil);
    check_vector(r, "zone axis", st.foil, true);
    value(st.v_g);
    check_reflection(r, st.v_g);
    const ValueSource g_source(r);
    st.co_x = st.v_g;
    // Both ends must be given: a null value or a slash would leave a row of one or two beams
    // the user never asked for.
    constexpr int kUnset = INT_MIN;
    int first = kUnset, last = kUnset;
    value(first, last);
    if (first == kUnset || last == kUnset)
        bad_value(r, "the beam row needs its first and its last beam",
                  (first == kUnset ? std::string("(none)") : std::to_string(first)) + " " +
                      (last == kUnset ? std::string("(none)") : std::to_string(last)));
    check_beam_row(r, first, last);
    value(st.condition_n);
    check_real(r, "diffraction condition n of (g,ng)", st.condition_n);
    st.condition_read_at = ValueSource(r).where;

    r.skip(1); // the label before the absorption switch is not read
    r.read(st.iabs);
    check_switch(r, "absorption switch", st.iabs);
    for (const auto& n : notes) st.console() << n << '\n';

    // Result names come from the file's own name: an input in another folder writes its
    // results into the data directory like any other.
    const std::string given = trim(file_name);
    st.f_out = given.substr(
        given.find_last_of('/') == std::string::npos ? 0 : given.find_last_of('/') + 1);

    if (last < first) halt("The beam range given is wrong");
    st.n_beams = static_cast<int>(static_cast<std::int64_t>(last) - first + 1 > INT_MAX
                                      ? INT_MAX
                                      : static_cast<std::int64_t>(last) - first + 1);

    // The zone axis is the sample z axis and g its x axis: they must be exactly perpendicular.
    // Checked before any array is made, so that a refused parameter set never costs memory.
    const double fg = st.foil[0] * st.v_g[0] + st.foil[1] * st.v_g[1] + st.foil[2] * st.v_g[2];
    if (fg != 0.0)
        halt({"SAMPLE COORDINATES SYSTEM GIVEN WRONG!",
              g_source.where +
                  ": the diffraction vector h k l must be perpendicular to the zone axis u v w "
                  "(zone . g = 0)",
              "Read: zone " + list_real(st.foil[0]) + " " + list_real(st.foil[1]) + " " +
                  list_real(st.foil[2]) + ", g " + list_real(st.v_g[0]) + " " +
                  list_real(st.v_g[1]) + " " + list_real(st.v_g[2]) +
                  ", zone . g = " + list_real(fg)});

    check_grid(st);
    if (!make_arrays) return;
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
}

} // namespace

void read_system_parameters(State& st, const std::string& file_name, bool make_arrays) {
    read_filesystem_ini(st);
    st.f_in = file_name;

    // The run directory is put before a relative name; an absolute one names the file itself.
    const std::string name = trim(file_name);
    RecordReader r(name.starts_with('/') ? name : trim(st.rundir) + name);
    read_input_records(st, r, file_name, make_arrays);
}

void read_input_text(State& st, const std::string& name, const std::string& text,
                     bool make_arrays) {
    st.f_in = name;
    RecordReader r(name, text);
    read_input_records(st, r, name, make_arrays);
}

} // namespace korvex
