#include "support/input_files.hpp"

#include <sstream>

namespace korvex::testing {

std::string input_text(const InputSpec& s) {
    std::ostringstream o;
    o << "Specimen\n" << s.sample_no << "\n";
    o << "Crystal\n" << s.sample << "\n";
    o << "Job\n" << s.job << "\n";
    o << "Column approximation\n" << s.ca << "\n";
    o << "Voltage (kV)\n" << s.voltage << "\n";
    o << "Defect\n" << s.defect << "\n";
    o << "Width x\n" << s.size_x << "\n";
    o << "Width y\n" << s.size_y << "\n";
    o << "Thickness\n" << s.size_z << "\n";
    o << "Zone axis\n" << s.foil << "\n";
    o << "Diffraction vector\n" << s.v_g << "\n";
    o << "Beams\n" << s.first << " " << s.last << "\n";
    o << "Condition (g,ng)\n" << s.f_g << "\n";
    o << "Absorption\n" << s.iabs << "\n";
    return o.str();
}

std::string filesystem_text(const std::string& datadir) {
    return "directories\n---\n''\n'./'\n'./'\n'./'\n'" + datadir + "'\n";
}

} // namespace korvex::testing
