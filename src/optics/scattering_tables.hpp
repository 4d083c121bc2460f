// Tabulated electron scattering amplitudes of single atoms (internal to the potential code).
#pragma once

#include <string_view>

namespace korvex {

// f_i against s_i (i = 0 .. n-1): s_0 = 0 and s_{n-1} = 2.0 1/Angstrom.
struct ScatteringTable {
    const char* symbol; // two characters, one-letter symbols blank-padded
    int z;              // atomic number, for the large-s tail
    const double* s;
    const double* f;
    int n;
    // hint[k], k = 0 .. 200: the smallest i with s_i >= k / 100, where a search for s in
    // [k / 100, (k + 1) / 100) may start.
    const unsigned char* hint;
};

// The table of a two-character symbol, or nullptr.
const ScatteringTable* find_scattering_table(std::string_view symbol);

} // namespace korvex
