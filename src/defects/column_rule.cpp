#include "defects/column_rule.hpp"

#include "state/error.hpp"

namespace korvex {

namespace {

enum class Term { depth, lateral, refused };

struct Rule {
    Term yes, no, half;
};

Rule rule(DefectKind kind) {
    switch (kind) {
    case DefectKind::edge:
    case DefectKind::screw:
    case DefectKind::inclusion:
    case DefectKind::dissociated:
        return {Term::depth, Term::lateral, Term::lateral};
    case DefectKind::loop:
        return {Term::depth, Term::lateral, Term::depth};
    case DefectKind::pg_loop:
    case DefectKind::tetrahedron:
    case DefectKind::strain:
        return {Term::depth, Term::lateral, Term::refused};
    default:
        return {Term::depth, Term::depth, Term::depth};
    }
}

} // namespace

bool column_approx_taken(DefectKind kind, ColumnApprox ca) {
    const Rule r = rule(kind);
    return ca == ColumnApprox::yes || ca == ColumnApprox::no ||
           (ca == ColumnApprox::half && r.half != Term::refused);
}

bool lateral_derivative(DefectKind kind, ColumnApprox ca) {
    const Rule r = rule(kind);
    const Term t = ca == ColumnApprox::yes    ? r.yes
                   : ca == ColumnApprox::no   ? r.no
                   : ca == ColumnApprox::half ? r.half
                                              : Term::refused;
    if (t == Term::refused) {
        const char* read = ca == ColumnApprox::half ? "half" : "(none of yes, no, half)";
        const char* takes =
            r.half == Term::refused ? "\"yes\" or \"no\"" : "\"yes\", \"no\" or \"half\"";
        halt({"Please make right choice for the Column Approximation",
              std::string("This defect model takes the column approximation ") + takes +
                  " (record 8 of the input parameter file)",
              std::string("Read: ") + read});
    }
    return t == Term::lateral;
}

} // namespace korvex
