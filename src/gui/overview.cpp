#include "gui/overview.hpp"

#include "driver/defect_caption.hpp"
#include "driver/image_export.hpp"
#include "gui/gif_file.hpp"
#include "gui/plot.hpp"
#include "gui/viewer.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace korvex {

namespace {

// A private directory for the page the plot library writes, removed with what is in it.
struct TempDir {
    std::string path;
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/korvex-page-XXXXXX";
        if (::mkdtemp(templ.data())) path = templ;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

// The bytes of a file, empty when it cannot be read.
std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether `b` starts as a PNG of 8-bit RGB pixels (no alpha), `width` x `height`.
bool is_rgb_png(const std::string& b, int width, int height) {
    static constexpr unsigned char kStart[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                               0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    if (b.size() < 33 ||
        b.compare(0, sizeof kStart, reinterpret_cast<const char*>(kStart), sizeof kStart) != 0)
        return false;
    auto u32 = [&b](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) v = v << 8 | static_cast<unsigned char>(b[at + k]);
        return v;
    };
    return u32(16) == static_cast<std::uint32_t>(width) &&
           u32(20) == static_cast<std::uint32_t>(height) && b[24] == 8 && b[25] == 2;
}

class PageWriter final : public OverviewWriter {
  public:
    explicit PageWriter(Graphics& gr) : gr_(gr) {}
    void write(const State& st, const std::vector<OverviewRow>& rows,
               const std::string& path) override;

  private:
    Graphics& gr_;
};

void PageWriter::write(const State& st, const std::vector<OverviewRow>& rows,
                       const std::string& path) {
    std::size_t beams = 0;
    for (const auto& r : rows) beams = std::max(beams, r.images.size());
    const OverviewPage p = overview_page(static_cast<int>(beams), static_cast<int>(rows.size()));
    // The images, read on every thread before the page is drawn (the plot library is not for
    // threads); a file that cannot be read stops the run as its drawing would have.
    std::vector<std::string> paths;
    for (const auto& r : rows) paths.insert(paths.end(), r.images.begin(), r.images.end());
    std::vector<ImageData> images(paths.size());
    std::vector<std::exception_ptr> failed(paths.size());
#pragma omp parallel for schedule(dynamic, 1)
    for (std::size_t k = 0; k < paths.size(); ++k) try {
            images[k] = read_image_file(paths[k]);
        } catch (...) {
            failed[k] = std::current_exception();
        }
    for (const auto& e : failed)
        if (e) std::rethrow_exception(e);

    TempDir tmp;
    const std::string page = tmp.path + "/page.png";
    if (tmp.path.empty() || gr_.open_picture(page, p.width, p.height) <= 0) {
        st.console() << " * WARNING: the overview picture " << path << " could not be drawn\n";
        return;
    }
    std::ostringstream quiet;
    Gui gui{gr_, quiet, {}, 0, 0};
    const float W = static_cast<float>(p.width), H = static_cast<float>(p.height);
    // About 13 pixels: a character height of 1 is 1/40 of the page's height.
    const float text = 13.0f * 40.0f / H;
    gr_.sci(1);
    gr_.sch(1.1f * text);
    gr_.svp(0.0f, 1.0f, 1.0f - static_cast<float>(p.header) / H, 1.0f);
    gr_.swin(0.0f, 1.0f, 0.0f, 1.0f);
    gr_.ptxt(8.0f / W, 0.35f, 0.0f, 0.0f, overview_caption(st, rows));

    const float P = static_cast<float>(p.panel);
    std::size_t next = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const float top = H - static_cast<float>(p.header) - static_cast<float>(r) * P;
        if (p.left > 0) {
            gr_.svp(0.0f, static_cast<float>(p.left) / W, (top - P) / H, top / H);
            gr_.swin(0.0f, 1.0f, 0.0f, 1.0f);
            gr_.sci(1);
            gr_.sch(text);
            gr_.ptxt(0.5f, 0.5f, 0.0f, 0.5f, rows[r].condition);
        }
        for (std::size_t c = 0; c < rows[r].images.size(); ++c) {
            const float x0 = static_cast<float>(p.left) + static_cast<float>(c) * P;
            ButtonLayout& l = gui.layout;
            l.plot_viewport_x1 = (x0 + 0.04f * P) / W;
            l.plot_viewport_x2 = (x0 + 0.96f * P) / W;
            l.plot_viewport_y1 = (top - 0.92f * P) / H;
            l.plot_viewport_y2 = (top - 0.04f * P) / H;
            ImageView v;
            v.images = {{rows[r].images[c], beam_label(st.mtx_beams(int(c) + 1), st.v_g)}};
            v.g_text = beam_label(1, st.v_g).substr(3); // "DF 2 0 0" -> "2 0 0"
            v.erase = false;
            v.text_height = text;
            v.loaded_path = paths[next];
            v.loaded = std::move(images[next++]);
            draw_view(gui, v, 256, false);
        }
    }
    gr_.close();
    // The plot library's page is copied as it is when it holds what the overview promises
    // (8-bit RGB of the page's size); anything else is read and written again in that form.
    const std::string bytes = file_bytes(page);
    if (is_rgb_png(bytes, p.width, p.height)) {
        write_png_bytes(path, bytes);
        return;
    }
    const RgbPicture pic = read_png(page);
    write_png(path, pic.width, pic.height, true, pic.rgb);
}

class OwnDevices final : public OverviewWriter {
  public:
    OwnDevices() : gr_(open_plot_devices()), writer_(*gr_) {}
    void write(const State& st, const std::vector<OverviewRow>& rows,
               const std::string& path) override {
        writer_.write(st, rows, path);
    }

  private:
    std::unique_ptr<Graphics> gr_;
    PageWriter writer_;
};

} // namespace

OverviewPage overview_page(int beams, int rows) {
    OverviewPage p;
    p.panel = rows > 1 ? 220 : 300;
    p.header = 36;
    p.left = rows > 1 ? 90 : 0;
    p.width = p.left + std::max(beams, 1) * p.panel;
    p.height = p.header + std::max(rows, 1) * p.panel;
    return p;
}

std::string overview_caption(const State& st, const std::vector<OverviewRow>& rows) {
    std::string s = trim(st.sample) + "  " + short_number(st.voltage) +
                    " kV  g = " + short_number(st.v_g[0]) + " " + short_number(st.v_g[1]) + " " +
                    short_number(st.v_g[2]);
    const int n = st.mtx_beams.size();
    if (n > 0)
        s +=
            "  beams " + std::to_string(st.mtx_beams(1)) + " .. " + std::to_string(st.mtx_beams(n));
    if (rows.size() == 1) s += "  " + rows.front().condition;
    s += "  foil " + short_number(st.size_z) + " A  field " + short_number(st.size_x) + " x " +
         short_number(st.size_y) + " A  ";
    const DefectCaption d = defect_caption(st);
    s += d.what;
    if (!d.burgers.empty()) s += ", b = " + d.burgers;
    if (st.engine != Engine::exact) s += "  engine " + st.engine_ran;
    return s;
}

std::unique_ptr<OverviewWriter> make_overview_writer() {
    return std::make_unique<OwnDevices>();
}

std::unique_ptr<OverviewWriter> make_overview_writer(Graphics& gr) {
    return std::make_unique<PageWriter>(gr);
}

} // namespace korvex
