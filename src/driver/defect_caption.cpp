#include "driver/defect_caption.hpp"

#include "defects/edge.hpp"
#include "defects/loop_iso.hpp"
#include "defects/pgloop.hpp"
#include "defects/screw.hpp"
#include "defects/tetrahedron.hpp"
#include "defects/void.hpp"
#include "driver/defect_files.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"

#include <cstdio>

namespace korvex {

namespace {

std::string burgers(double m, double n, const Vec3& b) {
    return short_number(m) + "/" + short_number(n) + "[" + short_number(b[0]) + " " +
           short_number(b[1]) + " " + short_number(b[2]) + "]";
}

std::string nm(double angstrom) {
    return short_number(angstrom / 10.0) + " nm";
}

} // namespace

DefectCaption defect_caption(const State& st) {
    const DefectKind kind = st.defect_kind;
    DefectCaption c{kind == DefectKind::perfect ? "perfect crystal" : trim(st.defect), ""};
    try {
        if (kind == DefectKind::edge) {
            const auto e = edge::read_edge_config(st.f_defect);
            c = {"edge dislocation", burgers(e.b_m, e.b_n, e.b_index)};
        } else if (kind == DefectKind::screw) {
            const auto s = screw::read_screw_config(st.f_defect);
            c = {"screw dislocation", burgers(s.b_m, s.b_n, s.b_index)};
        } else if (kind == DefectKind::loop) {
            const auto l = read_loop_ini("loop.ini");
            c = {"circular loop, diameter " + nm(2 * l.radius), burgers(l.b_m, l.b_n, l.b_dir)};
        } else if (kind == DefectKind::pg_loop) {
            const auto l = read_pgloop_file(st.f_defect);
            c = {trim(l.loopstyle) + " " + std::to_string(l.nsides) + "-sided loop, diameter " +
                     nm(2 * l.radius),
                 burgers(l.b_m, l.b_n, l.b_dir)};
        } else if (kind == DefectKind::tetrahedron) {
            const auto t = read_tetrahedron_file(st.f_defect);
            c = {trim(t.style) + " stacking-fault tetrahedron, edge " + nm(t.edge), ""};
        } else if (kind == DefectKind::dissociated) {
            const auto d = read_dissociated_config(st.f_defect);
            c = {"dissociated dislocation, partials " + nm(d.separation) + " apart",
                 "[" + short_number(d.b[0]) + " " + short_number(d.b[1]) + " " +
                     short_number(d.b[2]) + "]"};
        } else if (kind == DefectKind::inclusion) {
            const auto i = read_inclusion_config(st.f_defect);
            c = {"coherent inclusion, diameter " + nm(2 * i.radius) + ", misfit " +
                     short_number(i.misfit),
                 ""};
        } else if (kind == DefectKind::vacancy) {
            c = {"void, diameter " + nm(2 * read_void_config(st.f_defect).radius), ""};
        }
    } catch (const Fatal&) {
        // The run itself reports an unreadable file; the caption names the kind only.
    }
    return c;
}

} // namespace korvex
