// korvex_gradients: writes the displacement-gradient files (".dX", ".dY", ".dZ") of an
// analytic field on the grid of a KORVEX run, in the layout the "3D-strain" defect model reads.
// Used to check a strain-field pipeline against the analytic models and to make test inputs of
// any size. See docs/strain_fields.md.
#include "driver/defect_files.hpp"
#include "driver/gradient_files.hpp"
#include "optics/crystal.hpp"
#include "state/error.hpp"
#include "state/reader.hpp"
#include "tool_args.hpp"
#include "tool_main.hpp"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace korvex;

namespace {

constexpr const char* kUsage = R"(Usage: korvex_gradients [options] BASE

Writes BASE.dX, BASE.dY and BASE.dZ: the displacement gradients of an analytic field at the
cell centres of a KORVEX grid, in the layout the "3D-strain" defect model reads. The depth
derivative is written negated (-dR/dz), as that model expects, so the files give the image
of the same field in the analytic model.

Grid and crystal:
  --input FILE          take the foil size, zone axis and g from a KORVEX input parameter
                        file (the path as given; the grid is the program's: cells = nearest
                        integers of size_x, size_y, size_z)
  --size X Y Z          block size along x, y, z in Angstrom
  --cells NX NY NZ      cells along x, y, z (default: nearest integers of the sizes)
  --zone U V W          zone axis = sample z (default 0 0 1)
  --g H K L             diffraction vector = sample x (default 1 0 0)
  --lattice A           lattice constant in Angstrom (edge field; Cu 3.61, Fe 2.8664, ...)
  Options given after --input override its values.

Field:
  --field edge|zero     edge dislocation (default) or no displacement
  --edge FILE           the edge dislocation of an edge configuration file (records 3-7)
  --burgers M N I J K   Burgers vector (M/N)[I J K]
  --point X Y Z         a point on the line, sample frame from the block corner, Angstrom
  --line I J K          line direction, crystal indices
  --nu V                Poisson's ratio
  --r0 R                core radius added to the distance from the line, Angstrom (> 0)
  --elasticity E        isotropic (default) or anisotropic: the sextic solution with the
                        elastic constants of the crystal (the core damped by r^2/(r + r0)^2)
  --crystal XX          crystal of the elastic constants (Ag, Al, Au, Cu, Fe, Mo, Si); taken
                        from --input when not given
  Options given after --edge override its values (its last record may set the elasticity).

Output:
  --format F            text (default), binary32 or binary64 (32- or 64-bit floats after
                        a self-describing header; the "3D-strain" model reads either)
  --digits N            text: significant digits of the values (default: as many as are
                        needed for the files to read back exactly)
  The memory and disk space the files need are checked before anything is written. Binary
  files are written and read about 9 times faster than text.
  -h, --help            this text

Example (the edge dislocation of edge.ini on the grid of cu.inp):
  korvex_gradients --input cu.inp --lattice 3.61 --edge edge.ini box
)";

struct Options {
    GradientBox box;
    bool have_size = false, have_cells = false, have_lattice = false;
    std::string field = "edge";
    EdgeDislocation edge;
    bool have_b = false, have_point = false, have_line = false, have_nu = false, have_r0 = false;
    GradientOutput out;
    std::string base;
    std::string crystal; // symbol of the elastic constants
};

// Foil size, zone axis and diffraction vector from the 28-record input parameter file (a
// label record before every value; the values not needed here are read as text).
void read_input_file(const std::string& path, Options& o) {
    RecordReader r(path);
    std::string text;
    auto value = [&r](auto& v) {
        r.skip(1); // the label record
        r.read(v);
    };
    value(text); // specimen label
    value(o.crystal);
    for (int k = 0; k < 4; ++k) value(text); // the four values up to the defect
    double sx = 0, sy = 0, sz = 0;
    value(sx);
    value(sy);
    value(sz);
    value(o.box.foil);
    value(o.box.v_g);
    o.box.size = {sx, sy, sz};
    o.have_size = true;
    o.have_cells = false; // the program's grid follows the sizes
}

Options parse(int argc, char** argv) {
    Options o;
    tools::ToolArgs args("korvex_gradients", argc, argv);
    std::string opt;
    while (args.next(opt)) {
        if (opt == "-h" || opt == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else if (opt == "--input") {
            read_input_file(args.take(opt, 1)[0], o);
        } else if (opt == "--size") {
            o.box.size = args.vec3(opt);
            o.have_size = true;
        } else if (opt == "--cells") {
            const auto v = args.take(opt, 3);
            o.box.cells = {args.whole(opt, v[0]), args.whole(opt, v[1]), args.whole(opt, v[2])};
            o.have_cells = true;
        } else if (opt == "--zone") {
            o.box.foil = args.vec3(opt);
        } else if (opt == "--g") {
            o.box.v_g = args.vec3(opt);
        } else if (opt == "--lattice") {
            o.box.lat_c = args.number(opt, args.take(opt, 1)[0]);
            o.have_lattice = true;
        } else if (opt == "--field") {
            o.field = args.take(opt, 1)[0];
            if (o.field != "edge" && o.field != "zero")
                args.fail("--field is \"edge\" or \"zero\", not \"" + o.field + "\"");
        } else if (opt == "--edge") {
            o.edge = read_edge_configuration(args.take(opt, 1)[0]);
            o.have_b = o.have_point = o.have_line = o.have_nu = o.have_r0 = true;
        } else if (opt == "--burgers") {
            const auto v = args.take(opt, 5);
            o.edge.b_m = args.number(opt, v[0]);
            o.edge.b_n = args.number(opt, v[1]);
            o.edge.b_dir = {args.number(opt, v[2]), args.number(opt, v[3]), args.number(opt, v[4])};
            o.have_b = true;
        } else if (opt == "--point") {
            o.edge.point = args.vec3(opt);
            o.have_point = true;
        } else if (opt == "--line") {
            o.edge.line = args.vec3(opt);
            o.have_line = true;
        } else if (opt == "--nu") {
            o.edge.nu = args.number(opt, args.take(opt, 1)[0]);
            o.have_nu = true;
        } else if (opt == "--r0") {
            o.edge.r0 = args.number(opt, args.take(opt, 1)[0]);
            o.have_r0 = true;
        } else if (opt == "--elasticity") {
            const std::string e = args.take(opt, 1)[0];
            if (e != "isotropic" && e != "anisotropic")
                args.fail("--elasticity is \"isotropic\" or \"anisotropic\", not \"" + e + "\"");
            o.edge.elasticity =
                e == "anisotropic" ? Elasticity::anisotropic : Elasticity::isotropic;
        } else if (opt == "--crystal") {
            o.crystal = args.take(opt, 1)[0];
        } else if (opt == "--format") {
            const std::string f = args.take(opt, 1)[0];
            if (f == "text")
                o.out.format = GradientFormat::text;
            else if (f == "binary32")
                o.out.format = GradientFormat::binary32;
            else if (f == "binary64")
                o.out.format = GradientFormat::binary64;
            else
                args.fail("--format is text, binary32 or binary64, not \"" + f + "\"");
        } else if (opt == "--digits") {
            o.out.digits = args.whole(opt, args.take(opt, 1)[0]);
            if (o.out.digits < 1 || o.out.digits > 17) args.fail("--digits is between 1 and 17");
        } else if (!opt.empty() && opt[0] == '-') {
            args.fail("unknown option \"" + opt + "\"");
        } else if (o.base.empty()) {
            o.base = opt;
        } else {
            args.fail("only one BASE name is given, found also \"" + opt + "\"");
        }
    }
    if (o.base.empty()) args.fail("the BASE name of the files is missing");
    if (!o.have_size) args.fail("the grid is missing: give --input or --size");
    if (!o.have_cells)
        for (std::size_t k = 0; k < 3; ++k) o.box.cells[k] = nint(o.box.size[k]);
    for (std::size_t k = 0; k < 3; ++k)
        if (o.box.cells[k] < 1 || !(o.box.size[k] > 0.0))
            args.fail("every size must be positive with at least one cell");
    if (magnitude(cross_product(o.box.foil, o.box.v_g)) == 0.0)
        args.fail("the zone axis and g must not be parallel (nor zero)");
    if (o.field == "edge") {
        std::string missing;
        if (!o.have_lattice) missing += " --lattice";
        if (!o.have_b) missing += " --burgers";
        if (!o.have_point) missing += " --point";
        if (!o.have_line) missing += " --line";
        if (!o.have_nu) missing += " --nu";
        if (!o.have_r0) missing += " --r0";
        if (!missing.empty()) args.fail("the edge field needs" + missing + " (or --edge FILE)");
        if (o.edge.elasticity == Elasticity::anisotropic) {
            if (o.crystal.empty()) args.fail("the anisotropic field needs --crystal (or --input)");
            o.edge.constants = elastic_constants(o.crystal);
        }
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    return tools::run_tool([&] {
        const Options o = parse(argc, argv);
        GradientFn field = zero_gradient;
        if (o.field == "edge") field = EdgeGradient(o.edge, o.box);
        const auto t0 = std::chrono::steady_clock::now();
        write_gradient_files(o.base, o.box, field, o.out);
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::cout << " Wrote " << o.base << ".dX, .dY, .dZ: " << o.field << " field, "
                  << o.box.cells[0] << " x " << o.box.cells[1] << " x " << o.box.cells[2]
                  << " cells of " << o.box.unit(0) << " x " << o.box.unit(1) << " x "
                  << o.box.unit(2) << " Angstrom (" << secs << " s)\n";
        return 0;
    });
}
