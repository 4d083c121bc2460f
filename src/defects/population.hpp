// A population of defects (defect "population"): many defects of the other kinds in one foil,
// imaged together. In linear elasticity their strain terms add, the fault jumps of the columns
// crossing a faulted loop add, a void lets its slice of a column pass unchanged.
//
// The bounded defects (polygonal loops, tetrahedra, voids, inclusions) are computed here, each
// only where it reaches: its influence radius is where its strain term falls below the
// population's tolerance (influence_radius), and each image row of a slice visits only the
// defects whose sphere of influence it cuts (the defects are taken by depth, then binned by
// blocks of rows). A slice holds what its defects need; nothing grows with the defects between
// slices but their descriptions. The other kinds (straight and dissociated dislocations, the
// circular loop, a strain-file background) reach every column: each is its own `DefectField`,
// filled over the whole image into an image of its own, then added.
#pragma once

#include "defects/defect.hpp"
#include "defects/inclusion.hpp"
#include "defects/pgloop.hpp"
#include "defects/tetrahedron.hpp"
#include "defects/void.hpp"

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace korvex {

// One bounded defect: its entry number in the population file and its configuration.
struct BoundedDefect {
    int entry = 0;
    int marker = 1; // a polygonal loop's marker in `projection` (loop_marker of its file)
    std::variant<PgLoopFile, TetrahedronFile, VoidConfig, InclusionConfig> config;

    DefectKind kind() const;
    Vec3 centre() const;   // sample frame, Angstrom
    double extent() const; // radius of a sphere about centre() holding the defect, Angstrom
};

// A defect that reaches every column, with its own field.
struct WholeDefect {
    int entry = 0;
    DefectKind kind = DefectKind::unknown;
    std::unique_ptr<DefectField> field;
};

struct Population {
    std::string file;       // for messages
    double tolerance = 0.0; // on a bounded defect's strain term, 1/Angstrom; 0: no cut-off
    std::vector<BoundedDefect> bounded;
    std::vector<WholeDefect> whole;
    Vec3 reference{}; // the first entry's reference point: the amplitude-phase job's origin
};

// The distance from a bounded defect's centre beyond which the strain term of every beam is
// below `tolerance` (1/Angstrom) under st's beams, g and column approximation; a void reaches
// its radius only; infinity for a tolerance of 0. The bound: a planar loop of area A and
// Burgers vector b (lattice units) gives |grad g.u| <= |g| |b| A / ((1 - nu) r^3) at distance r
// from its plane's centre (beyond twice its size); an inclusion 2 |g| eps R^3 / (a r^3); the
// term of beam n weighs the gradient by |m_n| (1 + |tan_n|) at most. A loop's or tetrahedron's
// reach is taken nearer where its own field, sampled in 256 directions at three times its size
// and carried out as 1/r^3 with a factor 2 to spare, falls below the tolerance (and a sample
// there confirms half of it).
double influence_radius(const State& st, const BoundedDefect& d, double tolerance);

// The distance from the centre of each loop of a bounded defect (a polygonal loop, the four
// faces of a tetrahedron) beyond which its field is taken as that of the infinitesimal loop of
// the same area and Burgers vector: where the difference, sampled at three times the loop's
// radius and carried out as 1/r^5, falls below a quarter of the tolerance; infinity for a
// tolerance of 0.
std::vector<double> near_radii(const State& st, const BoundedDefect& d, double tolerance);

// The field of a population.
std::unique_ptr<DefectField> make_population_field(Population pop);

} // namespace korvex
