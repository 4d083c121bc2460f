#include "support/testing.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace korvex::testing {

ScratchDir::ScratchDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    do path_ = base / ("korvex-test-" + std::to_string(rd()));
    while (!std::filesystem::create_directory(path_));
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    if (entered_) std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}

void ScratchDir::enter() {
    if (!entered_) previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
    entered_ = true;
}

void ScratchDir::write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name, std::ios::binary) << text;
}

std::set<std::string> ScratchDir::names(const std::string& sub) const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_ / sub))
        names.insert(e.path().filename().string());
    return names;
}

std::string read_file(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream s(text);
    for (std::string l; std::getline(s, l);) lines.push_back(l);
    return lines;
}

::testing::AssertionResult near_rel(double a, double b, double rel, double abs) {
    if (std::abs(a - b) <= abs + rel * std::abs(b)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a << " differs from " << b << " by " << std::abs(a - b)
                                         << " (rel " << rel << ", abs " << abs << ")";
}

int run_program(const std::string& dir, const std::string& args, std::string& output,
                const std::string& env) {
    const std::string cmd =
        "cd '" + dir + "' && " + env + " " + KORVEX_BINARY + " " + args + " </dev/null 2>&1";
    output.clear();
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf{};
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;)
        output.append(buf.data(), n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace korvex::testing
