#include "state/fmt.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    // The digits as printf's "%.*E" gives them, then the exponent as E+dd, or +ddd without the
    // letter beyond two digits. Most values take their digits from one scaling (an image file
    // prints a value per column); the others, zero and the near-ties, from to_chars, which
    // rounds as printf does, exactly.
    char buf[352];
    const char* e = buf;
    int ex = 0;
    std::uint64_t m = 0;
    if (v != 0.0 && d <= 14 && significant_digits(std::fabs(v), d + 1, m, ex)) {
        char* p = buf;
        if (v < 0) *p++ = '-';
        char digits[16];
        for (int i = d; i >= 0; --i, m /= 10) digits[i] = static_cast<char>('0' + m % 10);
        *p++ = digits[0];
        if (d > 0) *p++ = '.';
        p = std::copy(digits + 1, digits + d + 1, p);
        e = p;
    } else {
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, d);
        e = std::find(buf, r.ptr, 'e');
        std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, ex);
    }
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

// The scaled value a 10^(n - 1 - x) is off by at most half an ulp, under 1.2e-16 10^n (one
// rounding, with an exact power of ten), so its nearest integer is the right one unless it lies
// within 4e-16 10^n of a half.
bool significant_digits(double a, int n, std::uint64_t& m, int& x) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double lo = kPow10[n - 1], hi = kPow10[n];
    // The decimal exponent from the binary one (log10 2 ~ 1233 / 4096): one off at most, which
    // the first pass mends. Subnormal numbers lie beyond the scalings below.
    const auto e2 = static_cast<int>(std::bit_cast<std::uint64_t>(a) >> 52 & 0x7ff) - 1023;
    if (e2 == -1023) return false;
    x = (e2 * 1233) >> 12;
    for (int pass = 0; pass < 2; ++pass) {
        const int k = n - 1 - x;
        if (k < -22 || k > 22) return false;
        const double s = k >= 0 ? a * kPow10[k] : a / kPow10[-k];
        if (s < lo || s >= hi) { // the estimate was one off
            x += s < lo ? -1 : 1;
            continue;
        }
        if (std::fabs(std::fabs(s - std::trunc(s)) - 0.5) < 4e-16 * hi) return false;
        double r = std::nearbyint(s);
        if (r >= hi) { // 9.99...9 rounds up to the next power
            r = lo;
            ++x;
        }
        m = static_cast<std::uint64_t>(r);
        return true;
    }
    return false;
}

namespace {

// The list form of a finite non-zero v from its ten digits, into buf (32 characters): "%.10G"
// (fixed for exponents -4 .. 9, else d.dddE+xx; trailing zeros and a bare point dropped), with
// ".0" after a whole number. Its length, or 0 where the ten digits are not certain.
int list_g10(char* buf, double v) {
    std::uint64_t m = 0;
    int x = 0;
    if (!significant_digits(std::fabs(v), 10, m, x)) return 0;
    char d[10];
    for (int i = 9; i >= 0; --i, m /= 10) d[i] = static_cast<char>('0' + m % 10);
    int n = 10; // digits kept
    while (n > 1 && d[n - 1] == '0') --n;
    char* p = buf;
    auto put = [&p](const char* from, int count) {
        std::memcpy(p, from, static_cast<std::size_t>(count));
        p += count;
    };
    if (v < 0) *p++ = '-';
    if (x >= -4 && x < 10) {
        if (x < 0) {
            put("0.000", 1 - x); // "0." and -x - 1 zeros
            put(d, n);
        } else {
            put(d, x + 1);
            if (n > x + 1) {
                *p++ = '.';
                put(d + x + 1, n - x - 1);
            } else {
                put(".0", 2);
            }
        }
        return static_cast<int>(p - buf);
    }
    *p++ = d[0];
    if (n > 1) {
        *p++ = '.';
        put(d + 1, n - 1);
    }
    put(x < 0 ? "E-" : "E+", 2);
    const int ax = std::abs(x);
    if (ax >= 100) *p++ = static_cast<char>('0' + ax / 100);
    *p++ = static_cast<char>('0' + ax / 10 % 10);
    *p++ = static_cast<char>('0' + ax % 10);
    return static_cast<int>(p - buf);
}

} // namespace

void append_list_real(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
        return;
    }
    // Most values: their ten digits from one scaling (the maps print hundreds of thousands).
    if (v != 0.0) {
        char buf[32];
        if (const int n = list_g10(buf, v)) {
            out.append(buf, static_cast<std::size_t>(n));
            return;
        }
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
