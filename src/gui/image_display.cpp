#include "gui/image_display.hpp"

#include "driver/progress.hpp"
#include "output/grey_levels.hpp"
#include "state/fmt.hpp"
#include "state/image_file.hpp"

#include <array>

namespace korvex {

std::vector<std::string> image_summary(const GreyLevels& g) {
    const std::string negative_contrast =
        g.min == 0.0 ? std::string("Infinity") : list_real(-g.background / g.min);
    return {
        " max: " + list_real(g.max) + " min: " + list_real(g.min),
        " Max: " + list_real(g.max) + " Min: " + list_real(g.min) + " Background " +
            list_real(g.background),
        " Contrast: " + list_real(g.max / g.background) + " " + negative_contrast,
    };
}

Array2<int> rows_top_down(const Array2<int>& level) {
    const int nx = level.n1(), ny = level.n2();
    Array2<int> flipped(nx, ny);
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) flipped(i, ny + 1 - j) = level(i, j);
    return flipped;
}

void dataimaging(Gui& gui, const std::string& file, int levels) {
    const ImageData img = read_image_file(trim(file));
    const GreyLevels g = grey_levels(img, levels);
    for (const auto& l : image_summary(g)) gui.out << l << '\n';
    gui.out.flush();
    grayscaleimage(gui, img.nx(), img.ny(), img.unit_x, img.unit_y, rows_top_down(g.level), levels,
                   file);
}

void grayscaleimage(Gui& gui, int n_x, int n_y, double /*unit_x*/, double /*unit_y*/,
                    const Array2<int>& g, int levels, const std::string& /*file*/) {
    Graphics& gr = gui.gr;
    gr.sfs(1);
    gr.sci(1);
    std::array<std::array<float, 3>, 21> saved{};
    for (int c = 1; c <= 20; ++c) {
        auto& s = saved[static_cast<std::size_t>(c)];
        gr.qcr(c, s[0], s[1], s[2]);
    }
    gr.scir(0, levels - 1);
    for (int k = 0; k < levels; ++k) {
        const float grey = static_cast<float>(k) / static_cast<float>(levels - 1);
        gr.scr(k, grey, grey, grey);
    }
    gr.pixl(g.data(), n_x, n_y, 1, n_x, 1, n_y, -1.0f, 1.0f, -1.0f, 1.0f);
    for (int c = 1; c <= 20; ++c) {
        const auto& s = saved[static_cast<std::size_t>(c)];
        gr.scr(c, s[0], s[1], s[2]);
    }
    gr.slw(4);
    gr.sch(1.5f);
    gr.sah(1, 30.0f, 0.5f);
    gr.update();
}

void indicator(std::ostream& out, int done, int total) {
    if (auto line = indicator_line(done, total)) out << *line << '\n';
}

} // namespace korvex
