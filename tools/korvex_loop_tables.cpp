// korvex_loop_tables: writes the five loop-integral tables ("i01.data" ... "i12.data") that the
// "tabulation" model of the circular loop reads, into a directory. A run of that model that
// finds none writes them itself; this makes them ahead of time. See docs/loops.md.
#include "defects/loop_tables.hpp"
#include "driver/resource_checks.hpp"
#include "state/stop_signals.hpp"
#include "state/textout.hpp"
#include "tool_main.hpp"

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace korvex;

int main(int argc, char** argv) {
    const std::string arg = argc > 1 ? argv[1] : "";
    const bool bad =
        argc > 2 || (arg.size() > 1 && arg[0] == '-' && arg != "-h" && arg != "--help");
    if (bad || arg == "-h" || arg == "--help") {
        std::cout
            << "Usage: korvex_loop_tables [DIR]\n\n"
               "Writes i01.data, i10.data, i11.data, i02.data and i12.data, the loop "
               "integrals of the\ncircular loop on the 200 x 200 grid |u|, v = 0.02 ... 4, "
               "into DIR (default: the\ncurrent directory), replacing tables already there.\n";
        return bad ? 2 : 0;
    }
    const auto stopped = [] {
        if (const char* sig = received_stop_signal())
            halt(std::string("Stopped by ") + sig + ": no table was written");
    };
    return tools::run_tool([&] {
        std::string dir = arg;
        if (!dir.empty() && dir.back() != '/') dir += '/';
        const auto t0 = std::chrono::steady_clock::now();
        LoopTables t;
        compute_loop_tables(t);
        stopped();
        std::vector<std::string> text;
        double bytes = 0.0;
        for (std::size_t w = 0; w < kLoopTableFiles.size(); ++w) {
            text.push_back(format_loop_table(t, w));
            bytes += double(text.back().size());
        }
        check_disk_need(dir + kLoopTableFiles[0], bytes, "the five loop-integral tables");
        // All five are written before any replaces a table already there.
        std::vector<std::unique_ptr<PendingFile>> files;
        for (std::size_t w = 0; w < kLoopTableFiles.size(); ++w) {
            files.push_back(written_text_file(dir + kLoopTableFiles[w], {text[w]}));
            stopped();
        }
        for (auto& f : files) f->commit();
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::cout << " Wrote";
        for (const char* w : kLoopTableFiles) std::cout << ' ' << dir << w;
        std::cout << " (" << secs << " s)\n";
        return 0;
    });
}
