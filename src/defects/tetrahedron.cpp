#include "defects/tetrahedron.hpp"

#include "defects/defect.hpp"
#include "defects/pgloop.hpp"
#include "optics/vectors.hpp"
#include "state/checks.hpp"
#include "state/fmt.hpp"
#include "state/textout.hpp"

#include <cstdlib>

#include <memory>
#include <vector>

namespace korvex {

const std::array<TetrahedronFace, 4> kTetrahedronFaces{{
    {"alpha", {-1.0, 1.0, -1.0}, {-1.0, 1.0, -1.0}, {-1.0, -1.0, 0.0}},
    {"beta", {1.0, -1.0, -1.0}, {1.0, -1.0, -1.0}, {0.0, -1.0, 1.0}},
    {"gamma", {-1.0, -1.0, 1.0}, {-1.0, -1.0, 1.0}, {1.0, 0.0, 1.0}},
    {"delta", {1.0, 1.0, 1.0}, {1.0, 1.0, 1.0}, {1.0, -1.0, 0.0}},
}};

namespace {

std::string list_vec(const Vec3& v) {
    return list_real(v[0]) + " " + list_real(v[1]) + " " + list_real(v[2]);
}

// A text value as a list-directed read takes it back whole.
std::string text_item(const std::string& s) {
    if (!s.empty() && s.find_first_of(" ,/'\"\t") == std::string::npos) return s;
    std::string q = "'";
    for (char c : s) {
        q += c;
        if (c == '\'') q += '\'';
    }
    return q + "'";
}

} // namespace

Vec3 tetrahedron_face_centre(const State& st, const TetrahedronFile& t, int face) {
    const TetrahedronFace& fc = kTetrahedronFaces[static_cast<std::size_t>(face)];
    // Distance from the centroid of a regular tetrahedron of unit edge to a face: 1/(2 sqrt 6).
    constexpr double face_distance = 0.2041241452319315;
    const Vec3 y = cross_product(fc.normal, fc.reference);
    const Mat3 tf = coordinates_transfer(fc.reference, y, fc.normal, st.co_x,
                                         cross_product(st.foil, st.co_x), st.foil);
    const Vec3 shift = mul(tf, Vec3{0.0, 0.0, -t.edge * face_distance});
    return {t.centroid[0] + shift[0], t.centroid[1] + shift[1], t.centroid[2] + shift[2]};
}

std::string tetrahedron_face_text(const State& st, const TetrahedronFile& t, int face) {
    const TetrahedronFace& fc = kTetrahedronFaces[static_cast<std::size_t>(face)];
    constexpr double sqrt3 = 1.7320508075688772;
    const Vec3 y = cross_product(fc.normal, fc.reference);
    const Vec3 centre = tetrahedron_face_centre(st, t, face);

    std::string s;
    s += std::string("            {Data for the triangle loop in ") + fc.name + " plane}\n";
    s += std::string(67, '=') + "\n";
    s += list_record({text_item(trim(t.style))}) + "\n";
    s += list_record({list_real(1.0), list_real(12.0), list_vec(fc.burgers)}) + "\n";
    s += list_record({list_real(1.0), list_real(12.0), list_vec(fc.burgers)}) + "\n";
    s += list_record({list_real(t.edge / sqrt3)}) + "\n";
    s += list_record({list_vec(centre)}) + "\n";
    s += list_record({list_vec(fc.normal)}) + "\n";
    s += list_record({list_vec(y)}) + "\n";
    s += list_record({"3"}) + "\n";
    s += list_record({list_real(t.poissonsratio)}) + "\n";
    s += list_record({list_real(t.correction)}) + "\n";
    return s;
}

PgLoopFile tetrahedron_face_loop(const State& st, const TetrahedronFile& t, int face) {
    const TetrahedronFace& fc = kTetrahedronFaces[static_cast<std::size_t>(face)];
    // Each real as the face's file records it (ten significant digits), so that the faces are
    // the loops their files describe.
    auto recorded = [](double v) { return std::strtod(list_real(v).c_str(), nullptr); };
    auto recorded_vec = [&](const Vec3& v) {
        return Vec3{recorded(v[0]), recorded(v[1]), recorded(v[2])};
    };
    constexpr double sqrt3 = 1.7320508075688772;
    PgLoopFile f;
    f.loopstyle = trim(t.style);
    f.b_m = f.f_m = 1.0;
    f.b_n = f.f_n = 12.0;
    f.b_dir = f.f_dir = fc.burgers;
    f.radius = recorded(t.edge / sqrt3);
    f.position = recorded_vec(tetrahedron_face_centre(st, t, face));
    f.normal = fc.normal;
    f.polar = cross_product(fc.normal, fc.reference);
    f.nsides = 3;
    f.poissonsratio = recorded(t.poissonsratio);
    f.correction = recorded(t.correction);
    return f;
}

namespace {

// The faces of slice `islice` in the order alpha, beta, gamma, delta, marked 2, 4, 6, 8.
std::vector<PgLoopSlice> tetrahedron_faces(const State& st, const TetrahedronFile& t, int islice) {
    std::vector<PgLoopSlice> faces;
    faces.reserve(4);
    for (int face = 0; face < 4; ++face)
        faces.emplace_back(st, tetrahedron_face_loop(st, t, face), 2 * (face + 1), islice);
    return faces;
}

} // namespace

void tetrahedron(const State& st, Workspace& w, const TetrahedronFile& t, int islice,
                 bool single_column) {
    const std::vector<PgLoopSlice> faces = tetrahedron_faces(st, t, islice);

    // The faces' strain terms add up, and so do the jumps of two faces a column crosses in one
    // slice.
    if (single_column) {
        // The column's terms stand at (1, 1); the rest of the arrays is not read.
        for (int n = 1; n <= w.s_g_r.n3(); ++n) w.s_g_r(1, 1, n) = 0.0;
        for (int c = 1; c <= w.s_f.n3(); ++c) w.s_f(1, 1, c) = 0.0;
        for (int face = 0; face < 4; ++face) {
            // The column at colxy from the centroid, seen from the face's centre.
            const Vec3 c = tetrahedron_face_centre(st, t, face);
            const std::array<double, 2> col{t.centroid[0] + st.colxy[0] - c[0],
                                            t.centroid[1] + st.colxy[1] - c[1]};
            faces[static_cast<std::size_t>(face)].column(col, w.s_g_r, true);
        }
        return;
    }
    // Every column takes the four faces in turn.
    const int ny = st.n_xyz[1];
#pragma omp parallel for schedule(static)
    for (int j = 1; j <= ny; ++j) PgLoopSlice::row(faces, j, w.s_g_r, w.s_f, w.projection, true);
}

namespace {

class TetrahedronField : public DefectField {
  public:
    explicit TetrahedronField(ConfigSource<TetrahedronFile> source) : source_(std::move(source)) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        tetrahedron(st, w, source_(), islice, false);
    }
    void fill_column(const State& st, Workspace& w, int islice) override {
        tetrahedron(st, w, source_(), islice, true);
    }
    bool fills_rows() const override { return true; }
    RowFill rows_of_slice(const State& st, Workspace& w, int islice) override {
        auto faces = std::make_shared<const std::vector<PgLoopSlice>>(
            tetrahedron_faces(st, source_(), islice));
        return
            [faces, &w](int j) { PgLoopSlice::row(*faces, j, w.s_g_r, w.s_f, w.projection, true); };
    }

  private:
    ConfigSource<TetrahedronFile> source_;
};

} // namespace

std::unique_ptr<DefectField> make_tetrahedron_field(ConfigSource<TetrahedronFile> source) {
    return std::make_unique<TetrahedronField>(std::move(source));
}

} // namespace korvex
