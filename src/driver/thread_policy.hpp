// How the program's threads wait for each other.
#pragma once

namespace korvex {

// The OpenMP runtime reads its wait policy when it is loaded, before main runs. By default a
// thread that reaches the end of a slice early spins for a long while (some hundred thousand
// turns): on a machine whose cores are busy with other work the spinning thread takes a core
// from the thread still computing, and two threads ran slower than one. Sleeping at once
// (OMP_WAIT_POLICY=passive) costs a wake-up of some 20 microseconds at every start and end of
// a parallel loop, two or three per slice: with small images (64 x 64) two threads were then
// slower than one. A short spin first (GOMP_SPINCOUNT=1000, some 10 microseconds) catches the
// other thread in nearly every case and then sleeps; under load it measured as passive waiting.
// So, unless the user has chosen a policy (OMP_WAIT_POLICY or GOMP_SPINCOUNT), the program
// starts itself once more with GOMP_SPINCOUNT=1000; if that fails it goes on as it is. Call
// first thing in main, with main's argv.
void choose_wait_policy(char** argv);

} // namespace korvex
