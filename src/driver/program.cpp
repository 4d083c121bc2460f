#include "driver/program.hpp"

#include "state/error.hpp"

#include <iostream>

namespace korvex {

CommandLine parse_command_line(const std::vector<std::string>& args, std::ostream& out) {
    CommandLine cl;
    (void)args;
    (void)out;
    return cl;
}

int program_main(int argc, char** argv, const GraphicFactory& gui) {
    (void)argc;
    (void)argv;
    (void)gui;
    try {
    } catch (const Fatal& e) {
        for (const auto& l : e.lines()) std::cout << ' ' << l << '\n';
        std::cout.flush();
        return 1;
    }
    return 0;
}

} // namespace korvex
