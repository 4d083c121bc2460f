#include "defects/elasticity.hpp"

#include <algorithm>
#include <cctype>

namespace korvex {

namespace {

// The first value of a record as text: it ends at a blank, comma or slash unless quoted.
std::string first_word(const std::string& line) {
    std::size_t i = line.find_first_not_of(" \t,");
    if (i == std::string::npos) return "";
    if (line[i] == '\'' || line[i] == '"') {
        const std::size_t end = line.find(line[i], i + 1);
        return line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    }
    const std::size_t end = line.find_first_of(" \t,/", i);
    return line.substr(i, end == std::string::npos ? std::string::npos : end - i);
}

} // namespace

Elasticity read_elasticity(RecordReader& r) {
    std::string last;
    int last_no = 0;
    while (const auto line = r.next_record()) {
        std::string w = first_word(*line);
        if (w.empty()) continue;
        std::transform(w.begin(), w.end(), w.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        last = w;
        last_no = r.record();
    }
    if (last == "anisotropic") return Elasticity::anisotropic;
    if (last.empty() || last == "isotropic" || parse_fortran_real(last))
        return Elasticity::isotropic;
    throw ReadError("Error reading \"" + r.name() + "\": record " + std::to_string(last_no) +
                    " holds \"" + last +
                    "\", but the elasticity is \"isotropic\" or \"anisotropic\"");
}

const char* elasticity_name(Elasticity e) {
    return e == Elasticity::anisotropic ? "anisotropic" : "isotropic";
}

std::shared_ptr<const StrohDislocation> StrohCache::get(const CubicElastic& c, const Mat3& frame,
                                                        const Vec3& b) {
    const bool same = field_ && c.c11 == c_.c11 && c.c12 == c_.c12 && c.c44 == c_.c44 &&
                      frame.a == frame_.a && b == b_;
    if (!same) {
        field_ = std::make_shared<const StrohDislocation>(c, frame, b);
        c_ = c;
        frame_ = frame;
        b_ = b;
    }
    return field_;
}

} // namespace korvex
