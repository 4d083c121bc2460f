#include "output/probe_report.hpp"

#include "output/record.hpp"
#include "state/fmt.hpp"

namespace korvex {

namespace {

// The directions the probe has: one (the axis) without convergence.
int directions(const Illumination& il) {
    return il.convergence > 0.0 ? il.directions : 1;
}

} // namespace

std::string illumination_caption(const State& st) {
    const Illumination& il = st.illumination;
    if (!il.scanning()) return "";
    const int n = directions(il);
    std::string s = "probe " + short_number(il.convergence) + " mrad, " + std::to_string(n) +
                    (n == 1 ? " direction" : " directions");
    for (const Detector& d : il.detectors) s += ", " + detector_label(d);
    return s;
}

std::vector<std::string> illumination_section(const State& st) {
    const Illumination& il = st.illumination;
    if (!il.scanning()) return {};
    std::vector<std::string> r;
    auto text = [&](const std::string& s) { r.push_back(Rec(s).list()); };
    text("Illumination: scanning probe, incoherent sum over incident directions");
    r.push_back((Rec("convergence semi-angle ") << il.convergence << " mrad").list());
    r.push_back(
        (Rec("incident directions ") << directions(il) << " (equal weights, centre and rings)")
            .list());
    const std::vector<std::string> names = detector_names(il);
    for (std::size_t k = 0; k < il.detectors.size(); ++k)
        text("detector " + names[k] + ": " + detector_label(il.detectors[k]) + ", image " +
             trim(st.f_out) + "_" + names[k]);
    r.push_back(Rec(std::string(39, '-')).list());
    return r;
}

std::string detector_path(const State& st, std::size_t k) {
    return trim(st.datadir) + trim(st.f_out) + "_" + detector_names(st.illumination).at(k);
}

} // namespace korvex
