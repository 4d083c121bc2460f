// Per-thread storage of the solver kernels and the building of the table engine's tables.
// Internal to the slice loop (solver/propagation.cpp).
#pragma once

#include "solver/kernels.hpp"
#include "solver/table.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace korvex::solver::detail {

// Storage of the run-time (N = 0) kernels: grown once per thread and kept, so that neither a
// slice nor a column allocates. Fixed-size kernels carry their own storage.
double* runtime_storage(std::vector<double>& buf, std::size_t need) {
    if (buf.size() < need) buf.resize(need);
    return buf.data();
}

template <int N> struct SliceHolder {
    solver::SliceData<N> sd;
    explicit SliceHolder(int) {}
};
template <> struct SliceHolder<0> {
    SliceData<0> sd;
    explicit SliceHolder(int n) {
        thread_local std::vector<double> buf;
        sd.bind(runtime_storage(buf, SliceData<0>::doubles_needed(n)), n);
    }
};

template <int N, int L> struct KernelHolder {
    solver::BatchKernel<N, L> k;
    explicit KernelHolder(const solver::SliceData<N>& sd) : k(sd) {}
};
template <int L> struct KernelHolder<0, L> {
    solver::BatchKernel<0, L> k;
    explicit KernelHolder(const SliceData<0>& sd) : k(sd, storage(sd.n)) {}
    static double* storage(int n) {
        thread_local std::vector<double> buf;
        return runtime_storage(buf, solver::BatchKernel<0, L>::doubles_needed(n));
    }
};

// The transfer matrix S = V D V^-1 of lane l of kernel k into s, laid out as a table node
// (column c: its n complex numbers, real and imaginary parts in turn).
template <int N, int L>
void transfer_matrix(const solver::BatchKernel<N, L>& k, int n, int l, double* s) {
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < n; ++r) {
            double sr = 0.0, si = 0.0;
            for (int j = 0; j < n; ++j) {
                const double vw = k.eigenvector(r, j, l) * k.inverse_t(c, j, l);
                sr += vw * k.prop_re(j, l);
                si += vw * k.prop_im(j, l);
            }
            s[2 * n * c + 2 * r] = sr;
            s[2 * n * c + 2 * r + 1] = si;
        }
}

// The node solver of the first-order tables: as many nodes at once as the exact engine carries
// columns (each lane gives the bits one lane alone gives). Strain term r of lane l by set(),
// then S of the first `used` lanes into s[l] by transfer().
template <int N> struct FirstOrderNode {
    static constexpr int lanes = solver::kLanes;
    KernelHolder<N, lanes> holder;
    explicit FirstOrderNode(const solver::SliceData<N>& sd) : holder(sd) {}
    void set(int l, int r, double v) { holder.k.sgr()[r * lanes + l] = v; }
    void transfer(int used, double* const* s) {
        holder.k.solve();
        for (int l = 0; l < used; ++l) transfer_matrix<N, lanes>(holder.k, holder.k.n(), l, s[l]);
    }
};

// A node solver of one lane (exact absorption) seen through the same interface.
template <class Single> struct OneLane {
    static constexpr int lanes = 1;
    Single node;
    template <class SD> explicit OneLane(const SD& sd) : node(sd) {}
    void set(int, int r, double v) { node.sgr()[r] = v; }
    void transfer(int, double* const* s) { node.transfer(s[0]); }
};

// Nodes queued until the solver's lanes are full: S at the strain scalars (g3, g1) goes to
// `s`, then done(tag, s) runs for each. A short last batch repeats its last node in the spare
// lanes.
template <class Node, class Done> class NodeQueue {
  public:
    NodeQueue(Node& k, const solver::StrainForm& f, Done done)
        : k_(k), f_(f), done_(done), last_(f.m.size()) {}
    void add(double g3, double g1, double* s, std::ptrdiff_t tag) {
        for (std::size_t r = 0; r < last_.size(); ++r) {
            last_[r] = f_.m[r] * (g3 + f_.t[r] * g1);
            k_.set(used_, static_cast<int>(r), last_[r]);
        }
        dest_[used_] = s;
        tag_[used_] = tag;
        if (++used_ == Node::lanes) flush();
    }
    void flush() {
        if (used_ == 0) return;
        for (int l = used_; l < Node::lanes; ++l)
            for (std::size_t r = 0; r < last_.size(); ++r) k_.set(l, static_cast<int>(r), last_[r]);
        k_.transfer(used_, dest_);
        for (int l = 0; l < used_; ++l) done_(tag_[l], dest_[l]);
        used_ = 0;
    }

  private:
    Node& k_;
    const solver::StrainForm& f_;
    Done done_;
    std::vector<double> last_;
    int used_ = 0;
    double* dest_[Node::lanes] = {};
    std::ptrdiff_t tag_[Node::lanes] = {};
};

// S at every node of `t` by the exact kernel (`Node`, one per thread); then every cell whose
// stencil lies in the grid is checked against exact solutions inside it (at 1/4, 1/2, 3/4 of its
// diagonal) and marked rough where the interpolant misses by more than the slice's error budget.
template <int N, class Node = FirstOrderNode<N>>
void build_table(const solver::SliceData<N>& sd, const solver::StrainForm& f,
                 solver::TransferTable& t) {
    const int n3 = 2 * t.K3 + 1, n1 = 2 * t.K1 + 1;
    const std::size_t ns = t.node_size();
    std::vector<double> worst(static_cast<std::size_t>(n3 * n1), 0.0);
#pragma omp parallel
    {
        Node k(sd);
        auto none = [](std::ptrdiff_t, const double*) {};
        NodeQueue<Node, decltype(none)> nodes(k, f, none);
#pragma omp for schedule(static)
        for (int e = 0; e < n3 * n1; ++e) {
            const int k3 = e % n3 - t.K3, k1 = e / n3 - t.K1;
            nodes.add(k3 * t.h3, k1 * t.h1, t.node(k3, k1), e);
        }
        nodes.flush();
        // A cell's check reads nodes of its neighbours, whose last batch another thread may
        // still be solving: every node first.
#pragma omp barrier
        // Each lane's exact solution against the interpolant at the same point (the tag is the
        // cell times 4 plus the quarter).
        std::vector<double> exact(ns * Node::lanes), interp(ns);
        auto check = [&](std::ptrdiff_t tag, const double* s) {
            const std::ptrdiff_t e = tag / 4;
            const int k3 = static_cast<int>(e % n3) - t.K3, k1 = static_cast<int>(e / n3) - t.K1;
            const double f3 = 0.25 * static_cast<double>(tag % 4), f1 = t.K1 > 0 ? f3 : 0.0;
            t.template interpolate_in<N>(k3, f3, k1, f1, interp.data());
            double& w = worst[static_cast<std::size_t>(e)];
            for (std::size_t q = 0; q < ns; ++q) w = std::max(w, std::abs(s[q] - interp[q]));
        };
        NodeQueue<Node, decltype(check)> checks(k, f, check);
        int slot = 0;
#pragma omp for schedule(static)
        for (int e = 0; e < n3 * n1; ++e) {
            const int k3 = e % n3 - t.K3, k1 = e / n3 - t.K1;
            if (k3 < 1 - t.K3 || k3 > t.K3 - 3) continue;
            if (t.K1 > 0 && (k1 < 1 - t.K1 || k1 > t.K1 - 3)) continue;
            for (int a = 1; a <= 3; ++a) {
                const double f3 = 0.25 * a, f1 = t.K1 > 0 ? f3 : 0.0;
                checks.add((k3 + f3) * t.h3, (k1 + f1) * t.h1, exact.data() + ns * slot,
                           4 * static_cast<std::ptrdiff_t>(e) + a);
                slot = (slot + 1) % Node::lanes;
            }
        }
        checks.flush();
    }
    // The smooth bound is nearly reached everywhere; a rough cell misses it by far.
    for (std::size_t e = 0; e < worst.size(); ++e) t.rough[e] = worst[e] > 4.0 * t.per_slice;
}

// The finer tables of the rough cells of `t` (see TransferTable::sub_of), each checked at a
// quarter, half and three quarters of every interval (with two scalars, of a G1 step in turn,
// along the diagonal of the finer cell); a cell still rough keeps no table (solved exactly).
// With two scalars the cells nearest zero strain come first, as many as `max_bytes` holds; the
// cells still rough then try again in what the budget has left, sheared along the crossing line
// nearest to their centre (a line steeper than one cell in G3 across the cell's G1 step leaves
// them unsheared), then sheared and twice as fine in G3.
template <int N, class Node = FirstOrderNode<N>>
void build_sub_tables(const solver::SliceData<N>& sd, const solver::StrainForm& f,
                      solver::TransferTable& t, std::size_t max_bytes) {
    using Shape = solver::TransferTable::SubShape;
    struct Cell {
        int k3, k1;
        Shape shape;
    };
    const int rows = t.sub_rows();
    const std::size_t ns = t.node_size();
    // A check's tag is (cell * kSpan + interval) * 4 + quarter: more than any table's intervals.
    constexpr std::ptrdiff_t kSpan = 4 * solver::TransferTable::kSub2;
    const auto block = [&](const Shape& s) {
        return static_cast<std::size_t>(rows) * t.sub_row_nodes(s) * ns;
    };
    const auto shaped = [&](int k3, int k1, int steps, bool sheared) {
        Shape s{steps, 0, 0.0};
        if (sheared) {
            const double sigma =
                f.crossing_slope((k3 + 0.5) * t.h3, (k1 + 0.5) * t.h1) * t.h1 / t.h3;
            // A shear that moves the line by less than half a finer step across the cell is none.
            if (std::abs(sigma) <= 1.0 && std::abs(sigma) * steps >= 0.5) s.shear = sigma;
            s.pad = static_cast<int>(std::ceil(std::abs(s.shear) * 0.5 * steps));
        }
        return s;
    };
    // The cells in order while their tables fit in `bytes` (all of them with one scalar).
    const auto fitting = [&](std::vector<Cell> cells, std::size_t bytes) {
        std::size_t used = 0, keep = 0;
        while (keep < cells.size() &&
               (t.K1 == 0 || (used += block(cells[keep].shape) * sizeof(double)) <= bytes))
            ++keep;
        cells.resize(keep);
        return cells;
    };
    // G1 at `steps` of the finer step from the cell's corner.
    const auto g1_of = [&](int k1, double steps) {
        return t.K1 > 0 ? (k1 + steps / solver::TransferTable::kSub1) * t.h1 : 0.0;
    };
    // Builds and checks the tables of `cells` into `store`, from node `first[c]`; the worst miss
    // of each.
    const auto build = [&](const std::vector<Cell>& cells, double* store,
                           const std::vector<std::size_t>& first) {
        std::vector<double> worst(cells.size(), 0.0);
        const int ncell = static_cast<int>(cells.size());
        const auto sub_of = [&](std::ptrdiff_t c) {
            return store + first[static_cast<std::size_t>(c)] * ns;
        };
#pragma omp parallel
        {
            Node k(sd);
            auto none = [](std::ptrdiff_t, const double*) {};
            NodeQueue<Node, decltype(none)> nodes(k, f, none);
#pragma omp for schedule(static)
            for (int c = 0; c < ncell; ++c) {
                const Cell& cell = cells[static_cast<std::size_t>(c)];
                const Shape& s = cell.shape;
                const std::size_t along = t.sub_row_nodes(s);
                for (int r = 0; r < rows; ++r)
                    for (int i = 0; i < static_cast<int>(along); ++i)
                        nodes.add((cell.k3 + (i - 1 - s.pad) / double(s.steps) +
                                   s.shear * ((r - 1.0) / solver::TransferTable::kSub1 - 0.5)) *
                                      t.h3,
                                  g1_of(cell.k1, r - 1.0),
                                  sub_of(c) + (static_cast<std::size_t>(r) * along +
                                               static_cast<std::size_t>(i)) *
                                                  ns,
                                  0);
            }
            nodes.flush();
            // The checks read nodes another thread's last batch may still be solving: every
            // node first.
#pragma omp barrier
            std::vector<double> exact(ns * Node::lanes), interp(ns);
            auto check = [&](std::ptrdiff_t tag, const double* x) {
                const std::size_t c = static_cast<std::size_t>(tag / 4 / kSpan);
                const int j = static_cast<int>((tag / 4) % kSpan);
                const double q = 0.25 * static_cast<double>(tag % 4);
                const Cell& cell = cells[c];
                const Shape& s = cell.shape;
                const double f1 =
                    (j % solver::TransferTable::kSub1 + q) / solver::TransferTable::kSub1;
                // Unsheared, the point lies at fraction q of interval j + pad; sheared,
                // wherever the lookup finds it.
                double fs = q;
                const int js = s.shear == 0.0 ? j + s.pad
                                              : t.sub_interval(s, cell.k3 + (j + q) / s.steps,
                                                               cell.k3, f1, fs);
                t.template sub_interpolate<N>(sub_of(static_cast<std::ptrdiff_t>(c)),
                                              t.sub_row_nodes(s), js, fs, f1, interp.data());
                double& w = worst[c];
                for (std::size_t e = 0; e < ns; ++e) w = std::max(w, std::abs(x[e] - interp[e]));
            };
            NodeQueue<Node, decltype(check)> checks(k, f, check);
            int slot = 0;
#pragma omp for schedule(static)
            for (int c = 0; c < ncell; ++c) {
                const Cell& cell = cells[static_cast<std::size_t>(c)];
                for (int j = 0; j < cell.shape.steps; ++j)
                    for (int a = 1; a <= 3; ++a) {
                        checks.add((cell.k3 + (j + 0.25 * a) / cell.shape.steps) * t.h3,
                                   g1_of(cell.k1, j % solver::TransferTable::kSub1 + 0.25 * a),
                                   exact.data() + ns * slot,
                                   (static_cast<std::ptrdiff_t>(c) * kSpan + j) * 4 + a);
                        slot = (slot + 1) % Node::lanes;
                    }
            }
            checks.flush();
        }
        return worst;
    };

    std::vector<Cell> cells;
    for (int k1 = t.K1 > 0 ? 1 - t.K1 : 0; k1 <= (t.K1 > 0 ? t.K1 - 3 : 0); ++k1)
        for (int k3 = -t.K3; k3 <= t.K3; ++k3)
            if (t.rough[t.index(k3, k1)])
                cells.push_back({k3, k1, shaped(k3, k1, t.sub_steps(), false)});
    if (t.K1 > 0) {
        const auto dist = [&](const Cell& c) {
            const double a = (c.k3 + 0.5) * t.h3, b = (c.k1 + 0.5) * t.h1;
            return a * a + b * b;
        };
        std::stable_sort(cells.begin(), cells.end(),
                         [&](const Cell& x, const Cell& y) { return dist(x) < dist(y); });
    }
    // Each try's tables are built after those kept so far, and the ones that pass are moved down
    // over those that do not; the cells still rough try the next shape in what the budget has
    // left (one that would repeat the last goes on to the one after).
    t.sub_nodes.clear();
    std::size_t all = 0;
    for (const Cell& c : cells) all += block(c.shape);
    t.sub_nodes.reserve(t.K1 > 0 ? std::min(all, max_bytes / sizeof(double)) : all);
    std::size_t left = max_bytes;
    for (int attempt = 0; attempt < (t.K1 > 0 ? 3 : 1) && !cells.empty(); ++attempt) {
        const std::vector<Cell> tried = fitting(std::move(cells), left);
        std::vector<std::size_t> first(tried.size() + 1, 0);
        for (std::size_t c = 0; c < tried.size(); ++c)
            first[c + 1] = first[c] + block(tried[c].shape) / ns;
        const std::size_t base = t.sub_nodes.size();
        t.sub_nodes.resize(base + first.back() * ns);
        const std::vector<double> worst = build(tried, t.sub_nodes.data() + base, first);
        std::size_t kept = base;
        cells.clear();
        for (std::size_t c = 0; c < tried.size(); ++c) {
            const auto [k3, k1, s] = tried[c];
            if (worst[c] > 4.0 * t.per_slice) {
                if (t.K1 > 0 && s.steps == t.sub_steps()) {
                    const Shape sheared = shaped(k3, k1, s.steps, true);
                    cells.push_back({k3, k1,
                                     s.shear == 0.0 && sheared.shear != 0.0
                                         ? sheared
                                         : shaped(k3, k1, 2 * s.steps, true)});
                }
                continue;
            }
            const std::size_t cell = t.index(k3, k1);
            t.sub_of[cell] = static_cast<std::ptrdiff_t>(kept / ns);
            t.sub_shape[cell] = s;
            if (kept != base + first[c] * ns)
                std::copy(t.sub_nodes.begin() + static_cast<std::ptrdiff_t>(base + first[c] * ns),
                          t.sub_nodes.begin() +
                              static_cast<std::ptrdiff_t>(base + first[c + 1] * ns),
                          t.sub_nodes.begin() + static_cast<std::ptrdiff_t>(kept));
            kept += block(s);
            left -= std::min(left, block(s) * sizeof(double));
        }
        t.sub_nodes.resize(kept);
    }
}

} // namespace korvex::solver::detail
