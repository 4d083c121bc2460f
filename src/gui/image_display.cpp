#include "gui/image_display.hpp"

#include "driver/progress.hpp"
#include "gui/grey_levels.hpp"
#include "state/fmt.hpp"
#include "state/image_file.hpp"

#include <array>

namespace korvex {

void dataimaging(Gui& gui, const std::string& file, int levels) {
    const ImageData img = read_image_file(trim(file));
    const GreyLevels gl = grey_levels(img, levels);
    for (const auto& l : gl.lines) gui.out << l << '\n';
    gui.out.flush();
    grayscaleimage(gui, img.nx(), img.ny(), img.unit_x, img.unit_y, gl.level, levels, file);
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
