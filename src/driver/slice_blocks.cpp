#include "driver/slice_blocks.hpp"

#include "driver/finite_check.hpp"

namespace korvex {

bool slices_in_blocks(const State& st, const DefectField& field, RowBlock rows) {
    return rows.count() > 0 && st.job == Job::amplitude_images && field.fills_rows() &&
           ColumnEngine::carries_blocks(st);
}

int block_end(const State& st, int islice, int middle) {
    if (islice == middle) return islice;
    int last = std::min(st.effslicenumber, islice + kSliceBlock - 1);
    if (islice < middle) last = std::min(last, middle - 1);
    for (int s = islice + 1; s <= last; ++s)
        if (st.slicethickness(s) != st.slicethickness(islice)) return s - 1;
    return last;
}

void carry_block(ColumnEngine& engine, DefectField& field, State& st, int first, int last,
                 int& flag, std::vector<RowFill>& fills, RowBlock rows) {
    fills.clear();
    for (int s = first; s <= last; ++s) fills.push_back(field.rows_of_slice(st, st.work(), s));
    engine.propagate_slices(st, first, flag, fills, rows);
    // The terms of a failing slice are filled again whole, to be named as a single slice names
    // them; a non-finite amplitude stays so through the later slices of its column.
    if (const int bad = engine.first_bad_strain()) {
        const RowFill& fill = fills[static_cast<std::size_t>(bad - first)];
        for (int j = rows.first; j <= rows.last; ++j) fill(j);
        check_finite_strain(st, bad);
    }
    if (const int bad = engine.first_bad_amplitude()) check_finite_amplitudes(st, bad);
}

} // namespace korvex
