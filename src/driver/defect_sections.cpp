#include "driver/defect_sections.hpp"

#include "driver/record.hpp"
#include "optics/vectors.hpp"
#include "state/fmt.hpp"
#include "state/reader.hpp"

namespace korvex {

namespace {

struct Section {
    std::vector<std::string> lines;
    const std::string rule = " " + std::string(39, '-');
    void add_rule() { lines.push_back(rule); }
    void text(const std::string& s) { lines.push_back(Rec(s).list()); }
    void rec(const Rec& r) { lines.push_back(r.list()); }
};

Rec burgers(double m, double n, const Vec3& b) {
    return Rec() << m << "/" << n << "[" << b[0] << "," << b[1] << "," << b[2] << "]";
}
Rec point(const Vec3& p) {
    return Rec("(") << p[0] << "," << p[1] << "," << p[2] << ")";
}
Rec direction(const Vec3& v) {
    return Rec("[") << v[0] << "," << v[1] << "," << v[2] << "]";
}

std::vector<std::string> screw_section(State& st, const std::string& file) {
    RecordReader r(file);
    r.skip(2);
    double m = 0, n = 1;
    Vec3 b{}, pos{};
    r.read(m, n, b);
    r.read(pos);
    st.v_b = b;
    st.b_p_m = m;
    st.b_p_n = n;
    st.l_position = pos;
    Section s;
    s.add_rule();
    s.text("Screw dislocation");
    s.add_rule();
    s.text("Burgers Vector");
    s.rec(burgers(m, n, b));
    s.add_rule();
    s.text("Position of the dislocation centre (in Angstrom)");
    s.rec(point(pos));
    s.add_rule();
    return s.lines;
}

std::vector<std::string> loop_section(State& st, const std::string& file) {
    RecordReader r(file);
    r.skip(2);
    double m = 0, n = 1, radius = 0;
    Vec3 b{}, pos{}, normal{};
    std::string model;
    r.read(m, n, b);
    r.read(radius);
    r.read(pos);
    r.read(normal);
    r.skip(1);
    r.read(model);
    st.v_b = b;
    st.b_p_m = m;
    st.b_p_n = n;
    st.l_radius = radius;
    st.l_position = pos;
    st.l_normal = normal;
    st.loop_cal_model = model.substr(0, 30);
    Section s;
    s.add_rule();
    s.text("Distortion Field Calculation Model");
    s.text(st.loop_cal_model);
    s.add_rule();
    s.text("Burgers Vector");
    s.rec(burgers(m, n, b));
    s.add_rule();
    s.text("Radius of the loop");
    s.rec(Rec() << radius << " Angstrom");
    s.add_rule();
    s.text("Position of the loop centre (in Angstrom)");
    s.rec(point(pos));
    s.add_rule();
    s.text("Loop normal");
    s.rec(direction(normal));
    s.add_rule();
    s.text("g.b");
    s.rec(Rec() << dot(st.v_g, b) * m / n);
    s.add_rule();
    return s.lines;
}

std::vector<std::string> pg_loop_section(State& st, const std::string& file) {
    RecordReader r(file);
    r.skip(2);
    std::string style;
    double m = 0, n = 1, fm = 0, fn = 1, size = 0, nu = 0, corr = 0;
    Vec3 b{}, f{}, pos{}, normal{}, polar{};
    int sides = 0;
    r.read(style);
    r.read(m, n, b);
    r.read(fm, fn, f);
    r.read(size);
    r.read(pos);
    r.read(normal);
    r.read(polar);
    r.read(sides);
    r.read(nu);
    r.read(corr);
    st.loopstyle = style.substr(0, 30);
    st.v_b = b;
    st.b_p_m = m;
    st.b_p_n = n;
    st.b_sf = f;
    st.b_sf_m = fm;
    st.b_sf_n = fn;
    st.l_radius = size;
    st.l_position = pos;
    st.l_normal = normal;
    st.l_polar = polar;
    st.nsides = sides;
    st.poissonsratio = nu;
    st.correction = corr;
    Section s;
    s.add_rule();
    s.text("Loop style");
    s.rec(Rec() << sides << "-sided polygonal loop");
    s.add_rule();
    s.text("Burgers Vector");
    s.rec(burgers(m, n, b));
    s.add_rule();
    s.text("Loop size (twice of distance from the centroid to a vertex)");
    s.rec(Rec() << size << " Angstrom");
    s.add_rule();
    s.text("Position of the loop centre (in Angstrom)");
    s.rec(point(pos));
    s.add_rule();
    s.text("Loop normal");
    s.rec(direction(normal));
    s.add_rule();
    s.add_rule();
    s.text("Loop polar");
    s.rec(direction(polar));
    s.add_rule();
    s.text("g.b");
    s.rec(Rec() << dot(st.v_g, b) * m / n);
    s.add_rule();
    s.text("Correction factor for avoiding the singularity of strain");
    s.rec(Rec() << corr << " A ");
    s.add_rule();
    return s.lines;
}

std::vector<std::string> tetrahedron_section(State& st, const std::string& file) {
    RecordReader r(file);
    r.skip(2);
    std::string type;
    Vec3 pos{};
    double edge = 0, nu = 0, corr = 0;
    r.read(type);
    r.read(pos);
    r.read(edge);
    r.read(nu);
    r.read(corr);
    type = type.substr(0, 20);
    st.poissonsratio = nu;
    Section s;
    s.add_rule();
    if (type == "pureSF")
        s.text("Calculation for pure stacking faults");
    else if (type == "faulted")
        s.text("Calculation for SFT with strian of edges");
    s.add_rule();
    s.text("Size of the tetrahedraon");
    s.rec(Rec() << edge << "(in Angstrom, length of the edge)");
    s.add_rule();
    s.text("Position of the centroid of the SFT (in Angstrom)");
    s.rec(point(pos));
    s.add_rule();
    s.text("Correction factor for avoiding the singularity of strain");
    s.rec(Rec() << corr << " A ");
    s.add_rule();
    return s.lines;
}

std::vector<std::string> vacancy_section(State& st, const std::string& file) {
    RecordReader r(file);
    r.skip(2);
    double radius = 0;
    Vec3 pos{};
    r.read(radius);
    r.read(pos);
    st.v_radius = radius;
    st.v_position = pos;
    Section s;
    s.add_rule();
    s.text("Position of the vacancy centre");
    s.rec(point(pos));
    s.add_rule();
    s.text("Radius of the vacancy");
    s.rec(Rec() << radius << " Angstrom");
    s.add_rule();
    return s.lines;
}

} // namespace

std::vector<std::string> defect_section(State& st) {
    const std::string style = trim(st.defect);
    if (style == "screw") return screw_section(st, st.f_defect);
    if (style == "loop") return loop_section(st, "loop.ini");
    if (style == "pg_loop") return pg_loop_section(st, st.f_defect);
    if (style == "tetrahedron") return tetrahedron_section(st, st.f_defect);
    if (style == "void") return vacancy_section(st, st.f_defect);
    return {};
}

} // namespace korvex
