// korvex_population: draws a random population of defects in the field of a run and writes its
// population file and ground-truth table. See docs/populations.md.
#include "driver/population_draw.hpp"
#include "optics/geometry.hpp"
#include "state/input.hpp"
#include "state/textout.hpp"
#include "tool_args.hpp"
#include "tool_main.hpp"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace korvex;

namespace {

constexpr const char* kUsage =
    R"(Usage: korvex_population --input FILE (--count N | --density D) [options] BASE

Writes BASE.ini, a population file for the defect "population", and BASE.csv, its ground truth
(one line per defect: id, kind, centre x y z, size, Burgers vector b1 b2 b3 and plane normal
n1 n2 n3 of a loop, depth, projected extent in image pixels, g.b of a loop).

  --input FILE        the run's input parameter file, read as "korvex -t FILE" reads it
                      (through filesystem.ini of the working directory): field, foil, g, grid
  --count N           this many defects
  --density D         or so many per cubic metre of the depth range
  --kinds F F F F F   fractions of Frank loops (b = 1/3<111>, on the four {111}), perfect
                      prismatic loops (b = 1/2<110>), stacking-fault tetrahedra, voids and
                      coherent inclusions (default 1 0 0 0 0)
  --size fixed S | uniform A B | lognormal M SIGMA
                      size in Angstrom: a loop's, void's or inclusion's diameter, a
                      tetrahedron's edge; log-normal of median M, SIGMA of its logarithm
                      (default fixed 40)
  --depth Z1 Z2       depth range of the centres, Angstrom (default the whole foil)
  --separation D      least distance between the spheres holding two defects (default 0)
  --seed N            seed of the draws (default 1): the same seed, the same files on every
                      machine
  --tolerance T       tolerance on a defect's strain term written into the file (default 1e-4)
  --misfit M          linear misfit of the inclusions (default 0.02)
  --poisson NU        Poisson's ratio of every defect (default 0.34)
  -h, --help          this text

Example: 200 loops and tetrahedra of 20 to 60 Angstrom in the field of cu.in:
  korvex_population --input cu.in --count 200 --kinds 0.5 0 0.5 0 0 --size uniform 20 60 pop
)";

struct Options {
    std::string input, base;
    DrawSpec spec;
};

Options parse(int argc, char** argv) {
    tools::ToolArgs args("korvex_population", argc, argv);
    Options o;
    std::vector<std::string> free;
    bool counted = false;
    for (std::string opt; args.next(opt);) {
        if (opt == "-h" || opt == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else if (opt == "--input") {
            o.input = args.take(opt, 1)[0];
        } else if (opt == "--count") {
            o.spec.count = args.whole(opt, args.take(opt, 1)[0]);
            counted = true;
        } else if (opt == "--density") {
            o.spec.density = args.number(opt, args.take(opt, 1)[0]);
            if (!(o.spec.density > 0.0)) args.fail("--density must be positive");
            counted = true;
        } else if (opt == "--kinds") {
            const auto v = args.take(opt, 5);
            for (std::size_t k = 0; k < 5; ++k) {
                o.spec.fractions[k] = args.number(opt, v[k]);
                if (!(o.spec.fractions[k] >= 0.0)) args.fail("--kinds takes fractions >= 0");
            }
        } else if (opt == "--size") {
            const std::string law = args.take(opt, 1)[0];
            SizeLaw& s = o.spec.size;
            if (law == "fixed") {
                s = {SizeLaw::fixed, args.number(opt, args.take(opt, 1)[0]), 0.0};
            } else if (law == "uniform" || law == "lognormal") {
                const auto v = args.take(opt, 2);
                s = {law == "uniform" ? SizeLaw::uniform : SizeLaw::lognormal,
                     args.number(opt, v[0]), args.number(opt, v[1])};
            } else {
                args.fail("--size is fixed S, uniform A B or lognormal M SIGMA");
            }
            if (!(s.a > 0.0) || !(s.b >= 0.0) || (s.kind == SizeLaw::uniform && !(s.b >= s.a)))
                args.fail("--size: sizes positive, A <= B, SIGMA >= 0");
        } else if (opt == "--depth") {
            const auto v = args.take(opt, 2);
            o.spec.depth_min = args.number(opt, v[0]);
            o.spec.depth_max = args.number(opt, v[1]);
            if (!(o.spec.depth_max > o.spec.depth_min)) args.fail("--depth Z1 Z2 with Z1 < Z2");
        } else if (opt == "--separation") {
            o.spec.separation = args.number(opt, args.take(opt, 1)[0]);
            if (!(o.spec.separation >= 0.0)) args.fail("--separation must be >= 0");
        } else if (opt == "--seed") {
            const int seed = args.whole(opt, args.take(opt, 1)[0]);
            if (seed < 0) args.fail("--seed must be >= 0");
            o.spec.seed = static_cast<std::uint64_t>(seed);
        } else if (opt == "--tolerance") {
            o.spec.tolerance = args.number(opt, args.take(opt, 1)[0]);
            if (!(o.spec.tolerance >= 0.0 && o.spec.tolerance <= 1.0))
                args.fail("--tolerance lies between 0 and 1");
        } else if (opt == "--misfit") {
            o.spec.misfit = args.number(opt, args.take(opt, 1)[0]);
            if (!(std::abs(o.spec.misfit) < 1.0)) args.fail("--misfit lies between -1 and 1");
        } else if (opt == "--poisson") {
            o.spec.poisson = args.number(opt, args.take(opt, 1)[0]);
            if (!(o.spec.poisson > -1.0 && o.spec.poisson < 0.5))
                args.fail("--poisson lies between -1 and 0.5");
        } else if (opt.size() > 1 && opt[0] == '-') {
            args.fail("unknown option " + opt);
        } else {
            free.push_back(opt);
        }
    }
    if (free.size() != 1) args.fail("give the BASE name of the files");
    if (o.input.empty()) args.fail("the field is missing: give --input");
    if (!counted) args.fail("give --count N or --density D");
    o.base = free[0];
    return o;
}

} // namespace

int main(int argc, char** argv) {
    return tools::run_tool([&] {
        const Options o = parse(argc, argv);
        State st;
        read_system_parameters(st, o.input, false);
        cal_sample(st.input(), st.grid());
        const std::vector<DrawnDefect> d = draw_population(st, o.spec);
        // Both files complete, or neither.
        auto ini = written_text_file(o.base + ".ini", {population_text(d, o.spec)});
        auto csv = written_text_file(o.base + ".csv", {ground_truth_csv(st, d)});
        ini->commit();
        csv->commit();
        std::cout << " Wrote " << o.base << ".ini and " << o.base << ".csv: " << d.size()
                  << " defects\n";
        return 0;
    });
}
