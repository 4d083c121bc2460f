// Strain field from an atomistic calculation: the displacement gradients of every cell of the
// simulation grid come from three files, one per derivative direction (".dX", ".dY", ".dZ"),
// and give the depth rate of the phase g.R of every beam.
//
// The files list their cells slice after slice (x fastest, then y, then z), the order in which
// the slice loop needs them. They are therefore opened once per beam condition and read as a
// stream in step with the slices, one slice of gradients held at a time (9 values per column;
// in a run split over processes only those of its own rows, the others passed over unread);
// reading each slice from the start of the files instead would make the reading grow with the
// square of the slice count. A request for an earlier slice than the stream has passed (a new
// pass through the foil, as the amplitude-phase job makes for every column position) reopens
// the files, so any order of requests gives the values of re-reading the files every time.
// Each file may be text or binary (state/gradient_stream.hpp), told apart by its first bytes.
#include "defects/column_rule.hpp"
#include "driver/defect_fields.hpp"
#include "driver/slice_plan.hpp"
#include "state/fmt.hpp"

#include "optics/vectors.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/gradient_stream.hpp"
#include "state/reader.hpp"

#include <algorithm>
#include <array>
#include <exception>
#include <vector>

namespace korvex {

namespace {

constexpr std::array<const char*, 3> kSuffix{".dX", ".dY", ".dZ"};
constexpr std::array<const char*, 3> kCannotOpen{
    "error in reading the input file for the strin field dU/dX",
    "error in reading the input file for the strin field dU/dY",
    "error in reading the input file for the strin field dU/dZ"};

class StrainField final : public DefectField {
  public:
    explicit StrainField(std::string base) : base_(std::move(base)) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        if (st.graded) halt(kGradedStrainFiles); // a population's background
        if (next_ == 0 || islice < next_) open(st, w);
        // Slices before the one wanted are read all the same: their records must be valid.
        while (next_ <= islice) read_slice();

        strain_terms(st, w, lateral_derivative(DefectKind::strain, st.ca));
    }

    void keep_rows(int first, int last) override {
        first_ = first;
        last_ = last;
    }

  private:
    // Base name from the configuration file, the three files opened, their headers read and
    // checked against the grid.
    void open(const State& st, Workspace& w) {
        std::string base = base_;
        if (base.empty()) {
            RecordReader cfg(st.f_defect);
            cfg.skip(2);
            cfg.read(base);
        }
        for (std::size_t f = 0; f < 3; ++f) file_[f].reset();
        for (std::size_t f = 0; f < 3; ++f) {
            try {
                file_[f] = std::make_unique<GradientStream>(base + kSuffix[f]);
            } catch (const ReadError&) {
                halt(kCannotOpen[f]);
            }
        }
        for (std::size_t f = 0; f < 3; ++f) header_[f] = file_[f]->read_header(static_cast<int>(f));
        // Every file must describe the simulation grid (cell sizes compared exactly).
        for (std::size_t f = 0; f < 3; ++f) {
            const GradientHeader& h = header_[f];
            const std::string file = "Gradient file \"" + base + kSuffix[f] + "\", header: ";
            if (h.cells != st.n_xyz)
                halt({"The numbers of cells in system and atomic box are not coincide",
                      file + "the cells along x, y, z must be those of the run, " +
                          std::to_string(st.n_xyz[0]) + " " + std::to_string(st.n_xyz[1]) + " " +
                          std::to_string(st.n_xyz[2]) +
                          " (image widths and foil thickness, one per Angstrom)",
                      "Read: " + std::to_string(h.cells[0]) + " " + std::to_string(h.cells[1]) +
                          " " + std::to_string(h.cells[2])});
            for (std::size_t a = 0; a < 3; ++a)
                if (h.unit[a] != st.size[a] / st.n_xyz[a])
                    halt({"The units of cells in system and atomic box are not coincide",
                          file + "the cell sizes along x, y, z must be those of the run, " +
                              list_real(st.size[0] / st.n_xyz[0]) + " " +
                              list_real(st.size[1] / st.n_xyz[1]) + " " +
                              list_real(st.size[2] / st.n_xyz[2]) + " Angstrom",
                          "Read: " + list_real(h.unit[0]) + " " + list_real(h.unit[1]) + " " +
                              list_real(h.unit[2])});
        }

        // Only the rows kept are held; the terms of the others stay zero.
        const std::size_t nx = static_cast<std::size_t>(st.n_xyz[0]);
        const int ny = st.n_xyz[1];
        if (first_ < 1) first_ = 1, last_ = ny;
        if (first_ > 1 || last_ < ny) w.s_g_r.fill(0.0);
        last_ = std::min(last_, ny);
        before_ = nx * static_cast<std::size_t>(first_ - 1);
        after_ = nx * static_cast<std::size_t>(ny - std::max(last_, first_ - 1));
        for (auto& s : slice_)
            s.assign(nx * static_cast<std::size_t>(std::max(0, last_ - first_ + 1)), Vec3{});
        next_ = 1;
    }

    // The cell records of slice next_ of the three files, one file per thread.
    void read_slice() {
        std::array<std::exception_ptr, 3> err{};
        std::array<std::size_t, 3> failed_at{};
#pragma omp parallel for schedule(static)
        for (std::size_t f = 0; f < 3; ++f) {
            std::size_t done = 0; // records of the slice passed before the current call
            try {
                file_[f]->skip_cells(before_);
                done = before_;
                file_[f]->read_cells(slice_[f]);
                done += slice_[f].size();
                file_[f]->skip_cells(after_);
            } catch (...) {
                err[f] = std::current_exception();
                failed_at[f] = done + file_[f]->failed_cell();
            }
        }
        ++next_;
        // Report the failure that reading the files record by record in step (cell by cell,
        // x file before y before z) would meet first.
        std::size_t first = 3;
        for (std::size_t f = 0; f < 3; ++f)
            if (err[f] && (first == 3 || failed_at[f] < failed_at[first])) first = f;
        if (first < 3) std::rethrow_exception(err[first]);
    }

    // s_g_r from the gradients of the current slice. The derivative along y is not needed;
    // the depth derivative enters with a negative sign.
    void strain_terms(const State& st, Workspace& w, bool lateral) const {
        const BeamTilts bt = beam_tilts(st);
        const double gl = magnitude(st.v_g);
        const Vec3 gh{st.g * st.v_g[0] / gl, st.g * st.v_g[1] / gl, st.g * st.v_g[2] / gl};
        const int nx = st.n_xyz[0], nb = st.n_beams;
        const std::vector<Vec3>& ddx = slice_[0];
        const std::vector<Vec3>& ddz = slice_[2];
        Array3<double>& sgr = w.s_g_r;
#pragma omp parallel for schedule(static)
        for (int j = first_; j <= last_; ++j)
            for (int i = 1; i <= nx; ++i) {
                const std::size_t c =
                    static_cast<std::size_t>(i - 1) +
                    static_cast<std::size_t>(nx) * static_cast<std::size_t>(j - first_);
                const Vec3& ux = ddx[c];
                const Vec3& uz = ddz[c];
                const double gx = gh[0] * ux[0] + gh[1] * ux[1] + gh[2] * ux[2];
                const double gz = gh[0] * uz[0] + gh[1] * uz[1] + gh[2] * uz[2];
                for (int n = 1; n <= nb; ++n) {
                    const double m = bt.order(n);
                    sgr(i, j, n) = lateral ? m * (bt.tan_tilt(n) * gx - gz) : -(m * gz);
                }
            }
    }

    std::array<std::unique_ptr<GradientStream>, 3> file_;
    std::array<GradientHeader, 3> header_;
    std::array<std::vector<Vec3>, 3> slice_; // d/dx, d/dy, d/dz of the displacement, per column
    int first_ = 0, last_ = 0;               // the rows kept (0: all, set at open)
    std::size_t before_ = 0, after_ = 0;     // records of a slice before and after them
    int next_ = 0;     // slice whose records come next in the streams; 0 before the files are open
    std::string base_; // base name of the files, or "" to take it from st.f_defect
};

} // namespace

std::unique_ptr<DefectField> make_strain_field(std::string base) {
    return std::make_unique<StrainField>(std::move(base));
}

} // namespace korvex
