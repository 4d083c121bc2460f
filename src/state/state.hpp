// The simulation state: every parameter, derived quantity and working array of one run, in
// parts by who fills them and how long they hold: the input (read once), the run's optics and
// sample grid (derived at the start), the beam condition (set per condition), the working
// arrays (rewritten every slice) and the session (messages and report details).
//
// One `State` is made per run and passed by reference to the routines that need it, or its
// parts to those that need only some; there are no globals, so tests build as many states as
// they like and the column loop can share a state read-only across threads. Text values are
// std::string holding the trimmed value (fixed-length blank padding is applied only where a
// value is written with its full width).
#pragma once

#include "state/array.hpp"
#include "state/illumination.hpp"
#include "state/settings.hpp"

#include <array>
#include <functional>
#include <iostream>
#include <string>

namespace korvex {

using Vec3 = std::array<double, 3>;

// Maximum lengths of the text values (longer values are truncated when they are set).
inline constexpr std::size_t kFileNameLen = 300;
inline constexpr std::size_t kDirLen = 100;

// ---- what the user chose: read once (input file or entry form), then only read --------------
struct InputParameters {
    // files and directories
    std::string f_in;     // input parameter file name as given
    std::string f_defect; // defect configuration file name
    std::string homedir;  // root directory, prefixed to the four below
    std::string sysdir = "./";
    std::string rundir = "./";
    std::string simrecdir = "./";
    std::string datadir = "./";

    // optics, beams and job control
    std::string sample_no;                   // specimen label (reported only), up to 20 characters
    std::string sample;                      // crystal symbol; its first two characters are used
    std::string sample_source;               // where `sample` was read, for messages
    Job job{};                               // 1, 2, 3, 9 or 999 as read
    ColumnApprox ca = ColumnApprox::unknown; // column approximation "yes", "no" or "half"
    double voltage = 0.0;                    // kV
    int eigen_model = 4;                     // always 4
    std::string interpolation_method = "linear";
    Engine engine = Engine::exact;                   // column engine of the command line
    Absorption absorption = Absorption::first_order; // absorption of the command line
    std::string slicing_method = "normal";
    double converangle = 0.0; // the input file's illumination is always parallel
    int ncon = 1;
    Illumination illumination; // parallel, or the probe and detectors of the command line
    int n_beams = 0;
    int iabs = 0;          // non-zero: absorption included
    Array1<int> mtx_beams; // multiple of g of beam n
    // Where condition n was read, as a message begins ("Error reading "in", record 26"); empty
    // when the entry form set it.
    std::string condition_read_at;

    // sample grid as given
    double size_x = 0.0, size_y = 0.0, size_z = 0.0;
    int n_pixel_x = 0, n_pixel_y = 0, n_slice = 0;
    // Pixel width and slice thickness the user chose (Angstrom); 0: about one column and one
    // slice per Angstrom
    double pixel_size = 0.0, slice_size = 0.0;
    // Automatic slicing: slices of 1, 3, 9 or 27 of those steps wherever the strain terms allow
    // it, the largest phase error they may add to a column over the foil (radians); 0: off.
    double slice_tolerance = 0.0;
    // Loops and tetrahedra: the error allowed in a strain term (1/Angstrom) where their field is
    // sampled at every few columns and interpolated between (defects/row_samples.hpp); 0: every
    // column evaluated; below 0: not given (a population then takes a tenth of its own
    // tolerance, a defect alone evaluates every column).
    double field_tolerance = -1.0;

    // crystal directions (crystal axes)
    Vec3 foil{}; // zone axis = sample z
    Vec3 v_g{};  // diffraction vector (h k l)
    Vec3 co_x{}; // sample x, a copy of v_g

    // defect description
    std::string defect = "no"; // model name of the input file, as the reports print it
    DefectKind defect_kind = DefectKind::perfect; // parsed from `defect` where it is read
    // The values of a defect live in its configuration file: its model reads them there, and
    // so does its section of the parameter report.
};

// ---- the optics of the run: derived from the input by start_run ----------------------------
struct RunOptics {
    double lat_c = 0.0;         // lattice constant, Angstrom
    double d = 0.0;             // spacing of the diffracting planes, Angstrom
    double g = 0.0;             // |g|, 1/Angstrom
    double k = 0.0;             // |k|, 1/Angstrom
    double wavelength = 0.0;    // Angstrom
    double b_angle = 0.0;       // Bragg angle, rad
    double u0 = 0.0, ui0 = 0.0; // zero-beam Fourier coefficients, 1/Angstrom^2
    Array1<double> u, ui;       // (nb - 1) Fourier coefficients of m*g, 1/Angstrom^2
    Array1<double> mtx_g;       // mtx_beams(n) * g
    Vec3 co_y{};                // sample y = foil x co_x
    Vec3 v_0g{};                // zero vector
    Vec3 beam_direction{};      // reported as the optical axis
};

// ---- the sample grid: made from the input by cal_sample --------------------------------------
struct SampleGrid {
    Vec3 size{};                // (size_x, size_y, size_z)
    std::array<int, 3> n_xyz{}; // (n_pixel_x, n_pixel_y, n_slice)
    double unit_x = 0.0, unit_y = 0.0, unit_z = 0.0;
    int effslicenumber = 0;
    Array1<double> p_x, p_y, p_z;
    Array1<double> sliceposition, slicethickness;
    // Set when the slices are not all equal (automatic slicing): slice l then spans
    // sliceposition(l) -+ slicethickness(l) / 2.
    bool graded = false;
    // Graded slices: for each thickness above the even step, twice the largest strain scalar
    // (the term of the beam of largest order over that order) sampled at those slices' centres,
    // the range a table of that thickness needs (1/Angstrom).
    std::vector<std::array<double, 2>> slice_reach;

    // Depth of the centre of slice `islice` below the entrance surface, Angstrom.
    double slice_centre(int islice) const {
        return graded ? sliceposition(islice) : (islice - 0.5) * size[2] / n_xyz[2];
    }
    // The centre of the slice above it (islice > 1).
    double centre_above(int islice) const {
        return graded ? sliceposition(islice - 1) : slice_centre(islice) - size[2] / n_xyz[2];
    }
    // Thickness of slice `islice`, Angstrom.
    double slice_step(int islice) const {
        return graded ? slicethickness(islice) : size[2] / n_xyz[2];
    }
};

// ---- the beam condition being computed: set by the driver for each condition ------------------
struct BeamCondition {
    double condition_n = 0.0;      // n of (g, ng) as read; 999 selects the series, whose
                                   // conditions the driver then sets in turn
    std::string f_out;             // base name of the result files: the input's, then the
                                   // condition's (and the column's, amplitude-phase job)
    std::array<double, 2> colxy{}; // column of the amplitude-phase job, as read, then each
    Array1<cplx> mtx_q;            // beam tilts: imaginary part is the tilt angle
    Array1<double> shift_angle;    // tilt actually used (0 under the column approximation)
    Array1<double> mtx_bg;         // per-beam wave-number divisor of the structure matrix
    Array1<double> s_g;            // excitation errors, 1/Angstrom
    Array1<double> kg_z;           // z component of each beam's wave vector
    // What the defect field of the condition gives the column engines where a population makes
    // it differ from defect_kind (set with the field): the kind of its one entry, "void" for
    // voids alone, else population; and whether voids stand among its strained defects.
    DefectKind field_kind = DefectKind::unknown; // unknown: as defect_kind
    bool field_voids = false;
};

// ---- the working arrays of a run: the defect terms of a slice and the amplitudes ---------------
// Fills the defect terms of one image row j (1-based) of a slice (see DefectField::rows_of_slice).
using RowFill = std::function<void(int j)>;

// Image rows first..last (1-based); empty when last < first.
struct RowBlock {
    int first = 1, last = 0;
    int count() const { return last >= first ? last - first + 1 : 0; }
};

struct Workspace {
    // written by the defect field for each slice
    Array3<double> s_g_r;     // (npx, npy, nb) strain term of the current slice, 1/Angstrom
    Array3<double> g_r;       // (npx, npy, nb) phase g.R of the amplitude-phase job
    Array3<double> s_f;       // (npx, npy, 3) displacement jump of the current slice
    Array3<int> projection;   // (npx, npy, 2) loop / tetrahedron markers
    Array2<int> flag_vacancy; // (npx, npy): 0 where the slice of the column is inside a void
    // written by the solver
    Array3<cplx> phi_grid;        // (npx, npy, nb)
    Array3<double> mtx_intensity; // (npx, npy, nb)
    Array2<cplx> h;               // structure matrix scratch (nb, nb)
    Array2<cplx> eigenvectors_h;  // (nb, nb)
    Array1<cplx> eigenvalues_h;   // (nb)
    Array1<cplx> mtx_phi_in, mtx_phi_out;
    bool allocated = false; // set by allocate_arrays
};

// ---- where messages go and what the reports add: set by the driver
// ---------------------------------
struct Reporting {
    bool text_mode = true;          // "-t": batch run in the terminal
    std::ostream* out = &std::cout; // where messages and progress go
    int processing_time = 0;        // whole seconds since start-up, for the reports
    std::string file_parameter;     // name of the parameter report, once written
    std::string engine_ran;         // the column engine that ran the condition, for the reports

    std::ostream& console() const { return *out; }
};

// The whole state of a run: its parts by owner and lifetime. Members keep the names the
// physics is written with and are reached directly (st.n_beams); a routine that needs only
// some parts takes those (cal_sample(st.input(), st.grid())), const where it only reads.
struct State : InputParameters, RunOptics, SampleGrid, BeamCondition, Workspace, Reporting {
    InputParameters& input() { return *this; }
    const InputParameters& input() const { return *this; }
    RunOptics& optics() { return *this; }
    const RunOptics& optics() const { return *this; }
    SampleGrid& grid() { return *this; }
    const SampleGrid& grid() const { return *this; }
    BeamCondition& condition() { return *this; }
    const BeamCondition& condition() const { return *this; }
    Workspace& work() { return *this; }
    const Workspace& work() const { return *this; }
    Reporting& reporting() { return *this; }
    const Reporting& reporting() const { return *this; }
};

// The kind whose terms the slices of the condition carry (see BeamCondition::field_kind).
inline DefectKind terms_kind(const State& st) {
    return st.field_kind == DefectKind::unknown ? st.defect_kind : st.field_kind;
}
// Whether the columns of a slice inside a void pass it unchanged.
inline bool holds_voids(const State& st) {
    return terms_kind(st) == DefectKind::vacancy || st.field_voids;
}

// Creates the working arrays for n_pixel_x, n_pixel_y, n_slice and n_beams. A second call on
// the same state is a programming error and throws std::logic_error.
void allocate_arrays(State& st);

// The first two characters of a text value, blank-padded ("C" -> "C ").
std::string first_two(const std::string& s);

// Nearest integer, halves away from zero (Fortran NINT).
int nint(double x);

} // namespace korvex
