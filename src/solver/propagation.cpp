#include "solver/propagation.hpp"

#include "solver/column_loop.hpp"
#include "solver/eigen.hpp"
#include "solver/exact_absorption.hpp"
#include "solver/kernels.hpp"
#include "solver/table.hpp"
#include "solver/table_build.hpp"
#include "solver/table_columns.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace korvex {

namespace {

using solver::SliceData;
using solver::detail::apply_shared;
using solver::detail::Grid;
using solver::detail::KernelHolder;
using solver::detail::load_solution;
using solver::detail::SliceHolder;
using solver::detail::SliceTable;
using solver::detail::solve_every_column;
using solver::detail::store_solution;
using solver::detail::table_column;
using solver::detail::TableScratch;

} // namespace

// The tables of the table engine for the current beam condition, one per slice thickness.
struct ColumnEngine::Tables {
    bool ready = false;
    bool exact = false; // the nodes hold exact-absorption transfers
    solver::StrainForm form;
    std::string why_not; // why a slice found no table, "" while every slice found one
    std::vector<solver::TransferTable> by_dz;
};

namespace {

// Error allowed in the amplitudes over the whole foil, shared out evenly between the slices.
constexpr double kTableFoilError = 1e-5;
// Scalars beyond this (1/Angstrom) are solved exactly: they occur only next to a core.
constexpr double kTableMaxScalar = 1.0;
// Largest table of one slice thickness; beyond it the range shrinks (more exact solves).
constexpr std::size_t kTableMaxBytes = std::size_t(64) << 20;

template <int N>
const solver::TransferTable* table_for(const State& st, const SliceData<N>& sd,
                                       ColumnEngine::Tables& tabs, bool exact) {
    const int n = sd.n;
    if (!tabs.ready || tabs.exact != exact) {
        tabs.by_dz.clear();
        tabs.exact = exact;
        std::vector<double> m(static_cast<std::size_t>(n)), t(m.size()), s(m.size());
        for (int r = 0; r < n; ++r) {
            m[static_cast<std::size_t>(r)] = st.mtx_beams(r + 1);
            t[static_cast<std::size_t>(r)] = std::tan(st.shift_angle(r + 1));
            s[static_cast<std::size_t>(r)] = st.s_g(r + 1);
        }
        tabs.form = solver::StrainForm::make(n, m.data(), t.data(), s.data());
        tabs.ready = true;
    }
    if (tabs.form.dims == 0) {
        tabs.why_not = "no beam's strain term to tabulate";
        return nullptr;
    }
    for (const auto& t : tabs.by_dz)
        if (t.dz == sd.dz) return t.serves_small_strains() ? &t : nullptr;
    solver::TransferTable& t = tabs.by_dz.emplace_back();
    const double slice_error = kTableFoilError / std::max(1, st.effslicenumber);
    // Graded slices thicker than the even step hold only the strains their planner saw there
    // (farther ones, in rows it did not sample, are solved exactly).
    double reach = kTableMaxScalar;
    for (const auto& [dz, scalar] : st.slice_reach)
        if (dz == sd.dz) reach = std::min(reach, scalar);
    if (reach < kTableMaxScalar) { // two cells beyond them: a table serves one cell less
        solver::TransferTable spacing;
        spacing.plan(tabs.form, sd.dz, slice_error, kTableMaxScalar, kTableMaxBytes, 1, 1);
        reach = std::min(kTableMaxScalar, reach + 2.0 * spacing.h3);
    }
    const auto nodes = [&](solver::TransferTable& table) {
        if (exact)
            solver::detail::build_table<N, solver::detail::OneLane<solver::ExactNode<N>>>(
                sd, tabs.form, table);
        else
            solver::detail::build_table(sd, tabs.form, table);
    };
    const auto finer = [&](solver::TransferTable& table) {
        if (exact)
            solver::detail::build_sub_tables<N, solver::detail::OneLane<solver::ExactNode<N>>>(
                sd, tabs.form, table, kTableMaxBytes);
        else
            solver::detail::build_sub_tables(sd, tabs.form, table, kTableMaxBytes);
    };
    // A look at the cells around zero strain first, at every spacing the whole table may take:
    // where none serves them, no table is built (see serves_small_strains).
    bool worth = false;
    for (int refine = 1; refine <= 16 && !worth; refine *= 2) {
        solver::TransferTable probe;
        probe.plan(tabs.form, sd.dz, slice_error, reach, kTableMaxBytes, refine, 3);
        nodes(probe);
        finer(probe);
        worth = probe.serves_small_strains();
    }
    const std::string unserved = std::string("column approximation ") + column_approx_name(st.ca) +
                                 ": no table serves the strains near zero";
    if (!worth) {
        t.dz = sd.dz; // remembered as "no table" for this slice thickness
        tabs.why_not = unserved;
        return nullptr;
    }
    // Where an avoided crossing makes cells rough, a finer step in G3 (up to 16 times) usually
    // smooths them out with one scalar; with two the rough cells run across the rows of G1, and
    // their finer tables serve them instead. Cells still rough are solved exactly.
    const int max_refine = tabs.form.dims == 2 ? 1 : 16;
    for (int refine = 1;; refine *= 2) {
        const bool whole = t.plan(tabs.form, sd.dz, slice_error, reach, kTableMaxBytes, refine);
        nodes(t);
        if (!whole || refine == max_refine || std::count(t.rough.begin(), t.rough.end(), 1) == 0)
            break;
    }
    finer(t);
    t.make_cubics();
    if (t.serves_small_strains()) return &t;
    tabs.why_not = unserved;
    return nullptr;
}

// Exact absorption in a strained crystal with the table engine (exact-absorption nodes): the
// columns the table does not cover are solved on their own, as the exact engine solves them.
// False when the beams' terms have no tabulated form (the caller solves every column).
template <int N>
bool run_slice_exact_absorption(State& st, double dz, bool is_void, ColumnEngine::Tables& tables,
                                SliceChecks& checks) {
    SliceHolder<N> holder(st.n_beams);
    SliceData<N>& sd = holder.sd;
    prepare_slice_data<N>(st, dz, sd);
    const solver::TransferTable* t = table_for(st, sd, tables, true);
    if (!t) return false;
    const Grid grid = Grid::of(st, is_void);
    const SliceTable tab{tables.form, *t};
    std::int64_t solved = 0;
    const auto carry = [&]<int Max>() {
        const solver::ExactColumns<Max> cols(st, dz, is_void);
#pragma omp parallel reduction(+ : solved)
        {
            TableScratch<N> ts(sd.n);
            typename solver::ExactColumns<Max>::Work w(sd.n);
#pragma omp for schedule(dynamic, 64)
            for (std::ptrdiff_t c = 0; c < grid.ncol; ++c) {
                if (grid.passes(c)) continue;
                double g3 = 0.0, g1 = 0.0;
                if (!tab.form.recover(grid.sgr + c, grid.ncol, g3, g1) ||
                    !table_column(sd, grid, tab, ts, c, g3, g1)) {
                    cols.carry(c, w);
                    ++solved;
                }
            }
        }
    };
    checks.carried = grid.ncol;
    if constexpr (N == 0) {
        if (sd.n > solver::kExpMaxBeams) {
            carry.template operator()<Eigen::Dynamic>();
            checks.solved = solved;
            return true;
        }
    }
    carry.template operator()<solver::kExpMaxBeams>();
    checks.solved = solved;
    return true;
}

// What the slice could vouch for (see solve_every_column).
template <int N>
SliceChecks run_slice(State& st, double dz, int& flag, bool shared, bool is_void,
                      ColumnEngine::Tables* tables, std::span<const RowFill> fills, RowBlock rows) {
    const int n = st.n_beams;
    SliceHolder<N> holder(n);
    SliceData<N>& sd = holder.sd;
    prepare_slice_data<N>(st, dz, sd);

    const Grid grid = Grid::of(st, is_void);
    if (grid.ncol == 0) return {true, true};

    // The perfect crystal and the void: the solution of the first column of the first slice
    // serves every column from then on.
    if (flag != 0 && shared) {
        KernelHolder<N, 1> first(sd);
        for (int r = 0; r < n; ++r) first.k.sgr()[r] = grid.sgr[grid.ncol * r];
        first.k.solve();
        store_solution(st, sd, first.k, 0);
        flag = 0;
    }
    if (flag != 0) {
        const solver::TransferTable* t = tables ? table_for(st, sd, *tables, false) : nullptr;
        const std::ptrdiff_t npx = std::max(1, st.n_pixel_x);
        // Rows filled where they are carried are shifted there too.
        std::vector<std::array<double, 2>> shift;
        if (!fills.empty() && tilted_beams(st.ca))
            for (int r = 1; r <= n; ++r)
                shift.push_back(
                    {st.shift_angle(r), lateral_step(st.n_xyz, st.size, st.shift_angle(r))});
        if (t) {
            const SliceTable view{tables->form, *t};
            return solve_every_column(st, sd, grid, npx, &view, fills, shift, rows);
        }
        return solve_every_column<N>(st, sd, grid, npx, nullptr, fills, shift, rows);
    }
    load_solution(st, sd);
    apply_shared(sd, grid);
    SliceChecks shared_checks;
    shared_checks.carried = grid.ncol;
    return shared_checks;
}

// What the slices could vouch for: the strain terms they read, the amplitudes they changed.
// With `fills`, the terms of each row are filled where the row is carried, or all first where
// the columns are not carried row by row (one slice only, then).
SliceChecks propagate(State& st, int islice, int& flag, ColumnEngine::Tables* tables,
                      std::span<const RowFill> fills, RowBlock rows) {
    const bool is_void = holds_voids(st);
    const DefectKind kind = terms_kind(st);
    const bool shared = kind == DefectKind::vacancy || kind == DefectKind::perfect;
    const double dz = st.slicethickness(islice);
    if (!fills.empty() && (st.absorption == Absorption::exact || shared || flag == 0)) {
        assert(fills.size() == 1);
        const RowFill& fill = fills.front();
#pragma omp parallel for schedule(static)
        for (int j = rows.first; j <= rows.last; ++j) fill(j);
        fills = {};
    }
    SliceChecks checks;
    // Exact absorption: the table engine's tables then hold exact transfers; a perfect crystal,
    // a void, or beams whose terms the table cannot take solve the complex matrix per column.
    if (st.absorption == Absorption::exact) {
        const bool tabulated =
            tables && !shared && st.phi_grid.plane() > 0 &&
            solver::with_beam_count(st.n_beams, [&]<int N>() {
                return run_slice_exact_absorption<N>(st, dz, is_void, *tables, checks);
            });
        if (!tabulated) {
            solver::propagate_slice_exact_absorption(st, dz, flag, shared, is_void);
            checks.carried = static_cast<std::int64_t>(st.phi_grid.plane());
            checks.solved = shared ? 0 : checks.carried;
        }
    } else {
        checks = solver::with_beam_count(st.n_beams, [&]<int N>() {
            return run_slice<N>(st, dz, flag, shared, is_void, tables, fills, rows);
        });
    }
    if (tilted_beams(st.ca)) {
        if (fills.empty()) linear_itp(st.n_xyz, st.n_beams, st.size, st.shift_angle, st.phi_grid);
        checks.amplitudes = false;
    }
    return checks;
}

// A share in percent with two significant digits, or whole ("0.37", "4.2", "12", "100").
std::string percent(std::int64_t part, std::int64_t whole) {
    const double p =
        whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, p >= 9.95 ? "%.0f" : "%.2g", p);
    return buf;
}

} // namespace

ColumnEngine::ColumnEngine(Engine kind)
    : kind_(kind), tables_(kind == Engine::table ? std::make_unique<Tables>() : nullptr) {}
ColumnEngine::~ColumnEngine() = default;

void ColumnEngine::propagate_slice(State& st, int islice, int& flag, const RowFill* fill) {
    checks_ = propagate(st, islice, flag, tables_.get(),
                        fill ? std::span<const RowFill>(fill, 1) : std::span<const RowFill>(),
                        RowBlock{1, st.n_xyz[1]});
    tally();
    first_bad_ = {checks_.bad_strain > 0 ? islice : 0, checks_.bad_amplitude > 0 ? islice : 0};
}

void ColumnEngine::propagate_slices(State& st, int first, int& flag, std::span<const RowFill> fills,
                                    std::optional<RowBlock> rows) {
    assert(carries_blocks(st) && !fills.empty());
    const RowBlock carried = rows.value_or(RowBlock{1, st.n_xyz[1]});
    assert(carried.first >= 1 && carried.last <= st.n_xyz[1] && carried.count() > 0);
    checks_ = propagate(st, first, flag, tables_.get(), fills, carried);
    tally();
    first_bad_ = {checks_.bad_strain > 0 ? first + checks_.bad_strain - 1 : 0,
                  checks_.bad_amplitude > 0 ? first + checks_.bad_amplitude - 1 : 0};
}

void ColumnEngine::tally() {
    carried_ += checks_.carried;
    solved_ += checks_.solved;
}

std::string ColumnEngine::prepare(State& st) {
    shared_ = terms_kind(st) == DefectKind::perfect || terms_kind(st) == DefectKind::vacancy;
    if (!tables_ || shared_ || st.phi_grid.plane() == 0 || st.effslicenumber < 1) return "";
    solver::with_beam_count(st.n_beams, [&]<int N>() {
        SliceHolder<N> holder(st.n_beams);
        prepare_slice_data<N>(st, st.slicethickness(1), holder.sd);
        table_for(st, holder.sd, *tables_, st.absorption == Absorption::exact);
    });
    return tables_->why_not;
}

std::string ColumnEngine::report() const {
    if (kind_ != Engine::table) return engine_name(kind_);
    if (shared_) return "table, one solution serves every column";
    const std::string& why = tables_->why_not;
    if (!why.empty() && solved_ == carried_) return "exact (table asked for; " + why + ")";
    std::string r = "table, " + percent(solved_, carried_) + " % of column-slices solved exactly";
    if (!why.empty())
        r += " (" + why + ")";
    else if (solved_ * 10 > carried_)
        r += " (strains beyond the table or in cells none serves)";
    return r;
}

bool ColumnEngine::carries_blocks(const State& st) {
    return checks_strain(st);
}

bool ColumnEngine::checks_strain(const State& st) {
    return st.absorption != Absorption::exact && terms_kind(st) != DefectKind::perfect &&
           terms_kind(st) != DefectKind::vacancy;
}

void propagate_slice(State& st, int islice, int& flag) {
    propagate(st, islice, flag, nullptr, {}, RowBlock{1, st.n_xyz[1]});
}

} // namespace korvex
