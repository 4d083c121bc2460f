#include "state/stop_signals.hpp"

#include "state/error.hpp"

#include <csignal>
#include <iterator>
#include <string>

namespace korvex {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The one datum a signal handler may touch, and so the one process-wide variable of the
// program: the number of the signal received, 0 for none.
volatile std::sig_atomic_t g_received = 0;

extern "C" void on_stop_signal(int sig) {
    g_received = sig;
}

} // namespace

StopSignals::StopSignals() {
    g_received = 0;
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        // Every line printed to a closed pipe raises SIGPIPE again: that one keeps its handler
        // (the write itself fails and the run stops at its next check).
        sa.sa_flags = kSignals[i] == SIGPIPE ? SA_RESTART : SA_RESETHAND | SA_RESTART;
        sigaction(kSignals[i], &sa, &previous_[i]);
    }
}

StopSignals::~StopSignals() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &previous_[i], nullptr);
}

namespace {

const char* signal_name(int sig) {
    switch (sig) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "SIGPIPE (the output was closed)";
    }
}

} // namespace

void check_stop_signal() {
    const int sig = g_received;
    if (sig == 0) return;
    halt({std::string("The run was stopped by signal ") + signal_name(sig) + ".",
          "Files not complete were removed; the images written before stay."});
}

void check_late_signal() {
    const int sig = g_received;
    if (sig == 0) return;
    halt({std::string("The run was interrupted by signal ") + signal_name(sig) + " as it ended.",
          "Its files were complete and stay."});
}

const char* received_stop_signal() noexcept {
    switch (g_received) {
    case 0:
        return nullptr;
    case SIGPIPE:
        return "SIGPIPE";
    default:
        return signal_name(g_received);
    }
}

} // namespace korvex
