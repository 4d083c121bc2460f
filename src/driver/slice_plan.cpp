#include "driver/slice_plan.hpp"

#include "state/fmt.hpp"
#include "state/stop_signals.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace korvex {

namespace {

// Even steps joined into one slice, largest first: odd, so that a slice's centre is the centre
// of one of its steps, where its terms were sampled.
constexpr std::array<int, 3> kJoined{27, 9, 3};
constexpr int kWindow = kJoined[0];
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;

} // namespace

std::optional<double> auto_slice_tolerance(const std::string& rest) {
    if (rest.empty()) return kAutoSliceTolerance;
    if (rest.size() < 2 || rest[0] != ':' || rest[1] == ' ' || rest[1] == '\t') return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(rest.c_str() + 1, &end);
    if (end != rest.c_str() + rest.size() || !std::isfinite(v) || !(v > 0.0)) return std::nullopt;
    return v;
}

std::string graded_slices_refusal(const State& st) {
    if (st.ca != ColumnApprox::yes)
        return "Automatic slicing (--slice-thickness=auto) needs the column approximation "
               "\"yes\" (record 8 of the input parameter file): without it every slice shifts "
               "the beams sideways by its own thickness";
    if (st.job != Job::amplitude_images && st.job != Job::reports_only)
        return "Automatic slicing (--slice-thickness=auto) serves the images of job 1: the "
               "thickness fringes, layer images and single columns of jobs 2, 3 and 9 are "
               "given slice by slice (use --slice-thickness=A)";
    if (st.illumination.scanning())
        return "Automatic slicing (--slice-thickness=auto) does not serve a scanning probe "
               "(use --slice-thickness=A)";
    if (st.defect_kind == DefectKind::strain) return kGradedStrainFiles;
    return "";
}

std::string plan_graded_slices(State& st, DefectField& field) {
    const int n = st.n_slice, nx = st.n_xyz[0], ny = st.n_xyz[1];
    const double step = st.size[2] / n;
    const DefectKind kind = st.defect_kind;
    const bool smooth = kind == DefectKind::edge || kind == DefectKind::screw ||
                        kind == DefectKind::inclusion || kind == DefectKind::perfect;
    std::vector<int> rows;
    for (int j = 1; j <= ny; j += smooth ? kPlanRowStep : 1) rows.push_back(j);
    if (rows.back() != ny) rows.push_back(ny);
    // The beam of the largest order: its term changes most (m_n times the same scalar).
    int top = 1;
    for (int b = 2; b <= st.n_beams; ++b)
        if (std::abs(st.mtx_beams(b)) > std::abs(st.mtx_beams(top))) top = b;
    const std::size_t cols = static_cast<std::size_t>(nx) * rows.size();
    // The terms of the last kWindow even slices sampled (in single precision, which the
    // estimate, far above the error, does not need more than: half the memory), and whether a
    // sampled column of each crossed a fault, lay in a void or had a term that is not finite.
    std::vector<float> terms(kWindow * cols);
    std::array<bool, kWindow> event{};
    const bool voids = holds_voids(st);
    auto sample = [&](int l) {
        float* t = &terms[static_cast<std::size_t>((l - 1) % kWindow) * cols];
        if (field.fills_rows()) {
            const RowFill fill = field.rows_of_slice(st, st.work(), l);
#pragma omp parallel for schedule(static)
            for (std::size_t k = 0; k < rows.size(); ++k) fill(rows[k]);
        } else {
            field.fill_slice(st, l);
        }
        bool ev = false;
#pragma omp parallel for schedule(static) reduction(|| : ev)
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const int j = rows[k];
            for (int i = 1; i <= nx; ++i) {
                const double v = st.s_g_r(i, j, top);
                t[k * static_cast<std::size_t>(nx) + static_cast<std::size_t>(i - 1)] =
                    static_cast<float>(v);
                ev = ev || !std::isfinite(v) || st.s_f(i, j, 1) != 0.0 || st.s_f(i, j, 2) != 0.0 ||
                     st.s_f(i, j, 3) != 0.0 || (voids && st.flag_vacancy(i, j) == 0);
            }
        }
        event[static_cast<std::size_t>((l - 1) % kWindow)] = ev;
    };
    // The commutator of the structure matrix's coupling with the change of its diagonal per
    // unit of the sampled term: ||[A0, M]|| (largest row sum), M_nn = 2 m_n / m_top.
    double commutator = 0.0;
    for (int r = 1; r <= st.n_beams; ++r) {
        double row = 0.0;
        for (int c = 1; c <= st.n_beams; ++c) {
            const int d = std::abs(st.mtx_beams(r) - st.mtx_beams(c));
            if (d > 0 && d <= st.u.size())
                row += std::abs(st.u(d) / st.k * 2.0 * d / st.mtx_beams(top));
        }
        commutator = std::max(commutator, row);
    }
    // Whether the even steps first .. first + s - 1 may go as one slice: in every sampled
    // column, the phase the centre's term misses over the steps (2 pi dz |sum_i (t_i - t_c)|,
    // a change of the term's slope) and the part of the column's rotation that its terms'
    // change along the slice turns (pi^2 / 12 |t'| (s dz)^3 ||[A0, M]||, the second term of the
    // Magnus expansion for a term changing linearly) stay within the slice's share of T.
    auto joinable = [&](int first, int s) {
        for (int l = first; l < first + s; ++l)
            if (event[static_cast<std::size_t>((l - 1) % kWindow)]) return false;
        const double allowed = st.slice_tolerance * s / n;
        auto plane = [&](int l) -> const float* {
            return &terms[static_cast<std::size_t>((l - 1) % kWindow) * cols];
        };
        std::array<const float*, kWindow> t{};
        for (int l = first; l < first + s; ++l) t[static_cast<std::size_t>(l - first)] = plane(l);
        const float* c = t[static_cast<std::size_t>(s / 2)];
        const float* a = t[0];
        const float* b = t[static_cast<std::size_t>(s - 1)];
        const double thick = s * step;
        const double turn =
            kPi * kPi / 12.0 * thick * thick * thick * commutator / ((s - 1) * step);
        bool fits = true;
#pragma omp parallel for schedule(static) reduction(&& : fits)
        for (std::size_t q = 0; q < cols; ++q) {
            double sum = 0.0;
            for (int i = 0; i < s; ++i)
                sum += static_cast<double>(t[static_cast<std::size_t>(i)][q]) - c[q];
            const double slope = static_cast<double>(b[q]) - a[q];
            fits = fits && kTwoPi * step * std::abs(sum) + turn * std::abs(slope) <= allowed;
        }
        return fits;
    };
    std::vector<int> joined;
    std::array<double, kJoined.size()> reach{};
    int sampled = 0;
    for (int first = 1; first <= n;) {
        check_stop_signal();
        while (sampled < std::min(n, first + kWindow - 1)) sample(++sampled);
        int take = 1;
        for (std::size_t k = 0; k < kJoined.size(); ++k) {
            const int s = kJoined[k];
            if (first + s - 1 > n || !joinable(first, s)) continue;
            take = s;
            const float* c = &terms[static_cast<std::size_t>((first + s / 2 - 1) % kWindow) * cols];
            for (std::size_t q = 0; q < cols; ++q)
                reach[k] = std::max(reach[k], std::abs(static_cast<double>(c[q])));
            break;
        }
        joined.push_back(take);
        first += take;
    }
    st.slice_reach.clear();
    for (std::size_t k = 0; k < kJoined.size(); ++k)
        st.slice_reach.push_back(
            {kJoined[k] * step, 2.0 * reach[k] / std::abs(st.mtx_beams(top)) + 1e-9});
    // Each slice's centre is that of its middle step, as the even slicing places it.
    st.graded = false;
    st.effslicenumber = static_cast<int>(joined.size());
    st.sliceposition.resize(st.effslicenumber);
    st.slicethickness.resize(st.effslicenumber);
    int first = 1, thickest = 1;
    for (int l = 1; l <= st.effslicenumber; ++l) {
        const int s = joined[static_cast<std::size_t>(l - 1)];
        st.sliceposition(l) = st.slice_centre(first + s / 2);
        st.slicethickness(l) = s * step;
        thickest = std::max(thickest, s);
        first += s;
    }
    st.graded = true;
    char line[200];
    std::snprintf(line, sizeof line,
                  " Slices: automatic (tolerance %s rad), %d slices of 1 to %d steps of %s A "
                  "instead of %d\n",
                  list_real(st.slice_tolerance).c_str(), st.effslicenumber, thickest,
                  list_real(step).c_str(), n);
    return line;
}

int middle_slice(const State& st) {
    const int even = std::max(1, st.n_slice / 2);
    if (!st.graded) return even;
    const double depth = (even - 0.5) * st.size[2] / st.n_xyz[2];
    for (int l = 1; l <= st.effslicenumber; ++l)
        if (depth < st.sliceposition(l) + 0.5 * st.slicethickness(l)) return l;
    return st.effslicenumber;
}

} // namespace korvex
