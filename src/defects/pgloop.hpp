// Planar dislocation loop shaped as a regular polygon (defect "pg_loop"), also the building
// block of the stacking-fault tetrahedron.
//
// The elastic field is the sum of one angular dislocation per vertex; a faulted loop also
// gives the columns that cross its area the displacement jump of the fault, and marks them in
// `projection` with the loop's marker (1, or 2/4/6/8 for the faces of a tetrahedron).
#pragma once

#include "defects/angular_dislocation.hpp"
#include "defects/defect.hpp"
#include "optics/vectors.hpp"
#include "state/state.hpp"

#include <array>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace korvex {

// Contents of a polygonal-loop configuration file (records 3 to 12).
struct PgLoopFile {
    std::string loopstyle;       // contains "perfect", "pureSF" or "faulted"
    double b_m = 0.0, b_n = 1.0; // Burgers vector (b_m / b_n) [b_dir]
    Vec3 b_dir{};                //
    double f_m = 0.0, f_n = 1.0; // fault displacement (f_m / f_n) [f_dir]
    Vec3 f_dir{};                //
    double radius = 0.0;         // circumradius of the polygon, Angstrom
    Vec3 position{};             // centre, sample frame, Angstrom
    Vec3 normal{}, polar{};      // habit-plane normal and in-plane pole, crystal indices
    int nsides = 0;              //
    double poissonsratio = 0.0;  //
    double correction = 0.0;     // core term added to r^2, Angstrom^2
};

enum class LoopStyle { perfect, pure_fault, faulted };
// The style a loop-style text names; stops with "LOOPSTYLE DEFINED WRONG IN THE INITIAL FILE"
// when it names none.
LoopStyle loop_style(const std::string& text);

// Marker of a loop read from `file`: 2, 4, 6, 8 for the tetrahedron faces "alpha.ini",
// "beta.ini", "gamma.ini", "delta.ini", 1 otherwise.
int loop_marker(const std::string& file);

// (m / n) [v]; stops when n is zero.
Vec3 lattice_vector(double m, double n, const Vec3& v, const char* what);

// The loop's frames for one slice: everything a pixel needs, built once.
class PgLoopKernel {
  public:
    // Sample axes and g from the state (co_x, foil, v_g); loop from the file.
    PgLoopKernel(const State& st, const PgLoopFile& f);

    // grad (g . u) in the sample frame (1/Angstrom) at p, the point relative to the loop
    // centre in sample coordinates (Angstrom).
    Vec3 gradient(const Vec3& p) const;
    // The same at kFieldLanes points at once, each bit for bit as gradient() gives it.
    void gradient_lanes(const Vec3* p, Vec3* out) const;
    std::array<FieldLanes, 3> gradient_lanes(const std::array<FieldLanes, 3>& p) const;
    // Whether p lies within `half_slab` of the loop plane and strictly inside the polygon.
    bool crosses(const Vec3& p, double half_slab) const;
    // Of the columns i = 1..nx at (x, y, z), x = (i - 0.5) dx - x0, those that may lie within
    // `half_slab` of the loop plane: [first, last] (empty when first > last), two columns wider
    // than the band, so that crosses() is false at every column outside.
    std::array<int, 2> slab_columns(double dx, double x0, double y, double z, int nx,
                                    double half_slab) const;

    int nsides() const { return n_; }

  private:
    template <class Real, bool kEdge> std::array<Real, 3> field(const std::array<Real, 3>& p) const;

    // What side k needs per pixel, side by side in memory.
    struct Side {
        Mat3 t2;          // sample -> side frame
        AngularWeights w; // its Burgers vector and g
    };
    int n_ = 0;
    bool edge_ = false;          // b normal to the loop plane (within rounding)
    double rc_ = 0.0, rs_ = 0.0; // R cos(alpha), R sin(alpha), alpha = pi / nsides
    AngularConstants ad_;        // of the vertex angle beta = 2 pi / nsides
    Mat3 t1_;                    // sample -> loop frame
    std::vector<Side> sides_;
    std::vector<double> ck_, sk_; // cos, sin of the side angles
};

// One loop in one slice: its style and the column approximation checked, its frames and
// per-beam terms prepared, so that the columns can then be filled row by row, from any thread.
// `marker` goes to `projection` where a column crosses the loop.
class PgLoopSlice {
  public:
    PgLoopSlice(const State& st, const PgLoopFile& f, int marker, int islice);

    // Columns i = 1..nx of row j of the loops together, at most kMaxLoops of them, all of one
    // state: the sum of their strain terms of every beam to `sgr` (taken in the loops' order,
    // and added to 0 when `accumulate`, as if each loop added its own); the fault jumps to `sf`
    // (cleared first) and the markers to `proj`, each column taking the loops in order.
    static constexpr std::size_t kMaxLoops = 4;
    static void row(std::span<const PgLoopSlice> loops, int j, Array3<double>& sgr,
                    Array3<double>& sf, Array3<int>& proj, bool accumulate);
    // The strain term of the single column at (x, y) from the loop centre, to column (1, 1).
    void column(const std::array<double, 2>& xy, Array3<double>& sgr, bool accumulate) const;

    // One loop of a population, columns first..last of row j only: its strain terms are added
    // to `sgr`; a column crossing the loop in this slice and not in the slice above takes the
    // loop's jump, added to `sf`, and its marker in `proj` (the first two markers a column meets).
    // Nothing is kept between slices, so any number of loops can share the arrays.
    // Beyond `near` from the loop's centre add_terms takes the field of the infinitesimal loop of
    // the same area and Burgers vector (the far field; set by the population from the error it
    // allows), at a small part of the cost.
    void add_terms(int j, int first, int last, Array3<double>& sgr) const;
    void set_near(double near) { near_ = near; }
    // Away from the loop's sides, the field sampled at every kSampleStep-th column and
    // interpolated between where the error estimated stays within `tol` in a term (1/Angstrom;
    // 0: every column evaluated). Set from the state's field tolerance when made.
    void set_sampling(double tol) { sampling_ = tol; }
    double sampling() const { return sampling_; }
    // The terms of columns first..last of row j of the loops together, their fields sampled
    // (each loop's beyond its `near` the infinitesimal loop's), written to sgr.
    static void sampled_terms(std::span<const PgLoopSlice* const> loops, int j, int first, int last,
                              Array3<double>& sgr);
    // Their G1 and G3 (the gradient's components along sample x and z), so sampled, added to
    // r1 and r3 (indexed from `first`).
    static void add_sampled_rates(std::span<const PgLoopSlice* const> loops, int j, int first,
                                  int last, double* r1, double* r3);
    // The term of every beam of columns first..last of row j from G1 and G3 (indexed from
    // `first`), added to sgr.
    void add_rates_as_terms(int j, int first, int last, const double* r1, const double* r3,
                            Array3<double>& sgr) const;
    // grad (g . u) of that infinitesimal loop at p from the centre (sample frame, 1/Angstrom).
    Vec3 far_gradient(const Vec3& p) const;
    const PgLoopKernel& kernel() const { return kernel_; }
    void add_jumps(int j, int first, int last, Array3<double>& sf, Array3<int>& proj) const;

  private:
    void store(int i, int j, Vec3 grad, Array3<double>& sgr, bool accumulate) const;
    // The jump and marker of the columns of row j that cross this loop in this slice.
    void mark_crossings(int j, Array3<double>& sf, Array3<int>& proj) const;
    // The term of beam n of kFieldLanes columns from their gradients.
    FieldLanes term(int n, const std::array<FieldLanes, 3>& grad) const;

    PgLoopFile f_;
    int marker_;
    LoopStyle style_;
    bool lateral_; // ca = "no": the lateral derivative weighted by the beam tilts
    PgLoopKernel kernel_;
    Vec3 fault_;
    BeamTilts tilts_;
    int nx_, ny_, nb_;
    double sx_, sy_;
    double half_slab_; // a column crosses the loop within this distance of the plane
    double z_;         // depth of the slice centre from the loop centre
    double z_above_;   // that of the slice above, NaN for the first slice
    double near_ = std::numeric_limits<double>::infinity();
    double sampling_ = 0.0;
    // The columns of row j within the loop's radius and a margin from its centre: the
    // sampling's zone (empty when first > last).
    std::array<int, 2> sampling_zone(int j) const;
    // The largest weights of G1 and G3 in a beam's term.
    std::array<double, 2> term_weights() const;
    Vec3 far_n_{}, far_b_{}; // unit normal and Burgers direction, sample frame
    double far_cb_ = 0.0;    // -A |b| / (8 pi (1 - nu)), times |g|
    void add_exact_terms(int j, int first, int last, Array3<double>& sgr) const;
    void add_far_terms(int j, int first, int last, Array3<double>& sgr) const;
};

// One slice of the loop `f` marked `marker`: the strain term of every column and beam goes to
// `sgr` (added to it when `accumulate`), the fault jump of the columns crossing the loop in
// this slice to `sf`, and the markers to `proj`.
// With `column` (the amplitude-phase job) only the strain term of the column at that (x, y)
// from the loop centre is computed, into column (1, 1) of `sgr`.
void pgloop(const State& st, Array3<int>& proj, const PgLoopFile& f, int marker, int islice,
            Array3<double>& sgr, Array3<double>& sf, bool accumulate,
            const std::array<double, 2>* column = nullptr);

// The field of the loop a source gives, the marker that of the file `file` (loop_marker); the
// jump is cleared before each slice.
std::unique_ptr<DefectField> make_pgloop_field(ConfigSource<PgLoopFile> source,
                                               const std::string& file);

} // namespace korvex
