// The numeric result files of a run: per-beam images, thickness-fringe profiles, layer images,
// the middle-slice strain maps and the slice table.
#pragma once

#include "output/image_export.hpp"
#include "output/run_files.hpp"
#include "state/image_file.hpp"
#include "state/state.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace korvex {

// The beam tag of order m: "01g", "00g", "-02g".
std::string beam_tag(int m);

// Image of beam n of a per-column array (mtx_intensity, s_g_r).
ImageData beam_image(const State& st, const Array3<double>& a, int n);

// Jobs 1 and 3 after the last slice: one image per beam; last_image_path names the last one.
void amplitude_contrast_images(const State& st, RunFiles& rc);

// Job 3: the layer image of the beam of order 1 after slice `islice`; sets last_layer_name and
// last_image_path. Returns false (writing nothing) when the beam row has no beam of order 1.
bool multi_layer_images(const State& st, RunFiles& rc, int islice);

// Middle-slice maps of s_g_r, one per beam: tag//"sgr".
void print_sgr(const State& st);

// Job 2: the profiles of every beam, collected slice by slice and written whole at the end
// (with their picture and float copies).
class ThicknessFringes {
  public:
    void open_files(const State& st);
    void thickness_fringes(const State& st, int islice);
    // The column of the image whose intensities the profiles take after slice `islice`.
    static int column(const State& st, int islice) { return std::min(islice, st.n_pixel_x); }
    void close_files();
    // The profiles as images (x = slice), until close_files.
    const std::vector<ImageData>& images() const { return images_; }

  private:
    std::vector<std::string> names_, texts_;
    // The same profiles as images (x = slice), for the picture and float copies.
    std::vector<ImageData> images_;
    std::vector<ImageInfo> infos_;
};

// trim(f_out)//".slice" in the working directory.
void write_slice_table(const State& st);

} // namespace korvex
