#include "gui/overview.hpp"

#include "driver/defect_caption.hpp"
#include "gui/gif_file.hpp"
#include "gui/plot.hpp"
#include "gui/viewer.hpp"
#include "output/grey_levels.hpp"
#include "output/image_export.hpp"
#include "output/probe_report.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cmath>
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

// Pixels per character of a text `height` pixels high: a generous average of the plot
// library's sans-serif letters and digits, so that a line measured with it fits.
constexpr double kCharWidth = 0.62;

class PageWriter final : public OverviewWriter {
  public:
    PageWriter(Graphics& gr, OverviewOptions options) : gr_(gr), options_(options) {}
    void write(const State& st, const std::vector<OverviewRow>& rows,
               const std::string& path) override;

  private:
    Graphics& gr_;
    OverviewOptions options_;
};

void PageWriter::write(const State& st, const std::vector<OverviewRow>& rows,
                       const std::string& path) {
    std::size_t beams = 0;
    for (const auto& r : rows) beams = std::max(beams, r.images.size());
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

    // The page: panels of the images' aspect, the caption wrapped to the page's width.
    double aspect = 1.0;
    if (!images.empty() && images[0].nx() > 0 && images[0].ny() > 0) {
        const ImageData& im = images[0];
        const double ux = im.unit_x > 0.0 && std::isfinite(im.unit_x) ? im.unit_x : 1.0;
        const double uy = im.unit_y > 0.0 && std::isfinite(im.unit_y) ? im.unit_y : 1.0;
        aspect = (im.ny() * uy) / (im.nx() * ux);
    }
    const int n_beams = static_cast<int>(beams), n_rows = static_cast<int>(rows.size());
    const int width = overview_page(n_beams, n_rows, aspect).width;
    const std::vector<std::string> caption =
        overview_caption_lines(overview_caption(st, rows), width);
    const OverviewPage p = overview_page(n_beams, n_rows, aspect, static_cast<int>(caption.size()));

    // One grey range for all pictures when asked for.
    double lo = 0.0, hi = 0.0;
    if (options_.shared_grey) {
        bool first = true;
        for (const auto& im : images) {
            const GreyLevels g = grey_levels(im, 2);
            lo = first ? g.min : std::min(lo, g.min);
            hi = first ? g.max : std::max(hi, g.max);
            first = false;
        }
    }

    TempDir tmp;
    const std::string page = tmp.path + "/page.png";
    if (tmp.path.empty() || gr_.open_picture(page, p.width, p.height) <= 0) {
        st.console() << " * WARNING: the overview picture " << path << " could not be drawn\n";
        return;
    }
    std::ostringstream quiet;
    Gui gui{gr_, quiet, {}, 0, 0};
    const float W = static_cast<float>(p.width), H = static_cast<float>(p.height);
    // A character height of 1 is 1/40 of the page's height.
    const float text = static_cast<float>(p.text) * 40.0f / H;
    gr_.sci(1);
    gr_.sch(1.1f * text);
    gr_.svp(0.0f, 1.0f, 1.0f - static_cast<float>(p.header) / H, 1.0f);
    gr_.swin(0.0f, static_cast<float>(p.width), static_cast<float>(p.header), 0.0f);
    for (std::size_t k = 0; k < caption.size(); ++k)
        gr_.ptxt(static_cast<float>(p.pad), static_cast<float>(p.pad + (k + 1) * p.line) - 5.0f,
                 0.0f, 0.0f, caption[k]);

    // Pixels from the top left to NDC.
    auto nx = [&](double x) { return static_cast<float>(x / p.width); };
    auto ny = [&](double y) { return static_cast<float>(1.0 - y / p.height); };
    std::size_t next = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double top = p.header + static_cast<double>(r) * p.panel_h;
        if (p.left > 0) {
            gr_.svp(0.0f, nx(p.left), ny(top + p.panel_h), ny(top));
            gr_.swin(0.0f, 1.0f, 0.0f, 1.0f);
            gr_.sci(1);
            gr_.sch(text);
            gr_.ptxt(0.5f, 0.5f, 0.0f, 0.5f, rows[r].condition);
        }
        for (std::size_t c = 0; c < rows[r].images.size(); ++c) {
            const double x0 = p.left + static_cast<double>(c) * p.panel_w + p.pad;
            const double y0 = top + p.pad + p.label_strip;
            ImageView v;
            v.images = {{rows[r].images[c], c < rows[r].labels.size()
                                                ? rows[r].labels[c]
                                                : beam_label(st.mtx_beams(int(c) + 1), st.v_g)}};
            v.g_text = beam_label(1, st.v_g).substr(3); // "DF 2 0 0" -> "2 0 0"
            v.erase = false;
            v.text_height = text;
            v.fixed_layout = true;
            v.image_vp[0] = nx(x0);
            v.image_vp[1] = nx(x0 + p.image_w);
            v.image_vp[2] = ny(y0 + p.image_h);
            v.image_vp[3] = ny(y0);
            v.label_strip = static_cast<float>(p.label_strip) / H;
            v.scale_strip = static_cast<float>(p.scale_strip) / H;
            v.bar_width = static_cast<float>(p.bar) / W;
            v.shared_lo = lo;
            v.shared_hi = hi;
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
    explicit OwnDevices(OverviewOptions options)
        : gr_(open_plot_devices()), writer_(*gr_, options) {}
    void write(const State& st, const std::vector<OverviewRow>& rows,
               const std::string& path) override {
        writer_.write(st, rows, path);
    }

  private:
    std::unique_ptr<Graphics> gr_;
    PageWriter writer_;
};

} // namespace

OverviewPage overview_page(int beams, int rows, double aspect, int caption_lines) {
    OverviewPage p;
    p.text = 13;
    p.line = 20;
    p.pad = 8;
    p.label_strip = 22;
    p.scale_strip = 36;
    p.bar = 10;
    // The intensity bar, its gap and labels of up to 9 characters at 3/4 of the text height.
    p.bar_room = 2 * p.bar + static_cast<int>(std::ceil(9 * kCharWidth * 0.75 * p.text)) + 6;
    const int widest = rows > 1 ? 180 : 240; // the image's largest width
    if (!(aspect > 0.0) || !std::isfinite(aspect)) aspect = 1.0;
    // A tall image is limited in height instead (at 1.25 times the widest width).
    const double tallest = 1.25 * widest;
    p.image_w = widest;
    p.image_h = std::max(1, static_cast<int>(std::lround(widest * aspect)));
    if (p.image_h > tallest) {
        p.image_h = static_cast<int>(tallest);
        p.image_w = std::max(1, static_cast<int>(std::lround(tallest / aspect)));
    }
    p.panel_w = p.pad + std::max(p.image_w, 110) + p.bar_room + p.pad;
    p.panel_h = p.pad + p.label_strip + p.image_h + p.scale_strip + p.pad;
    p.header = p.pad + std::max(caption_lines, 1) * p.line + p.pad;
    p.left = rows > 1 ? 90 : 0;
    p.width = p.left + std::max(beams, 1) * p.panel_w;
    p.height = p.header + std::max(rows, 1) * p.panel_h;
    return p;
}

std::vector<std::string> overview_caption_lines(const std::string& caption, int width) {
    const OverviewPage p = overview_page(1, 1);
    // The caption is drawn at 1.1 times the text height from the page's left pad.
    const int room = static_cast<int>((width - 2 * p.pad) / (kCharWidth * 1.1 * p.text));
    // The caption's items are separated by two blanks: a line breaks between items, and within
    // an item (at a blank) only when the item alone is longer than a line.
    std::vector<std::string> items;
    for (std::size_t at = 0; at < caption.size();) {
        const std::size_t end = std::min(caption.find("  ", at), caption.size());
        if (end > at) items.push_back(caption.substr(at, end - at));
        at = caption.find_first_not_of(' ', end);
        if (at == std::string::npos) break;
    }
    std::vector<std::string> lines;
    std::string line;
    auto add = [&](const std::string& piece, const char* sep) {
        const std::string longer = line.empty() ? piece : line + sep + piece;
        if (static_cast<int>(longer.size()) <= room) {
            line = longer;
            return true;
        }
        return false;
    };
    for (const std::string& item : items) {
        if (add(item, "  ")) continue;
        if (!line.empty()) lines.push_back(line);
        line.clear();
        if (add(item, "")) continue;
        std::istringstream words(item);
        for (std::string w; words >> w;) {
            if (add(w, " ")) continue;
            if (!line.empty()) lines.push_back(line);
            line =
                static_cast<int>(w.size()) <= room ? w : w.substr(0, std::max(room - 3, 0)) + "...";
        }
    }
    if (!line.empty() || lines.empty()) lines.push_back(line);
    return lines;
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
    // The file the defect was read from (the circular loop always reads "loop.ini").
    const std::string file =
        st.defect_kind == DefectKind::loop ? std::string("loop.ini") : trim(st.f_defect);
    if (st.defect_kind != DefectKind::perfect && !file.empty()) s += "  file " + file;
    if (st.engine != Engine::exact) s += "  engine " + st.engine_ran;
    if (st.illumination.scanning()) s += "  " + illumination_caption(st);
    return s;
}

std::unique_ptr<OverviewWriter> make_overview_writer(OverviewOptions options) {
    return std::make_unique<OwnDevices>(options);
}

std::unique_ptr<OverviewWriter> make_overview_writer(Graphics& gr, OverviewOptions options) {
    return std::make_unique<PageWriter>(gr, options);
}

} // namespace korvex
