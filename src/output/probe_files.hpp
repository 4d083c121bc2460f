// The result files of a scanning run: one image per detector (job 1) or one thickness-fringe
// profile per detector (job 2), in the layout of the beam images and profiles, with their PNG
// and TIFF copies.
#pragma once

#include "output/image_export.hpp"
#include "output/run_files.hpp"

#include <string>
#include <vector>

namespace korvex {

// images(i, j, k): the image of detector k + 1. Writes detector_path(st, k) for every detector;
// returns their names (the last is also last_image_path).
std::vector<std::string> detector_image_files(const State& st, RunFiles& rc,
                                              const Array3<double>& images);

// Job 2: the detectors' intensities of column min(islice, n_pixel_x) of every row after each
// slice (x = slice), written at the end.
class DetectorFringes {
  public:
    void open(const State& st);
    void slice(const State& st, const Array3<double>& images, int islice);
    void close();

  private:
    std::vector<std::string> names_, texts_;
    std::vector<ImageData> images_;
    std::vector<ImageInfo> infos_;
};

} // namespace korvex
