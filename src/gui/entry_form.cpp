#include "gui/entry_form.hpp"

#include "defects/column_rule.hpp"
#include "driver/defect_files.hpp"
#include "driver/population_file.hpp"
#include "driver/usage.hpp"
#include "gui/form_notes.hpp"
#include "gui/input_box.hpp"
#include "optics/crystal.hpp"
#include "optics/vectors.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/input.hpp"
#include "state/textout.hpp"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace korvex {

namespace {

// The form's rows: the main page (1..13, the column position 15 and the defect file 16), the
// defect pages (17..25) and the questions before a file is replaced (26, 27).
constexpr int kRows = 27;

const char* const kMainLabels[13] = {"Crystal:",
                                     "Job module:",
                                     "Column Approximation:",
                                     "Accelerating Voltage:",
                                     "Defect:",
                                     "Image Size X-Y:",
                                     "Foil Thickness:",
                                     "Zone Axis:",
                                     "Diffraction Vector:",
                                     "Beam Range:",
                                     "(g,ng):",
                                     "Absorption:",
                                     "Output File:"};

// Where a value of the entry form was typed, for the messages of the value checks.
ValueSource field(int n, const std::string& label) {
    std::string name = label;
    if (!name.empty() && name.back() == ':') name.pop_back();
    return "In the entry form, box " + std::to_string(n) + " \"" + name + "\"";
}

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

std::string ca_text(ColumnApprox ca) {
    return ca == ColumnApprox::yes ? "yes" : ca == ColumnApprox::half ? "half" : "no";
}

// A number as it would be typed into a box.
std::string typed(double v) {
    return list_real(v).substr(list_real(v).find_first_not_of(' '));
}
std::string typed(const Vec3& v) {
    return typed(v[0]) + " " + typed(v[1]) + " " + typed(v[2]);
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

    // The value offered in the next box asked (a loaded input file's), once.
    void offer(std::string text) { offer_ = std::move(text); }

    // Each box is taken again for as long as its entry is cancelled with Backspace; while it
    // is taken the lines below the boxes say what it takes and why a value was refused.
    std::vector<double> reals(int n, const std::string& label, int count, int status = 1) {
        std::vector<double> v;
        take(n, label, status,
             [&](const InputBox& b) { inputboxreal(gui_, b, status, count, v, flag(n)); });
        return v;
    }
    std::vector<int> ints(int n, const std::string& label, int count, int status = 1) {
        std::vector<int> v;
        take(n, label, status,
             [&](const InputBox& b) { inputboxinte(gui_, b, status, count, v, flag(n)); });
        return v;
    }
    std::string text(int n, const std::string& label, int count, int status = 1) {
        std::string t;
        take(n, label, status,
             [&](const InputBox& b) { inputboxchar(gui_, b, status, count, t, flag(n)); });
        return trim(t);
    }

    // Asks with `ask` until `check` passes: a value refused (a stop of the checks the text
    // reader makes) is shown under the boxes and on the terminal, and the box asked again.
    template <class Ask, class Check> auto until_valid(Ask ask, Check check) {
        for (;;) {
            auto v = ask();
            try {
                check(v);
                return v;
            } catch (const Fatal& e) {
                refuse(e.lines());
            }
        }
    }

    // The elasticity of a dislocation: empty (Return alone) or "isotropic", or "anisotropic",
    // in any case; anything else is refused with a message and the box taken again.
    Elasticity elasticity(int n) {
        for (;;) {
            const std::string t = lower(text(n, "Elasticity:", 20));
            if (t.empty() || t == "isotropic") return Elasticity::isotropic;
            if (t == "anisotropic") return Elasticity::anisotropic;
            refuse(std::string("The elasticity only can be <isotropic> or <anisotropic>"));
        }
    }

    // A value refused: the message goes to the terminal and under the box asked again.
    void refuse(const std::vector<std::string>& lines) {
        message_.clear();
        for (const auto& l : lines) {
            gui_.out << " " << l << "\n";
            message_ += (message_.empty() ? "" : "\n") + l;
        }
        gui_.out.flush();
    }
    void refuse(const std::string& line) { refuse(std::vector<std::string>{line}); }

    // Whether `path` may be written: a file this form wrote, or none yet; otherwise the user is
    // asked in box 26.
    bool may_write(const std::string& path) {
        std::error_code ec;
        if (written_.count(path) || !std::filesystem::exists(path, ec)) return true;
        message_ = "\"" + path + "\" exists and was not written by this form.";
        for (;;) {
            const std::string a = lower(text(26, "Replace " + path + "?", 4));
            if (a == "yes" || a == "y") return true;
            if (a == "no" || a == "n") return false;
            refuse("Answer yes or no: \"" + path + "\" exists and was not written by this form.");
        }
    }

    // Writes a file the form made, under `name` or, when the user keeps the file of that name,
    // under a name asked for in box 27; returns the name written.
    std::string write(std::string name, const std::string& content) {
        while (!may_write(name)) {
            name = until_valid([&] { return text(27, "Save it as:", 300); },
                               [](const std::string& t) {
                                   if (t.empty()) halt("Give the name of a new file.");
                               });
        }
        write_text_file(name, content);
        written_.insert(name);
        return name;
    }
    // Records a file as written by this form.
    void wrote(const std::string& name) { written_.insert(name); }
    bool written(const std::string& name) const { return written_.count(name) > 0; }

  private:
    template <class Draw> void take(int n, const std::string& label, int status, Draw draw) {
        if (status != 0) {
            form_notes(gui_, box_hint(label), message_);
            message_.clear();
        }
        InputBox b = box(n, label);
        b.initial = std::move(offer_);
        offer_.clear();
        do {
            draw(b);
            b.initial.clear(); // after Backspace the box starts empty
        } while (status != 0 && flag(n) == 0);
    }
    int& flag(int n) { return boxstatus_[static_cast<std::size_t>(n - 1)]; }

    Gui& gui_;
    std::string message_, offer_;
    std::array<int, 100> boxstatus_{};
    std::set<std::string> written_;
};

Vec3 vec3(const std::vector<double>& v) {
    return {v.at(0), v.at(1), v.at(2)};
}

FractionVector vec5(const std::vector<double>& v) {
    return {v.at(0), v.at(1), v.at(2), v.at(3), v.at(4)};
}

void check_vec5(const ValueSource& at, const char* what, const std::vector<double>& v) {
    check_fraction(at, what, v.at(0), v.at(1), {v.at(2), v.at(3), v.at(4)});
}

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
    g.ptxt(1.05f, 1.02f, 0.0f, 1.0f, "version " + program_version());
    g.sch(ch);
    g.scf(1);
    g.sci(1);
}

// How to use the form, inside the (empty) picture frame of the right panel, where the first
// image will be drawn.
void draw_help(Gui& gui) {
    Graphics& g = gui.gr;
    const float ch = g.qch();
    g.sch(0.8f * ch);
    g.sci(5);
    const char* const lines[] = {
        "TEM diffraction-contrast images of crystal defects",
        "Fill the boxes from the top; Return ends a box",
        "and takes a value offered in grey.",
        "Backspace clears the current box and takes it again.",
        "RUN starts the simulation; GIF and C-PS store the",
        "image shown; EXIT ends the program at any time.",
    };
    float y = 0.8f;
    for (const char* l : lines) {
        g.ptxt(-1.0f, y, 0.0f, 0.0f, l);
        y -= 0.22f;
    }
    g.sch(ch);
    g.sci(1);
}

void install_viewer_layout(ButtonLayout& l) {
    l.grid_columns = 6;
    l.grid_rows = 2;
    l.button_font = 2;
    l.button_char_height = 0.85f; // "DEFECT" and "ZOOM+" within their buttons
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

// The form's viewport in the left panel (NDC of the panel); the window is 0..1 on both axes.
constexpr float kFormX1 = 0.03f, kFormX2 = 0.97f, kFormY1 = 0.17f, kFormY2 = 0.97f;

void use_form_window(Graphics& g) {
    g.svp(kFormX1, kFormX2, kFormY1, kFormY2);
    g.swin(0.0f, 1.0f, 0.0f, 1.0f);
}

std::string screw_page(Form& form) {
    const auto b =
        form.until_valid([&] { return form.reals(17, "Burgers Vector:", 5); },
                         [](const std::vector<double>& v) {
                             check_vec5(field(17, "Burgers Vector:"), "Burgers vector", v);
                         });
    // The cut plane contains the Burgers vector: its normal is any short integer vector
    // perpendicular to the direction [i j k].
    const Vec3 cut = perpendicular_vector({b[2], b[3], b[4]});
    Vec3 point =
        vec3(form.until_valid([&] { return form.reals(18, "Position of dislocation:", 3); },
                              [](const std::vector<double>& v) {
                                  check_vector(field(18, "Position of dislocation:"), "position",
                                               vec3(v));
                              }));
    const int relaxation = form.until_valid(
        [&] { return form.ints(19, "Surface relaxation:", 1).at(0); },
        [](int v) { check_switch(field(19, "Surface relaxation:"), "surface relaxation", v); });
    // The relaxed solution is written for a dislocation lying in the entrance surface plane.
    if (relaxation == 1) point[2] = 0.0;
    const Elasticity elasticity = form.elasticity(20);
    return form.write("screw.ini", screw_ini_text(vec5(b), point, cut, relaxation, elasticity));
}

std::string edge_page(Form& form) {
    const auto b =
        form.until_valid([&] { return form.reals(17, "Burgers Vector:", 5); },
                         [](const std::vector<double>& v) {
                             check_vec5(field(17, "Burgers Vector:"), "Burgers vector", v);
                         });
    const Vec3 line = vec3(form.until_valid([&] { return form.reals(18, "Dislocation line:", 3); },
                                            [](const std::vector<double>& v) {
                                                check_vector(field(18, "Dislocation line:"),
                                                             "line direction", vec3(v), true);
                                            }));
    const Vec3 point =
        vec3(form.until_valid([&] { return form.reals(19, "Position of dislocation:", 3); },
                              [](const std::vector<double>& v) {
                                  check_vector(field(19, "Position of dislocation:"), "position",
                                               vec3(v));
                              }));
    const int relaxation = form.until_valid(
        [&] { return form.ints(20, "Surface relaxation:", 1).at(0); },
        [](int v) { check_switch(field(20, "Surface relaxation:"), "surface relaxation", v); });
    const double poisson =
        form.until_valid([&] { return form.reals(21, "Poissons ratio:", 1).at(0); },
                         [](double v) { check_poisson(field(21, "Poissons ratio:"), v); });
    const Elasticity elasticity = form.elasticity(22);
    return form.write("edge.ini",
                      edge_ini_text(vec5(b), point, line, poisson, relaxation, elasticity));
}

std::string loop_page(Form& form) {
    const std::string nature = form.until_valid(
        [&] { return form.text(17, "Defect nature:", 30); },
        [](const std::string& t) {
            if (t.find("perfect") == std::string::npos && t.find("pureSF") == std::string::npos &&
                t.find("faulted") == std::string::npos)
                bad_value(field(17, "Defect nature:"),
                          "the loop nature must be perfect, pureSF or faulted", "\"" + t + "\"");
        });
    const auto b =
        form.until_valid([&] { return form.reals(18, "Burgers Vector:", 5); },
                         [](const std::vector<double>& v) {
                             check_vec5(field(18, "Burgers Vector:"), "Burgers vector", v);
                         });
    const auto fault =
        form.until_valid([&] { return form.reals(19, "Stacking fault:", 5); },
                         [](const std::vector<double>& v) {
                             for (double c : v)
                                 check_real(field(19, "Stacking fault:"), "stacking fault", c);
                             if (v.at(1) == 0.0 && v.at(0) != 0.0)
                                 bad_value(field(19, "Stacking fault:"), "n of m/n must not be 0",
                                           typed(v.at(0)) + " " + typed(v.at(1)));
                         });
    const double diameter = form.until_valid(
        [&] { return form.reals(20, "Size of the loop:", 1).at(0); },
        [](double v) { check_real(field(20, "Size of the loop:"), "loop diameter", v, true); });
    const Vec3 position =
        vec3(form.until_valid([&] { return form.reals(21, "Position of the loop:", 3); },
                              [](const std::vector<double>& v) {
                                  check_vector(field(21, "Position of the loop:"), "loop position",
                                               vec3(v));
                              }));
    const Vec3 normal =
        vec3(form.until_valid([&] { return form.reals(22, "Loop habit plane:", 3); },
                              [](const std::vector<double>& v) {
                                  check_vector(field(22, "Loop habit plane:"), "habit plane normal",
                                               vec3(v), true);
                              }));
    const Vec3 polar = vec3(form.until_valid([&] { return form.reals(23, "Loop plane pole:", 3); },
                                             [](const std::vector<double>& v) {
                                                 check_vector(field(23, "Loop plane pole:"),
                                                              "loop plane pole", vec3(v), true);
                                             }));
    const int nsides =
        form.until_valid([&] { return form.ints(24, "Number of loop edges:", 1).at(0); },
                         [](int v) {
                             if (v < 3)
                                 bad_value(field(24, "Number of loop edges:"),
                                           "a loop needs at least 3 edges", std::to_string(v));
                         });
    const double poisson =
        form.until_valid([&] { return form.reals(25, "Poissons ratio:", 1).at(0); },
                         [](double v) { check_poisson(field(25, "Poissons ratio:"), v); });
    return form.write("pgLoop.ini", pgloop_ini_text(nature, vec5(b), vec5(fault), diameter / 2.0,
                                                    position, normal, polar, nsides, poisson));
}

// A defect configuration file named in the form: it must be one the defect's model can read.
void check_defect_file(DefectKind kind, const std::string& path) {
    const ValueSource at = field(16, "Defect file:");
    std::error_code ec;
    if (path.empty()) halt("Give the name of the defect's configuration file.");
    if (!std::filesystem::is_regular_file(path, ec))
        bad_value(at, "no such file in the working directory", "\"" + path + "\"");
    switch (kind) {
    case DefectKind::edge:
        edge::read_edge_config(path);
        break;
    case DefectKind::screw:
        screw::read_screw_config(path);
        break;
    case DefectKind::vacancy:
        read_void_config(path);
        break;
    case DefectKind::pg_loop:
        read_pgloop_file(path);
        break;
    case DefectKind::tetrahedron:
        read_tetrahedron_file(path);
        break;
    case DefectKind::inclusion:
        read_inclusion_config(path);
        break;
    case DefectKind::dissociated:
        read_dissociated_config(path);
        break;
    case DefectKind::population:
        read_population_file(path);
        break;
    default:
        if (!std::ifstream(path)) bad_value(at, "the file cannot be read", "\"" + path + "\"");
        break;
    }
}

// The input file of the form's values, in the layout the text mode reads.
std::string input_file_text(const State& st, int first, int last) {
    std::ostringstream o;
    o << "Specimen label (written by the entry form)\n"
      << trim(st.sample) << "\nCrystal (element symbol)\n"
      << trim(st.sample)
      << "\nJob: 1 images, 2 thickness fringes, 3 layer images, 9 amplitude-phase\n"
      << job_number(st.job) << "\nColumn approximation: yes, no or half\n"
      << ca_text(st.ca) << "\nAccelerating voltage in kV\n"
      << typed(st.voltage)
      << "\nDefect: no, edge, screw, loop, void, pg_loop, tetrahedron or 3D-strain\n"
      << trim(st.defect) << "\nImage width along x in Angstrom\n"
      << typed(st.size_x) << "\nImage width along y in Angstrom\n"
      << typed(st.size_y) << "\nFoil thickness in Angstrom\n"
      << typed(st.size_z) << "\nZone axis u v w\n"
      << typed(st.foil) << "\nDiffraction vector h k l\n"
      << typed(st.v_g) << "\nFirst and last beam of the systematic row (multiples of g)\n"
      << first << " " << last << "\nDiffraction condition n of (g,ng); 999 runs the (g,ng) series\n"
      << typed(st.condition_n) << "\nAbsorption (1 with, 0 without)\n"
      << st.iabs << "\n";
    return o.str();
}

} // namespace

BoxRect form_box(int n) {
    const float rows = static_cast<float>(kRows);
    const float y1 = static_cast<float>(kRows - n) / rows;
    const float y2 = static_cast<float>(kRows + 1 - n) / rows - 0.22f / rows;
    return BoxRect{0.55f, 0.97f, y1, y2};
}

std::string column_approximation_case(const std::string& typed) {
    const std::string t = trim(typed);
    if (t == "Yes" || t == "YES") return "yes";
    if (t == "No" || t == "NO") return "no";
    if (t == "Half" || t == "HALF") return "half";
    return t;
}

std::string defect_case(const std::string& typed) {
    const std::string t = trim(typed);
    const std::string l = lower(t);
    for (const char* name :
         {"no", "edge", "screw", "loop", "void", "pg_loop", "tetrahedron", "3D-strain"})
        if (l == lower(name)) return name;
    return t;
}

void guiinput_system_parameters(State& st, Gui& gui) {
    Graphics& g = gui.gr;
    read_filesystem_ini(st);

    // A loaded input file offers its values; one that cannot be read is named and the form
    // starts empty.
    std::unique_ptr<State> loaded;
    std::string load_message;
    const std::string f_in = trim(st.f_in), given_defect = trim(st.f_defect);
    if (!f_in.empty()) {
        loaded = std::make_unique<State>();
        std::ostringstream quiet;
        loaded->out = &quiet;
        try {
            read_system_parameters(*loaded, f_in);
            loaded->out = nullptr;
        } catch (const Fatal& e) {
            loaded.reset();
            load_message = "The input file \"" + f_in + "\" was not loaded:";
            for (const auto& l : e.lines()) load_message += "\n" + l;
            gui.out << " " << load_message << "\n";
        }
    }

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
        g.sch(1.8f * ch);
        g.ptxt(0.0f, 1.45f, 0.0f, 0.5f, "TEM Diffraction Calculation");
        g.sch(ch);
    }
    draw_help(gui);

    g.select(idn);
    g.panl(1, 1);
    use_form_window(g);
    // EXIT ends the program even while a box is typed into: the click is read in the form's
    // window of the left panel, the buttons lie in the right one.
    gui.exit_button = [&gui](float x, float y) {
        float vx1, vx2, vy1, vy2, wx1, wx2, wy1, wy2;
        gui.gr.qvp(vx1, vx2, vy1, vy2);
        gui.gr.qwin(wx1, wx2, wy1, wy2);
        const float nx = vx1 + (x - wx1) * (vx2 - vx1) / (wx2 - wx1) - 1.0f;
        const float ny = vy1 + (y - wy1) * (vy2 - vy1) / (wy2 - wy1);
        const Cell c = button_cell(gui.layout, 6);
        return gui.layout.button_active[6] && c.x1 <= nx && nx <= c.x2 && c.y1 <= ny && ny <= c.y2;
    };
    struct ExitGuard {
        Gui& gui;
        ~ExitGuard() { gui.exit_button = {}; }
    } exit_guard{gui};

    Form form(gui);
    // The whole main page first, empty, so that the user sees what will be asked.
    for (int n = 1; n <= 13; ++n) {
        const std::string label = kMainLabels[n - 1];
        switch (n) {
        case 1:
        case 3:
        case 5:
        case 13:
            form.text(n, label, 1, 0);
            break;
        default:
            form.reals(n, label, 1, 0);
            break;
        }
    }
    if (!load_message.empty()) {
        std::istringstream lines(load_message);
        std::vector<std::string> v;
        for (std::string l; std::getline(lines, l);) v.push_back(l);
        form.refuse(v);
    }
    const State* in = loaded.get();
    auto offer = [&](const std::string& text) {
        if (in) form.offer(text);
    };
    st.f_defect = "";

    // A value the run would refuse is refused at its box, which is taken again: nothing typed
    // before is lost.
    offer(in ? trim(in->sample) : "");
    st.sample = form.until_valid([&] { return form.text(1, kMainLabels[0], 2); },
                                 [](const std::string& s) { crystalparameter(s); });
    offer(in ? std::to_string(job_number(in->job)) : "");
    st.job =
        Job{form.until_valid([&] { return form.ints(2, kMainLabels[1], 1).at(0); },
                             [](int job) {
                                 const Job j{job};
                                 if (job > 3 && j != Job::amplitude_phase && j != Job::reports_only)
                                     halt({"The job model given wrong!",
                                           "Read: " + std::to_string(job) +
                                               " (1 images, 2 fringes, 3 layers, 9 "
                                               "amplitude-phase, 999 slices and reports only)"});
                             })};
    auto ask_ca = [&] {
        return form.until_valid(
            [&] {
                return column_approx_from_text(
                    column_approximation_case(form.text(3, kMainLabels[2], 5)));
            },
            [](ColumnApprox ca) {
                if (ca == ColumnApprox::unknown)
                    halt("The value for COLUMN APPROXIMATION only can be <yes>, <no> or <half>");
            });
    };
    offer(in ? ca_text(in->ca) : "");
    st.ca = ask_ca();
    offer(in ? typed(in->voltage) : "");
    st.voltage = form.until_valid([&] { return form.reals(4, kMainLabels[3], 1).at(0); },
                                  [](double kv) { lorentzfactor(1000.0 * kv); });
    offer(in ? trim(in->defect) : "");
    st.defect = form.until_valid(
        [&] { return defect_case(form.text(5, kMainLabels[4], 30)); },
        [](const std::string& d) {
            const DefectKind kind = defect_kind_from_name(d);
            if (kind == DefectKind::unknown)
                bad_value(field(5, "Defect:"),
                          "known: no, edge, screw, loop, void, pg_loop, tetrahedron, 3D-strain",
                          "\"" + d + "\"");
            // The circular loop always reads "loop.ini" of the working directory.
            if (kind == DefectKind::loop) read_loop_ini("loop.ini");
        });
    st.defect_kind = defect_kind_from_name(st.defect);
    // The defect's model must take the column approximation ("half" is not for every one).
    for (;;) {
        try {
            lateral_derivative(st.defect_kind, st.ca);
            break;
        } catch (const Fatal& e) {
            std::vector<std::string> lines = e.lines();
            lines.push_back("The defect " + st.defect +
                            " does not take the column approximation \"" + ca_text(st.ca) +
                            "\": give another.");
            form.refuse(lines);
            st.ca = ask_ca();
        }
    }

    std::vector<double> size_xy;
    double size_z = 0.0;
    std::vector<int> beams;
    for (bool grid_ok = false; !grid_ok;) {
        offer(in ? typed(in->size_x) + " " + typed(in->size_y) : "");
        size_xy = form.until_valid([&] { return form.reals(6, kMainLabels[5], 2); },
                                   [](const std::vector<double>& v) {
                                       for (double x : v)
                                           check_real(field(6, kMainLabels[5]), "image width", x);
                                   });
        offer(in ? typed(in->size_z) : "");
        size_z = form.until_valid(
            [&] { return form.reals(7, kMainLabels[6], 1).at(0); },
            [](double z) { check_real(field(7, kMainLabels[6]), "foil thickness", z); });
        if (st.foil == Vec3{}) {
            offer(in ? typed(in->foil) : "");
            st.foil = vec3(form.until_valid([&] { return form.reals(8, kMainLabels[7], 3); },
                                            [](const std::vector<double>& v) {
                                                check_vector(field(8, kMainLabels[7]), "zone axis",
                                                             vec3(v), true);
                                            }));
            offer(in ? typed(in->v_g) : "");
            st.v_g = vec3(form.until_valid(
                [&] { return form.reals(9, kMainLabels[8], 3); },
                [&](const std::vector<double>& v) {
                    check_reflection(field(9, kMainLabels[8]), vec3(v));
                    if (st.foil[0] * v[0] + st.foil[1] * v[1] + st.foil[2] * v[2] != 0.0)
                        halt({"SAMPLE COORDINATES SYSTEM GIVEN WRONG!",
                              "The diffraction vector " + typed(vec3(v)) +
                                  " is not perpendicular to the zone axis " + typed(st.foil)});
                }));
        }
        offer(in && in->mtx_beams.size() > 0
                  ? std::to_string(in->mtx_beams(1)) + " " +
                        std::to_string(in->mtx_beams(in->mtx_beams.size()))
                  : "");
        beams = form.until_valid(
            [&] { return form.ints(10, kMainLabels[9], 2); },
            [](const std::vector<int>& b) {
                check_beam_row(field(10, kMainLabels[9]), b.at(0), b.at(1));
                if (b.at(1) < b.at(0))
                    halt({"The beam range given is wrong",
                          "Read: " + std::to_string(b.at(0)) + " " + std::to_string(b.at(1))});
            });
        // The grid of these sizes and beams must be one a run can hold.
        InputParameters trial;
        trial.job = st.job;
        trial.size_x = size_xy.at(0);
        trial.size_y = size_xy.at(1);
        trial.size_z = size_z;
        trial.pixel_size = st.pixel_size;
        trial.slice_size = st.slice_size;
        set_grid_counts(trial);
        trial.n_beams = beams.at(1) - beams.at(0) + 1;
        try {
            check_grid(trial);
            grid_ok = true;
        } catch (const Fatal& e) {
            std::vector<std::string> lines = e.lines();
            lines.push_back("Give the sizes and the beam range again.");
            form.refuse(lines);
            in = nullptr; // no more offers of the values refused
        }
    }
    in = loaded.get();
    offer(in ? typed(in->condition_n) : "");
    st.condition_n = form.until_valid([&] { return form.reals(11, kMainLabels[10], 1).at(0); },
                                      [](double n) {
                                          check_real(field(11, kMainLabels[10]),
                                                     "diffraction condition n of (g,ng)", n);
                                      });
    offer(in ? std::to_string(in->iabs) : "");
    st.iabs = form.until_valid([&] { return form.ints(12, kMainLabels[11], 1).at(0); },
                               [](int a) {
                                   if (a != 0 && a != 1)
                                       halt("1: with absorption; 0: without absorption.");
                               });
    offer(in ? trim(in->f_out) : "");
    st.f_out = form.until_valid(
        [&] { return form.text(13, kMainLabels[12], static_cast<int>(kFileNameLen)); },
        [](const std::string& name) {
            if (name.empty() || name.find('/') != std::string::npos)
                bad_value(field(13, kMainLabels[12]),
                          "give a name for the result files (no folder)", "\"" + name + "\"");
        });
    if (st.job == Job::amplitude_phase) {
        const std::vector<double> c = form.until_valid(
            [&] { return form.reals(15, "Column Position:", 2); },
            [](const std::vector<double>& v) {
                for (double x : v) check_real(field(15, "Column Position:"), "column position", x);
            });
        st.colxy = {c.at(0), c.at(1)};
    }

    // The defect's configuration: a file named (offered from the command line), or, for the
    // screw, the edge and the polygonal loop, the values typed on the defect page.
    const DefectKind kind = st.defect_kind;
    if (kind != DefectKind::perfect && kind != DefectKind::loop) {
        const bool has_page =
            kind == DefectKind::screw || kind == DefectKind::edge || kind == DefectKind::pg_loop;
        if (!given_defect.empty()) form.offer(given_defect);
        const std::string file = form.until_valid(
            [&] {
                return form.text(16, has_page ? "Defect file (or Return):" : "Defect file:", 300);
            },
            [&](const std::string& f) {
                if (!(f.empty() && has_page)) check_defect_file(kind, f);
            });
        if (!file.empty())
            st.f_defect = file;
        else if (kind == DefectKind::screw)
            st.f_defect = screw_page(form);
        else if (kind == DefectKind::edge)
            st.f_defect = edge_page(form);
        else
            st.f_defect = loop_page(form);
    }

    st.sample_no = st.sample;
    st.eigen_model = 4;
    st.interpolation_method = "linear";
    st.converangle = 0.0;
    st.ncon = 1;
    st.size_x = size_xy.at(0);
    st.size_y = size_xy.at(1);
    st.size_z = size_z;
    st.size = {st.size_x, st.size_y, st.size_z};
    set_grid_counts(st);
    st.co_x = st.v_g;
    const int first = beams.at(0), last = beams.at(1);
    st.n_beams = last - first + 1;

    // The parameters of the run, as an input file the text mode reruns: "<output name>.in" in
    // the run directory, beside the user's own input files.
    const std::string saved = trim(st.rundir) + trim(st.f_out) + ".in";
    if (saved != trim(st.rundir) + f_in && form.may_write(saved)) try {
            write_text_file(saved, input_file_text(st, first, last));
            form.wrote(saved);
        } catch (const Fatal& e) {
            gui.out << " The parameters could not be saved: " << e.lines().front() << "\n";
        }
    if (form.written(saved)) {
        st.f_in = trim(st.f_out) + ".in";
        gui.out << " The parameters are saved in \"" << saved << "\"; in text mode: korvex -t "
                << trim(st.f_out) << ".in" << (st.f_defect.empty() ? "" : " " + trim(st.f_defect))
                << "\n";
    }
    form_notes(gui, "", ""); // the form is complete: nothing more to say under it

    check_grid(st);
    allocate_arrays(st);
    for (int n = 1; n <= st.n_beams; ++n) st.mtx_beams(n) = first + n - 1;
}

} // namespace korvex
