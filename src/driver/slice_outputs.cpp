#include "driver/slice_outputs.hpp"

#include "defects/tetrahedron.hpp"
#include "driver/defect_files.hpp"
#include "driver/finite_check.hpp"
#include "state/fmt.hpp"
#include "state/image_file.hpp"
#include "state/textout.hpp"

#include <algorithm>
#include <array>
#include <exception>
#include <string>
#include <vector>

namespace korvex {

void print_loop_sgr(const State& st, const Array3<double>& s_g_r, LoopMapsScratch& scratch) {
    const int nx = st.n_xyz[0], ny = st.n_xyz[1], nb = std::max(st.n_beams, 0);
    // Each beam's records in parts, so that the threads share the slice evenly whatever the
    // number of beams.
    const int parts = std::max(1, std::min(nx, 8));
    auto& beams = scratch.beams;
    auto& text = scratch.text;
    beams.resize(static_cast<std::size_t>(nb));
    text.resize(static_cast<std::size_t>(nb));
    for (auto& t : text) t.resize(static_cast<std::size_t>(parts));
    // A failure stops the run after the loop, as the first failing beam's error.
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(nb));
#pragma omp parallel
    {
#pragma omp for schedule(static)
        for (int n = 1; n <= nb; ++n) {
            ImageData& img = beams[static_cast<std::size_t>(n - 1)];
            img.unit_x = st.size[0] / nx;
            img.unit_y = st.size[1] / ny;
            if (img.nx() != nx || img.ny() != ny) img.values.resize(nx, ny);
            for (int j = 1; j <= ny; ++j)
                for (int i = 1; i <= nx; ++i) img.values(i, j) = s_g_r(i, j, n);
        }
#pragma omp for schedule(dynamic, 1)
        for (int t = 0; t < nb * parts; ++t) {
            const auto k = static_cast<std::size_t>(t / parts);
            std::string& part = text[k][static_cast<std::size_t>(t % parts)];
            part = image_part(std::move(part), beams[k], RowFormat::list, t % parts, parts);
        }
#pragma omp for schedule(dynamic, 1)
        for (int n = 1; n <= nb; ++n) try {
                std::string nn = std::to_string(n);
                if (nn.size() < 2) nn = "0" + nn;
                write_text_file(trim(st.f_out) + "sgr" + nn, text[static_cast<std::size_t>(n - 1)]);
            } catch (...) {
                errors[static_cast<std::size_t>(n - 1)] = std::current_exception();
            }
    }
    for (const auto& e : errors)
        if (e) std::rethrow_exception(e);
}

namespace {

class SliceOutputs final : public DefectField {
  public:
    SliceOutputs(std::unique_ptr<DefectField> inner, DefectKind kind, bool writer)
        : inner_(std::move(inner)), kind_(kind), writer_(writer) {}

    void fill_slice(const State& st, Workspace& w, int islice) override {
        before(st);
        inner_->fill_slice(st, w, islice);
        if (kind_ == DefectKind::loop && writer_) {
            check_finite_strain(st, w.s_g_r, islice);
            print_loop_sgr(st, w.s_g_r, maps_);
        }
    }
    void keep_rows(int first, int last) override { inner_->keep_rows(first, last); }
    // The circular loop's maps need the whole slice.
    bool fills_rows() const override { return kind_ != DefectKind::loop && inner_->fills_rows(); }
    RowFill rows_of_slice(const State& st, Workspace& w, int islice) override {
        before(st);
        return inner_->rows_of_slice(st, w, islice);
    }
    void fill_column(const State& st, Workspace& w, int islice) override {
        before(st);
        inner_->fill_column(st, w, islice);
    }

  private:
    // The tetrahedron's four face files in the run directory, as the configuration describes
    // them at this slice. A face file already written with the same text is not written again:
    // the amplitude-phase job visits every slice once per column position, and rewriting four
    // files there cost far more than the columns themselves.
    void before(const State& st) {
        if (kind_ != DefectKind::tetrahedron || !writer_) return;
        const TetrahedronFile t = read_tetrahedron_file(st.f_defect);
        for (std::size_t face = 0; face < faces_.size(); ++face) {
            std::string text = tetrahedron_face_text(st, t, static_cast<int>(face));
            const std::string path = trim(st.rundir) + kTetrahedronFaces[face].name + ".ini";
            if (text == faces_[face] && path == face_dir_[face]) continue;
            write_text_file(path, text);
            faces_[face] = std::move(text);
            face_dir_[face] = path;
        }
    }

    std::unique_ptr<DefectField> inner_;
    DefectKind kind_;
    bool writer_;
    LoopMapsScratch maps_;
    std::array<std::string, 4> faces_, face_dir_; // the face files as last written
};

} // namespace

std::unique_ptr<DefectField> with_slice_outputs(std::unique_ptr<DefectField> field, const State& st,
                                                bool writer) {
    return std::make_unique<SliceOutputs>(std::move(field), st.defect_kind, writer);
}

} // namespace korvex
