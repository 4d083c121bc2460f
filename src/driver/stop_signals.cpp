#include "driver/stop_signals.hpp"

#include "state/error.hpp"

#include <csignal>
#include <string>

namespace korvex {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

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
    sa.sa_flags = SA_RESETHAND | SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &sa, &previous_[i]);
}

StopSignals::~StopSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
}

void check_stop_signal() {
    const int sig = g_received;
    if (sig == 0) return;
    const char* name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
    halt({std::string("The run was stopped by signal ") + name + ".",
          "Files not complete were removed; the images written before stay."});
}

const char* received_stop_signal() noexcept {
    switch (g_received) {
    case 0:
        return nullptr;
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGPIPE:
        return "SIGPIPE";
    default:
        return "a stop signal";
    }
}

} // namespace korvex
