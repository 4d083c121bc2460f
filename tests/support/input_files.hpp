// Whole text-mode runs of the korvex program: their input files and the images they leave.
#pragma once

#include "state/image_file.hpp"
#include "support/testing.hpp"

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

// The tags of the result files of beams -2 .. 3.
inline const std::string kBeamNames[] = {"-02g", "-01g", "00g", "01g", "02g", "03g"};

// The 28-record input parameter file.
std::string input_text(const InputSpec& s);

// A "filesystem.ini" with every directory "./" except the data directory.
std::string filesystem_text(const std::string& datadir = "./");

// `korvex -t in [defect.ini]` in a scratch directory: the constructor writes "filesystem.ini"
// (data directory `datadir`, relative, made if it can be) and the input "in"; a test can lay
// out files of its own before it calls `run`.
struct KorvexRun {
    ScratchDir dir;
    std::string data;
    int status = -1;
    std::string output;
    explicit KorvexRun(const InputSpec& in, const std::string& datadir = "./");
    // Writes `config` (if any) as "defect.ini" and runs with it and the `options` before "-t";
    // true on success.
    bool run(const std::string& config = "", const std::string& env = "",
             const std::string& options = "");
    std::string file(const std::string& name) const { return dir.str() + data + name; }
    ImageData image(const std::string& beam) const { return read_image_file(file("in" + beam)); }
};

// An nx x ny image of pixel size ux x uy Angstrom holding f(i, j).
template <class F> ImageData make_image(int nx, int ny, F&& f, double ux = 1.0, double uy = 1.0) {
    ImageData img;
    img.unit_x = ux, img.unit_y = uy;
    img.values.resize(nx, ny);
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) img.values(i, j) = f(i, j);
    return img;
}

// The image files print four significant digits: equal results print the same digits, or at a
// rounding boundary digits one unit apart.
bool same_printed(double a, double b);
// The number of columns of two images of one grid that differ beyond `same_printed`.
int differing_columns(const ImageData& a, const ImageData& b);

} // namespace korvex::testing
