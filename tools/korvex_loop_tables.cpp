// korvex_loop_tables: writes the five loop-integral tables ("i01.data" ... "i12.data") that the
// "tabulation" model of the circular loop reads, into a directory. A run of that model that
// finds none writes them itself; this makes them ahead of time. See docs/loops.md.
#include "defects/loop_tables.hpp"
#include "driver/defect_files.hpp"
#include "state/error.hpp"

#include <chrono>
#include <iostream>
#include <string>

using namespace korvex;

int main(int argc, char** argv) {
    const std::string arg = argc > 1 ? argv[1] : "";
    if (argc > 2 || arg == "-h" || arg == "--help") {
        std::cout
            << "Usage: korvex_loop_tables [DIR]\n\n"
               "Writes i01.data, i10.data, i11.data, i02.data and i12.data, the loop "
               "integrals of the\ncircular loop on the 200 x 200 grid |u|, v = 0.02 ... 4, "
               "into DIR (default: the\ncurrent directory), replacing tables already there.\n";
        return argc > 2 ? 2 : 0;
    }
    try {
        std::string dir = arg;
        if (!dir.empty() && dir.back() != '/') dir += '/';
        const auto t0 = std::chrono::steady_clock::now();
        const auto written = write_loop_tables(dir, false);
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::cout << " Wrote";
        for (const auto& w : written) std::cout << ' ' << dir << w;
        std::cout << " (" << secs << " s)\n";
    } catch (const Fatal& e) {
        for (const auto& l : e.lines()) std::cout << ' ' << l << '\n';
        return 1;
    }
    return 0;
}
