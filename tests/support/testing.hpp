// Shared test helpers: scratch directories, stop assertions, file reading, tolerances.
#pragma once

#include "state/error.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace korvex::testing {

// A test file's `using namespace korvex::testing;` brings the project's names with the helpers.
using namespace korvex;

using Lines = std::vector<std::string>;

std::string read_file(const std::string& path);
std::vector<std::string> split_lines(const std::string& text);
inline std::vector<std::string> read_lines(const std::string& path) {
    return split_lines(read_file(path));
}

// A fresh directory under the system temporary directory, removed at destruction; while it
// lives the process's working directory can be switched into it with `enter()`.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string() + "/"; }
    // Makes this the working directory until destruction.
    void enter();
    // Files relative to the directory.
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const { return read_file(str() + name); }
    bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }
    // The names of the entries of the directory or of its sub-directory `sub`.
    std::set<std::string> names(const std::string& sub = "") const;

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
    bool entered_ = false;
};

// Runs `f` and returns the message lines of the stop (of type E) it must raise (fails the test
// otherwise).
template <class E = Fatal, class F> std::vector<std::string> stop_lines(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.lines();
    }
    ADD_FAILURE() << "expected the run to stop";
    return {};
}

// The relativistic electron wavelength in Angstrom at `kv` kilovolts,
// h / sqrt(2 m e V (1 + e V / 2 m c^2)), from the physical constants.
inline double electron_wavelength(double kv) {
    return 12.2643 / std::sqrt(kv * 1e3 * (1.0 + 0.978476e-6 * kv * 1e3));
}

// Bit-for-bit equality of two arrays (Array1/2/3 and the like).
template <class A> bool same_bits(const A& a, const A& b) {
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(*a.data())) == 0;
}

// d f / d p[e] at p by central differences of step h.
template <class F, class P> double central_difference(F&& f, const P& p, std::size_t e, double h) {
    P a = p, b = p;
    a[e] += h;
    b[e] -= h;
    return (f(a) - f(b)) / (2 * h);
}

// Whether `text` contains `part`; the failure shows both.
inline ::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// |a - b| <= abs + rel * |b|
::testing::AssertionResult near_rel(double a, double b, double rel, double abs = 0.0);

// Runs a shell command, its output discarded; true when it succeeded.
inline bool shell(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}
inline bool have(const std::string& tool) {
    return shell("command -v " + tool);
}

// Runs the korvex program with arguments in directory `dir`; returns the exit status and
// fills `output` with standard output and standard error together.
int run_program(const std::string& dir, const std::string& args, std::string& output,
                const std::string& env = "");

} // namespace korvex::testing
