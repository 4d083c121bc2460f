#include "gui/entry_form.hpp"

#include "gui/form_notes.hpp"
#include "gui/input_box.hpp"
#include "optics/vectors.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/input.hpp"
#include "state/textout.hpp"

#include <cctype>
#include <vector>

namespace korvex {

namespace {

// Where a value of the entry form was typed, for the messages of the value checks.
ValueSource field(int n) {
    return "In the entry form, field " + std::to_string(n);
}

// The form's boxes, with the colours and layout every one of them uses.
class Form {
  public:
    Form(Gui& gui) : gui_(gui) {}

    InputBox box(int n, const std::string& label) const {
        const BoxRect r = form_box(n);
        InputBox b;
        b.box = n;
        b.x1 = r.x1;
        b.x2 = r.x2;
        b.y1 = r.y1;
        b.y2 = r.y2;
        b.colour1 = {1.0f, 1.0f, 1.0f};
        b.colour2 = {1.0f, 0.0f, 0.0f};
        b.layout = 1;
        b.label = label;
        b.lablen = static_cast<int>(label.size());
        return b;
    }

    // Each box is taken again for as long as its entry is cancelled with Backspace; while it
    // is taken the lines below the boxes say what it takes and why a value was refused.
    std::vector<double> reals(int n, const std::string& label, int count, int status = 1) {
        std::vector<double> v;
        notes(label, status);
        do inputboxreal(gui_, box(n, label), status, count, v, flag(n));
        while (status != 0 && flag(n) == 0);
        return v;
    }
    std::vector<int> ints(int n, const std::string& label, int count, int status = 1) {
        std::vector<int> v;
        notes(label, status);
        do inputboxinte(gui_, box(n, label), status, count, v, flag(n));
        while (status != 0 && flag(n) == 0);
        return v;
    }
    std::string text(int n, const std::string& label, int count, int status = 1) {
        std::string t;
        notes(label, status);
        do inputboxchar(gui_, box(n, label), status, count, t, flag(n));
        while (status != 0 && flag(n) == 0);
        return trim(t);
    }

    // The elasticity of a dislocation: empty (Return alone) or "isotropic", or "anisotropic",
    // in any case; anything else is refused with a message and the box taken again.
    Elasticity elasticity(int n) {
        for (;;) {
            std::string t = text(n, "Elasticity:", 20);
            for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (t.empty() || t == "isotropic") return Elasticity::isotropic;
            if (t == "anisotropic") return Elasticity::anisotropic;
            refuse("The elasticity only can be <isotropic> or <anisotropic>");
        }
    }

    // A value refused: the message goes to the terminal and under the box asked again.
    void refuse(const std::string& message) {
        gui_.out << " " << message << "\n";
        gui_.out.flush();
        message_ = message;
    }

  private:
    void notes(const std::string& label, int status) {
        if (status == 0) return;
        form_notes(gui_, box_hint(label), message_);
        message_.clear();
    }
    std::string message_;
    int& flag(int n) { return boxstatus_[static_cast<std::size_t>(n - 1)]; }
    Gui& gui_;
    std::array<int, 100> boxstatus_{};
};

Vec3 vec3(const std::vector<double>& v) {
    return {v.at(0), v.at(1), v.at(2)};
}

FractionVector vec5(const std::vector<double>& v) {
    return {v.at(0), v.at(1), v.at(2), v.at(3), v.at(4)};
}

const char* const kMainLabels[13] = {"Crystal:",
                                     "Job module:",
                                     "Column Approximation:",
                                     "Accerlating Voltage:",
                                     "Defect:",
                                     "Image Size X-Y:",
                                     "Foil Thickness:",
                                     "Zone Axis:",
                                     "Diffraction Vector:",
                                     "Beam Range:",
                                     "(g,ng):",
                                     "Absorption:",
                                     "Output File:"};

const char* const kViewerButtons[12] = {"RUN",  "ZOOM+",  "ZOOM-", "GIF",  "C-PS",  "EXIT",
                                        "DIFF", "DEFECT", "CTS+",  "CTS-", "LABEL", "STOP"};

void draw_title(Gui& gui) {
    Graphics& g = gui.gr;
    const float ch = g.qch();
    g.sch(1.2f * ch);
    g.scf(3);
    g.sci(4);
    g.ptxt(1.05f, 1.05f, 0.0f, 1.0f, "KORVEX");
    g.sci(2);
    g.ptxt(1.053f, 1.047f, 0.0f, 1.0f, "KORVEX");
    g.sch(0.7f * ch);
    g.sci(4);
    g.ptxt(1.05f, 1.025f, 0.0f, 1.0f, "version 2.1");
    g.scf(1);
    const char* const credits[4] = {
        "TEM diffraction-contrast images of crystal defects",
        "Fill the boxes from the top; Return ends a box.",
        "Backspace clears the current box and takes it again.",
        "RUN starts the simulation; GIF and C-PS store the last image.",
    };
    const float ys[4] = {-0.022f, -0.05f, -0.075f, -0.1f};
    for (int i = 0; i < 4; ++i) g.ptxt(-0.05f, ys[i], 0.0f, 0.0f, credits[i]);
    g.sch(ch);
    g.scf(1);
    g.sci(1);
}

void install_viewer_layout(ButtonLayout& l) {
    l.grid_columns = 6;
    l.grid_rows = 2;
    l.button_font = 2;
    l.button_char_height = 1.0f;
    l.label_baseline_fraction = 0.35f;
    l.plot_viewport_x1 = 0.05f;
    l.plot_viewport_x2 = 0.95f;
    l.plot_viewport_y1 = 0.35f;
    l.plot_viewport_y2 = 0.80f;
    l.button_area_x1 = 0.05f;
    l.button_area_x2 = 0.95f;
    l.button_area_y1 = 0.05f;
    l.button_area_y2 = 0.13f;
}

void screw_panel(Form& form) {
    const FractionVector b = vec5(form.reals(17, "Burgers Vector:", 5));
    // The cut plane contains the Burgers vector: its normal is any short integer vector
    // perpendicular to the direction [i j k].
    const Vec3 cut = perpendicular_vector({b[2], b[3], b[4]});
    Vec3 point = vec3(form.reals(18, "Position of dislocation:", 3));
    const int relaxation = form.ints(19, "Surface relaxation:", 1).at(0);
    // The relaxed solution is written for a dislocation lying in the entrance surface plane.
    if (relaxation == 1) point[2] = 0.0;
    const Elasticity elasticity = form.elasticity(20);
    write_text_file("screw.ini", screw_ini_text(b, point, cut, relaxation, elasticity));
}

void edge_panel(Form& form, State& st) {
    st.f_defect = "edge.ini";
    const FractionVector b = vec5(form.reals(17, "Burgers Vector:", 5));
    const Vec3 line = vec3(form.reals(18, "Dislocation line:", 3));
    const Vec3 point = vec3(form.reals(19, "Position of dislocation:", 3));
    const int relaxation = form.ints(20, "Surface relaxation:", 1).at(0);
    const double poisson = form.reals(21, "Poissons ratio:", 1).at(0);
    const Elasticity elasticity = form.elasticity(22);
    write_text_file("edge.ini", edge_ini_text(b, point, line, poisson, relaxation, elasticity));
}

void loop_panel(Form& form, State& st) {
    st.f_defect = "pgLoop.ini";
    const std::string nature = form.text(17, "Defect nature:", 30);
    const FractionVector b = vec5(form.reals(18, "Burgers Vector:", 5));
    const FractionVector fault = vec5(form.reals(19, "Stacking fault:", 5));
    const double radius = form.reals(20, "Size of the loop:", 1).at(0) / 2.0; // a diameter
    const Vec3 position = vec3(form.reals(21, "Position of the loop:", 3));
    const Vec3 normal = vec3(form.reals(22, "Loop habit plane:", 3));
    const Vec3 polar = vec3(form.reals(23, "Loop plane pole:", 3));
    const int nsides = form.ints(24, "Number of loop edges:", 1).at(0);
    const double poisson = form.reals(25, "Poissons ratio:", 1).at(0);
    write_text_file("pgLoop.ini", pgloop_ini_text(nature, b, fault, radius, position, normal, polar,
                                                  nsides, poisson));
}

} // namespace

BoxRect form_box(int n) {
    const float y1 = static_cast<float>(25 - n) / 25.0f;
    const float y2 = static_cast<float>(26 - n) / 25.0f - 0.0088f;
    return BoxRect{0.55f, 0.95f, y1, y2};
}

std::string column_approximation_case(const std::string& typed) {
    const std::string t = trim(typed);
    if (t == "Yes" || t == "YES") return "yes";
    if (t == "No" || t == "NO") return "no";
    return t;
}

std::string defect_case(const std::string& typed) {
    const std::string t = trim(typed);
    if (t == "Screw" || t == "SCREW") return "screw";
    if (t == "Edge" || t == "EDGE") return "edge";
    if (t == "loop" || t == "Loop" || t == "LOOP") return "pg_loop";
    if (t == "No" || t == "NO") return "no";
    return t;
}

void guiinput_system_parameters(State& st, Gui& gui) {
    Graphics& g = gui.gr;
    read_filesystem_ini(st);

    int idn = 0;
    rpgbegin(gui, idn);
    g.ask(false);
    draw_title(gui);

    install_viewer_layout(gui.layout);
    g.subp(2, 1);
    g.panl(2, 1);
    for (int nb = 1; nb <= 12; ++nb) button(gui, nb, kViewerButtons[nb - 1], 0);
    rpgenv(gui, -1.1f, 1.1f, -1.1f, 1.1f, 0, -1);
    {
        const float ch = g.qch();
        g.sch(2.8f * ch);
        g.ptxt(-1.1f, 1.6f, 0.0f, 0.5f, "TEM Diffraction Calculation");
        g.sch(ch);
    }

    g.select(idn);
    g.panl(1, 1);
    rpgenv(gui, 0.0f, 1.0f, 0.0f, 1.0f, 0, -2);

    Form form(gui);
    // The whole main page first, empty, so that the user sees what will be asked.
    for (int n = 1; n <= 13; ++n) {
        const std::string label = kMainLabels[n - 1];
        switch (n) {
        case 1:
            form.text(n, label, 2, 0);
            break;
        case 3:
            form.text(n, label, 5, 0);
            break;
        case 5:
            form.text(n, label, 30, 0);
            break;
        case 13:
            form.text(n, label, 300, 0);
            break;
        case 2:
        case 12:
            form.ints(n, label, 1, 0);
            break;
        case 10:
            form.ints(n, label, 2, 0);
            break;
        case 6:
            form.reals(n, label, 2, 0);
            break;
        case 8:
        case 9:
            form.reals(n, label, 3, 0);
            break;
        default:
            form.reals(n, label, 1, 0);
            break;
        }
    }
    st.f_defect = "screw.ini";

    // A value the run would refuse is refused at its box, which is taken again: nothing typed
    // before is lost.
    st.sample = form.text(1, kMainLabels[0], 2);
    for (;;) {
        const int job = form.ints(2, kMainLabels[1], 1).at(0);
        st.job = Job{job};
        if (job <= 3 || st.job == Job::amplitude_phase) break;
        form.refuse("The job model given wrong!");
    }
    for (;;) {
        st.ca = column_approx_from_text(column_approximation_case(form.text(3, kMainLabels[2], 5)));
        if (st.ca == ColumnApprox::yes || st.ca == ColumnApprox::no) break;
        form.refuse("The value for COLUMN APPROXIMATION only can be <yes> or <no>");
    }
    st.voltage = form.reals(4, kMainLabels[3], 1).at(0);
    for (;;) {
        st.defect = defect_case(form.text(5, kMainLabels[4], 30));
        st.defect_kind = defect_kind_from_name(st.defect);
        if (st.defect_kind == DefectKind::screw || st.defect_kind == DefectKind::pg_loop ||
            st.defect_kind == DefectKind::edge || st.defect_kind == DefectKind::perfect)
            break;
        form.refuse("This defect model has not been added");
    }
    const std::vector<double> size_xy = form.reals(6, kMainLabels[5], 2);
    const double size_z = form.reals(7, kMainLabels[6], 1).at(0);
    st.foil = vec3(form.reals(8, kMainLabels[7], 3));
    for (;;) {
        st.v_g = vec3(form.reals(9, kMainLabels[8], 3));
        if (st.foil[0] * st.v_g[0] + st.foil[1] * st.v_g[1] + st.foil[2] * st.v_g[2] == 0.0) break;
        form.refuse("SAMPLE COORDINATES SYSTEM GIVEN WRONG!");
    }
    std::vector<int> beams;
    for (;;) {
        beams = form.ints(10, kMainLabels[9], 2);
        if (beams.at(1) >= beams.at(0)) break;
        form.refuse("The beam range given is wrong");
    }
    st.condition_n = form.reals(11, kMainLabels[10], 1).at(0);
    for (;;) {
        st.iabs = form.ints(12, kMainLabels[11], 1).at(0);
        if (st.iabs == 0 || st.iabs == 1) break;
        form.refuse("1: with absorption; 0: without absorption.");
    }
    st.f_out = form.text(13, kMainLabels[12], static_cast<int>(kFileNameLen));
    if (st.job == Job::amplitude_phase) {
        const std::vector<double> c = form.reals(15, "Column Position:", 2);
        st.colxy = {c.at(0), c.at(1)};
    }

    if (st.defect_kind == DefectKind::screw)
        screw_panel(form);
    else if (st.defect_kind == DefectKind::pg_loop)
        loop_panel(form, st);
    else if (st.defect_kind == DefectKind::edge)
        edge_panel(form, st);
    else if (st.defect_kind != DefectKind::perfect)
        halt("This defect model has not been added");

    // Values no model can use, named by their field.
    for (double v : size_xy) check_real(field(6), "image width", v);
    check_real(field(7), "foil thickness", size_z);
    check_vector(field(8), "zone axis", st.foil, true);
    check_reflection(field(9), st.v_g);
    check_beam_row(field(10), beams.at(0), beams.at(1));
    check_real(field(11), "diffraction condition n of (g,ng)", st.condition_n);

    form_notes(gui, "", ""); // the form is complete: nothing more to say under it
    st.sample_no = st.sample;
    st.eigen_model = 4;
    st.interpolation_method = "linear";
    st.converangle = 0.0;
    st.ncon = 1;
    st.size_x = size_xy.at(0);
    st.size_y = size_xy.at(1);
    st.size_z = size_z;
    st.size = {st.size_x, st.size_y, st.size_z};
    st.n_slice = nint(st.size_z);
    st.slicing_method = "normal";
    st.n_pixel_x = nint(st.size_x);
    st.n_pixel_y = nint(st.size_y);
    st.co_x = st.v_g;
    const int first = beams.at(0), last = beams.at(1);
    st.n_beams = last - first + 1;

    if (last < first) halt("The beam range given is wrong");
    if (st.foil[0] * st.co_x[0] + st.foil[1] * st.co_x[1] + st.foil[2] * st.co_x[2] != 0.0)
        halt("SAMPLE COORDINATES SYSTEM GIVEN WRONG!");
    if (job_number(st.job) > 3 && st.job != Job::amplitude_phase)
        halt("The job model given wrong!");
    // The arrays are made only for a parameter set that passed every check, so a refused one
    // never asks for memory it cannot have.
    check_grid(st);
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
}

} // namespace korvex
