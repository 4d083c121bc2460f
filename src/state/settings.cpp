#include "state/settings.hpp"

#include <array>
#include <utility>

namespace korvex {

namespace {

// Trailing blanks do not count: a value may come blank-padded to its field width.
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

} // namespace

ColumnApprox column_approx_from_text(std::string_view text) {
    const std::string_view t = trimmed(text);
    if (t == "yes") return ColumnApprox::yes;
    if (t == "no") return ColumnApprox::no;
    if (t == "half") return ColumnApprox::half;
    return ColumnApprox::unknown;
}

DefectKind defect_kind_from_name(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, DefectKind>, 8> kNames{{
        {"no", DefectKind::perfect},
        {"edge", DefectKind::edge},
        {"screw", DefectKind::screw},
        {"loop", DefectKind::loop},
        {"void", DefectKind::vacancy},
        {"pg_loop", DefectKind::pg_loop},
        {"tetrahedron", DefectKind::tetrahedron},
        {"3D-strain", DefectKind::strain},
    }};
    const std::string_view t = trimmed(name);
    for (const auto& [text, kind] : kNames)
        if (t == text) return kind;
    return DefectKind::unknown;
}

const char* engine_name(Engine e) {
    return e == Engine::table ? "table" : "exact";
}

std::optional<Engine> engine_from_name(std::string_view name) {
    if (name == "exact") return Engine::exact;
    if (name == "table") return Engine::table;
    return std::nullopt;
}

const char* absorption_name(Absorption a) {
    return a == Absorption::exact ? "exact" : "first-order";
}

std::optional<Absorption> absorption_from_name(std::string_view name) {
    if (name == "exact") return Absorption::exact;
    if (name == "first-order") return Absorption::first_order;
    return std::nullopt;
}

} // namespace korvex
