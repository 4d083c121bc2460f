#include "driver/population_draw.hpp"

#include "defects/tetrahedron.hpp"
#include "driver/population_file.hpp"
#include "optics/vectors.hpp"
#include "state/error.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

namespace korvex {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kTetrahedronCircumradius = 0.6123724356957945; // per unit edge
constexpr int kTries = 1000;

std::uint64_t splitmix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

// A value kept to the thousandth, as the files print it.
double kept(double v) {
    return std::round(v * 1000.0) / 1000.0;
}

std::string num(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.3f", v == 0.0 ? 0.0 : v); // no "-0.000"
    return buf;
}
std::string vec(const Vec3& v) {
    return num(v[0]) + " " + num(v[1]) + " " + num(v[2]);
}
std::string ints(const Vec3& v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d %d %d", static_cast<int>(v[0]), static_cast<int>(v[1]),
                  static_cast<int>(v[2]));
    return buf;
}

// The four {111} planes of Frank loops and the six <110> of perfect prismatic loops, each with
// a direction in its plane.
constexpr std::array<std::pair<Vec3, Vec3>, 4> kFrankPlanes{{
    {{1, 1, 1}, {1, -1, 0}},
    {{-1, 1, 1}, {1, 1, 0}},
    {{1, -1, 1}, {1, 1, 0}},
    {{1, 1, -1}, {1, -1, 0}},
}};
constexpr std::array<std::pair<Vec3, Vec3>, 6> kPerfectPlanes{{
    {{1, 1, 0}, {0, 0, 1}},
    {{1, -1, 0}, {0, 0, 1}},
    {{1, 0, 1}, {0, 1, 0}},
    {{1, 0, -1}, {0, 1, 0}},
    {{0, 1, 1}, {1, 0, 0}},
    {{0, 1, -1}, {1, 0, 0}},
}};

// Radius of the sphere about the centre that holds the defect.
double bounding_radius(const DrawnDefect& d) {
    return d.kind == DrawnKind::tetrahedron ? d.size * kTetrahedronCircumradius : 0.5 * d.size;
}

Mat3 crystal_to_sample(const State& st) {
    return coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, st.co_x,
                                cross_product(st.foil, st.co_x), st.foil);
}

// Half-extents along the image's x and y of the defect's projection along the beam.
std::array<double, 4> extent(const State& st, const DrawnDefect& d) {
    const Vec3& c = d.centre;
    double x0 = c[0], x1 = c[0], y0 = c[1], y1 = c[1];
    if (d.kind == DrawnKind::frank || d.kind == DrawnKind::perfect) {
        const Vec3 m = mul(crystal_to_sample(st), d.normal);
        const Vec3 n = scaled(m, 1.0 / magnitude(m));
        const double r = 0.5 * d.size;
        const double hx = r * std::sqrt(std::max(0.0, 1.0 - n[0] * n[0]));
        const double hy = r * std::sqrt(std::max(0.0, 1.0 - n[1] * n[1]));
        x0 -= hx, x1 += hx, y0 -= hy, y1 += hy;
    } else if (d.kind == DrawnKind::tetrahedron) {
        // Each vertex lies opposite its face, three times as far from the centroid.
        TetrahedronFile t;
        t.centroid = c, t.edge = d.size;
        for (int face = 0; face < 4; ++face) {
            const Vec3 f = tetrahedron_face_centre(st, t, face);
            const double vx = c[0] - 3.0 * (f[0] - c[0]), vy = c[1] - 3.0 * (f[1] - c[1]);
            x0 = std::min(x0, vx), x1 = std::max(x1, vx);
            y0 = std::min(y0, vy), y1 = std::max(y1, vy);
        }
    } else {
        const double r = 0.5 * d.size;
        x0 -= r, x1 += r, y0 -= r, y1 += r;
    }
    return {x0, x1, y0, y1};
}

double draw_size(PortableRandom& rng, const SizeLaw& law) {
    switch (law.kind) {
    case SizeLaw::uniform:
        return rng.uniform(law.a, law.b);
    case SizeLaw::lognormal:
        return law.a * std::exp(law.b * rng.normal());
    default:
        return law.a;
    }
}

} // namespace

PortableRandom::PortableRandom(std::uint64_t seed) {
    for (auto& w : s_) w = splitmix(seed);
}

std::uint64_t PortableRandom::next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

double PortableRandom::uniform() {
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

double PortableRandom::uniform(double lo, double hi) {
    return lo + (hi - lo) * uniform();
}

int PortableRandom::below(int n) {
    return std::min(n - 1, static_cast<int>(uniform() * n));
}

double PortableRandom::normal() {
    const double u1 = 1.0 - uniform(); // (0, 1]
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

std::vector<DrawnDefect> draw_population(const State& st, const DrawSpec& spec) {
    const double zmin = spec.depth_max < spec.depth_min ? 0.0 : spec.depth_min;
    const double zmax = spec.depth_max < spec.depth_min ? st.size[2] : spec.depth_max;
    double count = spec.count;
    if (spec.density > 0.0)
        count = std::round(spec.density * st.size[0] * st.size[1] * (zmax - zmin) * 1e-30);
    if (!(count >= 1.0) || count > kMaxPopulationEntries)
        halt({"The number of defects lies between 1 and " + std::to_string(kMaxPopulationEntries),
              "Read: " + num(count) + (spec.density > 0.0 ? " (from the density)" : "")});
    double total = 0.0;
    for (double f : spec.fractions) total += f;
    if (!(total > 0.0)) halt("The fractions of the kinds add up to nothing");

    PortableRandom rng(spec.seed);
    const auto n = static_cast<std::size_t>(count);
    std::vector<DrawnDefect> out(n);
    double widest = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        DrawnDefect& d = out[k];
        d.id = static_cast<int>(k + 1);
        double u = rng.uniform() * total;
        int kind = 0;
        while (kind < 4 && u >= spec.fractions[static_cast<std::size_t>(kind)])
            u -= spec.fractions[static_cast<std::size_t>(kind++)];
        while (spec.fractions[static_cast<std::size_t>(kind)] <= 0.0) --kind; // rounding at the top
        d.kind = static_cast<DrawnKind>(kind);
        d.size = kept(draw_size(rng, spec.size));
        if (!(d.size > 0.0)) halt({"A drawn size is not positive", "Read: " + num(d.size)});
        if (d.kind == DrawnKind::frank) {
            const auto& [normal, polar] = kFrankPlanes[static_cast<std::size_t>(rng.below(4))];
            d.normal = normal, d.polar = polar, d.burgers = scaled(normal, 1.0 / 3.0);
        } else if (d.kind == DrawnKind::perfect) {
            const auto& [normal, polar] = kPerfectPlanes[static_cast<std::size_t>(rng.below(6))];
            d.normal = normal, d.polar = polar, d.burgers = scaled(normal, 0.5);
        }
        widest = std::max(widest, bounding_radius(d));
    }

    // Placed in turn: a defect too near one placed before is drawn again elsewhere. The placed
    // ones are looked up in cells as wide as the largest reach between two centres.
    const double cell = std::max(1.0, 2.0 * widest + spec.separation);
    std::map<std::tuple<long, long, long>, std::vector<std::size_t>> cells;
    const auto key = [cell](const Vec3& c) {
        return std::tuple{std::lround(std::floor(c[0] / cell)),
                          std::lround(std::floor(c[1] / cell)),
                          std::lround(std::floor(c[2] / cell))};
    };
    for (std::size_t k = 0; k < n; ++k) {
        DrawnDefect& d = out[k];
        const double r = bounding_radius(d);
        bool placed = false;
        for (int attempt = 0; attempt < kTries && !placed; ++attempt) {
            d.centre = {kept(rng.uniform(0.0, st.size[0])), kept(rng.uniform(0.0, st.size[1])),
                        kept(rng.uniform(zmin, zmax))};
            const auto [cx, cy, cz] = key(d.centre);
            placed = true;
            for (long a = cx - 1; a <= cx + 1 && placed; ++a)
                for (long b = cy - 1; b <= cy + 1 && placed; ++b)
                    for (long c = cz - 1; c <= cz + 1 && placed; ++c) {
                        const auto it = cells.find({a, b, c});
                        if (it == cells.end()) continue;
                        for (const std::size_t o : it->second) {
                            const Vec3& p = out[o].centre;
                            const double dist = magnitude(
                                Vec3{p[0] - d.centre[0], p[1] - d.centre[1], p[2] - d.centre[2]});
                            // A margin for the printed thousandths.
                            if (dist < r + bounding_radius(out[o]) + spec.separation + 0.01) {
                                placed = false;
                                break;
                            }
                        }
                    }
        }
        if (!placed)
            halt({"Defect " + std::to_string(d.id) + " finds no place " + num(spec.separation) +
                      " Angstrom from the others after " + std::to_string(kTries) + " draws",
                  "Fewer defects, smaller ones or a smaller separation would fit"});
        cells[key(d.centre)].push_back(k);
        const std::array<double, 4> e = extent(st, d);
        const double dx = st.size[0] / st.n_xyz[0], dy = st.size[1] / st.n_xyz[1];
        d.box = {std::floor(e[0] / dx) + 1.0, std::ceil(e[1] / dx), std::floor(e[2] / dy) + 1.0,
                 std::ceil(e[3] / dy)};
    }
    return out;
}

std::string population_text(const std::vector<DrawnDefect>& defects, const DrawSpec& spec) {
    std::string s = "{Population drawn by korvex_population, seed " + std::to_string(spec.seed) +
                    ", " + std::to_string(defects.size()) + " defects}\n" + std::string(67, '=') +
                    "\n";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", spec.tolerance);
    s += std::string(buf) + "    Tolerance on a defect's strain term (1/Angstrom)\n";
    const std::string nu = num(spec.poisson);
    for (const DrawnDefect& d : defects) {
        switch (d.kind) {
        case DrawnKind::frank:
        case DrawnKind::perfect: {
            const std::string b = (d.kind == DrawnKind::frank ? "1 3 " : "1 2 ") + ints(d.normal);
            s += "defect pg_loop\n";
            s += std::string(d.kind == DrawnKind::frank ? "faulted" : "perfect") + "\n" + b + "\n" +
                 b + "\n" + num(0.5 * d.size) + "\n" + vec(d.centre) + "\n" + ints(d.normal) +
                 "\n" + ints(d.polar) + "\n6\n" + nu + "\n1.0\n";
            break;
        }
        case DrawnKind::tetrahedron:
            s += "defect tetrahedron\nfaulted\n" + vec(d.centre) + "\n" + num(d.size) + "\n" + nu +
                 "\n1.0\n";
            break;
        case DrawnKind::vacancy:
            s += "defect void\n" + num(0.5 * d.size) + "\n" + vec(d.centre) + "\n";
            break;
        case DrawnKind::inclusion:
            s += "defect inclusion\n" + num(0.5 * d.size) + "\n" + vec(d.centre) + "\n" +
                 num(spec.misfit) + "\n" + nu + "\n";
            break;
        }
    }
    return s;
}

std::string ground_truth_csv(const State& st, const std::vector<DrawnDefect>& defects) {
    std::string s = "id,kind,x,y,z,size,b1,b2,b3,n1,n2,n3,depth,px_first,px_last,py_first,"
                    "py_last,g.b\n";
    char buf[64];
    for (const DrawnDefect& d : defects) {
        const bool loop = d.kind == DrawnKind::frank || d.kind == DrawnKind::perfect;
        s += std::to_string(d.id) + "," + kDrawnKindNames[static_cast<std::size_t>(d.kind)] + "," +
             num(d.centre[0]) + "," + num(d.centre[1]) + "," + num(d.centre[2]) + "," +
             num(d.size) + ",";
        for (double b : d.burgers) {
            std::snprintf(buf, sizeof buf, "%.6f,", loop ? b : 0.0);
            s += loop ? buf : ",";
        }
        if (loop) {
            std::snprintf(buf, sizeof buf, "%d,%d,%d", static_cast<int>(d.normal[0]),
                          static_cast<int>(d.normal[1]), static_cast<int>(d.normal[2]));
            s += buf;
        } else {
            s += ",,";
        }
        s += "," + num(d.centre[2]);
        for (double p : d.box) {
            std::snprintf(buf, sizeof buf, ",%d", static_cast<int>(p));
            s += buf;
        }
        if (loop) {
            std::snprintf(buf, sizeof buf, ",%.4f", dot(st.v_g, d.burgers) + 0.0);
            s += buf;
        } else {
            s += ",";
        }
        s += "\n";
    }
    return s;
}

} // namespace korvex
