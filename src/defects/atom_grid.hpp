// From atom displacements to displacement gradients on the simulation grid.
//
// The pieces a snapshot conversion needs, free of any reading or writing:
// - `PeriodicCell`: fractional coordinates, wrapping and minimum images of a periodic cell;
// - `FoilPlacement`: the snapshot's axes given as crystal directions, and the snapshot placed
//   in the foil; maps positions to the sample frame (x along g, y along zone x g, z along the
//   zone axis) and displacements to the crystal cube axes;
// - `ReferenceLattice`: the nearest site of a perfect sc, bcc or fcc lattice;
// - `KernelAverage`: the displacement averaged onto the cell centres with a smooth kernel, and
//   its gradients.
//
// Kernel average. Every atom at reference position X (sample frame) with displacement u adds,
// to every cell centre c within the kernel width h, the weight w = (1 - |X - c|^2 / h^2)^2 times
// (1, X - c, u). A cell then holds the weighted mean displacement u_c and the weighted mean
// atom position X_c, the point at which u_c is the best estimate of the field. The gradient of
// a cell follows from its two neighbours along each axis (central differences; one-sided at the
// grid's faces and next to empty cells): with the differences dX_e = X(c+e) - X(c-e) and
// du_e = u(c+e) - u(c-e) for e = x, y, z, the gradient J solves J dX_e = du_e. Differencing the
// mean positions instead of the cell centres makes the result exact for any linear field
// whatever the atoms' arrangement; a curved field is smoothed over about h. A cell that no atom
// reaches is empty: its gradients are zero.
#pragma once

#include "defects/gradient_field.hpp"
#include "optics/vectors.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace korvex {

class PeriodicCell {
  public:
    // The cell origin + s1 a + s2 b + s3 c, 0 <= s < 1; `periodic` per edge.
    PeriodicCell(const Vec3& origin, const std::array<Vec3, 3>& edge,
                 const std::array<bool, 3>& periodic);
    Vec3 fractional(const Vec3& r) const;
    Vec3 cartesian(const Vec3& s) const;
    // r moved by whole cell edges into the cell along the periodic directions.
    Vec3 wrap(const Vec3& r) const;
    // The shortest of d + n1 a + n2 b + n3 c over the periodic directions (in fractional
    // coordinates, exact for displacements below half a cell edge).
    Vec3 minimum_image(const Vec3& d) const;
    Vec3 centre() const { return cartesian({0.5, 0.5, 0.5}); }
    double volume() const;

  private:
    Vec3 origin_;
    Mat3 h_, h_inv_; // columns a, b, c
    std::array<bool, 3> periodic_;
};

class FoilPlacement {
  public:
    // axes: crystal directions of the snapshot's x, y, z (orthogonal, right-handed, any
    // length); foil and v_g: the zone axis and g of the run; the snapshot point `anchor` lands
    // at the sample-frame point `at`. Refuses axes that are not orthogonal or left-handed.
    FoilPlacement(const std::array<Vec3, 3>& axes, const Vec3& foil, const Vec3& v_g,
                  const Vec3& anchor, const Vec3& at);
    Vec3 to_foil(const Vec3& r) const;   // snapshot position -> sample frame
    Vec3 from_foil(const Vec3& p) const; // sample frame -> snapshot position
    Vec3 to_cube(const Vec3& u) const;   // snapshot components -> crystal cube axes

  private:
    Mat3 t_, c_; // snapshot -> sample frame; snapshot -> cube axes
    Vec3 anchor_, at_;
};

enum class Structure { sc, bcc, fcc };

class ReferenceLattice {
  public:
    // Lattice constant a (Angstrom); axes: crystal directions of the snapshot's x, y, z;
    // origin: a lattice site, snapshot frame.
    ReferenceLattice(Structure s, double a, const std::array<Vec3, 3>& axes, const Vec3& origin);
    // The site nearest to r (snapshot frame). Right only while every atom stays within half a
    // nearest-neighbour distance of its own site.
    Vec3 nearest_site(const Vec3& r) const;
    double neighbour_distance() const;
    // Sites per cubic Angstrom.
    double sites_per_volume() const;

  private:
    Structure s_;
    double a_;
    Mat3 to_cube_; // snapshot -> cube axes (rows: the normalised axes)
    Vec3 origin_;
};

class KernelAverage {
  public:
    // The grid of `box` (cells, size); h: kernel width in Angstrom (> 0).
    KernelAverage(const GradientBox& box, double h);
    // Adds atoms: sample-frame reference positions and cube-axis displacements (Angstrom).
    void add(const std::vector<Vec3>& pos, const std::vector<Vec3>& u);
    // Cells that no atom reached.
    std::int64_t empty_cells() const;
    // dR_c/dx_e of every column of slice l (1-based), x fastest: g[col][e][c]. Returns how
    // many cells of the slice atoms reach but too few, or too evenly placed, to tell a slope
    // (zero gradients, like empty cells).
    std::int64_t gradients(int l, std::vector<Gradient>& g) const;
    // The memory of the averages of a grid, bytes.
    static double bytes(const GradientBox& box) {
        return double(box.cells[0]) * double(box.cells[1]) * double(box.cells[2]) *
               double(kFields * sizeof(double));
    }
    // Weighted mean displacement of a cell (0-based indices); zero when empty.
    Vec3 mean_displacement(int i, int j, int k) const;

  private:
    static constexpr std::size_t kFields = 7; // w, w (X - c), w u
    std::size_t index(int i, int j, int k) const;
    bool fit(int i, int j, int k, int reach, Gradient& out) const;

    std::array<int, 3> n_;
    Vec3 unit_;
    double h_;
    struct Release {
        void operator()(double* p) const { std::free(p); }
    };
    std::unique_ptr<double[], Release> acc_;
    std::size_t acc_size_ = 0;
};

} // namespace korvex
