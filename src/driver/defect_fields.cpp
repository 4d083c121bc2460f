#include "driver/defect_fields.hpp"

#include "defects/population.hpp"
#include "driver/defect_files.hpp"
#include "driver/population_file.hpp"

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace korvex {

namespace {

// A configuration source whose first read prints the reader's warnings (the file is read again
// at every slice; its warnings are said once).
template <class Read> auto noted_once(const State* st, Read read) {
    return [st, read, said = std::make_shared<bool>(false)] {
        if (*said) return read(nullptr);
        Notes notes;
        auto config = read(&notes);
        *said = true;
        for (const auto& n : notes) st->console() << n << '\n';
        return config;
    };
}

// The circular loop's configuration at each slice, the tables its method needs, and its notes.
class LoopSource {
  public:
    explicit LoopSource(const State& st) : st_(&st) {}

    LoopInput operator()() {
        if (!tables_checked_) provide_tables();
        LoopInput in;
        Notes notes;
        in.config = read_loop_ini("loop.ini", noted_ ? nullptr : &notes);
        noted_ = true;
        for (const auto& n : notes) st_->console() << n << '\n';
        const LoopFieldMethod method = loop_field_method(in.config);
        if (method == LoopFieldMethod::tables) {
            read_loop_tables(*tables_);
            in.tables = tables_.get();
        } else if (method == LoopFieldMethod::unselected) {
            st_->console() << " Distortion field calculation method has been NOT selected\n";
        }
        if (method != LoopFieldMethod::infinitesimal && !shear_noted_) {
            const LoopBurgers b = loop_burgers(in.config);
            if (std::abs(b.along_normal) < (1.0 - 1e-9) * b.length) {
                st_->console()
                    << " * WARNING: the circular loop takes only the Burgers vector's component "
                       "along its normal, "
                    << b.along_normal << " of " << b.length << "\n";
                shear_noted_ = true;
            }
        }
        return in;
    }

  private:
    // At the first slice of a "tabulation" run that needs the tables, those missing from the
    // working directory are computed and written there, for this run and the later ones.
    void provide_tables() {
        const LoopIniFile f = read_loop_ini("loop.ini");
        tables_checked_ = true;
        if (loop_field_method(f) != LoopFieldMethod::tables) return;
        const std::vector<std::string> written = write_loop_tables();
        if (written.empty()) return;
        std::string names;
        for (const auto& w : written) names += " " + w;
        st_->console() << " Loop integral tables not found: computed and written" << names << "\n";
    }

    const State* st_; // its console at each slice, as the run has set it
    // Shared, so that the source stays copyable as a std::function while the field holds the
    // tables between slices.
    std::shared_ptr<LoopTables> tables_ = std::make_shared<LoopTables>();
    bool tables_checked_ = false;
    bool shear_noted_ = false;
    bool noted_ = false; // the reader's warnings said
};

// The loop-integral tables of the circular loops of a population that need them: those missing
// are written first, as for a loop alone.
std::shared_ptr<LoopTables> population_loop_tables(const State& st, const PopulationFile& f) {
    for (const PopulationEntry& e : f.entries) {
        const auto* l = std::get_if<LoopIniFile>(&e.config);
        if (!l || loop_field_method(*l) != LoopFieldMethod::tables) continue;
        const std::vector<std::string> written = write_loop_tables();
        if (!written.empty()) {
            std::string names;
            for (const auto& w : written) names += " " + w;
            st.console() << " Loop integral tables not found: computed and written" << names
                         << "\n";
        }
        auto tables = std::make_shared<LoopTables>();
        read_loop_tables(*tables);
        return tables;
    }
    return nullptr;
}

// The field of one entry as the field of that kind alone, fed its configuration as read.
std::unique_ptr<DefectField> entry_field(const PopulationEntry& e,
                                         const std::shared_ptr<LoopTables>& tables) {
    return std::visit(
        [&](const auto& c) -> std::unique_ptr<DefectField> {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, edge::EdgeConfig>)
                return make_edge_field([c] { return c; });
            else if constexpr (std::is_same_v<T, screw::ScrewConfig>)
                return make_screw_field([c] { return c; });
            else if constexpr (std::is_same_v<T, LoopIniFile>)
                return make_loop_field([c, tables] {
                    return LoopInput{c, loop_field_method(c) == LoopFieldMethod::tables
                                            ? tables.get()
                                            : nullptr};
                });
            else if constexpr (std::is_same_v<T, PgLoopFile>)
                return make_pgloop_field([c] { return c; }, e.file);
            else if constexpr (std::is_same_v<T, TetrahedronFile>)
                return make_tetrahedron_field([c] { return c; });
            else if constexpr (std::is_same_v<T, VoidConfig>)
                return make_void_field([c] { return c; });
            else if constexpr (std::is_same_v<T, InclusionConfig>)
                return make_inclusion_field([c] { return c; });
            else if constexpr (std::is_same_v<T, DissociatedConfig>)
                return make_dissociated_field([c] { return c; });
            else
                return make_strain_field(c.base);
        },
        e.config);
}

// A population: one entry is that defect's own field; more are summed by the population's.
std::unique_ptr<DefectField> population_field(State& st) {
    const PopulationFile f = read_population_file(st.f_defect);
    check_population_columns(f, st.ca);
    const std::shared_ptr<LoopTables> tables = population_loop_tables(st, f);
    if (f.entries.size() == 1) {
        st.field_kind = f.entries.front().kind;
        return entry_field(f.entries.front(), tables);
    }
    Population pop;
    pop.file = f.path;
    pop.tolerance = f.tolerance;
    pop.reference = entry_reference(f.entries.front());
    bool voids = false, strained = false;
    for (const PopulationEntry& e : f.entries) {
        (e.kind == DefectKind::vacancy ? voids : strained) = true;
        const auto bounded = [&](auto config, int marker = 1) {
            pop.bounded.push_back(BoundedDefect{e.number, marker, std::move(config)});
        };
        if (const auto* l = std::get_if<PgLoopFile>(&e.config))
            bounded(*l, e.file.empty() ? 1 : loop_marker(e.file));
        else if (const auto* t = std::get_if<TetrahedronFile>(&e.config))
            bounded(*t);
        else if (const auto* v = std::get_if<VoidConfig>(&e.config))
            bounded(*v);
        else if (const auto* i = std::get_if<InclusionConfig>(&e.config))
            bounded(*i);
        else
            pop.whole.push_back(WholeDefect{e.number, e.kind, entry_field(e, tables)});
    }
    st.field_kind = strained ? DefectKind::population : DefectKind::vacancy;
    st.field_voids = voids && strained;
    return make_population_field(std::move(pop));
}

} // namespace

std::unique_ptr<DefectField> make_defect_field(State& st) {
    st.field_kind = DefectKind::unknown;
    st.field_voids = false;
    // The file is named by the state at each slice (the field lives within the run of `st`).
    const State* s = &st;
    switch (st.defect_kind) {
    case DefectKind::edge:
        return make_edge_field(
            noted_once(s, [s](Notes* n) { return edge::read_edge_config(s->f_defect, n); }));
    case DefectKind::screw:
        return make_screw_field(
            noted_once(s, [s](Notes* n) { return screw::read_screw_config(s->f_defect, n); }));
    case DefectKind::loop:
        return make_loop_field(LoopSource(st));
    case DefectKind::vacancy:
        return make_void_field(
            noted_once(s, [s](Notes* n) { return read_void_config(s->f_defect, n); }));
    case DefectKind::pg_loop:
        return make_pgloop_field(
            noted_once(s, [s](Notes* n) { return read_pgloop_file(s->f_defect, n); }), st.f_defect);
    case DefectKind::tetrahedron:
        return make_tetrahedron_field(
            noted_once(s, [s](Notes* n) { return read_tetrahedron_file(s->f_defect, n); }));
    case DefectKind::strain:
        return make_strain_field();
    case DefectKind::dissociated:
        return make_dissociated_field([s] { return read_dissociated_config(s->f_defect); });
    case DefectKind::inclusion:
        return make_inclusion_field([s] { return read_inclusion_config(s->f_defect); });
    case DefectKind::population:
        return population_field(st);
    default:
        return make_perfect_field();
    }
}

} // namespace korvex
