#include "driver/defect_fields.hpp"

#include "driver/defect_files.hpp"

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
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

} // namespace

std::unique_ptr<DefectField> make_defect_field(State& st) {
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
    default:
        return make_perfect_field();
    }
}

} // namespace korvex
