// Widgets (buttons, plot frame, cursor read, input boxes) and the entry form, scripted.
#include "gui/entry_form.hpp"
#include "gui/input_box.hpp"
#include "state/input.hpp"

#include "scripted_graphics.hpp"

namespace korvex {
namespace {

using namespace testing;

// A button is centred in its cell and gives the caller back its font, colour, viewport and
// window (whatever is drawn next would otherwise be misplaced), a disabled one too; invalid
// numbers and styles stop with the two-line message and draw nothing.
TEST(Toolkit, ButtonsPlotFrameAndCursor) {
    TestGui t;
    button(t.gui, 1, "RUN", 0);
    ASSERT_EQ(t.gr.texts.size(), 1u);
    EXPECT_NEAR(t.gr.texts[0].x, 0.93f, 1e-6); // the cell 0.88 .. 0.98
    EXPECT_EQ(std::tuple(t.gr.font, t.gr.ci, t.gr.vp[1], t.gr.win[1]), std::tuple(1, 1, 1.f, 1.f));
    button(t.gui, 4, "C", 3);
    EXPECT_EQ(std::pair(t.gr.ci, t.gui.layout.button_active[4]), std::pair(1, false));
    const std::tuple<int, int, std::string> stops[] = {
        {0, 0, "BUTTON NUMBER =    0"}, {9, 0, "BUTTON NUMBER =    9"}, {1, 6, "TYPE =    6"}};
    for (const auto& [nb, type, first] : stops)
        EXPECT_EQ(stop_lines([&, nb = nb, type = type] { button(t.gui, nb, "X", type); }),
                  (Lines{first, "ERROR: invalid button " + std::string(type ? "type" : "number") +
                                    " in SUBROUTINE BUTTON"}));
    EXPECT_EQ(t.gr.texts.size(), 2u);

    // Numbering goes left to right, then down; a shared edge goes to the lower number; the margin
    // around a drawn button counts; buttons not drawn, disabled or erased cannot be hit; the cells
    // are found under any viewport and window, reversed axes included.
    ButtonLayout& l = t.gui.layout;
    viewer_layout(l);
    const int drawn[] = {1, 2, 3, 4, 5, 6, 8};
    for (int nb : drawn) button(t.gui, nb, "B", 0);
    const float edge = button_cell(l, 1).x2;
    const std::tuple<float, float, int> hits[] = {
        {0.1f, 0.11f, 1},    {edge, 0.11f, 1},  {0.201f, 0.11f, 2},
        {0.0501f, 0.11f, 1}, {0.1f, 0.07f, 0},  {0.3f, 0.07f, 8},
        {0.5f, 0.5f, 0},     {0.04f, 0.11f, 0}, {0.949f, 0.129f, 6}};
    for (const auto& [x, y, nb] : hits) EXPECT_EQ(button_hit(t.gui, x, y), nb) << x << " " << y;
    for (const auto& [type, hit] : {std::pair(3, 0), {-1, 0}, {1, 2}, {-3, 2}, {0, 2}}) {
        button(t.gui, 2, "B", type);
        EXPECT_EQ(button_hit(t.gui, 0.3f, 0.11f), hit) << "style " << type;
    }

    const std::array<float, 8> frames[] = {{0.1f, 0.85f, 0.1f, 0.85f, -1.1f, 1.1f, -1.1f, 1.1f},
                                           {0.0f, 0.5f, 0.2f, 0.3f, 100.0f, -100.0f, 5.0f, 7.0f},
                                           {0.3f, 0.9f, 0.0f, 1.0f, 0.0f, 1e4f, 1.0f, 0.0f}};
    for (const auto& f : frames) {
        t.gr.svp(f[0], f[1], f[2], f[3]);
        t.gr.swin(f[4], f[5], f[6], f[7]);
        for (int nb : drawn) {
            const Cell c = button_cell(l, nb);
            const auto [x, y] = t.gr.to_world((c.x1 + c.x2) / 2, (c.y1 + c.y2) / 2);
            EXPECT_EQ(button_hit(t.gui, x, y), nb) << f[4];
        }
        const auto [x, y] = t.gr.to_world(0.5f, 0.5f);
        EXPECT_EQ(button_hit(t.gui, x, y), 0);
    }

    // An illegal axis choice is reported and framed as 0, in the plot rectangle; equal limits are
    // reported and leave window and frame alone.
    TestGui ft;
    rpgenv(ft.gui, -1.1f, 1.1f, -1.0f, 1.0f, 0, 7);
    EXPECT_EQ(ft.gr.boxes, (std::vector<Frame>{{"BCNST", "BCNST", 1}}));
    EXPECT_EQ(std::pair(ft.gr.vp[0], ft.gr.win[3]), std::pair(0.10f, 1.0f));
    ft.gr.swin(2.0f, 3.0f, 4.0f, 5.0f);
    rpgenv(ft.gui, 1.0f, 1.0f, 0.0f, 1.0f, 0, -1);
    rpgenv(ft.gui, 0.0f, 1.0f, 7.0f, 7.0f, 0, -1);
    EXPECT_EQ(ft.out.str(), " RPGENV: illegal AXIS argument.\n"
                            " invalid x limits in RPGENV: XMIN = XMAX.\n"
                            " invalid y limits in RPGENV: YMIN = YMAX.\n");
    EXPECT_EQ(std::pair(ft.gr.boxes.size(), ft.gr.win[0]), std::pair(std::size_t{1}, 2.0f));

    // A failed cursor read gives (0, 0) and 'X' with the two-line message; a cursor that keeps
    // failing stops the run instead of looping for ever. Positions print in free format.
    TestGui ct;
    float cx = 9, cy = 9;
    char ch = 0;
    ct.gr.fail_reads(1);
    ct.gr.click(0.25f, 0.5f);
    read_cursor_band(ct.gui, 0, 0, 0.0f, 0.0f, cx, cy, ch);
    EXPECT_EQ(ct.out.str(), " ERROR: in subroutine PGBAND.\n => returned XC=YC=0.0, CH=\"X\"\n");
    EXPECT_EQ(std::tuple(cx, cy, ch), std::tuple(0.0f, 0.0f, 'X'));
    read_cursor_band(ct.gui, 0, 0, 0.0f, 0.0f, cx, cy, ch);
    EXPECT_EQ(std::tuple(cx, cy, ch), std::tuple(0.25f, 0.5f, 'A'));

    ct.gr.fail_reads(50);
    const Lines lines = stop_lines([&] {
        for (;;) read_cursor_band(ct.gui, 0, 0, 0.0f, 0.0f, cx, cy, ch);
    });
    EXPECT_TRUE(lines.size() == 1 && contains(lines[0], "cursor")) << lines.size();
    EXPECT_EQ(std::tuple(list_real32(-2.0f), list_real32(1.0f / 3)),
              std::tuple("-2.0", "0.3333333"));
}

// A box in the middle of a 0..1 window; typed keys arrive inside it.
InputBox test_box(int layout = 1, int lablen = 10) {
    InputBox b{
        .x1 = 0.55f, .x2 = 0.95f, .y1 = 0.50f, .y2 = 0.53f, .label = "Zone Axis:", .initial = ""};
    std::tie(b.layout, b.lablen) = std::pair(layout, lablen);
    return b;
}

// Numeric boxes echo what they take: separators only after a digit, the end only after a digit
// (Return or '@', a click outside), no second point or letters, '-' negating wherever it comes,
// no point or overflow in an integer box; Backspace cancels (flag 0), keeping unsigned digits.
// An offered value is taken by Return or a click outside; any other first key replaces it.
// What the box shows at the end is the whole text typed, drawn in one piece (no stray bars).
TEST(InputBox, KeySequencesDrawingAndBadBoxes) {
    // clang-format off
    const std::tuple<bool, std::string, std::vector<double>, std::string, std::string> cases[] = {
        {true, "1,-2.5 3\r", {1.0, -2.5, 3.0}, "1,-2.5 3", ""}, {true, "\r-.5A@", {-0.5}, "-.5", ""},
        {true, "1..5\r", {1.5}, "1.5", ""}, {true, " ,2 x 7,0.05\r", {2.0, 7.0, 0.05}, "2 7,0.05", ""},
        {true, "1-\r", {-1.0}, "1-", ""}, {false, "3 -4.\r", {3.0, -4.0}, "3 -4", ""},
        {false, "21474836479\r", {2147483647.0}, "2147483647", ""}, {true, "\b", {0.0}, "", ""},
        {false, "\b", {0.0}, "", ""}, {true, "-3\b", {3.0}, "-3", ""},
        {true, "\r", {2.0, 0.0, -1.5}, "2 0 -1.5", "2 0 -1.5"},
        {true, "@", {2.0, 0.0, -1.5}, "2 0 -1.5", "2 0 -1.5"},
        {true, "1 1 1\r", {1.0, 1.0, 1.0}, "1 1 1", "2 0 -1.5"},
        {false, "7\r", {7.0}, "7", "200"}, {false, "\b", {0.0}, "", "200"}};
    // clang-format on
    for (const auto& [real, keys, want, echo, offer] : cases) {
        TestGui t;
        for (char c : keys) c == '@' ? t.gr.click(0.2f, 0.51f) : t.gr.type({c});
        int flag = -1;
        std::vector<double> got{5.0};
        std::vector<int> i{5};
        InputBox b = test_box();
        b.initial = offer;
        if (real) inputboxreal(t.gui, b, 1, int(want.size()), got, flag);
        if (!real) inputboxinte(t.gui, b, 1, int(want.size()), i, flag);
        if (!real) got.assign(i.begin(), i.end());
        const std::string shown = t.gr.texts.size() > 1 ? t.gr.texts.back().text : "";
        const bool cancel = keys.back() == '\b';
        EXPECT_EQ(std::tuple(got, flag), std::tuple(want, cancel ? 0 : 1)) << keys;
        if (!cancel || offer.empty()) {
            EXPECT_EQ(shown, echo) << keys;
        }
        EXPECT_TRUE(t.gr.events.empty()) << keys;
        EXPECT_EQ(t.gr.ci, 1) << keys;
    }

    // The text box ends when full or on Return, stores a left click as "A", skips the middle and
    // right buttons, leaves the text beyond n characters alone; Backspace cancels.
    // clang-format off
    const std::tuple<std::string, std::string, std::string, int> text_cases[] = {
        {"Cu", "", "Cu", 1}, {"W\r", "", "W ", 1}, {"qA", "abcdef", "qAcdef", 1},
        {"DXab", "", "ab", 1}, {"\b", "zz", "  ", 0}, {"C\x01\x1b\x7fu", "", "Cu", 1}};
    // clang-format on
    for (const auto& [keys, before, want, want_flag] : text_cases) {
        TestGui t;
        t.gr.type(keys);
        std::string s = before;
        int flag = -1;
        inputboxchar(t.gui, test_box(), 1, 2, s, flag);
        EXPECT_EQ(std::tuple(flag, s, t.gr.events.size()), std::tuple(want_flag, want, 0u)) << keys;
    }
    // A device that tells keys from buttons: typed "D" and "X" are text, the buttons are not.
    {
        TestGui t;
        t.gr.click_button(2);
        t.gr.click_button(3);
        t.gr.keys("3D");
        std::string s;
        int flag = -1;
        inputboxchar(t.gui, test_box(), 1, 2, s, flag);
        EXPECT_EQ(s, "3D");
    }

    // Status 0 draws the labelled box and clears the value without reading a key; the label sits
    // left of the box or above it; a bad rectangle or layout stops.
    TestGui t;
    std::vector<double> v{1.0, 2.0};
    int flag = 7;
    inputboxreal(t.gui, test_box(), 0, 2, v, flag);
    EXPECT_EQ(std::pair(flag, v), std::pair(7, std::vector<double>{0.0, 0.0}));
    std::string s;
    inputboxchar(t.gui, test_box(2, 4), 0, 5, s, flag);
    ASSERT_EQ(t.gr.texts.size(), 2u);
    const auto &left = t.gr.texts[0], &above = t.gr.texts[1];
    EXPECT_EQ(std::tuple(left.text, left.fjust), std::tuple("Zone Axis:", 1.0f));
    EXPECT_TRUE(left.x < 0.55f && left.x > 0.54f) << left.x; // ends just left of the box
    EXPECT_EQ(std::tuple(above.text, above.fjust), std::tuple("Zone", 0.0f));
    EXPECT_TRUE(above.x < 0.55f && above.y > 0.53f) << above.x << " " << above.y;
    EXPECT_NEAR(left.height, 34.0f * 0.03f, 1e-5); // the text scales with the box

    InputBox flat = test_box(), bad_layout = test_box(3);
    flat.x2 = flat.x1;
    EXPECT_EQ(stop_lines([&] { inputboxreal(t.gui, flat, 0, 1, v, flag); }),
              Lines{"The location of input box defined wrong in INPUTBOXREAL"});
    EXPECT_EQ(stop_lines([&] { inputboxreal(t.gui, bad_layout, 0, 1, v, flag); }),
              Lines{"The layout of INPUTBOX given wrong"});
}

// The keys of the main page, one entry per box in the order they are taken (two characters
// end the crystal box by themselves).
struct Page {
    std::string crystal = "Cu", job = "1\r", ca = "no\r", voltage = "200\r", defect = "no\r";
    std::string size = "8 8\r", thickness = "20\r", zone = "0 0 1\r", g = "2 0 0\r";
    std::string beams = "-1 1\r", fg = "1\r", absorption = "1\r", output = "cu200\r";
    std::string column = "", defect_panel = ""; // job 9's column position; the defect's page
};

// The form run in a scratch directory of its own.
struct Form {
    ScratchDir dir;
    TestGui t;
    State st;

    Form() {
        dir.enter();
        dir.write("filesystem.ini", "dirs\nroot, system, run, record, data\n'/data/'\n'sys/'\n"
                                    "'run/'\n'rec/'\n'out/'\n");
    }
    // Types the page; returns the lines of the stop it caused (none when it passed). Every key
    // must have been taken either way.
    Lines run(const Page& p) {
        t.gr.keys(p.crystal + p.job + p.ca + p.voltage + p.defect + p.size + p.thickness + p.zone +
                  p.g + p.beams + p.fg + p.absorption + p.output + p.column + p.defect_panel);
        Lines stop;
        try {
            guiinput_system_parameters(st, t.gui);
        } catch (const Fatal& e) {
            stop = e.lines();
        } catch (const std::runtime_error& e) { // the keys ran out: the form asked for more
            ADD_FAILURE() << e.what() << "\n" << t.out.str();
        }
        EXPECT_TRUE(t.gr.events.empty()) << t.gr.events.size() << " keys left";
        EXPECT_EQ(st.allocated, stop.empty()); // arrays only for a parameter set that passed
        return stop;
    }
};

// Every box lands in its field of the State, and the derived grid and beams follow; the run's
// parameters are saved as an input file the text mode reads back to the same State.
TEST(EntryForm, FieldsCaseRulesRefusedValuesAndDefectPages) {
    Form f;
    f.dir.write("filesystem.ini", "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n");
    ASSERT_EQ(f.run(Page{}), Lines{});
    const State& st = f.st;
    EXPECT_EQ(f.t.gr.opened, Lines{"/XWINDOW"});
    EXPECT_EQ(std::tie(st.sample, st.sample_no, st.ca, st.defect, st.f_defect, st.f_out),
              std::make_tuple("Cu", "Cu", ColumnApprox::no, "no", "", "cu200"));
    EXPECT_EQ(std::tie(st.voltage, st.size_x, st.size_z, st.condition_n, st.foil, st.v_g, st.co_x),
              std::make_tuple(200.0, 8.0, 20.0, 1.0, Vec3{0, 0, 1}, Vec3{2, 0, 0}, Vec3{2, 0, 0}));
    EXPECT_EQ(std::tie(st.job, st.n_pixel_x, st.n_pixel_y, st.n_slice, st.n_beams, st.iabs,
                       st.eigen_model, st.ncon),
              std::make_tuple(Job::amplitude_images, 8, 8, 20, 3, 1, 4, 1));
    EXPECT_EQ(std::tuple(st.mtx_beams(1), st.mtx_beams(3), st.colxy),
              std::tuple(-1, 1, std::array{0.0, 0.0}));
    State back;
    read_system_parameters(back, "cu200.in");
    EXPECT_EQ(std::tie(back.sample, back.job, back.ca, back.voltage, back.defect, back.size_y,
                       back.size_z, back.foil, back.v_g, back.n_beams, back.condition_n, back.iabs),
              std::tie(st.sample, st.job, st.ca, st.voltage, st.defect, st.size_y, st.size_z,
                       st.foil, st.v_g, st.n_beams, st.condition_n, st.iabs));
    // The viewer's buttons, the form's labels and the program's version are drawn; the viewer's
    // layout is left for the screens that follow.
    for (const char* s : {"STOP", "RUN", "Accelerating Voltage:", "version 0.1.0"})
        EXPECT_GT(f.t.gr.count_text(s), 0) << s;
    EXPECT_EQ(std::pair(f.t.gui.layout.grid_columns, f.t.gui.layout.plot_viewport_y2),
              std::pair(6, 0.80f));

    // A loaded input file offers every value: Return takes each one, and the form ends with the
    // same State; the defect file named with it is offered too.
    Form l;
    l.dir.write("filesystem.ini", "dirs\n---\n''\n'./'\n'./'\n'./'\n'./'\n");
    l.dir.write("run.in", read_file(f.dir.str() + "cu200.in"));
    l.st.f_in = "run.in";
    Page offered{.crystal = "\r", .job = "\r", .ca = "\r", .voltage = "\r", .defect = "\r"};
    std::tie(offered.size, offered.thickness, offered.zone, offered.g) =
        std::tuple("\r", "\r", "\r", "\r");
    std::tie(offered.beams, offered.fg, offered.absorption, offered.output) =
        std::tuple("\r", "\r", "\r", "\r");
    ASSERT_EQ(l.run(offered), Lines{});
    EXPECT_EQ(std::tie(l.st.sample, l.st.voltage, l.st.size_z, l.st.n_beams, l.st.f_out),
              std::make_tuple("Cu", 200.0, 20.0, 3, "run.in"));
    EXPECT_TRUE(l.dir.exists("run.in.in")); // the user's run.in is kept as it was

    // Case rules of the text boxes: every defect name of the text reader in any case.
    for (const auto& [typed, want] : {std::pair("SCREW", "screw"),
                                      {"Loop", "loop"},
                                      {"No", "no"},
                                      {"VOID", "void"},
                                      {"3d-strain", "3D-strain"}})
        EXPECT_EQ(defect_case(typed), want);

    // Values the text reader or the run would refuse are refused at their box, named with what
    // was read, under the boxes and on the terminal; the box is taken again.
    Form g;
    Page p{.crystal = "cuCu", .job = "7\b1\r", .ca = "maybe\ry\rYes \r", .voltage = "250\r200\r"};
    p.absorption = "2\r-1\r0\r";
    ASSERT_EQ(g.run(p), Lines{});
    EXPECT_EQ(std::tie(g.st.sample, g.st.ca), std::make_tuple("Cu", ColumnApprox::yes));
    EXPECT_EQ(std::pair(g.st.job, g.st.iabs), std::pair(Job::amplitude_images, 0));
    const std::string ca_msg =
        " The value for COLUMN APPROXIMATION only can be <yes>, <no> or <half>\n";
    const std::string abs_msg = " 1: with absorption; 0: without absorption.\n";
    EXPECT_TRUE(contains(g.t.out.str(), ca_msg + ca_msg));
    EXPECT_TRUE(contains(g.t.out.str(), abs_msg + abs_msg));
    for (const char* m : {"\"cu\"", "250000"}) EXPECT_TRUE(contains(g.t.out.str(), m)) << m;

    const std::string edge_keys = "\r1 2 1 -1 0\r1 1 -2\r4 4 10\r0\r0.3\r\r";
    const std::string void_file = " {void}\n ===\n 10.0\n 4 4 10\n";
    const std::pair<Page, std::string> cases[] = {
        {Page{.defect = "void\r", .defect_panel = "none.ini\rvoid.ini\r"},
         "no such file in the working directory"},
        {Page{.beams = "3 -1\r-1 1\r"}, "The beam range given is wrong"},
        {Page{.beams = "1 3\r-1 1\r"}, "the beam row must contain the transmitted beam 0"},
        {Page{.defect = "edge\r", .beams = "2 1\r-1 2\r", .defect_panel = edge_keys},
         "The beam range given is wrong"},
        {Page{.zone = "1 1 1\r", .g = "1 1 1\r2 -2 0\r"}, "SAMPLE COORDINATES SYSTEM GIVEN WRONG!"},
        {Page{.g = "2.5 0 0\r2 0 0\r"}, "must have whole-number indices"},
        {Page{.size = "5000 5000\r", .thickness = "3000\r", .beams = "-1 1\r8 8\r20\r-1 1\r"},
         "The size of array is too big, please reduce the number of grids"},
        {Page{.zone = "1 1 0\r", .g = "0 0 2\r"}, ""},
        {Page{.ca = "HALF\r", .defect = "edge\r", .defect_panel = edge_keys}, ""},
        {Page{.ca = "half\r", .defect = "void\r", .defect_panel = "void.ini\r"}, ""},
        {Page{.ca = "half\r", .defect = "3D-strain\rno\r", .defect_panel = "void.ini\r"},
         "Please make right choice for the Column Approximation"},
        {Page{.job = "3\r"}, ""},
        {Page{.job = "9\r", .column = "1.5 -20\r"}, ""},
        {Page{.job = "4\r1\r"}, "The job model given wrong!"},
        {Page{.job = "10\r3\r"}, "The job model given wrong!"}};
    for (const auto& [page, message] : cases) {
        Form fm;
        fm.dir.write("void.ini", void_file);
        EXPECT_EQ(fm.run(page), Lines{}) << page.job << page.zone;
        EXPECT_TRUE(message.empty() || contains(fm.t.out.str(), message)) << message;
        std::string notes; // the message lines under the boxes, maybe wrapped
        for (const auto& x : fm.t.gr.texts) notes += x.ci == 7 ? x.text + " " : "";
        EXPECT_EQ(message.empty() ? notes.empty() : contains(notes, message), true) << notes;
        EXPECT_EQ(fm.dir.exists("edge.ini"), !page.defect_panel.empty() && page.defect == "edge\r");
        const bool with_file = page.defect.starts_with("void") || page.defect.starts_with("3D");
        EXPECT_EQ(fm.st.f_defect, with_file                 ? "void.ini"
                                  : page.defect == "edge\r" ? "edge.ini"
                                                            : "");
        EXPECT_EQ(fm.st.ca == ColumnApprox::half,
                  (page.ca == "HALF\r" || page.ca == "half\r") && !page.defect.starts_with("3D"));
        EXPECT_GT(fm.t.gr.count_text("yes, no or half"), 0); // every box says what it takes
        if (page.column.empty()) continue;
        EXPECT_EQ(fm.st.job, Job::amplitude_phase);
        EXPECT_EQ(fm.st.colxy, (std::array{1.5, -20.0}));
    }

    // A file the form did not write is replaced only when the user says so; otherwise another
    // name is asked for.
    for (const char* answer : {"yes\r", "no\rmy.ini\r"}) {
        Form o;
        o.dir.write("edge.ini", "the user's\n");
        ASSERT_EQ(o.run(Page{.defect = "edge\r", .defect_panel = edge_keys + answer}), Lines{});
        const bool kept = answer[0] == 'n';
        EXPECT_EQ(o.dir.read("edge.ini") == "the user's\n", kept) << answer;
        EXPECT_EQ(o.st.f_defect, kept ? "my.ini" : "edge.ini");
        EXPECT_TRUE(o.dir.exists(o.st.f_defect));
    }

    // EXIT clicked while a box is typed into ends the form at once.
    Form x;
    x.t.gr.type("C");
    // EXIT's centre (0.875, 0.11 of the right panel) in the form's window of the left one.
    x.t.gr.click((1.875f - 0.03f) / 0.94f, (0.11f - 0.17f) / 0.8f);
    EXPECT_THROW(guiinput_system_parameters(x.st, x.t.gui), ExitRequested);
    EXPECT_FALSE(x.t.gui.exit_button); // no longer watched once the form is left

    // The defect pages write the configuration file the defect model reads, byte for byte: the
    // screw's cut plane is perpendicular to b and its point moves to the surface when relaxed;
    // the loop's radius is half the diameter typed.
    const char* const rule =
        " ===================================================================\n";
    const struct {
        std::string defect, keys, file, text;
    } pages[] = {
        {"Screw\r", "\r1 2 1 1 1\r20 30.5 40\r1\r\r", "screw.ini",
         "              {Data for the screw dislocation in Crystal}\n" + std::string(rule) +
             "  1.0  2.0  1.0  1.0  1.0                               Burger vector m/n[i,j,k]\n"
             "   20.00   30.50    0.00              A point that the screw dislocation passes\n"
             "  1.0  0.0 -1.0                                                    Cut plane\n"
             "   1                           Surface relaxation, 1: with, 0 without\n"},
        {"screw\r", "\r1 2 1 -1 0\r0 0 40\r0\rAnisotropic\r", "screw.ini",
         "              {Data for the screw dislocation in Crystal}\n" + std::string(rule) +
             "  1.0  2.0  1.0 -1.0  0.0                               Burger vector m/n[i,j,k]\n"
             "    0.00    0.00   40.00              A point that the screw dislocation passes\n"
             "  0.0  0.0  1.0                                                    Cut plane\n"
             "   0                           Surface relaxation, 1: with, 0 without\n"
             "anisotropic                      Elasticity: isotropic or anisotropic\n"},
        {"Edge\r", "\r1 2 1 -1 0\r1 1 -2\r32 32 100\r0\r0.33\risotropic\r", "edge.ini",
         "              {Data for the edge dislocation in Crystal}\n" + std::string(rule) +
             "  1.0  2.0  1.0 -1.0  0.0                               Burger vector m/n[i,j,k]\n"
             "   32.00   32.00  100.00               A point that the edge dislocation passes\n"
             "  1.0  1.0 -2.0                                             Dislocation line\n"
             " 0.33000                           Poissons ratio\n"
             " 0.00000           A factor to avoid the singular\n"
             "   0                           Surface relaxation, 1: with, 0 without\n"},
        {"PG_loop\r", "\rfaulted\r1 3 1 1 1\r1 3 1 1 1\r20\r40 40 50\r1 1 1\r1 -1 0\r6\r0.3\r",
         "pgLoop.ini",
         "              {Data for the polygonal loop in Crystal}\n" + std::string(rule) +
             " faulted                       \n"
             "  1.0  3.0  1.0  1.0  1.0                              Burger vector: m/n[i,j,k]\n"
             "  1.0  3.0  1.0  1.0  1.0                             Stacking fault: m/n[i,j,k]\n"
             "   10.0000                         Radius of the loop, diameter/2\n"
             "   40.00   40.00   50.00                   The position of the loop in the foil\n"
             "  1.0  1.0  1.0                                             Loop habit plane\n"
             "  1.0 -1.0  0.0                                              Loop plane pole\n"
             "    6                           The number of the loop edges\n"
             "    0.3000                                         Poissons ratio\n"
             "    1.0000                            Factor to avoid singularity\n"}};
    for (const auto& pg : pages) {
        Form fm;
        ASSERT_EQ(fm.run(Page{.defect = pg.defect, .defect_panel = pg.keys}), Lines{}) << pg.file;
        EXPECT_EQ(fm.st.f_defect, pg.file);
        EXPECT_EQ(fm.dir.read(pg.file), pg.text);
        EXPECT_TRUE(pg.file != "pgLoop.ini" || fm.st.defect_kind == DefectKind::pg_loop);
    }
}

} // namespace
} // namespace korvex
