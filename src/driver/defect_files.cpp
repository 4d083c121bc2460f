#include "driver/defect_files.hpp"

#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"
#include "state/textout.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <optional>
#include <tuple>
#include <utility>

namespace korvex {

namespace {

// A record holding one checked vector or real value.
Vec3 checked_vector(RecordReader& r, const char* what, bool nonzero = false) {
    Vec3 v{};
    r.read(v);
    check_vector(r, what, v, nonzero);
    return v;
}
double checked_real(RecordReader& r, const char* what, bool positive = false) {
    double x = 0.0;
    r.read(x);
    check_real(r, what, x, positive);
    return x;
}

// The first value of a record as text: it ends at a blank, comma or slash unless quoted.
std::string vec_text(const Vec3& v) {
    return list_real(v[0]) + " " + list_real(v[1]) + " " + list_real(v[2]);
}

std::string first_word(const std::string& line) {
    std::size_t i = line.find_first_not_of(" \t,");
    if (i == std::string::npos) return "";
    if (line[i] == '\'' || line[i] == '"') {
        const std::size_t end = line.find(line[i], i + 1);
        return line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    }
    const std::size_t end = line.find_first_of(" \t,/", i);
    return line.substr(i, end == std::string::npos ? std::string::npos : end - i);
}

// A loop style the polygonal-loop model knows, refused at its record otherwise.
void check_loop_style(const RecordReader& r, const std::string& style) {
    if (style.find("pureSF") == std::string::npos && style.find("perfect") == std::string::npos &&
        style.find("faulted") == std::string::npos)
        throw ReadError(std::vector<std::string>{
            "LOOPSTYLE DEFINED WRONG IN THE INITIAL FILE",
            ValueSource(r).where +
                ": the loop style must contain \"perfect\", \"pureSF\" or \"faulted\"",
            "Read: \"" + style + "\""});
}

} // namespace

Elasticity read_elasticity(RecordReader& r) {
    std::string last;
    int last_no = 0;
    while (const auto line = r.next_record()) {
        std::string w = first_word(*line);
        if (w.empty()) continue;
        std::transform(w.begin(), w.end(), w.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        last = w;
        last_no = r.record();
    }
    if (last == "anisotropic") return Elasticity::anisotropic;
    if (last.empty() || last == "isotropic" || parse_fortran_real(last))
        return Elasticity::isotropic;
    throw ReadError("Error reading \"" + r.name() + "\": record " + std::to_string(last_no) +
                    " holds \"" + last +
                    "\", but the elasticity is \"isotropic\" or \"anisotropic\"");
}

namespace edge {

EdgeConfig read_edge_config(RecordReader& r) {
    EdgeConfig c;
    r.skip(2);
    r.read(c.b_m, c.b_n, c.b_index);
    check_fraction(r, "Burgers vector", c.b_m, c.b_n, c.b_index);
    c.point = checked_vector(r, "point on the dislocation line");
    c.line = checked_vector(r, "direction of the dislocation line", true);
    // The model's own test, here with the record and the values.
    const Vec3 b{c.b_index[0] * c.b_m / c.b_n, c.b_index[1] * c.b_m / c.b_n,
                 c.b_index[2] * c.b_m / c.b_n};
    const double bl = b[0] * c.line[0] + b[1] * c.line[1] + b[2] * c.line[2];
    if (std::abs(bl) >= 1e-4)
        throw ReadError(std::vector<std::string>{
            "The dislocation line is not perpendicular to v_b_edge",
            ValueSource(r).where +
                ": the line direction must be perpendicular to the Burgers vector (|b . line| "
                "below 1e-4)",
            "Read: line " + list_real(c.line[0]) + " " + list_real(c.line[1]) + " " +
                list_real(c.line[2]) + ", b . line = " + list_real(bl)});
    r.read(c.nu);
    check_poisson(r, c.nu);
    c.r0 = checked_real(r, "core radius r0");
    c.elasticity = read_elasticity(r);
    return c;
}

EdgeConfig read_edge_config(const std::string& file, Notes* notes) {
    RecordReader r(file);
    if (notes) r.collect_notes(*notes);
    return read_edge_config(r);
}

} // namespace edge

namespace screw {

ScrewConfig read_screw_config(RecordReader& r) {
    ScrewConfig c;
    r.skip(2);
    r.read(c.b_m, c.b_n, c.b_index);
    check_fraction(r, "Burgers vector", c.b_m, c.b_n, c.b_index);
    c.position = checked_vector(r, "point on the dislocation line");
    c.cut_plane = checked_vector(r, "normal of the cut plane", true);
    const double bn = c.cut_plane[0] * c.b_index[0] + c.cut_plane[1] * c.b_index[1] +
                      c.cut_plane[2] * c.b_index[2];
    if (bn != 0.0)
        throw ReadError(std::vector<std::string>{
            "For a screw dislocation, Burgers vector must lay on the cut_plane",
            ValueSource(r).where +
                ": the cut-plane normal must be perpendicular to the Burgers vector [i j k]",
            "Read: normal " + list_real(c.cut_plane[0]) + " " + list_real(c.cut_plane[1]) + " " +
                list_real(c.cut_plane[2]) + ", normal . [i j k] = " + list_real(bn)});
    r.read(c.relaxation);
    if (c.relaxation != 0 && c.relaxation != 1)
        bad_value(r, "Surface Relaxation indicator only can be 0 or 1",
                  std::to_string(c.relaxation));
    c.elasticity = read_elasticity(r);
    return c;
}

ScrewConfig read_screw_config(const std::string& file, Notes* notes) {
    RecordReader r(file);
    if (notes) r.collect_notes(*notes);
    return read_screw_config(r);
}

} // namespace screw

VoidConfig read_void_config(RecordReader& r) {
    VoidConfig c;
    r.skip(2);
    c.radius = checked_real(r, "void radius", true);
    c.position = checked_vector(r, "void centre");
    return c;
}

VoidConfig read_void_config(const std::string& path, Notes* notes) {
    RecordReader r(path);
    if (notes) r.collect_notes(*notes);
    return read_void_config(r);
}

InclusionConfig read_inclusion_config(RecordReader& r) {
    InclusionConfig c;
    r.skip(2);
    c.radius = checked_real(r, "inclusion radius", true);
    c.centre = checked_vector(r, "inclusion centre");
    c.misfit = checked_real(r, "linear misfit");
    // Beyond a few per cent a particle loses coherency; past 1 the field has no meaning.
    if (std::abs(c.misfit) >= 1.0)
        bad_value(r, "the linear misfit of a coherent inclusion lies between -1 and 1",
                  list_real(c.misfit));
    r.read(c.nu);
    check_poisson(r, c.nu);
    return c;
}

InclusionConfig read_inclusion_config(const std::string& path, Notes* notes) {
    RecordReader r(path);
    if (notes) r.collect_notes(*notes);
    return read_inclusion_config(r);
}

DissociatedConfig read_dissociated_config(RecordReader& r) {
    DissociatedConfig c;
    r.skip(2);
    double m = 0.0, n = 1.0;
    Vec3 dir{};
    r.read(m, n, dir);
    check_fraction(r, "Burgers vector", m, n, dir);
    c.b = scaled(dir, m / n);
    c.line = checked_vector(r, "direction of the dislocation line", true);
    c.point = checked_vector(r, "midpoint between the partials");
    c.normal = checked_vector(r, "glide-plane normal", true);
    const double scale = magnitude(c.b) * magnitude(c.normal);
    if (std::abs(dot(c.b, c.normal)) > 1e-9 * scale)
        bad_value(r, "the Burgers vector must lie in the glide plane (b.n = 0)",
                  vec_text(c.b) + " . " + vec_text(c.normal));
    if (std::abs(dot(c.line, c.normal)) > 1e-9 * magnitude(c.line) * magnitude(c.normal))
        bad_value(r, "the dislocation line must lie in the glide plane (l.n = 0)",
                  vec_text(c.line) + " . " + vec_text(c.normal));
    c.separation = checked_real(r, "separation of the partials");
    if (c.separation < 0.0)
        bad_value(r, "the separation of the partials must not be negative",
                  list_real(c.separation));
    r.read(c.nu);
    check_poisson(r, c.nu);
    c.r0 = checked_real(r, "core radius r0");
    if (c.r0 < 0.0) bad_value(r, "the core radius r0 must not be negative", list_real(c.r0));
    std::optional<std::string> rec;
    while ((rec = r.next_record()) && first_word(*rec).empty()) {
    }
    std::string word = rec ? first_word(*rec) : "";
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    if (word.empty() || word == "fcc") {
        try {
            std::tie(c.b1, c.b2) = fcc_partials(c.b, c.normal);
        } catch (const Fatal& f) {
            bad_value(r, f.what(), vec_text(c.b) + " on " + vec_text(c.normal));
        }
        return c;
    }
    RecordReader partial(r.name() + ", record " + std::to_string(r.record()), *rec);
    partial.read(m, n, dir);
    check_fraction(partial, "leading partial", m, n, dir);
    c.b1 = scaled(dir, m / n);
    for (std::size_t k = 0; k < 3; ++k) c.b2[k] = c.b[k] - c.b1[k];
    if (std::abs(dot(c.b1, c.normal)) > 1e-9 * scale)
        bad_value(r, "the leading partial must lie in the glide plane (b1.n = 0)",
                  vec_text(c.b1) + " . " + vec_text(c.normal));
    return c;
}

DissociatedConfig read_dissociated_config(const std::string& path, Notes* notes) {
    RecordReader r(path);
    if (notes) r.collect_notes(*notes);
    return read_dissociated_config(r);
}

PgLoopFile read_pgloop_file(RecordReader& r) {
    PgLoopFile f;
    r.skip(2);
    r.read(f.loopstyle);
    if (f.loopstyle.size() > 30) f.loopstyle.resize(30);
    check_loop_style(r, f.loopstyle);
    r.read(f.b_m, f.b_n, f.b_dir);
    check_fraction(r, "Burgers vector", f.b_m, f.b_n, f.b_dir);
    r.read(f.f_m, f.f_n, f.f_dir);
    check_vector(r, "stacking-fault vector", f.f_dir);
    check_real(r, "stacking-fault vector m", f.f_m);
    check_real(r, "stacking-fault vector n", f.f_n);
    f.radius = checked_real(r, "loop radius", true);
    f.position = checked_vector(r, "loop centre");
    f.normal = checked_vector(r, "loop normal", true);
    f.polar = checked_vector(r, "polar direction", true);
    r.read(f.nsides);
    r.read(f.poissonsratio);
    check_poisson(r, f.poissonsratio);
    f.correction = checked_real(r, "correction");
    return f;
}

PgLoopFile read_pgloop_file(const std::string& path, Notes* notes) {
    RecordReader r(path);
    if (notes) r.collect_notes(*notes);
    return read_pgloop_file(r);
}

TetrahedronFile read_tetrahedron_file(RecordReader& r) {
    TetrahedronFile t;
    r.skip(2);
    r.read(t.style);
    if (t.style.size() > 20) t.style.resize(20);
    check_loop_style(r, t.style);
    t.centroid = checked_vector(r, "centroid");
    t.edge = checked_real(r, "edge length", true);
    r.read(t.poissonsratio);
    check_poisson(r, t.poissonsratio);
    t.correction = checked_real(r, "correction");
    return t;
}

TetrahedronFile read_tetrahedron_file(const std::string& path, Notes* notes) {
    RecordReader r(path);
    if (notes) r.collect_notes(*notes);
    return read_tetrahedron_file(r);
}

LoopIniFile read_loop_ini(const std::string& path, Notes* notes) {
    RecordReader r(path);
    if (notes) r.collect_notes(*notes);
    return read_loop_ini(r);
}

LoopIniFile read_loop_ini(RecordReader& r) {
    LoopIniFile f;
    r.skip(2);
    r.read(f.b_m, f.b_n, f.b_dir);
    check_fraction(r, "Burgers vector", f.b_m, f.b_n, f.b_dir);
    f.radius = checked_real(r, "loop radius", true);
    f.position = checked_vector(r, "loop centre");
    f.normal = checked_vector(r, "loop normal", true);
    r.read(f.poissonsratio);
    check_poisson(r, f.poissonsratio);
    r.read(f.model);
    if (f.model.size() > 30) f.model.resize(30);
    f.model_kind = loop_model_from_name(f.model);
    // A misspelt model would compute no loop integrals at all: refused where it is read.
    if (f.model_kind == LoopModel::unnamed)
        bad_value(r,
                  "the calculation model must be \"infinitesimal\", \"tabulation\" or "
                  "\"integral\"",
                  "\"" + f.model + "\"");
    return f;
}

void read_loop_table(const std::string& path, LoopTable& table) {
    table.resize(kLoopTableSize, kLoopTableSize);
    RecordReader r(path);
    r.skip(1);
    float lead = 0.0f;
    for (int rec = 1; rec <= kLoopTableSize; ++rec) {
        r.begin_read();
        r.read_more(lead);
        for (int q = 1; q <= kLoopTableSize; ++q) r.read_more(table(q, rec));
        r.end_read();
    }
}

void read_loop_tables(LoopTables& t) {
    const std::array<std::pair<const char*, LoopTable*>, 5> files{{{"i01.data", &t.i01},
                                                                   {"i10.data", &t.i10},
                                                                   {"i11.data", &t.i11},
                                                                   {"i02.data", &t.i02},
                                                                   {"i12.data", &t.i12}}};
    for (std::size_t k = 0; k < files.size(); ++k) {
        LoopTables::Stamp now;
        std::error_code e1, e2;
        now.size = std::filesystem::file_size(files[k].first, e1);
        const auto time = std::filesystem::last_write_time(files[k].first, e2);
        now.mtime = static_cast<std::int64_t>(time.time_since_epoch().count());
        now.valid = !e1 && !e2;
        LoopTables::Stamp& last = t.stamps[k];
        if (now.valid && last.valid && now.size == last.size && now.mtime == last.mtime) continue;
        last.valid = false;
        read_loop_table(files[k].first, *files[k].second);
        last = now;
    }
}

std::vector<std::string> write_loop_tables(const std::string& dir, bool only_missing) {
    std::vector<std::size_t> missing;
    for (std::size_t w = 0; w < kLoopTableFiles.size(); ++w) {
        std::error_code ec;
        if (!only_missing || (!std::filesystem::exists(dir + kLoopTableFiles[w], ec) && !ec))
            missing.push_back(w);
    }
    std::vector<std::string> written;
    if (missing.empty()) return written;
    LoopTables t;
    compute_loop_tables(t);
    for (const std::size_t w : missing) {
        write_text_file(dir + kLoopTableFiles[w], format_loop_table(t, w));
        written.emplace_back(kLoopTableFiles[w]);
    }
    return written;
}

} // namespace korvex
