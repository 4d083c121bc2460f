// The one way a run stops on bad input or an impossible state.
//
// Deep code throws `Fatal` with the exact message lines the user must see; only the program's
// main prints them (one line each, to standard output) and exits with a non-zero status. Tests
// catch the exception and compare the lines.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace korvex {

class Fatal : public std::runtime_error {
  public:
    explicit Fatal(std::string line) : Fatal(std::vector<std::string>{std::move(line)}) {}
    explicit Fatal(std::vector<std::string> lines)
        : std::runtime_error(join(lines)), lines_(std::move(lines)) {}
    // The message, one entry per output line, without the list-style leading blank.
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    static std::string join(const std::vector<std::string>& lines) {
        std::string s;
        for (const auto& l : lines) {
            if (!s.empty()) s += '\n';
            s += l;
        }
        return s;
    }
    std::vector<std::string> lines_;
};

// Stop the run with one or more message lines.
[[noreturn]] inline void halt(std::string line) {
    throw Fatal(std::move(line));
}
[[noreturn]] inline void halt(std::vector<std::string> lines) {
    throw Fatal(std::move(lines));
}

} // namespace korvex
