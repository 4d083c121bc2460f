// Small fcc or skewed snapshots, displaced by a given field, as LAMMPS dumps or extended XYZ.
#pragma once

#include "driver/snapshot_gradients.hpp"
#include "state/gradient_stream.hpp"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace korvex::testing {

struct Cell {
    Vec3 origin{};
    std::array<Vec3, 3> edge{};
    std::string bounds = "pp pp pp";
};

// id and position of every atom, snapshot frame.
using Atoms = std::vector<std::pair<long, Vec3>>;

// n[0] x n[1] x n[2] cubic fcc cells of edge a along the snapshot axes `axes` (orthonormal,
// crystal frame), starting `from` cells from the origin along the cube x and y.
inline Atoms fcc(std::array<int, 3> n, double a,
                 std::array<Vec3, 3> axes = {Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}},
                 int from = 0) {
    static constexpr double basis[4][3] = {{0, 0, 0}, {.5, .5, 0}, {.5, 0, .5}, {0, .5, .5}};
    Atoms out;
    for (int k = 0; k < n[2]; ++k)
        for (int j = from; j < from + n[1]; ++j)
            for (int i = from; i < from + n[0]; ++i)
                for (const auto& b : basis) {
                    const Vec3 c{(i + b[0]) * a, (j + b[1]) * a, (k + b[2]) * a}; // cube frame
                    out.push_back({long(out.size()) + 1,
                                   {dot(axes[0], c), dot(axes[1], c), dot(axes[2], c)}});
                }
    return out;
}

inline Atoms displaced(Atoms atoms, const std::function<Vec3(const Vec3&)>& u) {
    for (auto& [id, r] : atoms) {
        const Vec3 d = u(r);
        for (std::size_t k = 0; k < 3; ++k) r[k] += d[k];
    }
    return atoms;
}

// A LAMMPS dump: "ortho" bounds or triclinic ones (the cell's edges a, b, c must then be
// (lx, 0, 0), (xy, ly, 0), (xz, yz, lz)); scaled coordinates when `scaled`.
inline std::string lammps(const Atoms& atoms, const Cell& c, bool scaled = false) {
    std::ostringstream s;
    s.precision(17);
    const auto& e = c.edge;
    const bool tri = e[1][0] != 0 || e[2][0] != 0 || e[2][1] != 0;
    const double xy = e[1][0], xz = e[2][0], yz = e[2][1];
    s << "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n"
      << atoms.size() << "\nITEM: BOX BOUNDS " << (tri ? "xy xz yz " : "") << c.bounds << "\n";
    const double lo[3] = {c.origin[0] + std::min({0.0, xy, xz, xy + xz}),
                          c.origin[1] + std::min(0.0, yz), c.origin[2]};
    const double hi[3] = {c.origin[0] + e[0][0] + std::max({0.0, xy, xz, xy + xz}),
                          c.origin[1] + e[1][1] + std::max(0.0, yz), c.origin[2] + e[2][2]};
    const double tilt[3] = {xy, xz, yz};
    for (int a = 0; a < 3; ++a) {
        s << lo[a] << ' ' << hi[a];
        if (tri) s << ' ' << tilt[a];
        s << '\n';
    }
    s << (scaled ? "ITEM: ATOMS type zs id xs ys\n" : "ITEM: ATOMS type z id x y\n");
    const PeriodicCell cell(c.origin, c.edge, {true, true, true});
    for (const auto& [id, r] : atoms) {
        const Vec3 p = scaled ? cell.fractional(r) : r;
        s << "1 " << p[2] << ' ' << id << ' ' << p[0] << ' ' << p[1] << '\n';
    }
    return s.str();
}

// An extended XYZ file without ids (atoms numbered in file order).
inline std::string xyz(const Atoms& atoms, const Cell& c) {
    std::ostringstream s;
    s.precision(17);
    s << atoms.size() << "\nLattice=\"";
    for (const auto& v : c.edge) s << v[0] << ' ' << v[1] << ' ' << v[2] << ' ';
    s << "\" Properties=species:S:1:pos:R:3 pbc=\"T T T\" Origin=\"" << c.origin[0] << ' '
      << c.origin[1] << ' ' << c.origin[2] << "\"\n";
    for (const auto& a : atoms)
        s << "Cu " << a.second[0] << ' ' << a.second[1] << ' ' << a.second[2] << '\n';
    return s.str();
}

// dR_c/dx_e of every cell from the files base.dX, .dY, .dZ (the depth derivative un-negated).
inline std::vector<Gradient> read_gradients(const std::string& base) {
    std::vector<Gradient> out;
    for (std::size_t f = 0; f < 3; ++f) {
        GradientStream s(base + std::array<const char*, 3>{".dX", ".dY", ".dZ"}[f]);
        const auto& h = s.read_header(int(f));
        std::vector<Vec3> v(std::size_t(h.cells[0]) * h.cells[1] * h.cells[2]);
        s.read_cells(v);
        out.resize(v.size());
        for (std::size_t c = 0; c < v.size(); ++c)
            for (std::size_t k = 0; k < 3; ++k) out[c][f][k] = f == 2 ? -v[c][k] : v[c][k];
    }
    return out;
}

} // namespace korvex::testing
