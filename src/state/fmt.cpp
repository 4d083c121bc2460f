#include "state/fmt.hpp"

#include <algorithm>
#include <charconv>
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

void append_es(std::string& out, double v, int w, int d) {
    if (!std::isfinite(v) || d < 0 || d > 300) {
        out += fmt_es(v, w, d);
        return;
    }
    // The digits as printf's "%.*E" gives them (to_chars rounds the same, exactly), then the
    // exponent as E+dd, or +ddd without the letter beyond two digits.
    char buf[352];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, d);
    const char* e = std::find(buf, r.ptr, 'e');
    int ex = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, ex);
    const int aex = std::abs(ex);
    char tail[8];
    char* t = tail;
    if (aex <= 99) *t++ = 'E';
    *t++ = ex < 0 ? '-' : '+';
    if (aex > 99) *t++ = static_cast<char>('0' + aex / 100);
    *t++ = static_cast<char>('0' + aex / 10 % 10);
    *t++ = static_cast<char>('0' + aex % 10);
    const std::size_t len = static_cast<std::size_t>(e - buf) + static_cast<std::size_t>(t - tail);
    if (static_cast<int>(len) > w) {
        out += stars(w);
        return;
    }
    out.append(static_cast<std::size_t>(w) - len, ' ');
    out.append(buf, static_cast<std::size_t>(e - buf));
    out.append(tail, static_cast<std::size_t>(t - tail));
}

std::string fmt_es(double v, int w, int d) {
    if (!std::isfinite(v))
        return right(std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity"), w);
    if (d >= 0 && d <= 300) {
        std::string s;
        append_es(s, v, w, d);
        return s;
    }
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

void append_list_real(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
        return;
    }
    // "%.10G": to_chars gives printf's digits and layout, with a lower-case exponent letter.
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 10);
    bool point = false;
    for (char* c = buf; c != r.ptr; ++c) {
        if (*c == 'e') *c = 'E';
        point = point || *c == '.' || *c == 'E';
    }
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
    if (!point) out += ".0";
}

std::string list_real(double v) {
    std::string s;
    append_list_real(s, v);
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
