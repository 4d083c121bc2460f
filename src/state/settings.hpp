// The choices of the input, parsed once where they are read (the input file reader and the
// entry form alike); the rest of the code switches on these types, never on the text.
#pragma once

#include <optional>
#include <string_view>

namespace korvex {

// Column approximation `ca`: "yes" takes only the depth derivative of g.R and untilted beams;
// "no" adds the lateral derivative along each tilted beam and shifts inclined beams sideways;
// "half" tilts and shifts like "no" (how a defect model takes it: `defects/column_rule.hpp`).
// Any other text is kept as `unknown` and refused when a beam condition is set up.
enum class ColumnApprox { yes, no, half, unknown };
ColumnApprox column_approx_from_text(std::string_view text);
// "yes", "no", "half" or "unknown", as reports and messages print it.
const char* column_approx_name(ColumnApprox ca);

// Whether the beams are tilted and shifted sideways ("no" and "half").
inline bool tilted_beams(ColumnApprox ca) {
    return ca == ColumnApprox::no || ca == ColumnApprox::half;
}

// The job number of the input. Other numbers are kept as they are: they run the slices and the
// reports without images.
enum class Job : int {
    amplitude_images = 1,  // beam images after the last slice
    thickness_fringes = 2, // intensity profiles along the depth
    layer_images = 3,      // images of chosen slices as well
    amplitude_phase = 9,   // amplitude and phase of single columns
    reports_only = 999,    // no potential coefficients: slices and reports only
};
inline int job_number(Job job) {
    return static_cast<int>(job);
}

// The defect model of the input's name: "no", "edge", "screw", "loop", "void", "pg_loop",
// "tetrahedron", "3D-strain", "inclusion", "dissociated", "population" (case matters); `unknown`
// for anything else, refused before a run.
enum class DefectKind {
    perfect,
    edge,
    screw,
    loop,
    vacancy,
    pg_loop,
    tetrahedron,
    strain,
    inclusion,
    dissociated,
    population,
    unknown
};
DefectKind defect_kind_from_name(std::string_view name);

// The command line's choices. How the columns of a strained crystal are carried through a
// slice: `exact` solves every column's structure matrix, `table` interpolates tabulated slice
// transfers (solver/table.hpp). How the absorptive part of the structure matrix is treated:
// `first_order` (the long-standing method, the default) or `exact` (solver/exact_absorption.hpp).
enum class Engine { exact, table };
const char* engine_name(Engine e);
std::optional<Engine> engine_from_name(std::string_view name);
enum class Absorption { first_order, exact };
const char* absorption_name(Absorption a);
std::optional<Absorption> absorption_from_name(std::string_view name);

// The diffraction condition n of (g, ng) that selects the series of twelve conditions.
inline constexpr double kConditionSeries = 999.0;
inline constexpr int kSeriesLength = 12;
// Condition s (1..12) of the series: 3.5, 3.75, ..., 6.25.
inline double series_condition(int s) {
    return 3.5 + 0.25 * (s - 1);
}

} // namespace korvex
