// What `korvex --help` and `korvex --version` print.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace korvex {

// One command-line option as --help lists it.
struct OptionHelp {
    const char* form; // as typed, e.g. "-t <input file> [defect file]"
    const char* what; // one line
};

// Every option the program understands, in the order --help lists them.
const std::vector<OptionHelp>& option_table();

// The program's version ("0.1.0").
std::string program_version();

// Usage, options and where the user guide is.
void print_usage(std::ostream& out);

// The first of "--help"/"-h" or "--version" among `args`, or empty: these are answered before
// anything else happens.
std::string information_request(const std::vector<std::string>& args);

} // namespace korvex
