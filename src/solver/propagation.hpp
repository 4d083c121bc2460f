// Driver-facing entry points of the dynamical diffraction solver: the amplitudes of every
// column carried through one slice (structure matrix, eigen-solution, slice transfer and
// displacement phase, on all cores), the lateral shift of inclined beams, and intensities.
#pragma once

#include "state/state.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace korvex {

// Sets every column's amplitudes to sqrt(mtx_bg(n)) for the transmitted beam and 0 otherwise.
void initial_amplitudes(State& st);

// The warning lines (each ending in a newline; none: "") when a pixel is narrower than the
// sideways travel of the last beam in one slice.
std::string resolution_warnings(const State& st);

// Carries phi_grid through slice `islice` using s_g_r, s_f and flag_vacancy. `flag` is 1 when
// the structure matrix must be solved for each column; it drops to 0 after the first solution
// for a perfect crystal or a void (that solution then serves every later column). With
// flag 0 the solution held in h / eigenvalues_h / eigenvectors_h is used for every column;
// after a solving slice they hold the last column's. Inside a void (flag_vacancy 0) a column
// passes unchanged. With ca "no" or "half" the fields are then shifted
// sideways (linear_itp). Runs on all cores; the result does not depend on the number of
// threads, and nothing is allocated per slice or per column.
void propagate_slice(State& st, int islice, int& flag);

// The engines (`Engine`, state/settings.hpp): `exact` solves every column's structure matrix;
// `table` interpolates the slice transfer matrix in a table over the strain scalars of the
// column (see solver/table.hpp) and solves exactly only the columns the table does not cover.
// Both agree to about 1e-5 in the intensities. With st.absorption exact
// (solver/exact_absorption.hpp) the exact engine takes the exponential of every column's
// complex matrix, and the table holds such exponentials at its nodes.

// What a slice vouched for: every strain term it read, every amplitude it changed is finite.
// Over several slices: the first of them (counted from 1) whose terms or amplitudes were not all
// finite, 0 where none or where the slices could not tell.
// `carried`: the column-slices carried; `solved`: those of them whose own structure matrix was
// solved (the others took the table's transfer or the one solution every column shares).
struct SliceChecks {
    bool strain = false, amplitudes = false;
    int bad_strain = 0, bad_amplitude = 0;
    std::int64_t carried = 0, solved = 0;
};

// The engine of one beam condition: propagate_slice as above; the table engine keeps its
// tables from slice to slice, so a new condition needs a new engine.
class ColumnEngine {
  public:
    explicit ColumnEngine(Engine kind = Engine::exact);
    ~ColumnEngine();
    ColumnEngine(const ColumnEngine&) = delete;
    ColumnEngine& operator=(const ColumnEngine&) = delete;
    // With `fill`, the strain terms of each image row are filled by it just before the row is
    // carried, on the thread that carries it (see DefectField::rows_of_slice).
    void propagate_slice(State& st, int islice, int& flag, const RowFill* fill = nullptr);
    // Slices first .. first + fills.size() - 1, all of one thickness, in one go: each image row
    // is carried through all of them on one thread, fills[k] filling its terms of slice
    // first + k just before, so that the row stays in that core's cache. Where
    // `carries_blocks(st)` only (strained crystals with first-order absorption; with the column
    // approximation "no" or "half" each row is shifted sideways after each of its slices).
    // `rows` (not given: all) are the rows carried, those of one process in a split run; the
    // arrays stay the whole image's.
    void propagate_slices(State& st, int first, int& flag, std::span<const RowFill> fills,
                          std::optional<RowBlock> rows = std::nullopt);
    static bool carries_blocks(const State& st);
    // After propagate_slice(s): the first slice that read a strain term or made an amplitude
    // that is not finite (0: none, or not told; see verified_strain / verified_finite).
    int first_bad_strain() const { return first_bad_[0]; }
    int first_bad_amplitude() const { return first_bad_[1]; }
    // Strained crystals with first-order absorption carry each column on its own and check on
    // the way that every strain term read and every new amplitude is finite (the amplitudes not
    // with the lateral shift). `checks_strain` tells beforehand whether a slice of `st` reads
    // every term that way (a term is then safe to carry however bad: the sweeps are bounded);
    // the caller scans what the last slice did not vouch for.
    static bool checks_strain(const State& st);
    bool verified_strain() const { return checks_.strain; }
    bool verified_finite() const { return checks_.amplitudes; }
    Engine kind() const { return kind_; }
    // Before the first slice (beam condition set, terms not needed): the table engine builds
    // the table of the first slice's thickness and tells why it tabulates nothing, "" where it
    // does (or where the engine is exact, or one solution serves every column).
    std::string prepare(State& st);
    // What ran so far, for the reports: the engine and the share of column-slices whose own
    // structure matrix was solved, with the reason where the table served none or few.
    std::string report() const;
    std::int64_t column_slices() const { return carried_; }
    std::int64_t solved_column_slices() const { return solved_; }
    struct Tables;

  private:
    void tally();
    Engine kind_;
    std::unique_ptr<Tables> tables_;
    SliceChecks checks_;
    std::array<int, 2> first_bad_{};
    std::int64_t carried_ = 0, solved_ = 0;
    bool shared_ = false;
};

// Lateral shift of every beam field along x by |tan(shift_angle)| * dz / dx of a pixel.
void linear_itp(const std::array<int, 3>& n_xyz, int n_beams, const Vec3& size,
                const Array1<double>& shift_angle, Array3<cplx>& phi);
// The same for one image row of one beam (npx amplitudes), by `t` = lateral_step of its angle.
double lateral_step(const std::array<int, 3>& n_xyz, const Vec3& size, double angle);
void shift_row(cplx* row, int npx, double angle, double t);

// mtx_intensity(i, j, n) = |phi_grid(i, j, n)|^2 / mtx_bg(n) (the normalised amplitudes);
// phi_grid itself is left as it is, so propagation can continue.
void intensities(State& st);

} // namespace korvex
