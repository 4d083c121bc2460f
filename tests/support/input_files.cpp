#include "support/input_files.hpp"

#include <cmath>
#include <sstream>

namespace korvex::testing {

std::string input_text(const InputSpec& s) {
    std::ostringstream o;
    o << "Specimen\n" << s.sample_no << "\nCrystal\n" << s.sample << "\nJob\n" << s.job;
    o << "\nColumn approximation\n" << s.ca << "\nVoltage (kV)\n" << s.voltage;
    o << "\nDefect\n" << s.defect << "\nWidth x\n" << s.size_x << "\nWidth y\n" << s.size_y;
    o << "\nThickness\n" << s.size_z << "\nZone axis\n" << s.foil;
    o << "\nDiffraction vector\n" << s.v_g << "\nBeams\n" << s.first << " " << s.last;
    o << "\nCondition (g,ng)\n" << s.f_g << "\nAbsorption\n" << s.iabs << "\n";
    return o.str();
}

std::string filesystem_text(const std::string& datadir) {
    return "directories\n---\n''\n'./'\n'./'\n'./'\n'" + datadir + "'\n";
}

KorvexRun::KorvexRun(const InputSpec& in, const std::string& datadir) : data(datadir) {
    dir.write("filesystem.ini", filesystem_text(datadir));
    dir.write("in", input_text(in));
    std::error_code ec;
    std::filesystem::create_directories(dir.path() / datadir, ec);
}

bool KorvexRun::run(const std::string& config, const std::string& env, const std::string& options) {
    if (!config.empty()) dir.write("defect.ini", config);
    status = run_program(dir.str(), options + (config.empty() ? " -t in" : " -t in defect.ini"),
                         output, env);
    return status == 0;
}

bool same_printed(double a, double b) {
    const double m = std::max(std::abs(a), std::abs(b));
    return m == 0.0 || std::abs(a - b) <= 1.01 * std::pow(10.0, std::floor(std::log10(m)) - 3.0);
}

int differing_columns(const ImageData& a, const ImageData& b) {
    if (a.nx() != b.nx() || a.ny() != b.ny()) return a.nx() * a.ny() + 1;
    int n = 0;
    for (int j = 1; j <= a.ny(); ++j)
        for (int i = 1; i <= a.nx(); ++i) n += !same_printed(a.values(i, j), b.values(i, j));
    return n;
}

} // namespace korvex::testing
