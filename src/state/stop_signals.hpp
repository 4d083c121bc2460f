// Stopping a run from outside: SIGINT, SIGTERM, SIGHUP and SIGPIPE (the output was closed, as
// by `korvex ... | head`) received during a run only set a flag, and the run checks it between
// slices and stops there like any other stop, so that every file in the making is removed as
// the stop unwinds. A second SIGINT, SIGTERM or SIGHUP ends the process at once (the default
// action). A signal that comes while the last files are completed is not lost: the run ends
// with a message and a non-zero status, its complete files kept.
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
    struct sigaction previous_[4];
};

// Stops the run when one of the signals has arrived: "The run was stopped by signal SIGTERM".
void check_stop_signal();
// After the last file is complete: stops (nothing to remove) when a signal came meanwhile.
void check_late_signal();

// The name of the stop signal that has arrived ("SIGTERM"), or nullptr while none has: for a
// program that says itself what a stop leaves behind.
const char* received_stop_signal() noexcept;

} // namespace korvex
