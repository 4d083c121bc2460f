// The illumination of a run: parallel (the default), or a convergent probe scanned over the field
// with annular detectors (scanning diffraction contrast). Chosen on the command line:
//
//   --convergence=MRAD   probe convergence semi-angle alpha (mrad, finite, >= 0; default 0)
//   --directions=N       incident directions across the probe disc (N >= 1; default 1)
//   --detector=bf:B      bright field, collection semi-angles 0 .. B (mrad)
//   --detector=adf:B1:B2 annular dark field, B1 .. B2 (mrad)
//
// A detector makes the run a scanning one; --detector may be given more than once (one image
// per detector). A beam is taken by a detector when the angle between its exit direction and the
// probe axis lies in [inner, outer). How the directions are placed: optics/probe.hpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvex {

struct Detector {
    std::string kind;                // "bf" or "adf"
    double inner = 0.0, outer = 0.0; // collection semi-angles, mrad
    std::string option;              // the option as given, for messages
};

struct Illumination {
    double convergence = 0.0; // probe semi-angle, mrad
    int directions = 1;       // incident directions across the disc
    std::vector<Detector> detectors;
    std::string convergence_option, directions_option; // as given ("" when not)
    bool scanning() const { return !detectors.empty(); }
};

// Takes one --convergence=, --directions= or --detector= argument into `il`. Returns false when
// `arg` is none of them; throws nothing: a refused value gives `why` (naming the option and the
// value) and true.
bool illumination_option(std::string_view arg, Illumination& il, std::string& why);

// What the options together must hold (known before any input file is read): a convergence or a
// number of directions without a detector. "" when sound.
std::string illumination_conflict(const Illumination& il);

// The file names and labels of the detectors: "bf", "adf", and "adf2", "adf3", ... for a kind
// given more than once.
std::vector<std::string> detector_names(const Illumination& il);

// "BF 0-5 mrad", "ADF 20-60 mrad".
std::string detector_label(const Detector& d);

} // namespace korvex
