// korvex_atoms: the displacement-gradient files (".dX", ".dY", ".dZ") of a run's grid from an
// atomistic snapshot and its reference. See docs/strain_fields.md.
#include "driver/snapshot_gradients.hpp"
#include "optics/geometry.hpp"
#include "state/error.hpp"
#include "state/input.hpp"
#include "state/reader.hpp"
#include "tool_args.hpp"
#include "tool_main.hpp"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace korvex;

namespace {

constexpr const char* kUsage =
    R"(Usage: korvex_atoms --input FILE (--reference REF | --lattice S A) [options]
                    SNAPSHOT BASE

Writes BASE.dX, BASE.dY and BASE.dZ, the displacement gradients the "3D-strain" defect model
reads, from the atom positions of SNAPSHOT against a reference, on the grid of a run.

Snapshots: LAMMPS text dumps (columns in any order: id and x y z, xu yu zu, or scaled xs ys zs;
orthogonal or triclinic boxes) and extended XYZ files (Lattice= required, pos, optional id).
Only the first frame of a file is read.

  --input FILE          the run's input parameter file, read as "korvex -t FILE" reads it
                        (through filesystem.ini of the working directory): grid, zone, g
  --reference REF       the reference snapshot: the same atom ids (e.g. the initial state;
                        with atoms deleted, dumped after "delete_atoms ... compress no")
  --lattice S A         or a perfect lattice: S = fcc, bcc or sc, A = lattice constant in
                        Angstrom; each atom's reference is its nearest site (right only while
                        atoms stay within half a nearest-neighbour distance of their sites)
  --lattice-origin X Y Z  a site of that lattice, snapshot frame (default 0 0 0)
  --x I J K, --y I J K, --z I J K
                        crystal directions of the snapshot's x, y, z axes (default [100],
                        [010], [001]); perpendicular and right-handed
  --centre X Y Z        where the centre of the snapshot's box lies in the foil: sample frame
                        (x along g, y along zone x g, z the depth), Angstrom (default: the
                        centre of the grid)
  --partial             accept a box that does not cover the grid (cells no atom reaches
                        get zero gradients; their number is reported)
  --width H             kernel width in Angstrom (default: the nearest-neighbour distance of
                        --lattice, else 1.1 (volume per atom)^(1/3))
  --format F            text (default), binary32 or binary64; binary files are written and
                        read about 9 times faster (binary64 gives the same images as text)
  --digits N            text: significant digits (default: enough to read back exactly)
  --quiet               no progress lines
  -h, --help            this text

Example (a snapshot of a dislocation against the perfect crystal it was made from):
  korvex_atoms --input cu.inp --reference perfect.dump --x 1 1 0 --y -1 1 0 --z 0 0 1 \
               dislocated.dump box
)";

struct Options {
    SnapshotConversion c;
    std::string input, base;
    bool quiet = false;
};

Options parse(int argc, char** argv) {
    Options o;
    tools::ToolArgs args("korvex_atoms", argc, argv);
    std::vector<std::string> free;
    std::string opt;
    while (args.next(opt)) {
        if (opt == "-h" || opt == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else if (opt == "--input") {
            o.input = args.take(opt, 1)[0];
        } else if (opt == "--reference") {
            o.c.reference = args.take(opt, 1)[0];
        } else if (opt == "--lattice") {
            const auto v = args.take(opt, 2);
            if (v[0] == "fcc")
                o.c.lattice = Structure::fcc;
            else if (v[0] == "bcc")
                o.c.lattice = Structure::bcc;
            else if (v[0] == "sc")
                o.c.lattice = Structure::sc;
            else
                args.fail("--lattice is fcc, bcc or sc, not \"" + v[0] + "\"");
            o.c.lattice_a = args.number(opt, v[1]);
            if (!(o.c.lattice_a > 0.0)) args.fail("the lattice constant must be positive");
        } else if (opt == "--lattice-origin") {
            o.c.lattice_origin = args.vec3(opt);
        } else if (opt == "--x" || opt == "--y" || opt == "--z") {
            o.c.axes[static_cast<std::size_t>(opt[2] - 'x')] = args.vec3(opt);
        } else if (opt == "--centre") {
            o.c.centre = args.vec3(opt);
        } else if (opt == "--partial") {
            o.c.partial = true;
        } else if (opt == "--width") {
            o.c.width = args.number(opt, args.take(opt, 1)[0]);
            if (!(o.c.width > 0.0)) args.fail("--width must be positive");
        } else if (opt == "--format") {
            const std::string f = args.take(opt, 1)[0];
            if (f == "text")
                o.c.output.format = GradientFormat::text;
            else if (f == "binary32")
                o.c.output.format = GradientFormat::binary32;
            else if (f == "binary64")
                o.c.output.format = GradientFormat::binary64;
            else
                args.fail("--format is text, binary32 or binary64, not \"" + f + "\"");
        } else if (opt == "--digits") {
            const auto d = parse_fortran_int(args.take(opt, 1)[0]);
            if (!d || *d < 1 || *d > 17) args.fail("--digits is between 1 and 17");
            o.c.output.digits = *d;
        } else if (opt == "--quiet") {
            o.quiet = true;
        } else if (!opt.empty() && opt[0] == '-') {
            args.fail("unknown option \"" + opt + "\"");
        } else {
            free.push_back(opt);
        }
    }
    if (free.size() != 2) args.fail("give the SNAPSHOT and the BASE name of the files");
    o.c.snapshot = free[0];
    o.base = free[1];
    if (o.input.empty()) args.fail("the grid is missing: give --input");
    if (o.c.reference.empty() == !o.c.lattice)
        args.fail("give one reference: --reference REF or --lattice S A");
    return o;
}

} // namespace

int main(int argc, char** argv) {
    return tools::run_tool([&] {
        Options o = parse(argc, argv);
        State st;
        // The grid and the crystal only: none of a run's arrays is made.
        read_system_parameters(st, o.input, false);
        cal_sample(st.input(), st.grid());
        const GradientBox box{st.size, st.n_xyz, st.foil, st.v_g, 0.0};
        if (!o.quiet) o.c.progress = &std::cout;
        o.c.warn = [](const std::string& w) {
            std::cout << " * WARNING..........\n > " << w << std::endl;
        };
        const ConversionSummary s = convert_snapshot(o.c, box, o.base);
        std::cout << " Wrote " << o.base << ".dX, .dY, .dZ from " << s.atoms
                  << " atoms: " << box.cells[0] << " x " << box.cells[1] << " x " << box.cells[2]
                  << " cells, kernel width " << s.width << " Angstrom, " << s.empty_cells << " of "
                  << s.cells << " cells empty";
        if (s.unfit_cells > 0) std::cout << " and " << s.unfit_cells << " too sparse for a slope";
        std::cout << " (zero gradients), largest displacement " << s.max_displacement
                  << " Angstrom\n Read and averaged in " << s.read_seconds
                  << " s, gradients written in " << s.write_seconds << " s\n";
        if (s.most_waiting > 0)
            std::cout << " The two snapshots list their atoms in different orders: up to "
                      << s.most_waiting << " atoms were held waiting for their partner\n";
        return 0;
    });
}
