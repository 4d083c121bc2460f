#include "state/illumination.hpp"

#include "state/fmt.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

namespace korvex {

namespace {

// A whole number text as a double (no blanks, no trailing text), or NaN.
double number(std::string_view s) {
    const std::string t(s);
    if (t.empty() || std::isspace(static_cast<unsigned char>(t.front()))) return NAN;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || errno == ERANGE) return NAN;
    return v;
}

// A semi-angle: finite and not negative.
bool angle_ok(double v) {
    return std::isfinite(v) && v >= 0.0;
}

std::string quoted(std::string_view arg) {
    return "\"" + std::string(arg) + "\"";
}

std::string detector_value(std::string_view arg, std::string_view value, Detector& d) {
    const std::string form = "use --detector=bf:OUTER or --detector=adf:INNER:OUTER (mrad)";
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t colon = value.find(':', at);
        parts.push_back(value.substr(at, colon == value.npos ? value.npos : colon - at));
        if (colon == value.npos) break;
        at = colon + 1;
    }
    const std::string_view kind = parts.front();
    if (kind != "bf" && kind != "adf")
        return "Unknown detector in " + quoted(arg) + " (\"" + std::string(kind) + "\"): " + form;
    const std::size_t want = kind == "bf" ? 2 : 3;
    if (parts.size() != want)
        return "The " + std::string(kind == "bf" ? "bright-field" : "annular dark-field") +
               " detector " + quoted(arg) + " takes " + (want == 2 ? "one angle" : "two angles") +
               ": " + form;
    std::vector<double> a;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        a.push_back(number(parts[i]));
        if (!angle_ok(a.back()))
            return "The detector " + quoted(arg) + ": the semi-angle \"" + std::string(parts[i]) +
                   "\" must be a finite number of mrad, 0 or more";
    }
    d.kind = std::string(kind);
    d.inner = kind == "bf" ? 0.0 : a[0];
    d.outer = a.back();
    if (!(d.outer > d.inner))
        return "The detector " + quoted(arg) + ": its outer semi-angle (" + list_real(d.outer) +
               " mrad) must lie above its inner one (" + list_real(d.inner) +
               " mrad), or it takes nothing";
    d.option = std::string(arg);
    return "";
}

} // namespace

bool illumination_option(std::string_view arg, Illumination& il, std::string& why) {
    why.clear();
    auto value = [&](std::string_view key) { return arg.substr(key.size()); };
    if (arg.starts_with("--convergence=")) {
        const double v = number(value("--convergence="));
        if (!angle_ok(v))
            why = "The convergence semi-angle in " + quoted(arg) +
                  " must be a finite number of mrad, 0 or more";
        il.convergence = v;
        il.convergence_option = std::string(arg);
        return true;
    }
    if (arg.starts_with("--directions=")) {
        const double v = number(value("--directions="));
        if (!(v >= 1.0 && v <= 10000.0 && v == std::floor(v)))
            why = "The number of incident directions in " + quoted(arg) +
                  " must be a whole number from 1 to 10000";
        else
            il.directions = static_cast<int>(v);
        il.directions_option = std::string(arg);
        return true;
    }
    if (arg.starts_with("--detector=")) {
        Detector d;
        why = detector_value(arg, value("--detector="), d);
        if (why.empty()) il.detectors.push_back(d);
        return true;
    }
    return false;
}

std::string illumination_conflict(const Illumination& il) {
    if (il.scanning()) return "";
    const std::string& given =
        !il.convergence_option.empty() ? il.convergence_option : il.directions_option;
    if (given.empty()) return "";
    return quoted(given) + " describes a convergent probe, which needs a detector: add "
                           "--detector=bf:OUTER or --detector=adf:INNER:OUTER (mrad)";
}

std::vector<std::string> detector_names(const Illumination& il) {
    std::map<std::string, int> seen;
    std::vector<std::string> names;
    for (const Detector& d : il.detectors) {
        const int k = ++seen[d.kind];
        names.push_back(k == 1 ? d.kind : d.kind + std::to_string(k));
    }
    return names;
}

std::string detector_label(const Detector& d) {
    return std::string(d.kind == "bf" ? "BF " : "ADF ") + short_number(d.inner) + "-" +
           short_number(d.outer) + " mrad";
}

} // namespace korvex
