// How the program's threads wait for each other, chosen before the OpenMP runtime starts.
//
// By default a thread that reaches the end of a slice early spins for a long while (some
// hundred thousand turns): on a machine whose cores are busy with other work the spinning
// thread takes a core from the thread still computing, and two threads ran slower than one.
// Sleeping at once (OMP_WAIT_POLICY=passive) costs a wake-up of some 20 microseconds at every
// start and end of a parallel loop: with small images (64 x 64) two threads were then slower
// than one. A short spin first (GOMP_SPINCOUNT=1000, some 10 microseconds) catches the other
// thread in nearly every case and then sleeps; under load it measured as passive waiting.
//
// The runtime reads its policy from the environment once, in its initialiser. The program
// links the runtime into itself (the top CMakeLists.txt), so that initialiser is one of the
// program's own, and this one, with a priority, runs before it. A policy the user has chosen
// (OMP_WAIT_POLICY or GOMP_SPINCOUNT) is kept.
#include <cstdlib>

namespace {

[[gnu::constructor(101)]] void choose_wait_policy() {
    if (std::getenv("OMP_WAIT_POLICY") != nullptr || std::getenv("GOMP_SPINCOUNT") != nullptr)
        return;
    setenv("GOMP_SPINCOUNT", "1000", 1);
}

} // namespace
