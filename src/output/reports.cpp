#include "output/reports.hpp"

#include "optics/vectors.hpp"
#include "output/probe_report.hpp"
#include "output/record.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/textout.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvex {

void print_head(std::ostream& out) {
    const std::string bar(50, '#');
    const char* lines[] = {
        "# A code for simulating TEM diffraction contrast #",
        "# images from straight dislocations, dislocation #",
        "# loops and stacking-fault tetrahedra.           #",
        "#                                                #",
        "#   KORVEX: many-beam dynamical diffraction,     #",
        "#   column by column through the foil.           #",
    };
    out << ' ' << bar << '\n';
    for (const char* l : lines) out << ' ' << l << '\n';
    out << ' ' << bar << '\n';
}

namespace {

std::string two_digits(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

std::string geometry_line(const std::string& label, const Vec3& v) {
    return fmt_a(label, 25) + " " + fmt_a("[", 2) + fmt_i(nint(v[0]), 2) + " " +
           fmt_i(nint(v[1]), 2) + " " + fmt_i(nint(v[2]), 2) + " " + fmt_a("]", 2);
}

double extinction_distance(const State& st) {
    return (st.u0 / (2.0 * st.k) + st.k) * std::cos(st.b_angle) / std::abs(st.u(1));
}

} // namespace

void show_system_parameters(State& st) {
    st.co_y = cross_product(st.foil, st.co_x);
    std::ostream& out = st.console();
    const std::string stars(64, '*');
    out << stars << '\n';
    out << geometry_line("Sample geometry:  X->  ", st.co_x) << '\n';
    out << geometry_line("                  Y->  ", st.co_y) << '\n';
    out << geometry_line("                  Z->  ", st.foil) << '\n';
    out << stars << '\n';
    out << Rec(" Diffraction conditions:").list() << '\n';
    out << (Rec(" Accelerating voltage      : ") << st.voltage << "  kV").list() << '\n';
    out << (Rec(" Wave length               : ") << st.wavelength << "  A").list() << '\n';
    out << (Rec(" Wave vector               : ") << st.k << "  1/A").list() << '\n';
    out << (Rec(" Diffracted beam condition : ") << " g." << st.condition_n << "g").list() << '\n';
    for (int n = 1; n <= st.n_beams; ++n)
        if (st.mtx_beams(n) == 1)
            out << (Rec(" s_g                       : ") << st.s_g(n) << "  1/A").list() << '\n';
    out << (Rec(" Number of beams           : ") << st.n_beams).list() << '\n';
    out << (Rec(" Beams                     : ")
            << st.mtx_beams(1) << "g ~ " << st.mtx_beams(st.n_beams) << "g")
               .list()
        << '\n';
    out << (Rec(" Fourier component U       : ") << "u_ 0 g : " << st.u0 << st.ui0).list() << '\n';
    for (int m = 1; m <= st.n_beams - 1; ++m)
        out << (Rec("                           : ") << "u_" << m << "g : " << st.u(m) << st.ui(m))
                   .list()
            << '\n';
    // The extinction distance of g needs U(g); it is left out when the row has no such
    // coefficient or it vanishes.
    for (int n = 1; n <= st.n_beams; ++n)
        if (st.mtx_beams(n) == 1 && st.u.size() >= 1 && st.u(1) != 0.0)
            out << (Rec("Extinction distance        : ") << extinction_distance(st) << "  A").list()
                << '\n';
    out << stars << '\n';
}

std::string number_text(double x) {
    if (x / 1.0e9 > 1.0) halt("the number is bigger than 1E9");
    int n = 1;
    for (int j = 0; j <= 10; ++j)
        if (x / std::pow(10.0, j) >= 1.0) n = j + 1;
    std::string text;
    double taken = 0.0; // sum of the digits found so far, each at its place value
    for (int i = 1; i <= n; ++i) {
        const int di = static_cast<int>((x - taken) / std::pow(10.0, n - i));
        text += static_cast<char>('0' + di);
        if (i < n) taken += di * std::pow(10.0, n - i);
    }
    const double y = x - taken;
    const double f = (y + static_cast<double>(1.0e-5f)) - std::trunc(y);
    const int e1 = static_cast<int>(10.0 * f);
    const int e2 = static_cast<int>(100.0 * f - 10.0 * e1);
    text += '.';
    text += static_cast<char>('0' + e1);
    text += static_cast<char>('0' + e2);
    return pad(text, 20);
}

std::vector<std::string> simulation_record(const State& st, const std::tm& now) {
    std::vector<std::string> r;
    r.push_back((Rec("DATE: ") << now.tm_mday << "-" << now.tm_mon + 1 << "-" << now.tm_year + 1900
                               << "    TIME: " << now.tm_hour << ":" << two_digits(now.tm_min))
                    .list());
    const char* what =
        st.job == Job::amplitude_images    ? "SIMULATION: Amplitude contrast images from sample"
        : st.job == Job::thickness_fringes ? "SIMULATION: Thickness fringes from sample"
        : st.job == Job::layer_images      ? "SIMULATION: Multilayer contrast images from sample"
                                           : nullptr;
    if (what)
        r.push_back(
            (Rec(what) << trim(st.sample_no) << " with " << trim(st.defect) << " dislocation")
                .list());
    r.push_back((Rec("OUTPUT FILE: ") << trim(st.f_out) << "   for beams " << st.mtx_beams(1)
                                      << "g ~ " << st.mtx_beams(st.n_beams) << "g")
                    .list());
    r.push_back(Rec("System Directory                   : " + st.homedir + st.sysdir).list());
    r.push_back(Rec("System Runing Directory            : " + st.homedir + st.rundir).list());
    r.push_back(Rec("Data Output Directory              : " + st.homedir + st.datadir).list());
    r.push_back(Rec(std::string(82, '=')).list());
    return r;
}

namespace {
const char* job_name(Job job) {
    switch (job) {
    case Job::amplitude_images:
        return "Amplitude contrast images";
    case Job::thickness_fringes:
        return "Thickness fringes";
    case Job::layer_images:
        return "Multilayer contrast images";
    default:
        return nullptr;
    }
}
std::string bracket(const Vec3& v) {
    return (Rec("[") << v[0] << "," << v[1] << "," << v[2] << "]").str();
}
} // namespace

std::vector<std::string> parameter_report(const State& st, const std::tm& now,
                                          const std::vector<std::string>& defect_lines) {
    std::vector<std::string> r;
    const std::string rule = Rec(std::string(39, '-')).list();
    auto line = [&](const Rec& rec) { r.push_back(rec.list()); };
    auto text = [&](const std::string& s) { r.push_back(Rec(s).list()); };
    auto empty = [&] { r.emplace_back(); };
    // A label record, its value record and a rule.
    auto entry = [&](const std::string& label, const Rec& value) {
        text(label);
        line(value);
        r.push_back(rule);
    };

    empty();
    empty();
    text("++++++ PARAMETERS for result file, \"" + trim(st.f_out) + "\" ++++++");
    empty();
    empty();
    line(Rec("Date: ") << now.tm_mday << "-" << now.tm_mon + 1 << "-" << now.tm_year + 1900
                       << "    Time: " << now.tm_hour << ":" << two_digits(now.tm_min));
    empty();
    empty();
    text("**********************");
    text("PROCESSING TIME");
    const int t = st.processing_time;
    line(Rec() << t / 3600 << ":" << (t % 3600) / 60 << ":" << t % 60
               << " (hours:minutes:seconds)");
    text("**********************");
    empty();
    empty();
    text("LIST OF PARAMETERS");
    empty();
    r.push_back(rule);
    empty();
    text("Sample NO: " + pad(st.sample_no, 20));
    r.push_back(rule);
    empty();
    text("Sample: " + pad(st.sample, 20));
    r.push_back(rule);
    text("Job performed");
    if (const char* jn = job_name(st.job)) text(jn);
    r.push_back(rule);
    text("the Column Approximation");
    text(st.ca == ColumnApprox::yes ? "used" : "not used");
    r.push_back(rule);
    text("Interpolation Method: ");
    text(pad(st.interpolation_method, 30));
    r.push_back(rule);
    empty();
    r.push_back(rule);
    entry("Accelerating voltage", Rec() << st.voltage << " kV");
    entry("Magnitude of wave vector k ", Rec() << st.k);
    entry("The lattice constant of sample", Rec() << st.lat_c);
    entry("The spacing of diffraction crystal planes", Rec() << st.d);
    entry("size of sample (x*y*z in Angstrom)",
          Rec() << st.size_x << " * " << st.size_y << " * " << st.size_z);
    entry("number of beams considered", Rec() << st.n_beams);
    entry("number of grids", Rec() << st.n_pixel_x << " * " << st.n_pixel_y << " * " << st.n_slice);
    entry("size of each grid (in Angstrom)", Rec() << st.size_x / st.n_pixel_x << " * "
                                                   << st.size_y / st.n_pixel_y << " * "
                                                   << st.size_z / st.n_slice);
    if (st.field_tolerance > 0.0)
        entry("loop fields sampled (tolerance on a strain term, 1/Angstrom)",
              Rec() << st.field_tolerance);
    if (st.graded) { // automatic slicing: the slices made of those grids
        int thickest = 1;
        for (int l = 1; l <= st.effslicenumber; ++l)
            thickest = std::max(thickest, nint(st.slicethickness(l) * st.n_slice / st.size_z));
        entry("automatic slices (phase tolerance in radians)",
              Rec() << st.effslicenumber << " of 1 to " << thickest << " grids, "
                    << st.slice_tolerance);
    }
    line(Rec("Fourier components of periodical potentials (U(0)-U(")
         << st.n_beams << "g), in Angstrom E(-2))");
    r.push_back(fmt_a("U(  0)=", 7) + fmt_f(st.u0, 14, 10));
    for (int m = 1; m <= st.n_beams - 1; ++m)
        r.push_back(fmt_a("U(", 2) + fmt_i(m, 2) + fmt_a("g)=", 3) + fmt_f(st.u(m), 14, 10));
    r.push_back(rule);
    text("The imaginary parts of the Fourier components of periodical potentials");
    r.push_back(fmt_a("U'(  0)=", 7) + fmt_f(st.ui0, 14, 10));
    for (int m = 1; m <= st.n_beams - 1; ++m)
        r.push_back(fmt_a("U'(", 3) + fmt_i(m, 2) + fmt_a("g)=", 4) + fmt_f(st.ui(m), 14, 10));
    r.push_back(rule);
    // A section of a title line and a value line.
    auto titled = [&](const char* title, const std::string& value) {
        text(title);
        text(value);
        r.push_back(rule);
    };
    titled("Z direction of sample", bracket(st.foil));
    titled("X direction of sample", bracket(st.co_x));
    // The beam travels along the zone axis (tilted from it by the Bragg angle of the condition).
    const bool axis_set = st.beam_direction != Vec3{};
    titled("Optical axis", bracket(axis_set ? st.beam_direction : st.foil));
    titled("Diffraction vector g", bracket(st.v_g));
    entry("Beams considered", Rec()
                                  << st.mtx_beams(1) << "g ~ " << st.mtx_beams(st.n_beams) << "g");
    entry("Diffraction condition", Rec() << st.condition_n << "g strongly excited");
    text("Diffraction condition");
    for (int n = 1; n <= st.n_beams; ++n)
        if (st.mtx_beams(n) == 1) line(Rec(" s_g= ") << st.s_g(n) << "  1/A");
    r.push_back(rule);
    titled("Column engine", st.engine_ran.empty() ? engine_name(st.engine) : st.engine_ran);
    titled("Absorption", absorption_name(st.absorption));
    for (auto& l : illumination_section(st)) r.push_back(std::move(l));
    text("Style of defect");
    text(pad(st.defect, 30));
    for (const auto& l : defect_lines) r.push_back(l);
    return r;
}

void print_parameters(State& st, const RunFiles& rc, const std::vector<std::string>& defect_lines) {
    const std::tm now = rc.now();
    st.file_parameter = trim(st.datadir) + trim(st.f_out) + ".par";
    if (trim(st.f_out) != "test") {
        std::string entry;
        for (const auto& l : simulation_record(st, now)) entry += l + "\n";
        append_text_file(trim(st.simrecdir) + "record.sim", entry);
    }
    std::string text;
    for (const auto& l : parameter_report(st, now, defect_lines)) text += l + "\n";
    write_text_file(st.file_parameter, text);
}

void print_projection(const State& st) {
    std::string s = " width\n " + list_int(st.n_xyz[0]) + "\n height\n " + list_int(st.n_xyz[1]) +
                    "\n unit of width\n " + list_real(st.unit_x) + "\n unit of height\n " +
                    list_real(st.unit_y) + "\n";
    for (int i = 1; i <= st.n_xyz[0]; ++i) {
        for (int j = 1; j <= st.n_xyz[1]; ++j) {
            const long long a = st.projection(i, j, 1), b = st.projection(i, j, 2);
            s += ' ';
            s += list_int(a * a + b * b);
        }
        s += '\n';
    }
    write_text_file(trim(st.datadir) + trim(st.f_out) + "_pjt", s);
}

} // namespace korvex
