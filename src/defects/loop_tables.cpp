#include "defects/loop_tables.hpp"

#include <cstdio>

namespace korvex {

namespace {

// The grid step of the tables: 0.02 in single precision, as the look-up takes it.
constexpr double kStep = static_cast<double>(0.02f);

template <class Tables> auto& table(Tables& t, std::size_t which) {
    decltype(&t.i01) all[] = {&t.i01, &t.i10, &t.i11, &t.i02, &t.i12};
    return *all[which];
}

const char* kDefinition[] = {"J1(k) J0(k v) k", "J1(k) J1(k v)", "J1(k) J1(k v) k",
                             "J1(k) J0(k v) k^2", "J1(k) J1(k v) k^2"};

} // namespace

void compute_loop_tables(LoopTables& t) {
    for (std::size_t w = 0; w < kLoopTableFiles.size(); ++w)
        table(t, w).resize(kLoopTableSize, kLoopTableSize);
#pragma omp parallel for schedule(static)
    for (int r = 1; r <= kLoopTableSize; ++r)
        for (int q = 1; q <= kLoopTableSize; ++q) {
            const LoopIntegrals in = loop_integrals(q * kStep, r * kStep);
            t.i01(q, r) = static_cast<float>(in.i01);
            t.i10(q, r) = static_cast<float>(in.i10);
            t.i11(q, r) = static_cast<float>(in.i11);
            t.i02(q, r) = static_cast<float>(in.i02);
            t.i12(q, r) = static_cast<float>(in.i12);
        }
}

std::string format_loop_table(const LoopTables& t, std::size_t which) {
    const LoopTable& tab = table(t, which);
    std::string s = std::string(" Loop integral ") + kLoopTableFiles[which] +
                    ": integral over k > 0 of " + kDefinition[which] +
                    " exp(-k |u|); record r: v = 0.02 r, then |u| = 0.02 q, q = 1..200\n";
    s.reserve(s.size() + 16u * kLoopTableSize * (kLoopTableSize + 1));
    char buf[32];
    for (int r = 1; r <= kLoopTableSize; ++r) {
        std::snprintf(buf, sizeof buf, "%.4f", r * kStep);
        s += buf;
        for (int q = 1; q <= kLoopTableSize; ++q) {
            std::snprintf(buf, sizeof buf, " %.9g", static_cast<double>(tab(q, r)));
            s += buf;
        }
        s += '\n';
    }
    return s;
}

} // namespace korvex
