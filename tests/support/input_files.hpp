// Writing input parameter files and directory files for tests that run whole simulations.
#pragma once

#include <string>

namespace korvex::testing {

struct InputSpec {
    std::string sample_no = "t1";
    std::string sample = "Cu";
    int job = 1;
    std::string ca = "no";
    double voltage = 200;
    std::string defect = "no";
    double size_x = 8, size_y = 8, size_z = 20;
    std::string foil = "0 0 1";
    std::string v_g = "2 0 0";
    int first = -1, last = 1;
    double f_g = 1.0;
    int iabs = 1;
};

// The 28-record input parameter file.
std::string input_text(const InputSpec& s);

// A "filesystem.ini" with every directory "./" except the data directory.
std::string filesystem_text(const std::string& datadir = "./");

} // namespace korvex::testing
