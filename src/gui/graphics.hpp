// The drawing and cursor calls the graphical interface is written with, in the conventions of
// the classic PGPLOT 5.2 library: normalised device coordinates (0..1) of the current panel
// for viewports, world coordinates for everything drawn, colour indices with settable
// representations, character heights in units of 1/40 of the panel, and a cursor call that
// returns 1 on success with the key pressed (mouse buttons as 'A', 'D' and 'X').
//
// Everything above this interface is written against it only: the screen and file devices are
// provided by `open_plot_devices()` (plot.hpp), and unit tests substitute a scripted double
// that records the drawing and feeds cursor events from a list.
#pragma once

#include <iosfwd>
#include <string>

namespace korvex {

class Graphics {
  public:
    virtual ~Graphics() = default;

    // ---- devices ---------------------------------------------------------------------------
    // Opens "file/TYPE" (types XWINDOW, VCPS, GIF, NULL, ...) and selects it: the device
    // identifier (> 0), or 0 or less when it cannot be opened.
    virtual int open(const std::string& device) = 0;
    // Opens and selects a PNG picture of width x height pixels, written at close.
    virtual int open_picture(const std::string& file, int /*width*/, int /*height*/) {
        return open(file + "/PNG");
    }
    virtual void select(int id) = 0;
    // Closes the selected device (a file device is complete on disk afterwards).
    virtual void close() = 0;
    // The device types the library offers, one line each.
    virtual void list_devices(std::ostream& out) = 0;
    // Whether a new page or the closing of the device waits for the user.
    virtual void ask(bool on) = 0;
    virtual void eras() = 0;
    // Pushes buffered drawing to the device.
    virtual void update() = 0;

    // ---- panels, viewport and window -------------------------------------------------------
    virtual void subp(int nx, int ny) = 0;
    virtual void panl(int ix, int iy) = 0;
    virtual void svp(float x1, float x2, float y1, float y2) = 0;
    virtual void qvp(float& x1, float& x2, float& y1, float& y2) = 0; // NDC of the panel
    virtual void swin(float x1, float x2, float y1, float y2) = 0;
    virtual void wnad(float x1, float x2, float y1, float y2) = 0;
    virtual void qwin(float& x1, float& x2, float& y1, float& y2) = 0;
    virtual void vstd() = 0;

    // ---- drawing -----------------------------------------------------------------------------
    virtual void box(const std::string& xopt, float xtick, int nxsub, const std::string& yopt,
                     float ytick, int nysub) = 0;
    virtual void ptxt(float x, float y, float angle, float fjust, const std::string& text) = 0;
    // The length of `text` in world x units at the current character height, estimated as
    // 0.55 character heights per character (the proportional fonts average less).
    virtual float text_length(const std::string& text) {
        float x1, x2, y1, y2, vx1, vx2, vy1, vy2;
        qwin(x1, x2, y1, y2);
        qvp(vx1, vx2, vy1, vy2);
        // A character height of 1 is 1/40 of the view surface's height; the panels here are
        // half as wide as they are high (two of a 4:3 surface side by side), so 1/40 of the
        // height is 3/80 of a panel's width.
        const float ch_ndc_x = qch() * 3.0f / 80.0f;
        return 0.55f * ch_ndc_x * (x2 - x1) / (vx2 - vx1) * static_cast<float>(text.size());
    }
    virtual void line(int n, const float* x, const float* y) = 0;
    virtual void move(float x, float y) = 0;
    virtual void draw(float x, float y) = 0;
    virtual void rect(float x1, float x2, float y1, float y2) = 0;
    virtual void poly(int n, const float* x, const float* y) = 0;
    virtual void arro(float x1, float y1, float x2, float y2) = 0;
    // Cell array of colour indices ia(idim, jdim), first index fastest; cells i1..i2 x j1..j2
    // cover the world rectangle x1..x2 x y1..y2.
    virtual void pixl(const int* ia, int idim, int jdim, int i1, int i2, int j1, int j2, float x1,
                      float x2, float y1, float y2) = 0;

    // ---- attributes --------------------------------------------------------------------------
    virtual void sci(int ci) = 0;
    virtual int qci() = 0;
    virtual void scr(int ci, float r, float g, float b) = 0;
    virtual void qcr(int ci, float& r, float& g, float& b) = 0;
    virtual void scir(int lo, int hi) = 0;
    virtual void scf(int font) = 0;
    virtual int qcf() = 0;
    virtual void sch(float height) = 0;
    virtual float qch() = 0;
    virtual void slw(int width) = 0;
    virtual int qlw() = 0;
    virtual void sls(int style) = 0;
    virtual void sfs(int style) = 0;
    virtual int qfs() = 0;
    virtual void sah(int fs, float angle, float barb) = 0;

    // ---- cursor ------------------------------------------------------------------------------
    // Waits for a key or mouse button: 1 with the position (world coordinates) and the key, 0
    // when the device has no cursor or the read failed.
    virtual int band(int mode, int posn, float xref, float yref, float& x, float& y, char& ch) = 0;
    // What the last successful `band` read was: 0 a key, 1..3 a mouse button, -1 unknown (a
    // key 'A', 'D' or 'X' then cannot be told from a button).
    virtual int last_event() { return -1; }
};

} // namespace korvex
