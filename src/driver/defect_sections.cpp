#include "driver/defect_sections.hpp"

#include "defects/edge.hpp"
#include "defects/loop_iso.hpp"
#include "defects/pgloop.hpp"
#include "defects/screw.hpp"
#include "defects/tetrahedron.hpp"
#include "defects/void.hpp"
#include "driver/defect_files.hpp"
#include "driver/population_file.hpp"
#include "optics/crystal.hpp"
#include "optics/vectors.hpp"
#include "output/record.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace korvex {

namespace {

struct Section {
    std::vector<std::string> lines;
    const std::string rule = " " + std::string(39, '-');
    void add_rule() { lines.push_back(rule); }
    void text(const std::string& s) { lines.push_back(Rec(s).list()); }
    void rec(const Rec& r) { lines.push_back(r.list()); }
    // A label record, its value record and a rule.
    void entry(const std::string& label, const Rec& value) {
        text(label);
        rec(value);
        add_rule();
    }
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

// The elastic constants an anisotropic dislocation field was computed with.
void elasticity_entries(Section& s, const State& st) {
    const CubicElastic c = elastic_constants(st.sample);
    s.entry("Elasticity", Rec("anisotropic (sextic solution), crystal ") << first_two(st.sample));
    s.entry("Elastic constants C11, C12, C44 (GPa)", Rec() << c.c11 << c.c12 << c.c44);
}

// A run whose file is gone has no section, as the report of such a run always was.
std::vector<std::string> edge_section(const State& st, const std::string& file) {
    if (!RecordReader::exists(file)) return {};
    const edge::EdgeConfig c = edge::read_edge_config(file);
    const bool anisotropic = c.elasticity == Elasticity::anisotropic;
    Section s;
    s.add_rule();
    s.text("Edge dislocation");
    s.add_rule();
    s.entry("Burgers Vector", burgers(c.b_m, c.b_n, c.b_index));
    s.entry("Position of the dislocation (in Angstrom)", point(c.point));
    s.entry("Dislocation line", direction(c.line));
    s.entry(anisotropic ? "Poissons ratio (read, not used by the anisotropic field)"
                        : "Poissons ratio",
            Rec() << c.nu);
    s.entry("A factor to avoid the singularity", Rec() << c.r0 << " A ");
    if (anisotropic) elasticity_entries(s, st);
    return s.lines;
}

std::vector<std::string> screw_section(const State& st, const std::string& file) {
    const screw::ScrewConfig c = screw::read_screw_config(file);
    Section s;
    s.add_rule();
    s.text("Screw dislocation");
    s.add_rule();
    s.entry("Burgers Vector", burgers(c.b_m, c.b_n, c.b_index));
    s.entry("Position of the dislocation centre (in Angstrom)", point(c.position));
    if (c.elasticity == Elasticity::anisotropic) elasticity_entries(s, st);
    return s.lines;
}

std::vector<std::string> loop_section(const State& st, const std::string& file) {
    const LoopIniFile c = read_loop_ini(file);
    Section s;
    s.add_rule();
    s.text("Distortion Field Calculation Model");
    s.text(c.model);
    s.add_rule();
    s.entry("Burgers Vector", burgers(c.b_m, c.b_n, c.b_dir));
    s.entry("Radius of the loop", Rec() << c.radius << " Angstrom");
    s.entry("Position of the loop centre (in Angstrom)", point(c.position));
    s.entry("Loop normal", direction(c.normal));
    s.entry("g.b", Rec() << dot(st.v_g, c.b_dir) * c.b_m / c.b_n);
    return s.lines;
}

std::vector<std::string> pg_loop_section(const State& st, const std::string& file) {
    const PgLoopFile c = read_pgloop_file(file);
    Section s;
    s.add_rule();
    s.entry("Loop style", Rec() << c.nsides << "-sided polygonal loop");
    s.entry("Burgers Vector", burgers(c.b_m, c.b_n, c.b_dir));
    // The file holds the radius of the circle through the vertices; the size is twice that.
    s.entry("Loop size (twice of distance from the centroid to a vertex)",
            Rec() << 2.0 * c.radius << " Angstrom");
    s.entry("Position of the loop centre (in Angstrom)", point(c.position));
    s.entry("Loop normal", direction(c.normal));
    s.add_rule();
    s.entry("Loop polar", direction(c.polar));
    s.entry("g.b", Rec() << dot(st.v_g, c.b_dir) * c.b_m / c.b_n);
    s.entry("Correction factor for avoiding the singularity of strain",
            Rec() << c.correction << " A ");
    return s.lines;
}

std::vector<std::string> tetrahedron_section(const std::string& file) {
    const TetrahedronFile c = read_tetrahedron_file(file);
    Section s;
    s.add_rule();
    if (c.style == "pureSF")
        s.text("Calculation for pure stacking faults");
    else if (c.style == "faulted")
        s.text("Calculation for SFT with strain of edges");
    s.add_rule();
    s.entry("Size of the tetrahedron", Rec() << c.edge << "(in Angstrom, length of the edge)");
    s.entry("Position of the centroid of the SFT (in Angstrom)", point(c.centroid));
    s.entry("Correction factor for avoiding the singularity of strain",
            Rec() << c.correction << " A ");
    return s.lines;
}

std::vector<std::string> vacancy_section(const std::string& file) {
    const VoidConfig c = read_void_config(file);
    Section s;
    s.add_rule();
    s.entry("Position of the vacancy centre", point(c.position));
    s.entry("Radius of the vacancy", Rec() << c.radius << " Angstrom");
    return s.lines;
}

std::vector<std::string> inclusion_section(const std::string& file) {
    const InclusionConfig c = read_inclusion_config(file);
    Section s;
    s.add_rule();
    s.entry("Position of the inclusion centre", point(c.centre));
    s.entry("Radius of the inclusion", Rec() << c.radius << " Angstrom");
    s.entry("Linear misfit and constrained strain", Rec() << c.misfit << constrained_strain(c));
    s.entry("Poisson's ratio", Rec() << c.nu);
    return s.lines;
}

std::vector<std::string> dissociated_section(const std::string& file) {
    const DissociatedConfig c = read_dissociated_config(file);
    Section s;
    s.add_rule();
    s.entry("Burgers Vector", direction(c.b));
    s.entry("Leading partial (its fault vector on the ribbon)", direction(c.b1));
    s.entry("Trailing partial", direction(c.b2));
    s.entry("Direction of the dislocation line", direction(c.line));
    s.entry("Glide-plane normal", direction(c.normal));
    s.entry("Midpoint between the partials", point(c.point));
    s.entry("Separation of the partials", Rec() << c.separation << " Angstrom");
    return s.lines;
}

// The file, its tolerance and how many defects of each kind it holds, in the order of the
// kinds' first entries.
std::vector<std::string> population_section(const std::string& file) {
    const PopulationFile f = read_population_file(file);
    Section s;
    s.add_rule();
    s.entry("Population file", Rec(file));
    s.entry("Tolerance on a defect's strain term", Rec() << f.tolerance << " 1/Angstrom");
    s.entry("Number of defects", Rec() << static_cast<int>(f.entries.size()));
    std::vector<std::pair<DefectKind, int>> kinds;
    for (const PopulationEntry& e : f.entries) {
        auto at = std::find_if(kinds.begin(), kinds.end(),
                               [&](const auto& k) { return k.first == e.kind; });
        if (at == kinds.end()) at = kinds.insert(kinds.end(), {e.kind, 0});
        ++at->second;
    }
    for (const auto& [kind, count] : kinds)
        s.entry(std::string("  ") + kind_word(kind), Rec() << count);
    return s.lines;
}

} // namespace

std::vector<std::string> defect_section(const State& st) {
    switch (st.defect_kind) {
    case DefectKind::edge:
        return edge_section(st, st.f_defect);
    case DefectKind::screw:
        return screw_section(st, st.f_defect);
    case DefectKind::loop:
        return loop_section(st, "loop.ini");
    case DefectKind::pg_loop:
        return pg_loop_section(st, st.f_defect);
    case DefectKind::tetrahedron:
        return tetrahedron_section(st.f_defect);
    case DefectKind::vacancy:
        return vacancy_section(st.f_defect);
    case DefectKind::inclusion:
        return inclusion_section(st.f_defect);
    case DefectKind::dissociated:
        return dissociated_section(st.f_defect);
    case DefectKind::population:
        return population_section(st.f_defect);
    default:
        return {};
    }
}

} // namespace korvex
