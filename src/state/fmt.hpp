// Text forms of numbers used by every file and message the program writes: fixed-width
// fields (integer, fixed point, scientific, text) and the free "list style" of records whose
// items are simply separated by blanks.
#pragma once

#include <cstdint>
#include <string>

namespace korvex {

// Integer right-justified in `w` characters; all '*' when it does not fit.
std::string fmt_i(long long v, int w);
// Fixed point with `d` decimals right-justified in `w` characters ("  0.500");
// the leading zero of |v| < 1 is dropped when only that makes it fit; all '*' otherwise.
std::string fmt_f(double v, int w, int d);
// Scientific with one non-zero digit before the point and `d` after it ("  1.234E-01").
std::string fmt_es(double v, int w, int d);
// fmt_es appended to `out` (the image files' hot path).
void append_es(std::string& out, double v, int w, int d);
// The n (1 .. 15) significant decimal digits of a > 0, rounded as printf rounds, as an integer m
// in [10^(n-1), 10^n), and the decimal exponent x of the first digit: a = m 10^(x - n + 1). From
// one scaling by an exact power of ten; false where that cannot vouch for the rounding (a value
// within a few 1e-16 of a tie, or beyond the exact powers), for the caller's text route.
bool significant_digits(double a, int n, std::uint64_t& m, int& x);
// Text in a field of `w`: right-justified when shorter, its first `w` characters when longer.
std::string fmt_a(const std::string& s, int w);

// Free-format numbers: an integer as its digits; a real with ten significant digits, always
// showing a point or an exponent ("200.0", "0.02507000193", "1.2E-05").
std::string list_int(long long v);
std::string list_real(double v);
// list_real appended to `out`.
void append_list_real(std::string& out, double v);

// Text padded with blanks (or cut) to exactly `w` characters.
std::string pad(const std::string& s, std::size_t w);
// Text without its trailing blanks.
std::string trim(const std::string& s);
// The shortest plain text of a value for captions and labels (printf %g: "0.5", "200").
std::string short_number(double v);

} // namespace korvex
