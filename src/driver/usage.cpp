#include "driver/usage.hpp"

#include <algorithm>

namespace korvex {

const std::vector<OptionHelp>& option_table() {
    static const std::vector<OptionHelp> table = {
        {"-t <input file> [defect file]", "run in the terminal with this parameter file"},
        {"-x [input file [defect file]]", "graphic mode (the default), the form filled from them"},
        {"--engine=exact", "solve every column's structure matrix (the default)"},
        {"--engine=table", "interpolate tabulated slice transfers, solve near defect cores"},
        {"--absorption=first-order", "absorption to first order (the default)"},
        {"--absorption=exact", "exponential of the full complex matrix of every slice"},
        {"--pixel-size=A", "columns A Angstrom apart (default: about one per Angstrom)"},
        {"--slice-thickness=A", "slices A Angstrom thick (default: about one per Angstrom)"},
        {"--slice-thickness=auto[:T]",
         "slices of 1 to 27 such steps where the strain allows, phase error T (0.01 rad)"},
        {"--field-tolerance=T",
         "loops, tetrahedra, edges: field sampled, interpolated where the error < T (1/A)"},
        {"--detector=bf:B", "probe scan, bright-field detector of 0 .. B mrad"},
        {"--detector=adf:B1:B2", "probe scan, annular dark field of B1 .. B2 mrad"},
        {"--convergence=MRAD", "probe convergence semi-angle (default 0)"},
        {"--directions=N", "incident directions in the probe disc (default 1)"},
        {"--shared-grey", "one grey range for every beam of the overview picture"},
        {"--hdf5", "the results also in one HDF5 file, <out>.h5"},
        {"--help, -h", "print this help and exit"},
        {"--version", "print the version and exit"},
    };
    return table;
}

std::string program_version() {
    return KORVEX_VERSION;
}

void print_usage(std::ostream& out) {
    out << "Usage: korvex [--engine=exact|table] [--absorption=first-order|exact]\n"
        << "              [--detector=... [--convergence=MRAD] [--directions=N]]\n"
        << "              -t <input file> [defect configuration file]\n"
        << "       korvex [--engine=exact|table] [--absorption=first-order|exact]\n"
        << "              [-x [input file [defect configuration file]]]\n\n"
        << "TEM diffraction-contrast images of crystal defects, computed column by column\n"
        << "through a thin foil by the many-beam dynamical equations.\n\n"
        << "Options:\n";
    std::size_t width = 0;
    for (const auto& o : option_table()) width = std::max(width, std::string(o.form).size());
    for (const auto& o : option_table()) {
        const std::string form = o.form;
        out << "  " << form << std::string(width + 2 - form.size(), ' ') << o.what << '\n';
    }
    out << "\nThe user guide is docs/user_guide.md in the KORVEX source tree (input files,\n"
        << "defect files, outputs: docs/outputs.md).\n";
}

std::string information_request(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") return "--help";
        if (a == "--version") return "--version";
    }
    return {};
}

} // namespace korvex
