#include "gui/plot.hpp"

#include "gui/gif_file.hpp"
#include "state/textout.hpp"

#include <cpgplot.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <giza-shared.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <vector>

namespace korvex {

namespace {

struct Rgb {
    float r = 0.0f, g = 0.0f, b = 0.0f;
};

constexpr int kColours = 272; // indices 0..271

enum class Kind { screen, postscript, gif, png, null };

// The classic default colour table; index 0 is the background and 1 the foreground, which are
// black and white on screens and raster pictures and swap on paper.
std::array<Rgb, kColours> default_colours(Kind kind) {
    std::array<Rgb, kColours> t{};
    const Rgb base[16] = {{0, 0, 0},
                          {1, 1, 1},
                          {1, 0, 0},
                          {0, 1, 0},
                          {0, 0, 1},
                          {0, 1, 1},
                          {1, 0, 1},
                          {1, 1, 0},
                          {1, 0.5f, 0},
                          {0.5f, 1, 0},
                          {0, 1, 0.5f},
                          {0, 0.5f, 1},
                          {0.5f, 0, 1},
                          {1, 0, 0.5f},
                          {0.333f, 0.333f, 0.333f},
                          {0.667f, 0.667f, 0.667f}};
    std::copy(std::begin(base), std::end(base), t.begin());
    if (kind == Kind::postscript) std::swap(t[0], t[1]);
    return t;
}

struct Device {
    Kind kind = Kind::null;
    int nx = 1, ny = 1, ix = 1, iy = 1; // panels, and the panel drawn in
    std::string gif_path;               // the GIF to write at close
    std::string png_path;               // the page drawn for it
    std::array<Rgb, kColours> colours{};
};

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A device type given in full or abbreviated to any unambiguous leading part.
bool type_is(const std::string& given, const char* full, std::size_t min_len) {
    const std::string f = full;
    return given.size() >= min_len && given.size() <= f.size() &&
           f.compare(0, given.size(), given) == 0;
}

// Devices are opened through two extensions of the plot library outside the classic
// interface: a page of a given size (PostScript and GIF pages of the classic sizes) and a
// window title. They are looked up at run time in the library already loaded for the classic
// interface; without them a plain open (default size, default title) is used.
int open_sized(const std::string& name, double width, double height, int units) {
    using OpenSized = int (*)(const char*, const char*, double, double, int);
    static const auto fn =
        reinterpret_cast<OpenSized>(dlsym(RTLD_DEFAULT, "giza_open_device_size"));
    if (!fn) return cpgopen(name.c_str());
    return fn(name.c_str(), "korvex", width, height, units);
}

int open_titled(const std::string& name, const char* title) {
    using OpenTitled = int (*)(const char*, const char*);
    static const auto fn = reinterpret_cast<OpenTitled>(dlsym(RTLD_DEFAULT, "giza_open_device"));
    if (!fn) return cpgopen(name.c_str());
    return fn(name.c_str(), title);
}

// The screen window's drawing area: the plot library's default size, inside a margin.
constexpr int kScreenWidth = 800, kScreenHeight = 600, kScreenMargin = 20;

class PlotDevices final : public Graphics {
  public:
    explicit PlotDevices(std::shared_ptr<void> x_connection)
        : x_connection_(std::move(x_connection)) {}
    ~PlotDevices() override {
        while (!devices_.empty()) {
            select(devices_.begin()->first);
            close();
        }
    }

    int open(const std::string& device) override {
        const auto slash = device.rfind('/');
        if (slash == std::string::npos) return 0;
        const std::string file = device.substr(0, slash);
        const std::string type = upper(device.substr(slash + 1));
        Device dev;
        int id = 0;
        std::string title; // of a screen window
        // A file device whose file cannot be created is not available; nor is one whose name
        // is taken by a symbolic link, which the plot library would write through.
        auto creatable = [](const std::string& path) {
            struct stat info {};
            if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return false;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
            if (fd < 0) return false;
            ::close(fd);
            return true;
        };
        if (type_is(type, "XWINDOW", 2) || type_is(type, "XSERVE", 2)) {
            dev.kind = Kind::screen;
            // A title of its own first, so that the window found below is this one.
            static int windows = 0;
            title = x_connection_
                        ? "KORVEX " + std::to_string(::getpid()) + "." + std::to_string(++windows)
                        : std::string("KORVEX");
            id = open_titled("/XW", title.c_str());
            if (id > 0) hand_close_to_window_manager(title.c_str());
        } else if (type_is(type, "VCPS", 3)) {
            dev.kind = Kind::postscript;
            const std::string path = file.empty() ? std::string("pgplot.ps") : file;
            if (!creatable(path)) return 0;
            const std::string name = path + "/VPS";
            id = open_sized(name, 7.8, 10.5, GIZA_UNITS_INCHES);
        } else if (type_is(type, "CPS", 2)) {
            dev.kind = Kind::postscript;
            const std::string path = file.empty() ? std::string("pgplot.ps") : file;
            if (!creatable(path)) return 0;
            const std::string name = path + "/CPS";
            id = open_sized(name, 10.5, 7.8, GIZA_UNITS_INCHES);
        } else if (type_is(type, "GIF", 1)) {
            dev.kind = Kind::gif;
            dev.gif_path = file.empty() ? std::string("pgplot.gif") : file;
            dev.png_path = dev.gif_path + ".page.png";
            if (!creatable(dev.png_path)) return 0;
            const std::string name = dev.png_path + "/PNG";
            id = open_sized(name, 850, 680, GIZA_UNITS_PIXELS);
        } else if (type_is(type, "PNG", 2)) {
            dev.kind = Kind::png;
            const std::string path = file.empty() ? std::string("pgplot.png") : file;
            if (!creatable(path)) return 0;
            const std::string name = path + "/PNG";
            id = picture_.first > 0
                     ? open_sized(name, picture_.first, picture_.second, GIZA_UNITS_PIXELS)
                     : cpgopen(name.c_str());
        } else if (type_is(type, "NULL", 1)) {
            dev.kind = Kind::null;
            id = cpgopen("/NULL");
        } else {
            return 0;
        }
        if (id <= 0) return id;
        dev.colours = default_colours(dev.kind);
        devices_[id] = dev;
        current_ = id;
        cpgslct(id);
        cpgask(0);
        // Opening a device resets the colour table of every open device, so the colours are
        // installed again on every selection.
        apply_colours();
        cpgeras();
        cpgscf(1);
        cpgsch(1.0f);
        cpgslw(1);
        cpgsls(1);
        cpgsfs(1);
        cpgsci(1);
        cpgvstd();
        cpgswin(0.0f, 1.0f, 0.0f, 1.0f);
        if (dev.kind == Kind::screen && x_connection_) {
            cpgupdt();
            const int screen = id;
            screen_events_ = watch_screen_events(x_connection_, title, "KORVEX", [this, screen] {
                const int was = current_;
                cpgslct(screen);
                cpgupdt();
                if (was && was != screen) cpgslct(was);
            });
            screen_id_ = screen_events_ ? id : 0;
        }
        return id;
    }

    int open_picture(const std::string& file, int width, int height) override {
        picture_ = {width, height};
        const int id = open(file + "/PNG");
        picture_ = {0, 0};
        return id;
    }

    void select(int id) override {
        if (!devices_.count(id)) return;
        current_ = id;
        cpgslct(id);
        const int ci = qci();
        apply_colours();
        cpgsci(ci);
    }

    void close() override {
        auto it = devices_.find(current_);
        if (it == devices_.end()) return;
        const Device dev = it->second;
        if (it->first == screen_id_) {
            screen_events_.reset(); // the window goes with the device
            screen_id_ = 0;
        }
        cpgclos();
        devices_.erase(it);
        current_ = devices_.empty() ? 0 : devices_.begin()->first;
        if (current_) select(current_);
        if (dev.kind == Kind::gif) {
            // The page was drawn as a PNG picture; store it as GIF and drop the PNG.
            struct Remove {
                std::string p;
                ~Remove() { std::remove(p.c_str()); }
            } cleanup{dev.png_path};
            write_text_file(dev.gif_path, encode_gif(read_png(dev.png_path)));
        }
    }

    void list_devices(std::ostream& out) override {
        out << " Device types available:\n"
            << " /XWINDOW  (X window on the screen)\n"
            << " /VCPS     (colour PostScript file, portrait)\n"
            << " /CPS      (colour PostScript file, landscape)\n"
            << " /GIF      (GIF picture file, 850 x 680)\n"
            << " /PNG      (PNG picture file)\n"
            << " /NULL     (no output)\n";
    }

    void ask(bool on) override { cpgask(on ? 1 : 0); }
    void eras() override { cpgeras(); }
    void update() override { cpgupdt(); }

    void subp(int nx, int ny) override {
        cpgsubp(nx, ny);
        if (auto* d = current()) {
            d->nx = std::max(std::abs(nx), 1);
            d->ny = std::max(std::abs(ny), 1);
            d->ix = d->nx; // as the library does: the next page starts a new set of panels
            d->iy = d->ny;
        }
    }
    void panl(int ix, int iy) override {
        cpgpanl(ix, iy);
        if (auto* d = current()) {
            d->ix = ix < 1 || ix > d->nx ? 1 : ix;
            d->iy = iy < 1 || iy > d->ny ? 1 : iy;
        }
    }
    void svp(float x1, float x2, float y1, float y2) override { cpgsvp(x1, x2, y1, y2); }
    void qvp(float& x1, float& x2, float& y1, float& y2) override { cpgqvp(0, &x1, &x2, &y1, &y2); }
    void swin(float x1, float x2, float y1, float y2) override { cpgswin(x1, x2, y1, y2); }
    void wnad(float x1, float x2, float y1, float y2) override { cpgwnad(x1, x2, y1, y2); }
    void qwin(float& x1, float& x2, float& y1, float& y2) override { cpgqwin(&x1, &x2, &y1, &y2); }
    void vstd() override { cpgvstd(); }

    void box(const std::string& xopt, float xtick, int nxsub, const std::string& yopt, float ytick,
             int nysub) override {
        cpgbox(xopt.c_str(), xtick, nxsub, yopt.c_str(), ytick, nysub);
    }
    void ptxt(float x, float y, float angle, float fjust, const std::string& text) override {
        cpgptxt(x, y, angle, fjust, text.c_str());
    }
    void line(int n, const float* x, const float* y) override { cpgline(n, x, y); }
    void move(float x, float y) override { cpgmove(x, y); }
    void draw(float x, float y) override { cpgdraw(x, y); }
    void rect(float x1, float x2, float y1, float y2) override { cpgrect(x1, x2, y1, y2); }
    void poly(int n, const float* x, const float* y) override { cpgpoly(n, x, y); }
    void arro(float x1, float y1, float x2, float y2) override {
        // The arrow head is filled with the arrow-head fill style; the fill style of the
        // caller's later polygons must not change.
        int fs = 1;
        cpgqfs(&fs);
        cpgarro(x1, y1, x2, y2);
        cpgsfs(fs);
    }
    void pixl(const int* ia, int idim, int jdim, int i1, int i2, int j1, int j2, float x1, float x2,
              float y1, float y2) override {
        // Cells must stay sharp-edged squares of one colour. The drawing library scales the
        // array with interpolation, which would smear every cell over its neighbours, so
        // each cell is first repeated f x f times: the interpolation then only softens the
        // one-pixel seams between cells.
        const int nx = i2 - i1 + 1, ny = j2 - j1 + 1;
        if (nx < 1 || ny < 1) return;
        const int longest = std::max(nx, ny);
        int f = std::max(1, (1024 + longest - 1) / longest);
        while (f > 1 && static_cast<long long>(nx) * ny * f * f > 4'000'000LL) --f;
        // No more repeats than give two array pixels to each device pixel the picture covers:
        // the filter then keeps every cell edge within a device pixel, and a small panel (an
        // overview's) is not drawn from a million pixels.
        const double shown = device_pixels(x1, x2, y1, y2);
        if (shown > 0.0) f = std::clamp(static_cast<int>(std::ceil(2.0 * shown / longest)), 1, f);
        if (f == 1) {
            cpgpixl(ia, idim, jdim, i1, i2, j1, j2, x1, x2, y1, y2);
            return;
        }
        const int ex = nx * f, ey = ny * f;
        // Kept between pictures: an overview draws several of one size, and fresh pages of
        // a few megabytes each cost more than the copying.
        std::vector<int>& big = repeated_;
        if (big.size() < static_cast<std::size_t>(ex) * static_cast<std::size_t>(ey))
            big.resize(static_cast<std::size_t>(ex) * static_cast<std::size_t>(ey));
        for (int j = 0; j < ey; ++j) {
            const int* src = ia + static_cast<std::size_t>(j1 - 1 + j / f) * idim + (i1 - 1);
            int* dst = big.data() + static_cast<std::size_t>(j) * ex;
            for (int i = 0; i < nx; ++i)
                std::fill_n(dst + static_cast<std::size_t>(i) * f, f, src[i]);
        }
        cpgpixl(big.data(), ex, ey, 1, ex, 1, ey, x1, x2, y1, y2);
    }

    // The larger side, in device pixels, of the world rectangle (x1, x2) x (y1, y2) in the
    // current viewport and window; 0 when unknown.
    static double device_pixels(float x1, float x2, float y1, float y2) {
        float vx1 = 0, vx2 = 0, vy1 = 0, vy2 = 0, wx1 = 0, wx2 = 0, wy1 = 0, wy2 = 0;
        cpgqvp(3, &vx1, &vx2, &vy1, &vy2);
        cpgqwin(&wx1, &wx2, &wy1, &wy2);
        if (wx2 == wx1 || wy2 == wy1) return 0.0;
        const double w = std::abs((x2 - x1) * (vx2 - vx1) / (wx2 - wx1));
        const double h = std::abs((y2 - y1) * (vy2 - vy1) / (wy2 - wy1));
        const double d = std::max(w, h);
        return std::isfinite(d) ? d : 0.0;
    }

    void sci(int ci) override { cpgsci(ci); }
    int qci() override {
        int ci = 1;
        cpgqci(&ci);
        return ci;
    }
    void scr(int ci, float r, float g, float b) override {
        if (ci < 0 || ci >= kColours) return;
        if (auto* d = current()) d->colours[static_cast<std::size_t>(ci)] = Rgb{r, g, b};
        cpgscr(ci, r, g, b);
    }
    void qcr(int ci, float& r, float& g, float& b) override {
        r = g = b = 0.0f;
        const auto* d = current();
        if (!d || ci < 0 || ci >= kColours) return;
        const Rgb c = d->colours[static_cast<std::size_t>(ci)];
        r = c.r;
        g = c.g;
        b = c.b;
    }
    void scir(int lo, int hi) override { cpgscir(lo, hi); }
    void scf(int font) override { cpgscf(font); }
    int qcf() override {
        int f = 1;
        cpgqcf(&f);
        return f;
    }
    void sch(float h) override { cpgsch(h); }
    float qch() override {
        float h = 1.0f;
        cpgqch(&h);
        return h;
    }
    void slw(int w) override { cpgslw(w); }
    int qlw() override {
        int w = 1;
        cpgqlw(&w);
        return w;
    }
    void sls(int s) override { cpgsls(s); }
    void sfs(int s) override { cpgsfs(s); }
    int qfs() override {
        int s = 1;
        cpgqfs(&s);
        return s;
    }
    void sah(int fs, float angle, float barb) override { cpgsah(fs, angle, barb); }

    int band(int mode, int posn, float xref, float yref, float& x, float& y, char& ch) override {
        const auto* d = current();
        if (!d || d->kind != Kind::screen) return 0;
        cpgupdt();
        if (screen_events_ && current_ == screen_id_) {
            int px = 0, py = 0;
            if (!screen_events_->next(px, py, ch, last_event_)) return 0;
            to_world(*d, px, py, x, y);
            return 1;
        }
        // This library answers 0 for a successful read.
        last_event_ = -1;
        return cpgband(mode, posn, xref, yref, &x, &y, &ch) == 0 ? 1 : 0;
    }
    int last_event() override { return last_event_; }

  private:
    // A window pixel in the world coordinates of the current panel, viewport and window, as
    // the library's own cursor call gives it (the drawing area keeps the size it was opened
    // with, whatever is done to the window).
    static void to_world(const Device& d, int px, int py, float& x, float& y) {
        const double fx = static_cast<double>(px - kScreenMargin) / kScreenWidth;
        const double fy = static_cast<double>(kScreenHeight + kScreenMargin - py) / kScreenHeight;
        const double nx = fx * d.nx - (d.ix - 1), ny = fy * d.ny - (d.iy - 1);
        float vx1, vx2, vy1, vy2, wx1, wx2, wy1, wy2;
        cpgqvp(0, &vx1, &vx2, &vy1, &vy2);
        cpgqwin(&wx1, &wx2, &wy1, &wy2);
        x = static_cast<float>(wx1 + (nx - vx1) * (wx2 - wx1) / (vx2 - vx1));
        y = static_cast<float>(wy1 + (ny - vy1) * (wy2 - wy1) / (vy2 - vy1));
    }

    Device* current() {
        auto it = devices_.find(current_);
        return it == devices_.end() ? nullptr : &it->second;
    }
    void apply_colours() {
        const auto* d = current();
        if (!d) return;
        for (int i = 0; i < kColours; ++i) {
            const Rgb& c = d->colours[static_cast<std::size_t>(i)];
            cpgscr(i, c.r, c.g, c.b);
        }
    }

    std::shared_ptr<void> x_connection_;
    std::unique_ptr<ScreenEvents> screen_events_; // the screen's keys and clicks
    int screen_id_ = 0;
    int last_event_ = -1; // of the last cursor read
    std::map<int, Device> devices_;
    std::vector<int> repeated_; // pixl's cells repeated f x f times
    int current_ = 0;
    std::pair<int, int> picture_{0, 0}; // pixel size of the next PNG opened (0: the default)
};

} // namespace

std::unique_ptr<Graphics> open_plot_devices(std::shared_ptr<void> x_connection) {
    return std::make_unique<PlotDevices>(std::move(x_connection));
}

} // namespace korvex
