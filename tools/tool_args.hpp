// The command line of the small programs: options, each followed by a fixed number of values.
// A mistake prints the program's name, the complaint and where the usage is, and exits with
// status 2.
#pragma once

#include "optics/vectors.hpp"
#include "state/reader.hpp"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace korvex::tools {

class ToolArgs {
  public:
    ToolArgs(const char* program, int argc, char** argv)
        : program_(program), a_(argv + 1, argv + argc) {}

    [[noreturn]] void fail(const std::string& what) const {
        std::cerr << program_ << ": " << what << "\n(" << program_ << " --help shows the usage)\n";
        std::exit(2);
    }
    double number(const std::string& opt, const std::string& s) const {
        if (auto v = parse_fortran_real(s)) return *v;
        fail(opt + " expects numbers, found \"" + s + "\"");
    }
    int whole(const std::string& opt, const std::string& s) const {
        if (auto v = parse_fortran_int(s)) return *v;
        fail(opt + " expects whole numbers, found \"" + s + "\"");
    }

    // Walks the words: next() gives the next option (false at the end); take() the n values
    // after it, which are then passed over.
    bool next(std::string& opt) {
        if (started_) ++i_;
        started_ = true;
        if (i_ >= a_.size()) return false;
        opt = a_[i_];
        return true;
    }
    std::vector<std::string> take(const std::string& opt, std::size_t n) {
        if (a_.size() < i_ + 1 + n) fail(opt + " needs " + std::to_string(n) + " value(s)");
        std::vector<std::string> v(a_.begin() + static_cast<long>(i_ + 1),
                                   a_.begin() + static_cast<long>(i_ + 1 + n));
        i_ += n;
        return v;
    }
    Vec3 vec3(const std::string& opt) {
        const auto v = take(opt, 3);
        return Vec3{number(opt, v[0]), number(opt, v[1]), number(opt, v[2])};
    }

  private:
    std::string program_;
    std::vector<std::string> a_;
    std::size_t i_ = 0;
    bool started_ = false;
};

} // namespace korvex::tools
