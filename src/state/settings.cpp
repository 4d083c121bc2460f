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
    static constexpr std::array<std::pair<std::string_view, DefectKind>, 11> kNames{{
        {"no", DefectKind::perfect},
        {"edge", DefectKind::edge},
        {"screw", DefectKind::screw},
        {"loop", DefectKind::loop},
        {"void", DefectKind::vacancy},
        {"pg_loop", DefectKind::pg_loop},
        {"tetrahedron", DefectKind::tetrahedron},
        {"3D-strain", DefectKind::strain},
        {"inclusion", DefectKind::inclusion},
        {"dissociated", DefectKind::dissociated},
        {"population", DefectKind::population},
    }};
    const std::string_view t = trimmed(name);
    for (const auto& [text, kind] : kNames)
        if (t == text) return kind;
    return DefectKind::unknown;
}

namespace {

// The names of a command-line choice, in the order of its values.
constexpr std::array<const char*, 2> kEngineNames{"exact", "table"};
constexpr std::array<const char*, 2> kAbsorptionNames{"first-order", "exact"};

template <class E, std::size_t K>
std::optional<E> value_named(std::string_view name, const std::array<const char*, K>& names) {
    for (std::size_t v = 0; v < K; ++v)
        if (name == names[v]) return static_cast<E>(v);
    return std::nullopt;
}

} // namespace

const char* engine_name(Engine e) {
    return kEngineNames[static_cast<std::size_t>(e)];
}

std::optional<Engine> engine_from_name(std::string_view name) {
    return value_named<Engine>(name, kEngineNames);
}

const char* column_approx_name(ColumnApprox ca) {
    switch (ca) {
    case ColumnApprox::yes:
        return "yes";
    case ColumnApprox::no:
        return "no";
    case ColumnApprox::half:
        return "half";
    default:
        return "unknown";
    }
}

const char* absorption_name(Absorption a) {
    return kAbsorptionNames[static_cast<std::size_t>(a)];
}

std::optional<Absorption> absorption_from_name(std::string_view name) {
    return value_named<Absorption>(name, kAbsorptionNames);
}

} // namespace korvex
