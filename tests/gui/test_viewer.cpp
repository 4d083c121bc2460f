// The screens after the entry form, scripted: RUN panel, result viewer and its buttons, job 9's
// phase diagrams, grey-scale pictures; then pictures drawn for real (viewer page, overview).
#include "gui/overview.hpp"
#include "state/input.hpp"

#include "gui/screens.hpp"
#include "gui/viewer.hpp"
#include <filesystem>

#include "scripted_graphics.hpp"

namespace korvex {
namespace {

using namespace testing;

// A graphic context as the entry form leaves it: viewer layout, screen open, left-panel frame.
struct Screen : TestGui {
    Screen() {
        viewer_layout(gui.layout);
        gui.device = gr.open("/XWINDOW");
        for (int nb = 1; nb <= 12; ++nb) button(gui, nb, "B", 0);
        rpgenv(gui, 0.0f, 1.0f, 0.0f, 1.0f, 0, -2);
        gr.texts.clear();
    }
    PanelMemory mem{3, 0.9f};
    State st;
};

// The result viewer stores the image shown through the file device (PostScript 256 levels,
// GIF 128, picture flipped so data row 1 is on top), refuses an export when the run wrote no
// image, goes back to the RUN panel on any other button, and stops on a refused device.
TEST(Screens, RunPanelResultViewerPhasePanelAndDataImaging) {
    ScratchDir dir;
    const std::string file = dir.str() + "cu_01g";
    write_image_file(file, make_image(2, 2, [](int i, int j) { return i == j ? 2 * i - 1 : 0; }),
                     RowFormat::es12_3);
    // GIF and C-PS store the image shown beside the screen, which stays open and shows the
    // image again; the viewer then waits for the next button (EXIT here).
    for (const bool ps : {true, false}) {
        Screen s;
        s.gr.press(ps ? 5 : 4);
        s.gr.press(6);
        EXPECT_FALSE(result_viewer(s.gui, s.mem, s.st, file));
        EXPECT_EQ(s.gr.opened.back(), file + (ps ? ".ps/VCPS" : ".gif/GIF"));
        EXPECT_EQ(s.gr.closes, 2); // the file, then the screen on EXIT
        // On screen, in the file, on screen again: the image and its intensity bar.
        ASSERT_EQ(s.gr.images.size(), 6u);
        const int k = kRampBase;
        EXPECT_EQ(s.gr.images[2].cells,
                  (std::vector{k, k + (ps ? 255 : 127), k + (ps ? 85 : 42), k}));
        EXPECT_EQ(s.gr.images[4].cells, s.gr.images[0].cells);
        EXPECT_TRUE(contains(s.out.str(), " The image has been stored into the file: \n " + file +
                                              (ps ? ".ps\n" : ".gif\n")));
    }

    Screen s;
    s.st.job = Job::thickness_fringes;
    for (int nb : {5, 4, 6}) s.gr.press(nb);
    EXPECT_FALSE(result_viewer(s.gui, s.mem, s.st, ""));
    const std::string msg = " No image to store: the run (job 2) wrote no image file.\n";
    EXPECT_EQ(std::pair(s.out.str(), s.gr.opened.size()),
              std::pair(msg + msg, std::size_t{1})); // no file

    for (int nb : {1, 12}) {
        Screen o;
        o.gr.press(nb);
        EXPECT_TRUE(result_viewer(o.gui, o.mem, o.st, file) && o.gr.opened.size() == 1) << nb;
    }

    // A file that cannot be written is reported; the viewer goes on.
    Screen r;
    r.gr.press(5);
    r.gr.press(6);
    r.gr.refuse_open = true;
    EXPECT_FALSE(result_viewer(r.gui, r.mem, r.st, file));
    EXPECT_TRUE(contains(r.out.str(), "The image could not be stored")) << r.out.str();

    // Job 9's amplitude-phase diagram: the perfect-crystal path dashed, the defect's solid, an
    // arrow each, framed; then C-PS, EXIT or back to RUN. In file mode one finished PostScript a
    // position.
    PhaseDiagram diagram;
    diagram.perfect = {{0.0, 0.0}, {6.0, 0.0}, {6.0, 6.0}},
    diagram.defect = {{0.0, 0.0}, {0.0, 12.0}};
    using C = PhasePlotter::Choice;
    for (const auto& [nb, want] : {std::pair(5, C::to_files), {6, C::exit}, {3, C::back_to_run}}) {
        Screen ps;
        ps.gr.press(nb);
        EXPECT_EQ(draw_phase_diagram(ps.gui, ps.mem, diagram, ""), want);
        EXPECT_EQ(std::pair(ps.gui.device, ps.gr.arrows), std::pair(nb == 6 ? 0 : 1, 2));
        ASSERT_FALSE(ps.gr.boxes.empty());
        EXPECT_EQ(ps.gr.boxes.back(), std::tuple("BC", "BC", 1)); // framed in the foreground
        const auto paths = std::ranges::count_if(ps.gr.lines, [](auto& l) { // dashed; solid, at top
            return l.x.size() == 3 ? l.ls == 2 : l.x.size() == 2 && l.ls == 1 && l.y[1] > 0.79f;
        });
        EXPECT_EQ(paths, 2);
    }

    Screen ps;
    for (const char* ps_file : {"cu_-100.ps", "cu_-98.ps"})
        EXPECT_EQ(draw_phase_diagram(ps.gui, ps.mem, diagram, ps_file), C::next);
    EXPECT_EQ(ps.gr.opened, (Lines{"/XWINDOW", "cu_-100.ps/VCPS", "cu_-98.ps/VCPS"}));
    EXPECT_EQ(std::pair(ps.gr.closes, ps.gr.devices.size()), std::pair(3, std::size_t{0}));
    ps.gr.refuse_open = true;
    EXPECT_EQ(stop_lines([&] { draw_phase_diagram(ps.gui, ps.mem, diagram, "x.ps"); }),
              Lines{"the plot device is not available"});

    // The RUN panel: a click beside the buttons and buttons it does not serve are ignored
    // silently, RUN remembers the attributes current then and is redrawn pressed; EXIT closes.
    Screen rs;
    rs.gr.click(0.5f, 0.5f);
    for (int nb : {2, 1}) rs.gr.press(nb);
    ASSERT_TRUE(run_panel(rs.gui, rs.mem) && !rs.gr.texts.empty());
    EXPECT_EQ(
        std::tuple(rs.out.str(), rs.gr.events.size(), rs.mem.colour_index, rs.mem.char_height),
        std::tuple("", 0u, 1, 0.9f));
    EXPECT_EQ(std::tuple(rs.gr.texts.back().text, rs.gr.texts.back().ci, rs.gr.panel_x),
              std::tuple("RUN", 1, 2));

    rs.gr.press(6);
    EXPECT_FALSE(run_panel(rs.gui, rs.mem));
    EXPECT_EQ(std::tuple(rs.gr.closes, rs.gui.device, rs.gr.texts.back().text),
              std::tuple(1, 0, "EXIT"));

    // An image file drawn: levels floor((A - min) * 99 / (max - min)), data row y = 1 (1, 3, 5) on
    // top, the three terminal lines, a black-to-white ramp, the buttons' colours (1..20) given
    // back.
    ScratchDir idir;
    ImageData iimg = make_image(3, 2, [](int i, int j) { return 2 * (i - 1) + j; });
    write_image_file(idir.str() + "img_01g", iimg, RowFormat::es12_3);
    TestGui it;
    it.gr.scr(12, 0.5f, 0.5f, 0.5f);
    dataimaging(it.gui, idir.str() + "img_01g   ", 100);
    EXPECT_EQ(it.out.str(), " max: 6.0 min: 1.0\n Max: 6.0 Min: 1.0 Background 3.5\n"
                            " Contrast: 1.714285714 -3.5\n");
    ASSERT_EQ(it.gr.images.size(), 1u);
    const auto& iim = it.gr.images[0];
    EXPECT_EQ(std::tuple(iim.nx, iim.ny, iim.x1, iim.y2), std::tuple(3, 2, -1.0f, 1.0f));
    EXPECT_EQ(iim.cells, (std::vector<int>{19, 59, 99, 0, 39, 79}));
    EXPECT_EQ(std::pair(iim.colours[0][0], iim.colours[99][0]), std::pair(0.0f, 1.0f));
    EXPECT_EQ(std::pair(iim.colours[12][0], it.gr.colours[12][0]), std::pair(12.0f / 99.0f, 0.5f));

    // A uniform image has contrast 1; an all-zero border gives a background of 1e-10 instead
    // of a division by zero, and a zero minimum an infinite negative contrast.
    iimg.values.fill(0.25);
    EXPECT_EQ(image_summary(grey_levels(iimg, 256))[2], " Contrast: 1.0 -1.0");
    iimg = make_image(4, 3, [](int i, int j) { return i == 2 && j == 2 ? 2.0 : 0.0; });
    EXPECT_EQ(image_summary(grey_levels(iimg, 128))[2], " Contrast: 2E+10 Infinity");
}

// An nx x ny image of pixel size u (Angstrom) with value 2 in columns c1..c2, 1 elsewhere, and
// one column of 5 at x = 1 when `spike`.
std::string write_stripe(const ScratchDir& d, const std::string& name, int nx, int ny, double u,
                         int c1, int c2, bool spike = false) {
    const auto value = [&](int i, int) {
        return i == 1 && spike ? 5.0 : i >= c1 && i <= c2 ? 2 : 1;
    };
    write_image_file(d.str() + name, make_image(nx, ny, value, u, u), RowFormat::es12_3);
    return d.str() + name;
}

// Pixels of a picture drawn for real with a grey level in lo..hi, in columns x0..x1 - 1 of rows
// y0..y1 - 1.
int lit(const RgbPicture& p, int x0, int x1, int y0, int y1, int lo, int hi = 255) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const int g = p.rgb[3 * (std::size_t(y) * p.width + x)];
            n += g >= lo && g <= hi;
        }
    return n;
}

RgbPicture draw_png(const ScratchDir& d, ImageView& v, const std::string& name) {
    auto g = open_plot_devices();
    EXPECT_GT(g->open(d.str() + name + "/PNG"), 0);
    std::ostringstream out;
    Gui gui{*g, out, {}, 0, 0};
    viewer_layout(gui.layout);
    v.labels = false;
    draw_view(gui, v, 100, false);
    g->close();
    return read_png(d.str() + name);
}

// DIFF steps from the last beam to the first; CTS+ widens the grey step between stripe and
// background; LABEL drops the annotations; ZOOM+ after a click halves the window about the
// point clicked; the scale bar's text and the g arrow are drawn.
TEST(Viewer, ButtonsChangeTheViewSquarePixelsAndDefectOutlines) {
    ScratchDir d;
    Screen t;
    State& st = t.st;
    st.v_g = {2, 0, 0};
    st.mtx_beams.resize(3);
    for (int n = 1; n <= 3; ++n) st.mtx_beams(n) = n - 2;
    for (const char* tag : {"-01g", "00g", "01g"})
        write_stripe(d, std::string("cu") + tag, 40, 20, 10.0, 19, 22, true);
    ImageView v = view_of_run(st, d.str() + "cu01g");
    ASSERT_EQ(v.images.size(), 3u);
    draw_view(t.gui, v, 100, false);
    EXPECT_TRUE(t.gr.count_text("BF"));    // the bright field first
    EXPECT_TRUE(t.gr.count_text("10 nm")); // 40 nm wide: a quarter, rounded down to 1-2-5
    EXPECT_EQ(t.gr.arrows, 1);
    auto step = [](const testing::ScriptedGraphics::Image& im) { // stripe minus background
        return im.cells[20] - im.cells[10];
    };
    const int before = step(t.gr.images[0]);

    std::size_t from = t.gr.texts.size();
    ASSERT_TRUE(view_button(v, kDiffButton));
    draw_view(t.gui, v, 100, false);
    EXPECT_TRUE(t.gr.count_text("DF 2 0 0", from));
    ASSERT_TRUE(view_button(v, kContrastUpButton));
    draw_view(t.gui, v, 100, false);
    EXPECT_GT(step(*(t.gr.images.end() - 2)), before + before / 2);
    from = t.gr.texts.size();
    ASSERT_TRUE(view_button(v, kLabelButton));
    draw_view(t.gui, v, 100, false);
    EXPECT_EQ(t.gr.texts.size(), from);

    view_click(v, 10.0f, -8.0f);
    ASSERT_TRUE(view_button(v, kZoomInButton));
    draw_view(t.gui, v, 100, false);
    EXPECT_FLOAT_EQ(v.win[1] - v.win[0], 20.0f);
    EXPECT_FLOAT_EQ(v.win[0], 0.0f);   // about x = 10 nm
    EXPECT_FLOAT_EQ(v.win[2], -10.0f); // y clamped: the view stays on the image
    EXPECT_EQ(t.gr.images.back().nx, 20);
    EXPECT_FALSE(view_button(v, 8)); // DEFECT does not change the view

    // A 100 x 50 Angstrom uniform image is twice as wide as high within a pixel and middle grey;
    // ZOOM+ doubles the width of a stripe.
    ScratchDir pd;
    State ps;
    ImageView u = view_of_run(ps, write_stripe(pd, "flat", 20, 10, 5.0, 0, 0));
    const RgbPicture p = draw_png(pd, u, "flat.png");
    const int cx = static_cast<int>(p.width * (0.05 + 0.9 * 0.41));
    const int cy = static_cast<int>(p.height * (1 - 0.575));
    // Middle grey only within 126..128, the picture's width and height at one quarter of it.
    const int w = lit(p, 0, p.width, cy + p.height / 20, cy + p.height / 20 + 1, 126, 128);
    const int h = lit(p, cx - p.width / 10, cx - p.width / 10 + 1, 0, p.height, 126, 128);
    EXPECT_NEAR(w, 2 * h, 1.5) << w << " x " << h;
    EXPECT_GT(h, 50);

    ImageView stripe = view_of_run(ps, write_stripe(pd, "stripe", 40, 40, 1.0, 19, 22));
    const int w0 = lit(draw_png(pd, stripe, "z0.png"), 0, p.width, cy, cy + 1, 200);
    view_button(stripe, kZoomInButton);
    const int w1 = lit(draw_png(pd, stripe, "z1.png"), 0, p.width, cy, cy + 1, 200);
    EXPECT_GT(w0, 10);
    EXPECT_NEAR(w1, 2 * w0, 1.5) << w0 << " -> " << w1;

    // DEFECT draws the defect's outline over the image: a void's circle and an edge line where
    // the configuration puts them; a tetrahedron's faces meet at its four corners, which project
    // half an edge from the centroid along [001].
    ScratchDir od;
    State os;
    os.v_g = os.co_x = {2, 0, 0}, os.foil = {0, 0, 1}, os.size_x = os.size_y = os.size_z = 100;
    const std::string image = write_stripe(od, "img", 100, 100, 1.0, 0, 0);
    auto drawn = [&](const std::string& defect, const std::string& config) {
        os.defect = defect, os.defect_kind = defect_kind_from_name(defect);
        os.f_defect = od.str() + defect + ".ini";
        od.write(defect + ".ini", " {" + defect + "}\n ===\n" + config);
        TestGui tg;
        viewer_layout(tg.gui.layout);
        ImageView ov = view_of_run(os, image);
        EXPECT_TRUE(view_button(ov, kDefectButton)) << defect;
        draw_view(tg.gui, ov, 100, false);
        return tg.gr.lines;
    };
    for (const auto& l : drawn("void", "20.0\n30.0 50.0 40.0\n"))
        for (std::size_t k = 0; k < l.x.size(); ++k)
            EXPECT_NEAR(std::hypot(l.x[k] + 2.0f, l.y[k]), 2.0, 1e-5);
    const auto edge = drawn("edge", "1 2 1 0 1\n70.0 0.0 50.0\n0 1 0\n0.34\n1.0\n0\n");
    ASSERT_EQ(edge.size(), 1u);
    EXPECT_EQ(edge[0].x, (std::vector<float>{2.0f, 2.0f}));
    const auto sft = drawn("tetrahedron", "faulted\n50.0 40.0 50.0\n60.0\n0.34\n1.0\n");
    ASSERT_EQ(sft.size(), 4u);
    for (const auto& l : sft)
        for (std::size_t k = 0; k < l.x.size(); ++k)
            EXPECT_NEAR(std::hypot(l.x[k] - 0.0f, l.y[k] - 1.0f), 3.0, 1e-4);
}

// The overview of one condition with three beams: the page size, each panel showing its own
// beam (the stripe where that beam has it), a label above each image and a scale bar of the
// length it states (a quarter of the 40 nm field) within a pixel; a grey frame round each image.
TEST(Overview, PanelsInRowOrderWithLabelsAndScale) {
    ScratchDir d;
    State st;
    st.sample = "Cu", st.v_g = {2, 0, 0};
    st.mtx_beams.resize(3);
    OverviewRow row{"(g,1.0g)", {}, {}};
    for (int n = 1; n <= 3; ++n) {
        st.mtx_beams(n) = n - 2;
        const auto value = [n](int i, int j) {
            return i == 1 && j == 1 ? 1.0 : i >= 10 * n && i < 10 * n + 4 ? 2.0 : 1.5;
        };
        row.images.push_back(d.str() + "b" + std::to_string(n));
        write_image_file(row.images.back(), make_image(40, 40, value, 10, 10), RowFormat::es12_3);
    }
    make_overview_writer()->write(st, {row}, d.str() + "x_overview.png");
    const RgbPicture p = read_png(d.str() + "x_overview.png");
    const OverviewPage page = overview_page(3, 1);
    ASSERT_EQ(std::pair(p.width, p.height), std::pair(page.width, page.height));
    ASSERT_EQ(page.image_w, page.image_h); // square pixels of a square field
    auto grey = [&](int x, int y) { return int(p.rgb[3 * (std::size_t(y) * p.width + x)]); };
    const int top = page.header + page.pad + page.label_strip, bottom = top + page.image_h - 1;
    const int mid = (top + bottom) / 2;
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        const int a = c * page.panel_w + page.pad, b = a + page.image_w - 1;
        EXPECT_TRUE(grey(a, mid) > 100 && grey(a, mid) < 230) << grey(a, mid); // the frame
        int stripe = 0, bright = 0;
        for (int x = a + 2; x < b - 1; ++x)
            if (grey(x, mid) > 230) stripe += x - a, ++bright;
        const double px_per_cell = page.image_w / 40.0;
        EXPECT_NEAR(double(stripe) / bright / px_per_cell, 10 * (c + 1) + 1, 0.6);
        EXPECT_GT(lit(p, a, a + 40, top - page.label_strip, top - 2, 101), 20); // the label
        int bar = 0;
        for (int y = bottom + 2; y < bottom + page.scale_strip / 2; ++y)
            bar = std::max(bar, lit(p, a, a + page.image_w / 2, y, y + 1, 201));
        EXPECT_NEAR(bar, page.image_w / 4.0, 1.5);
    }
}

// The overview of every example (its parameters and defect file, images of its field's shape
// with values down to 1e-5, twelve rows for a series) keeps every label inside the picture:
// nothing lit on its border, the caption wrapped to the page. With one grey scale for all
// beams a weak beam is darker than over its own range.
TEST(Overview, EveryExampleKeepsItsLabelsInsideAndSharedGrey) {
    namespace fs = std::filesystem;
    int examples = 0;
    for (const auto& e : fs::directory_iterator(fs::path(KORVEX_SOURCE_DIR) / "examples")) {
        if (!fs::exists(e.path() / "run.args")) continue;
        SCOPED_TRACE(e.path().filename().string());
        ScratchDir d;
        fs::copy(e.path(), d.path(), fs::copy_options::recursive);
        d.enter();
        std::istringstream args(read_file(d.str() + "run.args"));
        std::string in, defect;
        args >> in >> defect;
        State st;
        std::ostringstream quiet;
        st.out = &quiet;
        read_system_parameters(st, in);
        st.f_defect = defect;
        const bool series = st.condition_n == kConditionSeries;
        // At most 48 x 48 cells of the field's size.
        const int nx = std::min(st.n_pixel_x, 48), ny = std::min(st.n_pixel_y, 48);
        std::vector<OverviewRow> rows;
        for (int r = 0; r < (series ? kSeriesLength : 1); ++r) {
            OverviewRow row{
                "(g," + std::to_string(series_condition(r + 1)).substr(0, 4) + "g)", {}, {}};
            for (int n = 1; n <= st.n_beams; ++n) {
                const double scale = st.mtx_beams(n) == 0 ? 0.9 : 1e-5 * (1 + r);
                row.images.push_back(d.str() + "b" + std::to_string(r) + "_" + std::to_string(n));
                write_image_file(row.images.back(),
                                 make_image(
                                     nx, ny, [&](int i, int) { return scale * (1 + i % 7); },
                                     st.size_x / nx, st.size_y / ny),
                                 RowFormat::es12_3);
            }
            rows.push_back(row);
        }
        int lit_pixels[2] = {0, 0};
        for (const bool shared : {false, true}) {
            make_overview_writer(OverviewOptions{shared})->write(st, rows, d.str() + "o.png");
            const RgbPicture p = read_png(d.str() + "o.png");
            EXPECT_EQ(lit(p, p.width - 3, p.width, 0, p.height, 60), 0);
            EXPECT_EQ(lit(p, 0, 3, 0, p.height, 60), 0);
            EXPECT_EQ(lit(p, 0, p.width, p.height - 3, p.height, 60), 0);
            EXPECT_EQ(lit(p, 0, p.width, 0, 3, 60), 0);
            const std::string caption = overview_caption(st, rows);
            EXPECT_TRUE(contains(caption, "file " + (st.defect_kind == DefectKind::loop
                                                         ? std::string("loop.ini")
                                                         : defect)) ||
                        st.defect_kind == DefectKind::perfect)
                << caption;
            lit_pixels[shared] = lit(p, 0, p.width, 0, p.height, 100);
        }
        // The weak beams' pictures are dark on the shared scale.
        EXPECT_LT(lit_pixels[1], 0.7 * lit_pixels[0]) << lit_pixels[1] << " " << lit_pixels[0];
        ++examples;
    }
    EXPECT_GE(examples, 10);
}

} // namespace
} // namespace korvex
