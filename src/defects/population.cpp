#include "defects/population.hpp"

#include "defects/column_rule.hpp"
#include "optics/vectors.hpp"
#include "state/error.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace korvex {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr int kRowBlock = 16; // image rows per bin

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

// Circumradius of a regular tetrahedron of unit edge: sqrt(6) / 4.
constexpr double kTetrahedronCircumradius = 0.6123724356957945;

// The largest weight of a gradient in any beam's term: |m_n| (1 + |tan_n|) with the lateral
// term, |m_n| without.
double largest_weight(const State& st, DefectKind kind) {
    const TermWeights w = term_weights(st, kind);
    double m = 0.0;
    for (int n = 1; n <= w.wz.size(); ++n) m = std::max(m, std::abs(w.wz(n)) + std::abs(w.wx(n)));
    return m;
}

// |g| |b| A / (1 - nu) of a polygonal loop (see influence_radius).
double loop_strength(const State& st, const PgLoopFile& f) {
    if (loop_style(f.loopstyle) == LoopStyle::pure_fault) return 0.0;
    const Vec3 b = lattice_vector(f.b_m, f.b_n, f.b_dir, "Burgers vector");
    const double area = 0.5 * f.nsides * f.radius * f.radius * std::sin(2.0 * kPi / f.nsides);
    return magnitude(st.v_g) * magnitude(b) * area / (1.0 - f.poissonsratio);
}

} // namespace

DefectKind BoundedDefect::kind() const {
    return std::visit(Overloaded{[](const PgLoopFile&) { return DefectKind::pg_loop; },
                                 [](const TetrahedronFile&) { return DefectKind::tetrahedron; },
                                 [](const VoidConfig&) { return DefectKind::vacancy; },
                                 [](const InclusionConfig&) { return DefectKind::inclusion; }},
                      config);
}

Vec3 BoundedDefect::centre() const {
    return std::visit(Overloaded{[](const PgLoopFile& f) { return f.position; },
                                 [](const TetrahedronFile& t) { return t.centroid; },
                                 [](const VoidConfig& v) { return v.position; },
                                 [](const InclusionConfig& i) { return i.centre; }},
                      config);
}

double BoundedDefect::extent() const {
    return std::visit(
        Overloaded{[](const PgLoopFile& f) { return f.radius; },
                   [](const TetrahedronFile& t) { return t.edge * kTetrahedronCircumradius; },
                   [](const VoidConfig& v) { return v.radius; },
                   [](const InclusionConfig& i) { return i.radius; }},
        config);
}

namespace {

// The largest |grad g.u| of a loop or tetrahedron on the sphere of radius r about its centre,
// over kDirections directions spread evenly (a Fibonacci lattice).
constexpr int kDirections = 256;
Vec3 direction(int k) {
    const double zc = 1.0 - (2.0 * k + 1.0) / kDirections;
    const double rho = std::sqrt(1.0 - zc * zc), phi = k * 2.399963229728653;
    return {rho * std::cos(phi), rho * std::sin(phi), zc};
}

double sampled_gradient(const State& st, const BoundedDefect& d, double r) {
    std::vector<std::pair<PgLoopKernel, Vec3>> loops; // each with its centre from d's
    const Vec3 c = d.centre();
    if (const auto* f = std::get_if<PgLoopFile>(&d.config)) {
        if (loop_style(f->loopstyle) != LoopStyle::pure_fault)
            loops.emplace_back(PgLoopKernel(st, *f), Vec3{});
    } else if (const auto* t = std::get_if<TetrahedronFile>(&d.config)) {
        for (int face = 0; face < 4; ++face) {
            const PgLoopFile l = tetrahedron_face_loop(st, *t, face);
            if (loop_style(l.loopstyle) == LoopStyle::pure_fault) continue;
            loops.emplace_back(PgLoopKernel(st, l), Vec3{c[0] - l.position[0], c[1] - l.position[1],
                                                         c[2] - l.position[2]});
        }
    }
    double most = 0.0;
    for (int k = 0; k < kDirections; ++k) {
        const Vec3 p = scaled(direction(k), r);
        Vec3 g{};
        for (const auto& [kernel, shift] : loops) {
            const Vec3 q = kernel.gradient({p[0] + shift[0], p[1] + shift[1], p[2] + shift[2]});
            for (std::size_t a = 0; a < 3; ++a) g[a] += q[a];
        }
        most = std::max(most, magnitude(g));
    }
    return most;
}

} // namespace

double influence_radius(const State& st, const BoundedDefect& d, double tolerance) {
    const DefectKind kind = d.kind();
    if (kind == DefectKind::vacancy) return d.extent();
    if (!(tolerance > 0.0)) return kInfinity;
    double strength = 0.0; // K of |term| <= K / (r - extent)^3
    if (const auto* f = std::get_if<PgLoopFile>(&d.config)) {
        strength = loop_strength(st, *f);
    } else if (const auto* t = std::get_if<TetrahedronFile>(&d.config)) {
        for (int face = 0; face < 4; ++face)
            strength += loop_strength(st, tetrahedron_face_loop(st, *t, face));
    } else if (const auto* c = std::get_if<InclusionConfig>(&d.config)) {
        strength = 2.0 * magnitude(st.v_g) * std::abs(constrained_strain(*c)) * c->radius *
                   c->radius * c->radius / st.lat_c;
    }
    const double weight = largest_weight(st, kind);
    const double e = d.extent();
    // The far-field bound holds from twice the defect's size on.
    const double bound = std::max(2.0 * e, e + std::cbrt(weight * strength / tolerance));
    if (kind == DefectKind::inclusion || !(weight > 0.0)) return bound;
    // A loop's field falls as 1/r^3 beyond a few sizes, its lobes narrower than the bound allows
    // for (and a tetrahedron's faces largely cancel): its largest gradient at three sizes,
    // sampled, doubled and carried out as 1/r^3, is where the term falls below the tolerance,
    // checked there by sampling again.
    const double r0 = 3.0 * e;
    double r = std::max(r0, r0 * std::cbrt(2.0 * weight * sampled_gradient(st, d, r0) / tolerance));
    while (r < bound && weight * sampled_gradient(st, d, r) >= 0.5 * tolerance) r *= 1.25;
    return std::min(r, bound);
}

std::vector<double> near_radii(const State& st, const BoundedDefect& d, double tolerance) {
    std::vector<PgLoopFile> loops;
    if (const auto* f = std::get_if<PgLoopFile>(&d.config)) loops.push_back(*f);
    if (const auto* t = std::get_if<TetrahedronFile>(&d.config))
        for (int face = 0; face < 4; ++face) loops.push_back(tetrahedron_face_loop(st, *t, face));
    std::vector<double> near(loops.size(), kInfinity);
    const double weight = largest_weight(st, d.kind());
    if (!(tolerance > 0.0) || !(weight > 0.0)) return near;
    for (std::size_t k = 0; k < loops.size(); ++k) {
        if (loop_style(loops[k].loopstyle) == LoopStyle::pure_fault) continue;
        const PgLoopSlice loop(st, loops[k], 1, 1);
        const double r1 = 3.0 * loops[k].radius;
        double most = 0.0;
        for (int q = 0; q < kDirections; ++q) {
            const Vec3 p = scaled(direction(q), r1);
            const Vec3 a = loop.kernel().gradient(p), b = loop.far_gradient(p);
            most = std::max(most, std::hypot(a[0] - b[0], a[2] - b[2]));
        }
        near[k] = r1 * std::max(1.0, std::pow(4.0 * weight * most / tolerance, 0.2));
    }
    return near;
}

namespace {

// The terms of one bounded defect in one slice, over the columns its sphere of influence cuts.
class SliceDefect {
  public:
    SliceDefect(const State& st, const BoundedDefect& d, double reach, int islice,
                const std::vector<double>& near = {}, double sampling = 0.0)
        : kind_(d.kind()), c_(d.centre()), nx_(st.n_xyz[0]), ny_(st.n_xyz[1]),
          dx_(st.size[0] / st.n_xyz[0]), dy_(st.size[1] / st.n_xyz[1]),
          z_(st.slice_centre(islice) - c_[2]) {
        // The disc the sphere of influence cuts from the slice.
        const double half = std::sqrt(std::max(0.0, reach * reach - z_ * z_));
        const auto span = [](double centre, double h, double step, int n) {
            if (!std::isfinite(h)) return std::array{1, n};
            const double lo = std::floor((centre - h) / step + 0.5);
            const double hi = std::ceil((centre + h) / step + 0.5);
            return std::array{static_cast<int>(std::clamp(lo, 1.0, n + 1.0)),
                              static_cast<int>(std::clamp(hi, 0.0, static_cast<double>(n)))};
        };
        cols_ = span(c_[0], half, dx_, nx_);
        rows_ = span(c_[1], half, dy_, ny_);
        const auto set_near = [this, &near, sampling] {
            for (std::size_t k = 0; k < loops_.size() && k < near.size(); ++k)
                loops_[k].set_near(near[k]);
            for (PgLoopSlice& l : loops_) l.set_sampling(sampling);
        };
        if (const auto* f = std::get_if<PgLoopFile>(&d.config)) {
            loops_.emplace_back(st, *f, d.marker, islice);
        } else if (const auto* t = std::get_if<TetrahedronFile>(&d.config)) {
            for (int face = 0; face < 4; ++face)
                loops_.emplace_back(st, tetrahedron_face_loop(st, *t, face), 2 * (face + 1),
                                    islice);
        } else if (const auto* v = std::get_if<VoidConfig>(&d.config)) {
            radius_ = v->radius;
        } else if (const auto* c = std::get_if<InclusionConfig>(&d.config)) {
            inclusion_ = *c;
            const Mat3 tf = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, st.co_x,
                                                 cross_product(st.foil, st.co_x), st.foil);
            g_ = mul(tf, st.v_g);
            lat_c_ = st.lat_c;
            TermWeights tw = term_weights(st, DefectKind::inclusion);
            wx_ = std::move(tw.wx);
            wz_ = std::move(tw.wz);
        }
        set_near();
    }

    bool reaches() const { return cols_[0] <= cols_[1] && rows_[0] <= rows_[1]; }
    int first_row() const { return rows_[0]; }
    int last_row() const { return rows_[1]; }

    bool reaches_row(int j) const { return j >= rows_[0] && j <= rows_[1]; }
    std::array<int, 2> columns() const { return cols_; }
    // A loop or tetrahedron's loops, with their fields sampled along the rows they reach.
    const std::vector<PgLoopSlice>& sampled_loops() const {
        static const std::vector<PgLoopSlice> none;
        return !loops_.empty() && loops_.front().sampling() > 0.0 ? loops_ : none;
    }

    // Adds the defect's terms of row j to w (a sampled loop's jumps only: its terms come with
    // those of the others, see PopulationSlice::add_row).
    void add_row(int j, Workspace& w) const {
        if (j < rows_[0] || j > rows_[1]) return;
        const auto [first, last] = cols_;
        if (!loops_.empty()) {
            if (loops_.front().sampling() == 0.0)
                for (const PgLoopSlice& l : loops_) l.add_terms(j, first, last, w.s_g_r);
            for (const PgLoopSlice& l : loops_) l.add_jumps(j, first, last, w.s_f, w.projection);
            return;
        }
        const double y = (j - 0.5) * dy_ - c_[1];
        if (kind_ == DefectKind::vacancy) {
            for (int i = first; i <= last; ++i) {
                const double x = (i - 0.5) * dx_ - c_[0];
                // Strictly inside only, as for a void alone.
                if (radius_ - std::sqrt(x * x + y * y + z_ * z_) > 0.0) w.flag_vacancy(i, j) = 0;
            }
            return;
        }
        for (int i = first; i <= last; ++i) {
            const Vec3 d =
                inclusion_phase_gradient(inclusion_, g_, lat_c_, {(i - 0.5) * dx_ - c_[0], y, z_});
            for (int n = 1; n <= wx_.size(); ++n) w.s_g_r(i, j, n) += wx_(n) * d[0] + wz_(n) * d[2];
        }
    }

    // An inclusion's strain term of the column at (x, y) of the sample, added to column (1, 1).
    void add_column(double x, double y, Workspace& w) const {
        if (kind_ != DefectKind::inclusion) return;
        const Vec3 d = inclusion_phase_gradient(inclusion_, g_, lat_c_, {x - c_[0], y - c_[1], z_});
        for (int n = 1; n <= wx_.size(); ++n) w.s_g_r(1, 1, n) += wx_(n) * d[0] + wz_(n) * d[2];
    }

    const std::vector<PgLoopSlice>& loops() const { return loops_; }

  private:
    DefectKind kind_;
    Vec3 c_;
    int nx_, ny_;
    double dx_, dy_, z_;
    std::array<int, 2> cols_{1, 0}, rows_{1, 0};
    std::vector<PgLoopSlice> loops_; // a loop, or the four faces of a tetrahedron
    double radius_ = 0.0;            // a void
    InclusionConfig inclusion_;      // an inclusion, with g in the sample frame
    Vec3 g_{};
    double lat_c_ = 1.0;
    Array1<double> wx_, wz_;
};

// The defects of one slice binned by blocks of image rows.
class PopulationSlice {
  public:
    PopulationSlice(std::vector<SliceDefect> defects, int ny)
        : defects_(std::move(defects)),
          bins_(static_cast<std::size_t>((ny + kRowBlock - 1) / kRowBlock)) {
        for (std::size_t k = 0; k < defects_.size(); ++k) {
            const SliceDefect& d = defects_[k];
            for (int b = (d.first_row() - 1) / kRowBlock; b <= (d.last_row() - 1) / kRowBlock; ++b)
                bins_[static_cast<std::size_t>(b)].push_back(static_cast<int>(k));
        }
    }
    // Row j of every defect reaching it. The loops whose fields are sampled add their G1 and
    // G3 to those of the row, which then make every beam's term at once.
    void add_row(int j, Workspace& w) const {
        const std::vector<int>& bin = bins_[static_cast<std::size_t>((j - 1) / kRowBlock)];
        thread_local std::vector<double> r1, r3;
        const PgLoopSlice* any = nullptr;
        for (const int k : bin) {
            const SliceDefect& d = defects_[static_cast<std::size_t>(k)];
            if (!d.reaches_row(j) || d.sampled_loops().empty()) continue;
            if (!any) {
                any = &d.sampled_loops().front();
                r1.assign(static_cast<std::size_t>(w.s_g_r.n1()), 0.0);
                r3.assign(r1.size(), 0.0);
            }
            std::array<const PgLoopSlice*, PgLoopSlice::kMaxLoops> loops{};
            const std::vector<PgLoopSlice>& own = d.sampled_loops();
            for (std::size_t q = 0; q < own.size(); ++q) loops[q] = &own[q];
            const auto [first, last] = d.columns();
            PgLoopSlice::add_sampled_rates({loops.data(), own.size()}, j, first, last,
                                           r1.data() + first - 1, r3.data() + first - 1);
        }
        if (any) any->add_rates_as_terms(j, 1, w.s_g_r.n1(), r1.data(), r3.data(), w.s_g_r);
        for (const int k : bin) defects_[static_cast<std::size_t>(k)].add_row(j, w);
    }
    const std::vector<SliceDefect>& defects() const { return defects_; }

  private:
    std::vector<SliceDefect> defects_;
    std::vector<std::vector<int>> bins_;
};

class PopulationField final : public DefectField {
  public:
    explicit PopulationField(Population pop) : pop_(std::move(pop)) {
        // Taken by the top of their reach: a slice looks at a prefix only.
        order_.resize(pop_.bounded.size());
        std::iota(order_.begin(), order_.end(), std::size_t{0});
    }

    void fill_slice(const State& st, Workspace& w, int islice) override {
        const RowFill fill = rows_of_slice(st, w, islice);
        const int ny = st.n_xyz[1];
#pragma omp parallel for schedule(dynamic, 4)
        for (int j = 1; j <= ny; ++j) fill(j);
    }
    // Row by row unless a whole-image defect holds its slice in an image of its own (the row
    // functions of several slices may be held at once).
    bool fills_rows() const override {
        return pop_.whole.empty();
    }
    RowFill rows_of_slice(const State& st, Workspace& w, int islice) override {
        prepare(st);
        for (WholeDefect& d : pop_.whole) d.field->fill_slice(st, whole_work(st, d), islice);
        auto slice =
            std::make_shared<const PopulationSlice>(slice_defects(st, islice), st.n_xyz[1]);
        const int nx = st.n_xyz[0], nb = st.n_beams;
        return [this, slice, &w, nx, nb](int j) {
            for (int n = 1; n <= nb; ++n)
                for (int i = 1; i <= nx; ++i) w.s_g_r(i, j, n) = 0.0;
            for (int c = 1; c <= 3; ++c)
                for (int i = 1; i <= nx; ++i) w.s_f(i, j, c) = 0.0;
            for (int i = 1; i <= nx; ++i) w.flag_vacancy(i, j) = 1;
            for (const Workspace& ww : whole_)
                for (int n = 1; n <= nb; ++n) {
                    for (int i = 1; i <= nx; ++i) w.s_g_r(i, j, n) += ww.s_g_r(i, j, n);
                    if (n <= 3)
                        for (int i = 1; i <= nx; ++i) w.s_f(i, j, n) += ww.s_f(i, j, n);
                }
            slice->add_row(j, w);
        };
    }

    // The amplitude-phase job: the column at st.colxy from the first entry's reference point.
    void fill_column(const State& st, Workspace& w, int islice) override {
        if (!pop_.whole.empty())
            halt({"The amplitude-phase job takes the loops, tetrahedra, voids and inclusions of a "
                  "population",
                  "\"" + pop_.file + "\", entry " + std::to_string(pop_.whole.front().entry) +
                      " is a defect reaching every column"});
        prepare(st);
        for (int n = 1; n <= w.s_g_r.n3(); ++n) w.s_g_r(1, 1, n) = 0.0;
        for (int c = 1; c <= w.s_f.n3(); ++c) w.s_f(1, 1, c) = 0.0;
        const double x = pop_.reference[0] + st.colxy[0], y = pop_.reference[1] + st.colxy[1];
        for (std::size_t k = 0; k < pop_.bounded.size(); ++k) {
            const BoundedDefect& d = pop_.bounded[k];
            const SliceDefect sd(st, d, kInfinity, islice);
            const Vec3 c = d.centre();
            if (const auto* t = std::get_if<TetrahedronFile>(&d.config)) {
                for (int face = 0; face < 4; ++face) {
                    const Vec3 fc = tetrahedron_face_centre(st, *t, face);
                    sd.loops()[static_cast<std::size_t>(face)].column({x - fc[0], y - fc[1]},
                                                                      w.s_g_r, true);
                }
            } else if (!sd.loops().empty()) {
                sd.loops().front().column({x - c[0], y - c[1]}, w.s_g_r, true);
            } else {
                sd.add_column(x, y, w);
            }
        }
    }

  private:
    // Once per condition: the reach of every bounded defect under its beams.
    void prepare(const State& st) {
        if (prepared_) return;
        prepared_ = true;
        reach_.resize(pop_.bounded.size());
        top_.resize(pop_.bounded.size());
        near_.resize(pop_.bounded.size());
        for (std::size_t k = 0; k < pop_.bounded.size(); ++k) {
            reach_[k] = influence_radius(st, pop_.bounded[k], pop_.tolerance);
            near_[k] = near_radii(st, pop_.bounded[k], pop_.tolerance);
            top_[k] = pop_.bounded[k].centre()[2] - reach_[k];
        }
        std::stable_sort(order_.begin(), order_.end(),
                         [this](std::size_t a, std::size_t b) { return top_[a] < top_[b]; });
    }

    // The error a loop's sampled field may add to a term: the run's field tolerance where
    // given, else a tenth of the population's.
    double sampling(const State& st) const {
        return st.field_tolerance >= 0.0 ? st.field_tolerance : 0.1 * pop_.tolerance;
    }

    // The defects whose reach cuts slice `islice`.
    std::vector<SliceDefect> slice_defects(const State& st, int islice) const {
        const double z = st.slice_centre(islice);
        std::vector<SliceDefect> out;
        for (const std::size_t k : order_) {
            if (top_[k] > z) break;
            const BoundedDefect& d = pop_.bounded[k];
            if (d.centre()[2] + reach_[k] < z) continue;
            SliceDefect sd(st, d, reach_[k], islice, near_[k], sampling(st));
            if (sd.reaches()) out.push_back(std::move(sd));
        }
        return out;
    }

    // The arrays a whole-image defect fills, kept between slices (its markers).
    Workspace& whole_work(const State& st, const WholeDefect& d) {
        const auto k = static_cast<std::size_t>(&d - pop_.whole.data());
        if (whole_.size() < pop_.whole.size()) whole_.resize(pop_.whole.size());
        Workspace& w = whole_[k];
        const int nx = st.n_xyz[0], ny = st.n_xyz[1];
        if (w.s_g_r.n1() != nx || w.s_g_r.n2() != ny || w.s_g_r.n3() != st.n_beams) {
            w.s_g_r.resize(nx, ny, st.n_beams);
            w.g_r.resize(nx, ny, st.n_beams);
            w.s_f.resize(nx, ny, 3);
            w.projection.resize(nx, ny, 2);
            w.flag_vacancy.resize(nx, ny);
        }
        return w;
    }

    Population pop_;
    std::vector<std::size_t> order_;
    std::vector<double> reach_, top_;
    std::vector<std::vector<double>> near_; // of each loop of each defect
    bool prepared_ = false;
    std::vector<Workspace> whole_;
};

} // namespace

std::unique_ptr<DefectField> make_population_field(Population pop) {
    return std::make_unique<PopulationField>(std::move(pop));
}

} // namespace korvex
