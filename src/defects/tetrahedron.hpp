// Stacking-fault tetrahedron (defect "tetrahedron"): four triangular faulted loops, one on
// each {111} face of a regular tetrahedron, each run through the polygonal-loop model. The
// driver writes each face's configuration file in the run directory as an output.
#pragma once

#include "defects/pgloop.hpp"
#include "state/state.hpp"

#include <array>
#include <string>

namespace korvex {

struct TetrahedronFile {
    std::string style; // loop style of the faces (up to 20 characters)
    Vec3 centroid{};   // sample frame, Angstrom
    double edge = 0.0; // edge length, Angstrom
    double poissonsratio = 0.0;
    double correction = 0.0; // core term, Angstrom^2
};

struct TetrahedronFace {
    const char* name; // "alpha", "beta", "gamma", "delta"
    Vec3 normal;      // face normal Z, crystal indices
    Vec3 burgers;     // Burgers vector and fault displacement, units of 1/12
    Vec3 reference;   // in-plane reference X, crystal indices
};
extern const std::array<TetrahedronFace, 4> kTetrahedronFaces;

// Centre of face `face` (0..3), sample frame.
Vec3 tetrahedron_face_centre(const State& st, const TetrahedronFile& t, int face);
// Text of the polygonal-loop configuration file of face `face` (0..3).
std::string tetrahedron_face_text(const State& st, const TetrahedronFile& t, int face);

// The polygonal loop of face `face` (0..3), as its file (tetrahedron_face_text) describes it.
PgLoopFile tetrahedron_face_loop(const State& st, const TetrahedronFile& t, int face);

// One slice: sums the strain terms of the four faces into w.s_g_r; the fault jumps go to
// w.s_f, the face markers 2/4/6/8 to w.projection.
// With `single_column` (the amplitude-phase job) only the strain term of the column at
// st.colxy from the centroid is computed, into column (1, 1).
void tetrahedron(const State& st, Workspace& w, const TetrahedronFile& t, int islice,
                 bool single_column = false);

std::unique_ptr<DefectField> make_tetrahedron_field(ConfigSource<TetrahedronFile> source);

} // namespace korvex
