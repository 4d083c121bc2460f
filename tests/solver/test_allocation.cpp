// The slice loop must not allocate: every C++ allocation of this test program is counted.
#include "solver/fixture.hpp"
#include "support/testing.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <utility>

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace korvex;

TEST(PropagateSlice, AllocatesNothingPerSliceOrColumn) {
    for (int nb = 2; nb <= 12; ++nb) {
        const std::pair<const char*, const char*> runs[] = {
            {"edge", "first-order"}, {"no", "first-order"}, {"edge", "exact"}, {"no", "exact"}};
        for (const auto& [defect, absorption] : runs) {
            korvex::testing::ColumnSetup s{.first = -1, .last = nb - 2, .npx = 9, .npy = 7};
            s.nslice = 6, s.ca = "no", s.defect = defect;
            State st = korvex::testing::make_state(s);
            st.absorption = *absorption_from_name(absorption);
            korvex::testing::fill_strain(st, 1);
            initial_amplitudes(st);
            int flag = 1;
            propagate_slice(st, 1, flag); // the run-time kernel (above 10 beams) sizes its scratch
            const long before = g_allocations.load();
            for (int l = 2; l <= st.effslicenumber; ++l) propagate_slice(st, l, flag);
            EXPECT_EQ(g_allocations.load() - before, 0)
                << nb << " beams, " << defect << ", " << absorption;
        }
    }
}
