#include "optics/potential.hpp"

#include "optics/crystal.hpp"
#include "optics/scattering_tables.hpp"
#include "state/error.hpp"
#include "state/state.hpp"

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

namespace korvex {

namespace {

// ---- scattering amplitudes ---------------------------------------------------------------------

// f(s) of one tabulated element. Inside the table: a parabola through f_1 with zero slope at
// s = 0 up to the second grid point, linear interpolation beyond; from s = 2 on a Lorentzian
// tail A / (s^2 + E) whose strength follows Z and which meets the last table value at s = 2.
double amplitude(const ScatteringTable& t, double s) {
    if (std::isnan(s)) return s;
    const int n = t.n;
    if (s <= 0.0) return t.f[0];
    if (s >= 2.0) {
        const double a = t.z * 0.023933671181035725;
        const double e = a / t.f[n - 1] - 4.0;
        return a / (s * s + e);
    }
    const double s2 = t.s[1];
    if (s <= s2) return t.f[0] - (t.f[0] - t.f[1]) * (s * s) / (s2 * s2);
    // Smallest i with s_i >= s (the table is increasing, and s_2 < s < s_n here), searched
    // from the hint of s's hundredth: a step or two either way.
    int i = t.hint[std::min(200, static_cast<int>(s * 100.0))];
    while (t.s[i] < s) ++i;
    while (t.s[i - 1] >= s) --i;
    return t.f[i - 1] + (t.f[i] - t.f[i - 1]) * (s - t.s[i - 1]) / (t.s[i] - t.s[i - 1]);
}

// ---- adaptive Gauss-Legendre quadrature --------------------------------------------------------

// Positive nodes and weights of the 16-point Gauss-Legendre rule on [-1, 1].
constexpr std::array<double, 8> kNode{0.0950125098376374, 0.2816035507792589, 0.4580167776572274,
                                      0.6178762444026438, 0.7554044083550030, 0.8656312023878318,
                                      0.9445750230732326, 0.9894009349916499};
constexpr std::array<double, 8> kWeight{0.1894506104550685, 0.1826034150449236, 0.1691565193950025,
                                        0.1495959888165767, 0.1246289712555339, 0.0951585116824928,
                                        0.0622535239386479, 0.0271524594117541};

constexpr int kOuterLevels = 80;
constexpr int kInnerLevels = 20;

template <class F> double panel_rule(const F& f, double lo, double hi) {
    const double half = (hi - lo) / 2.0;
    const double mid = lo + half;
    double sum = 0.0;
    for (std::size_t i = 0; i < kNode.size(); ++i)
        sum += kWeight[i] * (f(mid + half * kNode[i]) + f(mid - half * kNode[i]));
    return half * sum;
}

// Adaptive bisection with a stack of pending left halves, one per level. A panel is accepted
// when its two-half estimate agrees with its whole estimate to the relative tolerance (against
// the panel or the running total) or to the absolute one. Returns false, with the total of the
// panels accepted so far in `total`, when more than `max_level` levels would be needed.
template <class F>
bool adaptive(const F& f, double lo, double hi, double rel, double abs, int max_level,
              double& total) {
    struct Pending {
        double lo, hi, estimate;
    };
    std::array<Pending, kOuterLevels + 1> pending{};
    double t = 0.0;
    int level = 1;
    double a = lo, b = hi;
    double w = panel_rule(f, a, b);
    for (;;) {
        const double m = 0.5 * (a + b);
        const double left = panel_rule(f, a, m);
        const double right = panel_rule(f, m, b);
        const double s = left + right;
        const double delta = std::abs(s - w);
        if (delta < std::abs(s) * rel || delta < std::abs(t) * rel || delta < abs) {
            t += s;
            --level;
            if (level == 0) {
                total = t;
                return true;
            }
            const Pending& p = pending[static_cast<std::size_t>(level)];
            a = p.lo;
            b = p.hi;
            w = p.estimate;
        } else {
            if (level == max_level) {
                total = t;
                return false;
            }
            pending[static_cast<std::size_t>(level)] = {a, m, left};
            ++level;
            a = m;
            w = right;
        }
    }
}

template <class YLim, class FX, class FXY>
double gauss2_impl(double x_lo, double x_hi, double rel, double abs, const YLim& ylim, const FX& fx,
                   const FXY& fxy, std::string& notes) {
    const double r = rel / 10.0, e = abs / 100.0;
    auto outer = [&](double x) {
        const std::pair<double, double> yl = ylim(x);
        double inner = 0.0;
        if (!adaptive([&](double y) { return fxy(x, y); }, yl.first, yl.second, r, e, kInnerLevels,
                      inner))
            notes += "  number of iterations = 20 = limiting value\n";
        return fx(x) * inner;
    };
    double total = 0.0;
    if (!adaptive(outer, x_lo, x_hi, r, e, kOuterLevels, total))
        halt(" number of iterations = 80 = limiting value");
    return total;
}

// ---- structure factor --------------------------------------------------------------------------

// Geometric structure factor of the reflection m*(h k l) divided by the atoms per cell. With the
// origin on an inversion centre it is real; for diamond it is cos(pi * m(h+k+l) / 4) on the
// unmixed reflections, taken from a table so that the forbidden ones are exactly zero.
double structure_ratio(Lattice lattice, int m, const std::array<int, 3>& hkl) {
    const std::int64_t h = static_cast<std::int64_t>(m) * hkl[0];
    const std::int64_t k = static_cast<std::int64_t>(m) * hkl[1];
    const std::int64_t l = static_cast<std::int64_t>(m) * hkl[2];
    const bool unmixed = (h & 1) == (k & 1) && (k & 1) == (l & 1);
    switch (lattice) {
    case Lattice::fcc:
        return unmixed ? 1.0 : 0.0;
    case Lattice::bcc:
        return ((h + k + l) & 1) == 0 ? 1.0 : 0.0;
    case Lattice::diamond: {
        if (!unmixed) return 0.0;
        constexpr double c = std::numbers::sqrt2 / 2.0;
        constexpr std::array<double, 8> cos_eighth{1.0, c, 0.0, -c, -1.0, -c, 0.0, c};
        return cos_eighth[static_cast<std::size_t>((h + k + l) & 7)];
    }
    }
    return 1.0;
}

// ---- the integrals of a run's reflections, kept for the process -------------------------------

// U and U' of one reflection depend only on the voltage, the crystal (its built-in constants)
// and the reflection: a process that runs many simulations (a Python session, a series of
// conditions) computes each once. Only finished integrals are kept; a stop is raised again.
struct ReflectionKey {
    double volts;
    std::string symbol;
    int m;
    std::array<int, 3> hkl;
    int iabs;
    auto operator<=>(const ReflectionKey&) const = default;
};
struct ReflectionValue {
    double u = 0.0, ui = 0.0;
    std::string note;
};

class ReflectionMemo {
  public:
    bool find(const ReflectionKey& k, ReflectionValue& v) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = kept_.find(k);
        if (it == kept_.end()) return false;
        v = it->second;
        return true;
    }
    void keep(const ReflectionKey& k, const ReflectionValue& v) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (kept_.size() < kMaxKept) kept_.emplace(k, v);
    }

  private:
    static constexpr std::size_t kMaxKept = 4096; // some 100 bytes each
    mutable std::mutex mutex_;
    std::map<ReflectionKey, ReflectionValue> kept_;
};

ReflectionMemo& reflection_memo() {
    static ReflectionMemo memo;
    return memo;
}

} // namespace

double cal_fab(const std::string& symbol, double s, double f_unchanged) {
    const ScatteringTable* t = find_scattering_table(first_two(symbol));
    return t ? amplitude(*t, s) : f_unchanged;
}

bool has_scattering_table(const std::string& symbol) {
    return find_scattering_table(first_two(symbol)) != nullptr;
}

double gauss2(double x_lo, double x_hi, double rel, double abs,
              const std::function<std::pair<double, double>(double)>& ylim,
              const std::function<double(double)>& fx,
              const std::function<double(double, double)>& fxy, std::string& notes) {
    return gauss2_impl(x_lo, x_hi, rel, abs, ylim, fx, fxy, notes);
}

BirdKingResult birdking(double voltage_volts, const std::string& symbol, int nmax,
                        std::array<int, 3> hkl, int iabs) {
    std::vector<Reflection> row;
    for (int m = 1; m <= nmax; ++m) row.push_back({m, hkl});
    return birdking(voltage_volts, symbol, row, iabs);
}

BirdKingResult birdking(double voltage_volts, const std::string& symbol,
                        const std::vector<Reflection>& reflections, int iabs) {
    const CrystalParams cp = crystalparameter(symbol);
    BirdKingResult res;
    res.a = cp.a;
    const int nmax = static_cast<int>(reflections.size());
    if (nmax <= 0) return res;
    res.u.assign(static_cast<std::size_t>(nmax), 0.0);
    res.ui.assign(static_cast<std::size_t>(nmax), 0.0);

    const double b = 78.95683520872527 * cp.msd; // Debye-Waller B = 8 pi^2 <u^2>
    const double p = cp.atoms / (3.14159265359 * cp.a * cp.a * cp.a);
    const double v = voltage_volts;
    const double lambda = 12.264306 / std::sqrt(v) / std::sqrt(1.0 + 9.78467e-7 * v);
    const double gamma = 1.0 + v / 511000.0;
    const double absorption = 2.0 * gamma * lambda;

    const ScatteringTable* table = find_scattering_table(first_two(symbol));
    auto f = [&](double s) { return table ? amplitude(*table, s) : 0.0; };

    // The reflections are independent: computed side by side, their notes kept in order. A stop
    // may not leave a parallel loop: the first reflection's stop is raised after it.
    std::vector<std::string> notes(static_cast<std::size_t>(nmax));
    std::vector<std::exception_ptr> stops(static_cast<std::size_t>(nmax));
    const auto key = [&](int k) {
        const Reflection& r = reflections[static_cast<std::size_t>(k - 1)];
        return ReflectionKey{voltage_volts, symbol, r.m, r.hkl, iabs};
    };
    std::vector<char> known(static_cast<std::size_t>(nmax), 0);
    for (int k = 1; k <= nmax; ++k) {
        const auto idx = static_cast<std::size_t>(k - 1);
        ReflectionValue kept;
        if (!reflection_memo().find(key(k), kept)) continue;
        known[idx] = 1;
        res.u[idx] = kept.u;
        res.ui[idx] = kept.ui;
        notes[idx] = kept.note;
    }
#pragma omp parallel for schedule(dynamic)
    for (int k = 1; k <= nmax; ++k) try {
            if (known[static_cast<std::size_t>(k - 1)]) continue;
            const int m = reflections[static_cast<std::size_t>(k - 1)].m;
            const std::array<int, 3>& hkl = reflections[static_cast<std::size_t>(k - 1)].hkl;
            const double hkl_len = std::sqrt(static_cast<double>(hkl[0]) * hkl[0] +
                                             static_cast<double>(hkl[1]) * hkl[1] +
                                             static_cast<double>(hkl[2]) * hkl[2]);
            const double ratio = structure_ratio(cp.lattice, m, hkl);
            if (ratio == 0.0) continue; // extinct reflection: U = U' = 0
            const double s = m * hkl_len / (2.0 * cp.a);
            const double dw = std::exp(-b * s * s);
            const auto idx = static_cast<std::size_t>(k - 1);
            res.u[idx] = p * f(s) * dw * ratio;
            if (iabs == 0) continue;
            // Bird-King thermal-diffuse-scattering integral over the disc of radius 20 1/Angstrom.
            const double hs = s / 2.0;
            auto ylim = [](double x) {
                const double y = std::sqrt(std::max(0.0, 400.0 - x * x));
                return std::pair<double, double>{-y, y};
            };
            auto fx = [](double) { return 1.0; };
            auto fxy = [&](double x, double y) {
                const double xm = x - hs, xp = x + hs;
                return f(std::sqrt(xm * xm + y * y)) * f(std::sqrt(xp * xp + y * y)) *
                       (1.0 - std::exp(-2.0 * b * (x * x + y * y - s * s / 4.0)));
            };
            const double r = gauss2_impl(-20.0, 20.0, 1e-4, 1e-6, ylim, fx, fxy, notes[idx]);
            res.ui[idx] = p * absorption * r * dw * ratio;
        } catch (...) {
            stops[static_cast<std::size_t>(k - 1)] = std::current_exception();
        }
    for (const auto& stop : stops)
        if (stop) std::rethrow_exception(stop);
    for (int k = 1; k <= nmax; ++k) {
        const auto idx = static_cast<std::size_t>(k - 1);
        if (!known[idx]) reflection_memo().keep(key(k), {res.u[idx], res.ui[idx], notes[idx]});
    }
    for (const auto& note : notes) res.notes += note;
    return res;
}

} // namespace korvex
