#include "driver/progress.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace korvex {

std::optional<std::string> indicator_line(int done, int total, double seconds) {
    if (total <= 0 || done < 1 || done > total) return std::nullopt;
    const long long tenth = (10LL * done) / total;
    const long long before = (10LL * (done - 1)) / total;
    if (tenth == before) return std::nullopt;
    std::string line = " " + std::to_string(tenth * 10) + "% finished";
    if (done < total && seconds >= 0.0)
        line += ", about " + duration_text(seconds * (total - done) / done) + " left";
    return line;
}

std::optional<std::string> SliceProgress::line(int done, int total) const {
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - start_;
    return indicator_line(done, total, d.count());
}

std::string duration_text(double seconds) {
    char b[48];
    if (!(seconds >= 0.0)) seconds = 0.0;
    if (seconds < 9.95)
        std::snprintf(b, sizeof b, "%.1f s", seconds);
    else if (seconds < 59.5)
        std::snprintf(b, sizeof b, "%.0f s", seconds);
    else if (seconds < 3599.5) {
        const long long s = std::llround(seconds);
        std::snprintf(b, sizeof b, "%lld min %02lld s", s / 60, s % 60);
    } else {
        const long long m = std::llround(seconds / 60.0);
        std::snprintf(b, sizeof b, "%lld h %02lld min", m / 60, m % 60);
    }
    return b;
}

std::vector<std::string> files_written(const std::string& dir,
                                       const std::vector<std::string>& prefixes,
                                       std::filesystem::file_time_type since) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code e2;
        if (!it->is_regular_file(e2) || e2) continue;
        const std::string name = it->path().filename().string();
        if (std::none_of(prefixes.begin(), prefixes.end(), [&](const std::string& p) {
                return !p.empty() && name.compare(0, p.size(), p) == 0;
            }))
            continue;
        const auto t = it->last_write_time(e2);
        if (!e2 && t >= since) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string run_summary(double seconds, const std::string& engine, const std::string& absorption,
                        const std::vector<std::pair<std::string, std::vector<std::string>>>& dirs) {
    std::string s = " Finished in " + duration_text(seconds) + ", engine " + engine +
                    ", absorption " + absorption + "\n";
    constexpr std::size_t kShown = 12;
    for (const auto& [dir, names] : dirs) {
        if (names.empty()) continue;
        s += " " + std::to_string(names.size()) + (names.size() == 1 ? " file" : " files") +
             " written in " + (dir.empty() ? std::string("./") : dir) + ":";
        for (std::size_t k = 0; k < names.size() && k < kShown; ++k) s += " " + names[k];
        if (names.size() > kShown)
            s += " ... and " + std::to_string(names.size() - kShown) + " more";
        s += "\n";
    }
    return s;
}

} // namespace korvex
