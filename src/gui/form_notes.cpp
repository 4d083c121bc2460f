#include "gui/form_notes.hpp"

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

namespace korvex {

std::string box_hint(const std::string& label) {
    static const std::map<std::string, std::string> hints = {
        {"Crystal:", "element: Cu Ag Au Al Fe Mo Si"},
        {"Job module:", "1 images, 2 fringes, 3 layers, 9 amplitude-phase"},
        {"Column Approximation:", "yes, no or half"},
        {"Accelerating Voltage:", "kV: 100, 200, ... 1000"},
        {"Defect:", "no, edge, screw, loop, void, pg_loop, tetrahedron, 3D-strain"},
        {"Defect file:", "the defect's configuration file, in the working directory"},
        {"Defect file (or Return):", "a configuration file, or Return alone to type the values"},
        {"Save it as:", "the name of a new file"},
        {"Image Size X-Y:", "two widths in A (one column per A)"},
        {"Foil Thickness:", "in A (one slice per A)"},
        {"Zone Axis:", "u v w, the foil normal"},
        {"Diffraction Vector:", "h k l, perpendicular to the zone axis"},
        {"Beam Range:", "first and last multiple of g, e.g. -1 3"},
        {"(g,ng):", "n of the condition (g,ng); 999 runs a series"},
        {"Absorption:", "1 with, 0 without"},
        {"Output File:", "name of the result files"},
        {"Column Position:", "x y of the column in A"},
        {"Burgers Vector:", "m n i j k for b = m/n [i j k]"},
        {"Stacking fault:", "m n i j k for m/n [i j k]"},
        {"Position of dislocation:", "x y z in A, sample frame"},
        {"Dislocation line:", "direction u v w"},
        {"Surface relaxation:", "1 with, 0 without"},
        {"Poissons ratio:", "e.g. 0.34"},
        {"Defect nature:", "perfect, pureSF or faulted"},
        {"Size of the loop:", "diameter in A"},
        {"Position of the loop:", "x y z of the centre in A"},
        {"Loop habit plane:", "normal h k l"},
        {"Loop plane pole:", "an in-plane direction u v w"},
        {"Number of loop edges:", "e.g. 6"},
        {"Elasticity:", "Return: isotropic; or anisotropic"},
    };
    const auto it = hints.find(label);
    return it == hints.end() ? std::string() : it->second;
}

namespace {

// `text` broken into lines no longer than `width` (world units at the current height): at
// blanks where it can be, and at the given line ends.
std::vector<std::string> wrap(Graphics& g, const std::string& text, float width) {
    std::vector<std::string> out;
    std::istringstream paragraphs(text);
    for (std::string para; std::getline(paragraphs, para);) {
        std::istringstream words(para);
        std::string line;
        for (std::string w; words >> w;) {
            const std::string longer = line.empty() ? w : line + " " + w;
            if (!line.empty() && g.text_length(longer) > width) {
                out.push_back(line);
                line = w;
            } else {
                line = longer;
            }
        }
        out.push_back(line);
    }
    return out;
}

} // namespace

void form_notes(Gui& gui, const std::string& hint, const std::string& message) {
    Graphics& g = gui.gr;
    const int ci = g.qci(), fs = g.qfs();
    const float ch = g.qch();
    float vx1, vx2, vy1, vy2, wx1, wx2, wy1, wy2;
    g.qvp(vx1, vx2, vy1, vy2);
    g.qwin(wx1, wx2, wy1, wy2);
    // The strip under the boxes has a viewport of its own: drawing is clipped to a viewport.
    const float h = vy2 - vy1;
    g.svp(vx1, vx2, std::max(0.0f, vy1 - 0.2f * h), vy1 - 0.01f * h);
    g.swin(0.0f, 1.0f, 0.0f, 1.0f);
    g.sfs(1);
    g.sci(0);
    g.rect(0.0f, 1.0f, 0.0f, 1.0f);
    g.sch(ch);
    // The hint on the first line, the message on the lines below it; a long message gets a
    // smaller height rather than running out of the strip.
    if (!hint.empty()) {
        g.sci(5);
        g.ptxt(0.0f, 0.8f, 0.0f, 0.0f, hint);
    }
    if (!message.empty()) {
        g.sci(7);
        std::vector<std::string> lines = wrap(g, message, 1.0f);
        if (lines.size() > 4) {
            g.sch(0.8f * ch);
            lines = wrap(g, message, 1.0f);
        }
        const float step = 0.8f / static_cast<float>(std::max<std::size_t>(lines.size(), 4));
        float y = 0.8f - step;
        for (const auto& l : lines) {
            g.ptxt(0.0f, y, 0.0f, 0.0f, l);
            y -= step;
        }
    }
    g.svp(vx1, vx2, vy1, vy2);
    g.swin(wx1, wx2, wy1, wy2);
    g.sch(ch);
    g.sci(ci);
    g.sfs(fs);
    g.update();
}

} // namespace korvex
