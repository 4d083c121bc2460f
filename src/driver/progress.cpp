#include "driver/progress.hpp"

namespace korvex {

std::optional<std::string> indicator_line(int done, int total) {
    if (total <= 0) return std::nullopt;
    const long long p = (100LL * done) / total;
    const long long before = (100LL * done - 100) / total;
    if (p == before) return std::nullopt;
    return " " + std::to_string(p) + "% finished";
}

} // namespace korvex
