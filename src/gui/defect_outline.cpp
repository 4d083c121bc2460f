#include "gui/defect_outline.hpp"

#include "defects/edge.hpp"
#include "defects/loop_iso.hpp"
#include "defects/pgloop.hpp"
#include "defects/screw.hpp"
#include "defects/tetrahedron.hpp"
#include "defects/void.hpp"
#include "driver/defect_files.hpp"
#include "optics/vectors.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"

#include <cmath>

namespace korvex {

namespace {

constexpr double kPi = 3.141592653589793;

Vec3 unit(const Vec3& v) {
    const double m = magnitude(v);
    return m > 0.0 ? scaled(v, 1.0 / m) : v;
}

// Crystal indices -> unit vector of the sample frame (x along g, z along the zone axis).
struct Frame {
    Vec3 x, y, z;
    explicit Frame(const State& st)
        : x(unit(st.v_g)), y(unit(cross_product(st.foil, st.v_g))), z(unit(st.foil)) {}
    Vec3 operator()(const Vec3& c) const {
        const Vec3 u = unit(c);
        return {dot(u, x), dot(u, y), dot(u, z)};
    }
};

// A straight line through `p` (sample frame) along `dir` (sample frame), within the foil.
std::vector<std::array<double, 2>> line(const State& st, const Vec3& p, const Vec3& dir) {
    double t1, t2;
    if (std::abs(dir[2]) > 1e-9) {
        t1 = -p[2] / dir[2];
        t2 = (st.size_z - p[2]) / dir[2];
    } else {
        t2 = 4.0 * (st.size_x + st.size_y + 1.0); // in the foil plane: across the whole field
        t1 = -t2;
    }
    return {{p[0] + t1 * dir[0], p[1] + t1 * dir[1]}, {p[0] + t2 * dir[0], p[1] + t2 * dir[1]}};
}

// The closed polygon of `n` vertices at radius r about `centre` in the plane spanned by e1 and
// e2 (sample frame), the vertices at the odd multiples of pi / n from e1 (as the loop model
// places them); a large n draws a circle.
std::vector<std::array<double, 2>> ring(const Vec3& centre, const Vec3& e1, const Vec3& e2,
                                        double r, int n) {
    std::vector<std::array<double, 2>> pts;
    for (int k = 0; k <= n; ++k) {
        const double phi = (2 * k + 1) * kPi / n;
        pts.push_back({centre[0] + r * (std::cos(phi) * e1[0] + std::sin(phi) * e2[0]),
                       centre[1] + r * (std::cos(phi) * e1[1] + std::sin(phi) * e2[1])});
    }
    return pts;
}

// In-plane axes of a plane of normal `normal` with the first along `polar` (crystal indices).
std::pair<Vec3, Vec3> plane_axes(const Frame& f, const Vec3& normal, const Vec3& polar) {
    const Vec3 n = unit(normal);
    const Vec3 p = unit(polar);
    const Vec3 e1 =
        unit({p[0] - dot(p, n) * n[0], p[1] - dot(p, n) * n[1], p[2] - dot(p, n) * n[2]});
    return {f(e1), f(cross_product(n, e1))};
}

} // namespace

Outline defect_outline(const State& st) {
    const DefectKind kind = st.defect_kind;
    const Frame f(st);
    Outline o;
    try {
        if (kind == DefectKind::edge) {
            const auto e = edge::read_edge_config(st.f_defect);
            o.push_back(line(st, e.point, f(e.line)));
        } else if (kind == DefectKind::screw) {
            const auto s = screw::read_screw_config(st.f_defect);
            o.push_back(line(st, s.position, f(s.b_index)));
        } else if (kind == DefectKind::loop) {
            const auto l = read_loop_ini("loop.ini");
            const Vec3 any = std::abs(l.normal[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
            const auto [e1, e2] = plane_axes(f, l.normal, cross_product(l.normal, any));
            o.push_back(ring(l.position, e1, e2, l.radius, 72));
        } else if (kind == DefectKind::pg_loop) {
            const auto l = read_pgloop_file(st.f_defect);
            const auto [e1, e2] = plane_axes(f, l.normal, l.polar);
            o.push_back(ring(l.position, e1, e2, l.radius, l.nsides));
        } else if (kind == DefectKind::tetrahedron) {
            const auto t = read_tetrahedron_file(st.f_defect);
            for (int face = 0; face < 4; ++face) {
                const TetrahedronFace& fc = kTetrahedronFaces[static_cast<std::size_t>(face)];
                const auto [e1, e2] =
                    plane_axes(f, fc.normal, cross_product(fc.normal, fc.reference));
                o.push_back(
                    ring(tetrahedron_face_centre(st, t, face), e1, e2, t.edge / std::sqrt(3.0), 3));
            }
        } else if (kind == DefectKind::vacancy) {
            const auto v = read_void_config(st.f_defect);
            o.push_back(ring(v.position, {1, 0, 0}, {0, 1, 0}, v.radius, 72));
        }
    } catch (const Fatal&) {
        return {}; // the run reports an unreadable file itself
    }
    return o;
}

} // namespace korvex
