#include "state/fmt.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace korvex {

namespace {
std::string stars(int w) {
    return std::string(static_cast<std::size_t>(w > 0 ? w : 0), '*');
}
std::string right(const std::string& s, int w) {
    if (static_cast<int>(s.size()) > w) return stars(w);
    return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}
} // namespace

std::string fmt_i(long long v, int w) {
    return right(std::to_string(v), w);
}

std::string fmt_f(double v, int w, int d) {
    if (!std::isfinite(v))
        return right(std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity"), w);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", d, v);
    std::string s = buf;
    // A value that rounds to zero carries no sign.
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    if (static_cast<int>(s.size()) > w) {
        if (s.rfind("0.", 0) == 0)
            s.erase(0, 1);
        else if (s.rfind("-0.", 0) == 0)
            s.erase(1, 1);
    }
    return right(s, w);
}

std::string fmt_es(double v, int w, int d) {
    if (!std::isfinite(v))
        return right(std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity"), w);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*E", d, v);
    std::string s = buf;
    const auto e = s.find('E');
    std::string mant = s.substr(0, e);
    int ex = std::atoi(s.c_str() + e + 1);
    std::string exs;
    if (std::abs(ex) <= 99) {
        char eb[32];
        std::snprintf(eb, sizeof eb, "E%c%02d", ex < 0 ? '-' : '+', std::abs(ex));
        exs = eb;
    } else {
        char eb[32];
        std::snprintf(eb, sizeof eb, "%c%03d", ex < 0 ? '-' : '+', std::abs(ex));
        exs = eb;
    }
    return right(mant + exs, w);
}

std::string fmt_a(const std::string& s, int w) {
    if (static_cast<int>(s.size()) >= w) return s.substr(0, static_cast<std::size_t>(w));
    return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

std::string list_int(long long v) {
    return std::to_string(v);
}

std::string list_real(double v) {
    if (!std::isfinite(v)) return std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10G", v);
    std::string s = buf;
    if (s.find_first_of(".E") == std::string::npos) s += ".0";
    return s;
}

std::string pad(const std::string& s, std::size_t w) {
    std::string r = s.substr(0, w);
    r.resize(w, ' ');
    return r;
}

std::string trim(const std::string& s) {
    const auto e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

std::string short_number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace korvex
