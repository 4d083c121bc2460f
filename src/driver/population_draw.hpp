// Random populations of defects (the program korvex_population): defects of given kinds and
// sizes placed at random in the field of a run, none closer to another than a given separation,
// written as a population file and a ground-truth table. The draws use their own generator and
// distributions (not those of the standard library, which differ between libraries), so that
// one seed gives the same files on every machine.
#pragma once

#include "state/state.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvex {

// xoshiro256** seeded through splitmix64: the same numbers everywhere.
class PortableRandom {
  public:
    explicit PortableRandom(std::uint64_t seed);
    std::uint64_t next();
    double uniform();                     // [0, 1), 53 bits
    double uniform(double lo, double hi); // [lo, hi)
    int below(int n);                     // 0 .. n - 1
    double normal();                      // Box-Muller, one value per call

  private:
    std::array<std::uint64_t, 4> s_{};
};

enum class DrawnKind { frank, perfect, tetrahedron, vacancy, inclusion };
inline constexpr std::array<const char*, 5> kDrawnKindNames{"frank", "perfect", "tetrahedron",
                                                            "void", "inclusion"};

struct SizeLaw {
    enum Kind { fixed, uniform, lognormal } kind = fixed;
    double a = 40.0, b = 0.0; // fixed a; uniform a..b; log-normal median a, sigma b (of ln)
};

struct DrawSpec {
    double count = 0.0;   // defects, or (when density > 0) from the density
    double density = 0.0; // per cubic metre
    std::array<double, 5> fractions{1.0, 0.0, 0.0, 0.0, 0.0}; // by DrawnKind
    SizeLaw size; // a loop's or void's or inclusion's diameter, a tetrahedron's edge
    double depth_min = 0.0, depth_max = -1.0; // Angstrom; max < min: the whole foil
    double separation = 0.0;                  // between the spheres holding two defects, Angstrom
    std::uint64_t seed = 1;
    double tolerance = 1e-4; // written into the population file
    double misfit = 0.02;    // of the inclusions
    double poisson = 0.34;
};

struct DrawnDefect {
    int id = 0;
    DrawnKind kind = DrawnKind::frank;
    Vec3 centre{};               // sample frame, Angstrom
    double size = 0.0;           // as DrawSpec::size
    Vec3 burgers{};              // lattice units (0 for voids and inclusions; a tetrahedron: none)
    Vec3 normal{};               // crystal indices of the loop plane
    Vec3 polar{};                // an in-plane direction of a loop
    std::array<double, 4> box{}; // projected extent, image pixels: x from, x to, y from, y to
};

// Draws the population of `spec` in the field of `st` (size, n_xyz, v_g, co_x, foil, lat_c
// set). Stops when the count is beyond the population file's limit or the defects cannot be
// placed at the separation asked for.
std::vector<DrawnDefect> draw_population(const State& st, const DrawSpec& spec);

// The population file and the ground-truth table (CSV) of the drawn defects.
std::string population_text(const std::vector<DrawnDefect>& d, const DrawSpec& spec);
std::string ground_truth_csv(const State& st, const std::vector<DrawnDefect>& d);

} // namespace korvex
