// Per-thread storage of the solver kernels and the building of the table engine's tables.
// Internal to the slice loop (solver/propagation.cpp).
#pragma once

#include "solver/kernels.hpp"
#include "solver/table.hpp"

#include <algorithm>
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

// The transfer matrix S = V D V^-1 of kernel k's lane-0 solution into s, laid out as a table
// node (column c: n real parts, then n imaginary parts).
template <int N> void transfer_matrix(const solver::ColumnKernel<N>& k, int n, double* s) {
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < n; ++r) {
            double sr = 0.0, si = 0.0;
            for (int j = 0; j < n; ++j) {
                const double vw = k.eigenvector(r, j, 0) * k.inverse_t(c, j, 0);
                sr += vw * k.prop_re(j, 0);
                si += vw * k.prop_im(j, 0);
            }
            s[2 * n * c + r] = sr;
            s[2 * n * c + n + r] = si;
        }
}

// The node solver of the first-order tables: strain terms into sgr(), S into s by transfer().
template <int N> struct FirstOrderNode {
    KernelHolder<N, 1> holder;
    explicit FirstOrderNode(const solver::SliceData<N>& sd) : holder(sd) {}
    double* sgr() { return holder.k.sgr(); }
    void transfer(double* s) {
        holder.k.solve();
        transfer_matrix<N>(holder.k, holder.k.n(), s);
    }
};

// S at every node of `t` by the exact kernel (`Node`, one per thread); then every cell whose
// stencil lies in the grid is checked against exact solutions inside it (at 1/4, 1/2, 3/4 of its
// diagonal) and marked rough where the interpolant misses by more than the slice's error budget.
template <int N, class Node = FirstOrderNode<N>>
void build_table(const solver::SliceData<N>& sd, const solver::StrainForm& f,
                 solver::TransferTable& t) {
    const int n = sd.n;
    const int n3 = 2 * t.K3 + 1, n1 = 2 * t.K1 + 1;
    const auto solve_at = [&](Node& k, double g3, double g1, double* s) {
        for (int r = 0; r < n; ++r) k.sgr()[r] = f.m[r] * (g3 + f.t[r] * g1);
        k.transfer(s);
    };
#pragma omp parallel
    {
        Node k(sd);
        std::vector<double> exact(t.node_size()), interp(exact.size());
#pragma omp for schedule(static)
        for (int e = 0; e < n3 * n1; ++e) {
            const int k3 = e % n3 - t.K3, k1 = e / n3 - t.K1;
            solve_at(k, k3 * t.h3, k1 * t.h1, t.node(k3, k1));
        }
#pragma omp for schedule(static)
        for (int e = 0; e < n3 * n1; ++e) {
            const int k3 = e % n3 - t.K3, k1 = e / n3 - t.K1;
            if (k3 < 1 - t.K3 || k3 > t.K3 - 3) continue;
            if (t.K1 > 0 && (k1 < 1 - t.K1 || k1 > t.K1 - 3)) continue;
            double worst = 0.0;
            for (int a = 1; a <= 3; ++a) {
                const double f3 = 0.25 * a, f1 = t.K1 > 0 ? f3 : 0.0;
                solve_at(k, (k3 + f3) * t.h3, (k1 + f1) * t.h1, exact.data());
                t.template interpolate_in<N>(k3, f3, k1, f1, interp.data());
                for (std::size_t q = 0; q < exact.size(); ++q)
                    worst = std::max(worst, std::abs(exact[q] - interp[q]));
            }
            // The smooth bound is nearly reached everywhere; a rough cell misses it by far.
            t.rough[t.index(k3, k1)] = worst > 4.0 * t.per_slice;
        }
    }
}

// With one scalar, the finer tables of the rough cells of `t`, each checked at a quarter, half
// and three quarters of every interval; a cell still rough keeps no table (solved exactly).
template <int N, class Node = FirstOrderNode<N>>
void build_sub_tables(const solver::SliceData<N>& sd, const solver::StrainForm& f,
                      solver::TransferTable& t) {
    if (t.K1 > 0) return;
    constexpr int kSub = solver::TransferTable::kSub;
    const int n = sd.n;
    std::vector<int> cells;
    for (int k3 = -t.K3; k3 <= t.K3; ++k3)
        if (t.rough[t.index(k3, 0)]) cells.push_back(k3);
    const std::size_t ns = t.node_size();
    t.sub_nodes.assign(cells.size() * (kSub + 3) * ns, 0.0);
    const int ncell = static_cast<int>(cells.size());
#pragma omp parallel
    {
        Node k(sd);
        std::vector<double> exact(ns), interp(ns);
        const auto solve_at = [&](double g3, double* s) {
            for (int r = 0; r < n; ++r) k.sgr()[r] = f.m[r] * g3;
            k.transfer(s);
        };
#pragma omp for schedule(static)
        for (int c = 0; c < ncell; ++c) {
            const int k3 = cells[static_cast<std::size_t>(c)];
            const std::size_t first = static_cast<std::size_t>(c) * (kSub + 3);
            double* sub = t.sub_nodes.data() + first * ns;
            for (int i = 0; i < kSub + 3; ++i)
                solve_at((k3 + (i - 1) / double(kSub)) * t.h3,
                         sub + static_cast<std::size_t>(i) * ns);
            double worst = 0.0;
            for (int j = 0; j < kSub; ++j)
                for (int a = 1; a <= 3; ++a) {
                    solve_at((k3 + (j + 0.25 * a) / kSub) * t.h3, exact.data());
                    t.template sub_interpolate<N>(sub, j, 0.25 * a, interp.data());
                    for (std::size_t q = 0; q < ns; ++q)
                        worst = std::max(worst, std::abs(exact[q] - interp[q]));
                }
            if (worst <= 4.0 * t.per_slice)
                t.sub_of[t.index(k3, 0)] = static_cast<std::ptrdiff_t>(first);
        }
    }
}

} // namespace korvex::solver::detail
