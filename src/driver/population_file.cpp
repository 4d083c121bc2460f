#include "driver/population_file.hpp"

#include "defects/column_rule.hpp"
#include "defects/tetrahedron.hpp"
#include "optics/vectors.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <sstream>
#include <type_traits>

namespace korvex {

namespace {

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

bool blank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

// The configuration of `kind` from a reader at its record 1.
decltype(PopulationEntry::config) read_kind(DefectKind kind, RecordReader& r) {
    switch (kind) {
    case DefectKind::edge:
        return edge::read_edge_config(r);
    case DefectKind::screw:
        return screw::read_screw_config(r);
    case DefectKind::loop:
        return read_loop_ini(r);
    case DefectKind::pg_loop:
        return read_pgloop_file(r);
    case DefectKind::tetrahedron:
        return read_tetrahedron_file(r);
    case DefectKind::vacancy:
        return read_void_config(r);
    case DefectKind::inclusion:
        return read_inclusion_config(r);
    case DefectKind::dissociated:
        return read_dissociated_config(r);
    default: {
        StrainBackground b;
        r.skip(2);
        r.read(b.base);
        return b;
    }
    }
}

[[noreturn]] void bad(const std::string& where, const std::string& what, const std::string& read) {
    throw ReadError(
        std::vector<std::string>{"Error reading " + where + ": " + what, "Read: " + read});
}

// Builds each entry from its "defect" record and the records after it.
class EntryReader {
  public:
    explicit EntryReader(PopulationFile& f) : f_(f) {}

    void open(const std::vector<std::string>& w, int record) {
        close();
        const int number = static_cast<int>(f_.entries.size()) + 1;
        where_ = "\"" + f_.path + "\", entry " + std::to_string(number) + " (record " +
                 std::to_string(record) + ")";
        if (number > kMaxPopulationEntries)
            bad(where_,
                "a population holds at most " + std::to_string(kMaxPopulationEntries) + " defects",
                "entry " + std::to_string(number));
        const std::string name = w.size() > 1 ? w[1] : "";
        const DefectKind kind = defect_kind_from_name(name);
        if (kind == DefectKind::unknown || kind == DefectKind::perfect ||
            kind == DefectKind::population)
            bad(where_,
                "the kind of a defect is edge, screw, loop, void, pg_loop, tetrahedron, "
                "inclusion, dissociated or 3D-strain",
                "\"" + name + "\"");
        if (w.size() > 3) bad(where_, "an entry names at most one file", "\"" + w[3] + "\"");
        entry_ = PopulationEntry{};
        entry_->number = number;
        entry_->record = record;
        entry_->kind = kind;
        entry_->file = w.size() > 2 ? w[2] : "";
        entry_->where = "\"" + f_.path + "\", entry " + std::to_string(number);
        text_ = "defect " + name + "\n\n";
    }

    void add(const std::string& line, int record) {
        if (!entry_) {
            if (blank(line)) return;
            bad("\"" + f_.path + "\", record " + std::to_string(record),
                "each entry begins with a record \"defect <kind>\"", "\"" + line + "\"");
        }
        if (!entry_->file.empty() && !blank(line))
            bad(where_, "an entry naming a file holds no records of its own",
                "\"" + line + "\" in record " + std::to_string(record));
        text_ += line;
        text_ += '\n';
    }

    void close() {
        if (!entry_) return;
        PopulationEntry& e = *entry_;
        const std::string kind = kind_word(e.kind);
        if (e.file.empty()) {
            // Its records numbered as in the kind's own file: the "defect" record is record 1.
            RecordReader r(f_.path + ", entry " + std::to_string(e.number) + " (" + kind +
                               " from record " + std::to_string(e.record) + ")",
                           std::move(text_));
            e.config = read_kind(e.kind, r);
        } else {
            if (!RecordReader::exists(e.file))
                bad(where_, "the " + kind + " configuration file it names cannot be read",
                    "\"" + e.file + "\"");
            try {
                RecordReader r(e.file);
                e.config = read_kind(e.kind, r);
            } catch (const ReadError& err) {
                std::vector<std::string> lines{"In " + where_ + ", the " + kind + " file \"" +
                                               e.file + "\":"};
                lines.insert(lines.end(), err.lines().begin(), err.lines().end());
                throw ReadError(lines);
            }
        }
        f_.entries.push_back(std::move(e));
        entry_.reset();
    }

  private:
    PopulationFile& f_;
    std::optional<PopulationEntry> entry_;
    std::string where_, text_;
};

// The sphere of a bounded entry (centre, radius), or nothing for one that reaches every column.
std::optional<std::pair<Vec3, double>> sphere(const PopulationEntry& e) {
    if (const auto* f = std::get_if<PgLoopFile>(&e.config))
        return std::pair{f->position, f->radius};
    if (const auto* t = std::get_if<TetrahedronFile>(&e.config))
        return std::pair{t->centroid, t->edge * 0.6123724356957945};
    if (const auto* v = std::get_if<VoidConfig>(&e.config))
        return std::pair{v->position, v->radius};
    if (const auto* i = std::get_if<InclusionConfig>(&e.config))
        return std::pair{i->centre, i->radius};
    return std::nullopt;
}

// No void may overlap another bounded defect: a sweep along x over the spheres.
void check_voids(const PopulationFile& f) {
    struct Ball {
        std::size_t k;
        Vec3 c;
        double r;
    };
    std::vector<Ball> balls;
    for (std::size_t k = 0; k < f.entries.size(); ++k)
        if (const auto s = sphere(f.entries[k])) balls.push_back({k, s->first, s->second});
    std::sort(balls.begin(), balls.end(),
              [](const Ball& a, const Ball& b) { return a.c[0] - a.r < b.c[0] - b.r; });
    for (std::size_t a = 0; a < balls.size(); ++a)
        for (std::size_t b = a + 1;
             b < balls.size() && balls[b].c[0] - balls[b].r < balls[a].c[0] + balls[a].r; ++b) {
            const Ball& p = balls[a];
            const Ball& q = balls[b];
            const bool pv = f.entries[p.k].kind == DefectKind::vacancy;
            const bool qv = f.entries[q.k].kind == DefectKind::vacancy;
            if (!pv && !qv) continue;
            const double d = magnitude(Vec3{p.c[0] - q.c[0], p.c[1] - q.c[1], p.c[2] - q.c[2]});
            if (d >= p.r + q.r) continue;
            const PopulationEntry& v = f.entries[pv ? p.k : q.k];
            const PopulationEntry& o = f.entries[pv ? q.k : p.k];
            throw ReadError(std::vector<std::string>{
                "Error reading " + v.where + " (record " + std::to_string(v.record) +
                    "): the void overlaps entry " + std::to_string(o.number) + " (" +
                    kind_word(o.kind) + ")",
                "Read: centres " + list_real(d) + " Angstrom apart, radii " + list_real(p.r) +
                    " and " + list_real(q.r)});
        }
}

} // namespace

const char* kind_word(DefectKind kind) {
    switch (kind) {
    case DefectKind::edge:
        return "edge";
    case DefectKind::screw:
        return "screw";
    case DefectKind::loop:
        return "loop";
    case DefectKind::pg_loop:
        return "pg_loop";
    case DefectKind::tetrahedron:
        return "tetrahedron";
    case DefectKind::vacancy:
        return "void";
    case DefectKind::inclusion:
        return "inclusion";
    case DefectKind::dissociated:
        return "dissociated";
    default:
        return "3D-strain";
    }
}

PopulationFile read_population_file(const std::string& path) {
    PopulationFile f;
    f.path = path;
    RecordReader r(path);
    r.skip(2);
    r.read(f.tolerance);
    if (!std::isfinite(f.tolerance) || f.tolerance < 0.0 || f.tolerance > 1.0)
        bad_value(r, "the tolerance on a defect's strain term lies between 0 and 1 (1/Angstrom)",
                  list_real(f.tolerance));
    EntryReader entries(f);
    bool background = false;
    while (const auto line = r.next_record()) {
        const std::vector<std::string> w = words(*line);
        if (!w.empty() && w[0] == "defect") {
            entries.open(w, r.record());
            if (w.size() > 1 && defect_kind_from_name(w[1]) == DefectKind::strain) {
                if (background)
                    bad("\"" + path + "\", entry " + std::to_string(f.entries.size() + 1) +
                            " (record " + std::to_string(r.record()) + ")",
                        "a population holds one strain-file background at most",
                        "a second \"defect 3D-strain\"");
                background = true;
            }
        } else {
            entries.add(*line, r.record());
        }
    }
    entries.close();
    if (f.entries.empty())
        bad("\"" + path + "\"", "a population lists one defect or more",
            "no record \"defect <kind>\"");
    check_voids(f);
    return f;
}

void check_population_columns(const PopulationFile& f, ColumnApprox ca) {
    if (ca == ColumnApprox::unknown) return; // refused where the beams are set
    for (const PopulationEntry& e : f.entries)
        if (!column_approx_taken(e.kind, ca))
            halt({"Please make right choice for the Column Approximation",
                  e.where + " (record " + std::to_string(e.record) + ") is a " + kind_word(e.kind) +
                      ", which takes the column approximation \"yes\" or \"no\" (record 8 of "
                      "the input parameter file)",
                  "Read: half"});
}

Vec3 entry_reference(const PopulationEntry& e) {
    return std::visit(
        [](const auto& c) -> Vec3 {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, edge::EdgeConfig>)
                return c.point;
            else if constexpr (std::is_same_v<T, screw::ScrewConfig>)
                return c.position;
            else if constexpr (std::is_same_v<T, LoopIniFile>)
                return c.position;
            else if constexpr (std::is_same_v<T, PgLoopFile>)
                return c.position;
            else if constexpr (std::is_same_v<T, TetrahedronFile>)
                return c.centroid;
            else if constexpr (std::is_same_v<T, VoidConfig>)
                return c.position;
            else if constexpr (std::is_same_v<T, InclusionConfig>)
                return c.centre;
            else if constexpr (std::is_same_v<T, DissociatedConfig>)
                return c.point;
            else
                return Vec3{};
        },
        e.config);
}

} // namespace korvex
