// Stopping a run from outside: SIGINT, SIGTERM and SIGHUP received during a run only set a
// flag, and the run checks it between slices and stops there like any other stop, so that
// every file in the making is removed as the stop unwinds. A second signal of the same kind
// ends the process at once (the default action).
#pragma once

#include <signal.h>

namespace korvex {

// Catches the three signals while it lives; the previous handling is restored afterwards.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    struct sigaction previous_[3];
};

// Stops the run when one of the signals has arrived: "The run was stopped by signal SIGTERM".
void check_stop_signal();

// The name of the stop signal that has arrived ("SIGTERM"), or nullptr while none has: for a
// program that says itself what a stop leaves behind.
const char* received_stop_signal() noexcept;

} // namespace korvex
