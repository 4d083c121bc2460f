// The frame of every small program: its work runs inside it, and however it ends, it ends with
// a message and a status, never an uncaught exception, and leaves no unfinished file behind.
//
// - A stop (bad input, a file that cannot be written, too little memory or disk space) prints
//   its message lines and gives status 1; an exception that is a fault of the program itself
//   gives "Internal error: ..." and status 2.
// - SIGINT, SIGTERM and SIGHUP are taken as the main program takes them (stop_signals.hpp): the
//   work stops at its next step (between slices, between chunks of atoms) and the files in the
//   making are removed as the stop unwinds.
// - A closed standard output (a pipe whose reader has gone) loses the messages, not the files;
//   a file-size limit makes a write fail with its reason instead of killing the process.
#pragma once

#include "state/error.hpp"
#include "state/stop_signals.hpp"

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <string>

namespace korvex::tools {

template <class Work> int run_tool(Work&& work) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    auto say = [](const std::string& text) {
        std::cout.clear();
        std::cout << text << std::flush;
    };
    try {
        const StopSignals signals;
        return work();
    } catch (const Fatal& e) {
        std::string text;
        for (const auto& l : e.lines()) text += ' ' + l + '\n';
        say(text);
        return 1;
    } catch (const std::bad_alloc&) {
        say(" Not enough memory: the system refused an allocation\n");
        return 1;
    } catch (const std::exception& e) {
        say(std::string(" Internal error: ") + e.what() + "\n");
        return 2;
    }
}

} // namespace korvex::tools
