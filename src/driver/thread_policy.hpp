// How the program's threads wait for each other.
#pragma once

namespace korvex {

// The OpenMP runtime reads its wait policy when it is loaded, before main runs, and by default
// a thread that reaches the end of a slice early spins for a while. On a machine whose cores
// are busy with other work the spinning thread takes a core from the thread still computing
// (two threads then ran slower than one). Waiting asleep costs some microseconds per slice on
// an idle machine. So, unless the user has chosen a policy (OMP_WAIT_POLICY or the runtime's
// GOMP_SPINCOUNT), the program starts itself once more with OMP_WAIT_POLICY=passive; if that
// fails it goes on as it is. Call first thing in main, with main's argv.
void prefer_passive_waiting(char** argv);

} // namespace korvex
