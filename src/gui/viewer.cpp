#include "gui/viewer.hpp"

#include "driver/run.hpp"
#include "gui/image_display.hpp"
#include "output/grey_levels.hpp"
#include "output/result_files.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvex {

namespace {

std::string g_indices(const Vec3& g, int m) {
    std::string s;
    for (double c : g) {
        char buf[32];
        const double v = m * c;
        if (v == std::round(v))
            std::snprintf(buf, sizeof buf, "%.0f", v == 0.0 ? 0.0 : v);
        else
            std::snprintf(buf, sizeof buf, "%.3g", v);
        s += (s.empty() ? "" : " ") + std::string(buf);
    }
    return s;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A length near a quarter of `width` (nm) of the form 1, 2 or 5 times a power of ten.
double scale_bar_length(double width) {
    const double target = width / 4.0;
    const double p = std::pow(10.0, std::floor(std::log10(target)));
    for (double f : {5.0, 2.0, 1.0})
        if (f * p <= target) return f * p;
    return p;
}

std::string short_number(double v, int digits = 4) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string nm_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g nm", v);
    return buf;
}

// Grey levels of the image for the shown range: the image's own mapping at contrast 0, the
// range narrowed (or widened) about the image's mean by 2^contrast otherwise.
struct Shown {
    Array2<int> level; // image indexing, values 0 .. levels - 1
    double lo = 0.0, hi = 0.0;
    bool uniform = false;
};

Shown shown_levels(const ImageData& img, int levels, int contrast, double shared_lo = 0.0,
                   double shared_hi = 0.0) {
    GreyLevels g = grey_levels(img, levels);
    Shown s{std::move(g.level), g.min, g.max, g.uniform};
    if (shared_lo < shared_hi) {
        // One range for several pictures: the same value is the same grey in each.
        s.lo = shared_lo;
        s.hi = shared_hi;
        s.uniform = false;
        const int top = levels - 1;
        for (int j = 1; j <= img.ny(); ++j)
            for (int i = 1; i <= img.nx(); ++i) {
                const double v = std::min(img.values(i, j), g.clip);
                const double t = (v - s.lo) * top / (s.hi - s.lo);
                s.level(i, j) =
                    std::isnan(t) ? 0 : static_cast<int>(std::clamp(t, 0.0, double(top)));
            }
        return s;
    }
    if (contrast == 0 || s.uniform) return s;
    // About the mean, the grey of most of a picture, so that weak contrast grows visibly.
    double sum = 0.0;
    const double* a = img.values.data();
    for (std::size_t k = 0; k < img.values.size(); ++k) sum += std::min(a[k], g.clip);
    const double mean = std::clamp(sum / static_cast<double>(img.values.size()), g.min, g.max);
    const double f = std::ldexp(1.0, contrast);
    s.lo = mean - (mean - g.min) / f;
    s.hi = mean + (g.max - mean) / f;
    const int top = levels - 1;
    for (int j = 1; j <= img.ny(); ++j)
        for (int i = 1; i <= img.nx(); ++i) {
            const double v = std::min(img.values(i, j), g.clip);
            const double t = (v - s.lo) * top / (s.hi - s.lo);
            s.level(i, j) = std::isnan(t) ? 0 : static_cast<int>(std::clamp(t, 0.0, double(top)));
        }
    return s;
}

// Keeps the window of half-widths (hw, hh) about (cx, cy) on the image of half-sizes (a, b).
void clamp_centre(ImageView& v, double a, double b) {
    const double z = std::ldexp(1.0, v.zoom);
    v.cx = std::clamp(v.cx, -a + a / z, a - a / z);
    v.cy = std::clamp(v.cy, -b + b / z, b - b / z);
}

// The annotations around the image; their strips are sized on the plot rectangle (pw x ph).
void draw_annotations(Graphics& gr, const ImageView& v, const Shown& s, int levels, float pw,
                      float ph) {
    const float vx1 = v.vp[0], vx2 = v.vp[1], vy1 = v.vp[2], vy2 = v.vp[3];
    const float wx1 = v.win[0], wx2 = v.win[1];
    const float width = wx2 - wx1;
    gr.sci(1);
    gr.sch(v.text_height);
    gr.slw(2);

    const float label_h = v.fixed_layout ? v.label_strip : 0.11f * ph;
    const float scale_h = v.fixed_layout ? v.scale_strip : 0.14f * ph;
    const float bar_x1 = v.fixed_layout ? vx2 + 0.6f * v.bar_width : vx2 + 0.017f * pw;
    const float bar_x2 = v.fixed_layout ? vx2 + 1.6f * v.bar_width : vx2 + 0.05f * pw;

    // Beam label above, the magnification and contrast beside it.
    gr.svp(vx1, vx2, vy2, vy2 + label_h);
    gr.swin(0.0f, 1.0f, 0.0f, 1.0f);
    gr.ptxt(0.0f, 0.25f, 0.0f, 0.0f, v.images[static_cast<std::size_t>(v.current)].label);
    std::string state;
    if (v.zoom != 0) state += "zoom x" + short_number(std::ldexp(1.0, v.zoom));
    if (v.contrast != 0)
        state += (state.empty() ? "" : ", ") + std::string("contrast x") +
                 short_number(std::ldexp(1.0, v.contrast));
    if (!state.empty()) gr.ptxt(1.0f, 0.25f, 0.0f, 1.0f, state);

    // Scale bar (left) and g (right) below, on the image's own x scale.
    gr.svp(vx1, vx2, vy1 - scale_h, vy1);
    gr.swin(wx1, wx2, 0.0f, 1.0f);
    const double bar = scale_bar_length(width);
    const float bx1 = wx1 + 0.03f * width, bx2 = bx1 + static_cast<float>(bar);
    gr.sfs(1);
    gr.rect(bx1, bx2, 0.68f, 0.82f); // square ends: its length is the length stated
    gr.ptxt(0.5f * (bx1 + bx2), 0.05f, 0.0f, 0.5f, nm_text(bar));
    const float ax2 = wx2 - 0.03f * width, ax1 = ax2 - 0.2f * width;
    gr.sah(1, 30.0f, 0.5f);
    gr.arro(ax1, 0.75f, ax2, 0.75f);
    gr.ptxt(0.5f * (ax1 + ax2), 0.05f, 0.0f, 0.5f, "g " + v.g_text);

    // Intensity bar at the right: the grey ramp of the shown range with its ends.
    gr.svp(bar_x1, bar_x2, vy1, vy2);
    gr.swin(0.0f, 1.0f, 0.0f, 1.0f);
    const int steps = std::min(levels, 64);
    std::vector<int> ramp(static_cast<std::size_t>(steps));
    for (int k = 0; k < steps; ++k)
        ramp[static_cast<std::size_t>(k)] = kRampBase + k * (levels - 1) / (steps - 1);
    gr.pixl(ramp.data(), 1, steps, 1, 1, 1, steps, 0.0f, 1.0f, 0.0f, 1.0f);
    gr.sci(1);
    gr.sch(0.75f * v.text_height);
    gr.ptxt(1.3f, 0.92f, 0.0f, 0.0f, short_number(s.hi, 3));
    gr.ptxt(1.3f, 0.0f, 0.0f, 0.0f, short_number(s.lo, 3));
}

} // namespace

std::string beam_label(int m, const Vec3& g) {
    return m == 0 ? std::string("BF") : "DF " + g_indices(g, m);
}

ImageView view_of_run(const State& st, const std::string& last_image) {
    ImageView v;
    v.g_text = g_indices(st.v_g, 1);
    v.outline = defect_outline(st);
    const std::string last = trim(last_image);
    if (last.empty()) return v; // a run without images
    const int n = st.mtx_beams.size();
    const std::string last_tag = n > 0 ? beam_tag(st.mtx_beams(n)) : std::string();
    if (n > 0 && ends_with(last, last_tag)) {
        const std::string stem = last.substr(0, last.size() - last_tag.size());
        for (int k = 1; k <= n; ++k) {
            v.images.push_back(
                {stem + beam_tag(st.mtx_beams(k)), beam_label(st.mtx_beams(k), st.v_g)});
            if (st.mtx_beams(k) == 0) v.current = k - 1; // the bright field first
        }
        return v;
    }
    // A layer image: "<name>01gml<slice>".
    std::string label = beam_label(1, st.v_g);
    const auto ml = last.rfind("ml");
    if (ml != std::string::npos && last.size() == ml + 6)
        label += ", slice " + std::to_string(std::atoi(last.c_str() + ml + 2));
    v.images.push_back({last, label});
    return v;
}

void draw_view(Gui& gui, ImageView& v, int levels, bool summary) {
    Graphics& gr = gui.gr;
    const ShownImage& shown = v.images.at(static_cast<std::size_t>(v.current));
    if (v.loaded_path != shown.path) {
        v.loaded = read_image_file(shown.path);
        v.loaded_path = shown.path;
    }
    const ImageData& img = v.loaded;
    if (summary)
        for (const auto& l : image_summary(grey_levels(img, levels))) gui.out << l << '\n';
    gui.out.flush();
    const Shown s = shown_levels(img, levels, v.contrast, v.shared_lo, v.shared_hi);

    const int saved_ci = gr.qci(), saved_font = gr.qcf(), saved_lw = gr.qlw(), saved_fs = gr.qfs();
    const float saved_ch = gr.qch();
    const ButtonLayout& l = gui.layout;
    if (v.erase) {
        // Clear the picture area (frame, image and annotations) of the panel.
        gr.svp(0.0f, 1.0f, l.button_area_y2 + 0.01f, l.plot_viewport_y2 + 0.06f);
        gr.swin(0.0f, 1.0f, 0.0f, 1.0f);
        gr.sfs(1);
        gr.sci(0);
        gr.rect(0.0f, 1.0f, 0.0f, 1.0f);
    }

    // The image in nm, square pixels: the window fits the viewport with equal scales.
    // A pixel size that is not a length (a hand-made file) counts as 1 Angstrom.
    auto nm = [](double u) { return u > 0.0 && std::isfinite(u) ? u / 10.0 : 0.1; };
    const double ux = nm(img.unit_x), uy = nm(img.unit_y);
    const double a = 0.5 * img.nx() * ux, b = 0.5 * img.ny() * uy;
    clamp_centre(v, a, b);
    const double z = std::ldexp(1.0, v.zoom);
    const float w = l.plot_viewport_x2 - l.plot_viewport_x1;
    const float h = l.plot_viewport_y2 - l.plot_viewport_y1;
    if (v.fixed_layout)
        gr.svp(v.image_vp[0], v.image_vp[1], v.image_vp[2], v.image_vp[3]);
    else
        gr.svp(l.plot_viewport_x1, l.plot_viewport_x1 + 0.82f * w, l.plot_viewport_y1 + 0.1f * h,
               l.plot_viewport_y2 - 0.1f * h);
    gr.wnad(static_cast<float>(v.cx - a / z), static_cast<float>(v.cx + a / z),
            static_cast<float>(v.cy - b / z), static_cast<float>(v.cy + b / z));
    gr.qvp(v.vp[0], v.vp[1], v.vp[2], v.vp[3]);
    gr.qwin(v.win[0], v.win[1], v.win[2], v.win[3]);
    v.drawn = true;

    // The cells in view: columns ia..ib, data rows ja (top) .. jb; data row 1 is at the top.
    const int nx = img.nx(), ny = img.ny();
    const int ia = std::clamp(static_cast<int>(std::floor((v.win[0] + a) / ux + 1e-6)) + 1, 1, nx);
    const int ib = std::clamp(static_cast<int>(std::ceil((v.win[1] + a) / ux - 1e-6)), ia, nx);
    const int ja = std::clamp(static_cast<int>(std::floor((b - v.win[3]) / uy + 1e-6)) + 1, 1, ny);
    const int jb = std::clamp(static_cast<int>(std::ceil((b - v.win[2]) / uy - 1e-6)), ja, ny);
    const int cols = ib - ia + 1, rows = jb - ja + 1;
    std::vector<int> cells(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            cells[static_cast<std::size_t>(r) * cols + c] = kRampBase + s.level(ia + c, jb - r);
    for (int k = 0; k < levels; ++k) {
        const float grey = static_cast<float>(k) / static_cast<float>(levels - 1);
        gr.scr(kRampBase + k, grey, grey, grey);
    }
    gr.pixl(cells.data(), cols, rows, 1, cols, 1, rows, static_cast<float>(-a + (ia - 1) * ux),
            static_cast<float>(-a + ib * ux), static_cast<float>(b - jb * uy),
            static_cast<float>(b - (ja - 1) * uy));
    if (v.show_outline) {
        // Sample frame (Angstrom, y = 0 at the top row) to the picture's nm.
        gr.sci(7);
        gr.slw(2);
        for (const auto& path : v.outline) {
            std::vector<float> x, y;
            for (const auto& p : path) {
                x.push_back(static_cast<float>(-a + p[0] / 10.0));
                y.push_back(static_cast<float>(b - p[1] / 10.0));
            }
            if (x.size() >= 2) gr.line(static_cast<int>(x.size()), x.data(), y.data());
        }
    }
    if (s.uniform) {
        gr.sci(1);
        gr.sch(1.25f * v.text_height);
        gr.ptxt(static_cast<float>(v.cx), static_cast<float>(v.cy), 0.0f, 0.5f, "uniform");
    }
    if (v.fixed_layout) {
        // A thin frame, so that a dark picture does not merge into the page.
        gr.svp(v.vp[0], v.vp[1], v.vp[2], v.vp[3]);
        gr.swin(v.win[0], v.win[1], v.win[2], v.win[3]);
        gr.sci(15);
        gr.slw(1);
        gr.sfs(2);
        gr.rect(v.win[0], v.win[1], v.win[2], v.win[3]);
        gr.sfs(1);
    }
    if (v.labels) draw_annotations(gr, v, s, levels, w, h);

    gr.svp(v.vp[0], v.vp[1], v.vp[2], v.vp[3]);
    gr.swin(v.win[0], v.win[1], v.win[2], v.win[3]);
    gr.sci(saved_ci);
    gr.scf(saved_font);
    gr.sch(saved_ch);
    gr.slw(saved_lw);
    gr.sfs(saved_fs);
    gr.update();
}

void use_view_window(Gui& gui, const ImageView& v) {
    if (!v.drawn) return;
    gui.gr.svp(v.vp[0], v.vp[1], v.vp[2], v.vp[3]);
    gui.gr.swin(v.win[0], v.win[1], v.win[2], v.win[3]);
}

void view_click(ImageView& v, float x, float y) {
    if (!v.drawn || x < v.win[0] || x > v.win[1] || y < v.win[2] || y > v.win[3]) return;
    v.clicked = true;
    v.click_x = x;
    v.click_y = y;
}

bool view_button(ImageView& v, int ib) {
    if (v.images.empty()) return false;
    auto zoom_to = [&](int zoom) {
        if (v.clicked) {
            v.cx = v.click_x;
            v.cy = v.click_y;
            v.clicked = false;
        }
        v.zoom = zoom;
        return true;
    };
    switch (ib) {
    case kZoomInButton:
        return v.zoom < 6 && zoom_to(v.zoom + 1);
    case kZoomOutButton:
        return v.zoom > 0 && zoom_to(v.zoom - 1);
    case kContrastUpButton:
        return v.contrast < 6 && (++v.contrast, true);
    case kContrastDownButton:
        return v.contrast > -3 && (--v.contrast, true);
    case kDiffButton:
        if (v.images.size() < 2) return false;
        v.current = (v.current + 1) % static_cast<int>(v.images.size());
        return true;
    case kDefectButton:
        if (v.outline.empty()) return false;
        v.show_outline = !v.show_outline;
        return true;
    case kLabelButton:
        v.labels = !v.labels;
        return true;
    default:
        return false;
    }
}

} // namespace korvex
