// The annotated picture of a result image, as the screen, its GIF and PostScript copies show
// it: square pixels (world coordinates in nm), the beam's label, a scale bar, the direction of
// g and an intensity bar with the grey range shown, and what the viewer's buttons change in it
// (beam, zoom, contrast, annotations).
#pragma once

#include "gui/defect_outline.hpp"
#include "gui/toolkit.hpp"
#include "state/image_file.hpp"
#include "state/state.hpp"

#include <string>
#include <vector>

namespace korvex {

// One image the viewer can show.
struct ShownImage {
    std::string path;
    std::string label; // "BF", "DF 2 0 0", "DF 2 0 0, slice 12"
};

struct ImageView {
    std::vector<ShownImage> images; // the beams of the row, in row order
    int current = 0;                // the image shown
    int zoom = 0;                   // magnification 2^zoom
    double cx = 0.0, cy = 0.0;      // centre of the view, nm from the image centre
    int contrast = 0;               // grey range of the image's range / 2^contrast
    bool labels = true;             // annotations drawn
    bool clicked = false;           // a point of the image was clicked since the last zoom
    double click_x = 0.0, click_y = 0.0;
    std::string g_text; // indices of g, "2 0 0"
    // Viewport (NDC) and window (nm) of the image as last drawn; cursor positions are read in
    // them.
    float vp[4] = {0, 1, 0, 1}, win[4] = {0, 1, 0, 1};
    bool drawn = false;
    bool erase = true;         // the picture area is cleared first (a page drawn once need not)
    float text_height = 0.8f;  // character height of the annotations
    Outline outline;           // the defect seen along the beam (sample frame, Angstrom)
    bool show_outline = false; // DEFECT: the outline drawn over the image
    // A grey range shared with other pictures (lo < hi): the levels map it instead of the
    // image's own range.
    double shared_lo = 0.0, shared_hi = 0.0;
    // A layout of fixed sizes (a page of pictures): the image's viewport (NDC, the image
    // fitted in it with square pixels), the heights of the label strip above it and of the
    // scale strip below it, and the width of the intensity bar right of it; a thin frame is drawn
    // round the image.
    bool fixed_layout = false;
    float image_vp[4] = {0, 1, 0, 1};
    float label_strip = 0.0f, scale_strip = 0.0f, bar_width = 0.0f;
    // The image last read, kept while the view changes only zoom or contrast.
    std::string loaded_path;
    ImageData loaded;
};

// Colour indices of the grey ramp: kRampBase .. kRampBase + levels - 1, clear of the
// foreground, background and button colours.
inline constexpr int kRampBase = 16;

// The beam label of order m for diffraction vector g: "BF" for 0, else "DF " and m g.
std::string beam_label(int m, const Vec3& g);

// The view after a run whose last image is `last_image`: all beams of the row when it is a
// beam image of the run (the bright field shown first), otherwise that image alone; with the
// outline of the run's defect.
ImageView view_of_run(const State& st, const std::string& last_image);

// Draws the current image of `v` in the plot rectangle of the current panel with `levels`
// grey levels (and the annotations when they are on). With `summary` the image's range and
// contrast lines are written on the terminal first.
void draw_view(Gui& gui, ImageView& v, int levels, bool summary);

// Viewer buttons that change the view.
inline constexpr int kZoomInButton = 2, kZoomOutButton = 3, kDiffButton = 7, kDefectButton = 8,
                     kContrastUpButton = 9, kContrastDownButton = 10, kLabelButton = 11;

constexpr bool is_view_button(int ib) {
    return ib == kZoomInButton || ib == kZoomOutButton || ib == kDiffButton ||
           ib == kDefectButton || ib == kContrastUpButton || ib == kContrastDownButton ||
           ib == kLabelButton;
}

// Applies viewer button `ib` to the view: true when it changed what is shown.
bool view_button(ImageView& v, int ib);

// Sets the viewport and window of the image last drawn, so that a cursor position is read in
// nm of the image.
void use_view_window(Gui& gui, const ImageView& v);

// Remembers a click at (x, y), nm from the image centre, when it lies on the image shown.
void view_click(ImageView& v, float x, float y);

} // namespace korvex
