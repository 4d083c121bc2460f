#include "output/probe_files.hpp"

#include "output/probe_report.hpp"
#include "output/result_files.hpp"
#include "state/fmt.hpp"
#include "state/textout.hpp"

#include <algorithm>

namespace korvex {

namespace {

ImageInfo detector_info(const State& st, std::size_t k, const std::string& quantity) {
    ImageInfo info = image_info(st, 0);
    info.detector = detector_label(st.illumination.detectors.at(k));
    info.quantity = quantity + " on the detector " +
                    detector_label(st.illumination.detectors.at(k)) + " (" +
                    illumination_caption(st) + ")";
    return info;
}

} // namespace

std::vector<std::string> detector_image_files(const State& st, RunFiles& rc,
                                              const Array3<double>& images) {
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < st.illumination.detectors.size(); ++k) {
        const std::string path = detector_path(st, k);
        const ImageData img = beam_image(st, images, static_cast<int>(k) + 1);
        write_image_file(path, img, RowFormat::es12_3);
        export_views(path, img, RowFormat::es12_3, detector_info(st, k, "intensity"));
        rc.last_image_path = path;
        paths.push_back(path);
    }
    return paths;
}

void DetectorFringes::open(const State& st) {
    *this = DetectorFringes{};
    for (std::size_t k = 0; k < st.illumination.detectors.size(); ++k) {
        ImageData img;
        img.unit_x = st.unit_z; // one column per slice
        img.unit_y = st.unit_y;
        img.values.resize(st.effslicenumber, st.n_pixel_y);
        images_.push_back(std::move(img));
        ImageInfo info = detector_info(st, k, "intensity against depth (thickness fringes)");
        info.x_axis = "depth: column k is the exit of slice k";
        infos_.push_back(std::move(info));
        names_.push_back(detector_path(st, k));
        texts_.push_back(" width\n " + list_int(st.n_pixel_x) + "\n height\n " +
                         list_int(st.n_pixel_y) + "\n unit of width\n " + list_real(st.unit_x) +
                         "\n unit of height\n " + list_real(st.unit_y) + "\n");
    }
}

void DetectorFringes::slice(const State& st, const Array3<double>& images, int islice) {
    const int x = ThicknessFringes::column(st, islice);
    for (std::size_t k = 0; k < names_.size(); ++k) {
        std::string& t = texts_[k];
        ImageData& img = images_[k];
        for (int j = 1; j <= st.n_pixel_y; ++j) {
            const double v = images(x, j, static_cast<int>(k) + 1);
            t += ' ';
            t += list_real(v);
            if (islice <= img.nx()) img.values(islice, j) = v;
        }
        t += '\n';
    }
}

void DetectorFringes::close() {
    for (std::size_t k = 0; k < names_.size(); ++k) {
        write_text_file(names_[k], texts_[k]);
        export_views(names_[k], images_[k], RowFormat::list, infos_[k]);
    }
    *this = DetectorFringes{};
}

} // namespace korvex
