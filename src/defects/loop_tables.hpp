// The tables of the five loop integrals that the "tabulation" model of the circular loop looks
// up, made by the system itself from the closed forms of the integrals (the driver writes them
// to the working directory when a run needs them and finds none: driver/defect_files.hpp).
#pragma once

#include "defects/loop_iso.hpp"

#include <array>
#include <string>

namespace korvex {

// The file of each table, in the order i01, i10, i11, i02, i12.
inline constexpr std::array<const char*, 5> kLoopTableFiles{"i01.data", "i10.data", "i11.data",
                                                            "i02.data", "i12.data"};

// The five tables: value (q, r) is the integral at |u| = q h and v = r h, h the grid step of
// the look-up (0.02 in single precision).
void compute_loop_tables(LoopTables& t);

// The text of table number `which` (0..4, as kLoopTableFiles): a header record, then record r
// holding v = r h and the 200 values of the record.
std::string format_loop_table(const LoopTables& t, std::size_t which);

} // namespace korvex
