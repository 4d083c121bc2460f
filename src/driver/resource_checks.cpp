#include "driver/resource_checks.hpp"

#include "state/error.hpp"

#include <cstdio>
#include <fstream>
#include <sys/statvfs.h>
#include <unistd.h>

namespace korvex {

double available_memory() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    double kb = 0.0;
    std::string unit;
    while (in >> key >> kb) {
        std::getline(in, unit);
        if (key == "MemAvailable:") return kb * 1024.0;
    }
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? double(pages) * double(page) : 0.0;
}

std::optional<double> free_disk_space(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    struct statvfs s {};
    if (::statvfs(dir.c_str(), &s) != 0) return std::nullopt;
    return double(s.f_bavail) * double(s.f_frsize);
}

std::string size_text(double bytes) {
    static constexpr const char* kUnits[] = {"bytes", "kB", "MB", "GB", "TB", "PB"};
    std::size_t u = 0;
    while (bytes >= 1000.0 && u + 1 < std::size(kUnits)) bytes /= 1000.0, ++u;
    char buf[64];
    std::snprintf(buf, sizeof buf,
                  u == 0         ? "%.0f %s"
                  : bytes < 10.0 ? "%.1f %s"
                                 : "%.0f %s",
                  bytes, kUnits[u]);
    return buf;
}

void check_memory_need(double bytes, const std::string& what) {
    const double have = available_memory();
    if (have > 0.0 && bytes > have)
        halt("Not enough memory for " + what + ": about " + size_text(bytes) + " needed, " +
             size_text(have) + " available");
}

void check_disk_need(const std::string& path, double bytes, const std::string& what) {
    const auto have = free_disk_space(path);
    if (have && bytes > *have)
        halt("Not enough disk space for " + what + ": about " + size_text(bytes) + " needed, " +
             size_text(*have) + " free where \"" + path + "\" is written");
}

} // namespace korvex
