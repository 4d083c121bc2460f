#include "driver/thread_policy.hpp"

#include <cstdlib>
#include <unistd.h>

namespace korvex {

void choose_wait_policy(char** argv) {
    if (std::getenv("OMP_WAIT_POLICY") != nullptr || std::getenv("GOMP_SPINCOUNT") != nullptr)
        return;
    // Set before the restart, so the restarted program finds it and goes straight on.
    if (setenv("GOMP_SPINCOUNT", "1000", 1) != 0) return;
    execv("/proc/self/exe", argv);
    // No restart (no /proc, say): the runtime keeps the policy it started with.
}

} // namespace korvex
