"""KORVEX from Python: TEM diffraction-contrast images of crystal defects, computed in this
process, returned as NumPy arrays.

    import korvex
    r = korvex.simulate(crystal="Cu", voltage=200, g=(2, 0, 0), zone=(0, 0, 1), beams=(-1, 3),
                        condition=1.0, size=(256, 256), thickness=300,
                        defect=korvex.Edge(b="1/2[1 0 1]", line=(0, 1, 0), point=(128, 0, 150)),
                        engine="table", threads=2)
    bf = r.image(0)                 # (n_y, n_x) float64, bf[y-1, x-1]
    r.save_hdf5("edge.h5")          # nothing is written unless asked

    r = korvex.simulate("cu200_edge.in", "edge.ini")     # an input file and a defect file

A bad value raises korvex.Error with the program's message; Ctrl-C stops a run (KeyboardInterrupt).
"""
import os
import pathlib
import tempfile
from fractions import Fraction

# The threads spin briefly before they sleep, as in the korvex program (unless the user chose a
# wait policy): read by the OpenMP runtime when the compiled part is loaded.
if "OMP_WAIT_POLICY" not in os.environ and "GOMP_SPINCOUNT" not in os.environ:
    os.environ["GOMP_SPINCOUNT"] = "1000"

from . import _korvex  # noqa: E402
from ._korvex import Error  # noqa: E402

__version__ = _korvex.version()
__all__ = ["simulate", "Result", "Beam", "Error", "Edge", "Screw", "Void", "Inclusion",
           "Dissociated", "PolygonalLoop", "Tetrahedron", "Population", "DefectFile", "__version__"]


def _vector(v, what, n=3):
    values = [float(x) for x in v]
    if len(values) != n:
        raise ValueError(f"{what} needs {n} numbers, not {len(values)}: {v!r}")
    return " ".join(repr(x) for x in values)


def _burgers(b, what="b"):
    """A Burgers (or fault) vector as its five numbers m n i j k: from "1/2[1 0 1]", (1, 2, 1, 0, 1)
    or (Fraction(1, 2), (1, 0, 1))."""
    if isinstance(b, str):
        text = b.replace(" ", "")
        if "[" not in text or not text.endswith("]"):
            raise ValueError(f"{what} must read like 1/2[1 0 1], not {b!r}")
        scale, indices = b.split("[", 1)
        f = Fraction(scale.strip() or "1")
        ijk = indices.rstrip("] ").replace(",", " ").split()
        return f"{f.numerator} {f.denominator} {_vector(ijk, what)}"
    b = tuple(b)
    if len(b) == 2:
        f = Fraction(b[0])
        return f"{f.numerator} {f.denominator} {_vector(b[1], what)}"
    if len(b) == 5:
        return " ".join(str(x) for x in b)
    raise ValueError(f"{what} must be \"m/n[i j k]\", (m, n, i, j, k) or (fraction, (i, j, k))")


class Defect:
    """A defect given by keywords: `kind` is the defect word of the input file, `text()` the
    records of its configuration file."""
    kind = ""

    def text(self):
        raise NotImplementedError


class Edge(Defect):
    """Edge dislocation: Burgers vector b, a point of the line (x, y, depth in A), line direction."""
    kind = "edge"

    def __init__(self, b, line, point, poisson=0.34, r0=1.0, relaxation=0, elasticity=None):
        self.b, self.line, self.point = b, line, point
        self.poisson, self.r0, self.relaxation, self.elasticity = poisson, r0, relaxation, elasticity

    def text(self):
        t = (f"{{edge}}\n===\n{_burgers(self.b)}\n{_vector(self.point, 'point')}\n"
             f"{_vector(self.line, 'line')}\n{self.poisson!r}\n{self.r0!r}\n{int(self.relaxation)}\n")
        return t + (f"{self.elasticity}\n" if self.elasticity else "")


class Screw(Defect):
    """Screw dislocation: b, a point of the line, the normal of the cut plane."""
    kind = "screw"

    def __init__(self, b, point, cut_plane, relaxation=0, elasticity=None):
        self.b, self.point, self.cut_plane = b, point, cut_plane
        self.relaxation, self.elasticity = relaxation, elasticity

    def text(self):
        t = (f"{{screw}}\n===\n{_burgers(self.b)}\n{_vector(self.point, 'point')}\n"
             f"{_vector(self.cut_plane, 'cut_plane')}\n{int(self.relaxation)}\n")
        return t + (f"{self.elasticity}\n" if self.elasticity else "")


class Void(Defect):
    """Spherical void of `radius` A centred at (x, y, depth)."""
    kind = "void"

    def __init__(self, radius, centre):
        self.radius, self.centre = radius, centre

    def text(self):
        return f"{{void}}\n===\n{float(self.radius)!r}\n{_vector(self.centre, 'centre')}\n"


class Inclusion(Defect):
    """Coherent spherical inclusion: radius, centre, linear misfit, Poisson's ratio."""
    kind = "inclusion"

    def __init__(self, radius, centre, misfit, poisson=0.34):
        self.radius, self.centre, self.misfit, self.poisson = radius, centre, misfit, poisson

    def text(self):
        return (f"{{inclusion}}\n===\n{float(self.radius)!r}\n{_vector(self.centre, 'centre')}\n"
                f"{float(self.misfit)!r}\n{float(self.poisson)!r}\n")


class Dissociated(Defect):
    """Dissociated dislocation: total b, line, midpoint, glide-plane normal, separation (A);
    `partial` "fcc" (Shockley partials) or the leading partial as a Burgers vector."""
    kind = "dissociated"

    def __init__(self, b, line, point, normal, separation, poisson=0.34, r0=1.0, partial="fcc"):
        self.b, self.line, self.point, self.normal = b, line, point, normal
        self.separation, self.poisson, self.r0, self.partial = separation, poisson, r0, partial

    def text(self):
        partial = "fcc" if self.partial == "fcc" else _burgers(self.partial, "partial")
        return (f"{{dissociated}}\n===\n{_burgers(self.b)}\n{_vector(self.line, 'line')}\n"
                f"{_vector(self.point, 'point')}\n{_vector(self.normal, 'normal')}\n"
                f"{float(self.separation)!r}\n{float(self.poisson)!r}\n{float(self.r0)!r}\n"
                f"{partial}\n")


class PolygonalLoop(Defect):
    """Polygonal loop: style ("perfect", "pureSF", "faulted"), b, fault vector, radius of the
    circle through the vertices, centre, habit plane, in-plane pole, number of edges."""
    kind = "pg_loop"

    def __init__(self, b, radius, centre, plane, pole, edges=12, style="faulted", fault=None,
                 poisson=0.34, r0=1.0):
        self.b, self.radius, self.centre, self.plane, self.pole = b, radius, centre, plane, pole
        self.edges, self.style, self.fault = edges, style, fault if fault is not None else b
        self.poisson, self.r0 = poisson, r0

    def text(self):
        return (f"{{pg_loop}}\n===\n{self.style}\n{_burgers(self.b)}\n"
                f"{_burgers(self.fault, 'fault')}\n{float(self.radius)!r}\n"
                f"{_vector(self.centre, 'centre')}\n{_vector(self.plane, 'plane')}\n"
                f"{_vector(self.pole, 'pole')}\n{int(self.edges)}\n{float(self.poisson)!r}\n"
                f"{float(self.r0)!r}\n")


class Tetrahedron(Defect):
    """Stacking-fault tetrahedron: faces ("perfect", "pureSF", "faulted"), centroid, edge (A)."""
    kind = "tetrahedron"

    def __init__(self, centroid, edge, faces="faulted", poisson=0.34, r0=1.0):
        self.centroid, self.edge, self.faces, self.poisson, self.r0 = centroid, edge, faces, poisson, r0

    def text(self):
        return (f"{{tetrahedron}}\n===\n{self.faces}\n{_vector(self.centroid, 'centroid')}\n"
                f"{float(self.edge)!r}\n{float(self.poisson)!r}\n{float(self.r0)!r}\n")


class DefectFile(Defect):
    """Any defect from its configuration file: kind is the input file's defect word ("edge",
    "loop", "3D-strain", ...). The circular loop always reads loop.ini in the working folder."""

    def __init__(self, kind, path=""):
        self.kind, self.path = kind, str(path)


class Population(Defect):
    """Many defects in one foil: `entries` are keyword defects (Edge, Tetrahedron, Void, ...)
    or DefectFile(kind, path) entries, imaged together with their strain terms added;
    `tolerance` is the strain term (1/A) below which a bounded defect's field is left out.
    Written as a population file and read with that file's checks: a bad value names its entry.

        pop = korvex.Population([korvex.Tetrahedron((60, 60, 150), 40),
                                 korvex.Void(12, (180, 190, 100)),
                                 korvex.DefectFile("pg_loop", "frank.ini")])
    """
    kind = "population"

    def __init__(self, entries, tolerance=1e-4):
        self.entries, self.tolerance = list(entries), tolerance

    def text(self):
        if not self.entries:
            raise ValueError("a population needs one entry or more")
        lines = ["{population}", "===", repr(float(self.tolerance))]
        for k, e in enumerate(self.entries, 1):
            if isinstance(e, Population):
                raise TypeError(f"entry {k}: a population cannot hold a population")
            if isinstance(e, DefectFile):
                path = os.path.abspath(e.path) if e.path else ""
                if not path or len(path.split()) != 1 or path != path.strip():
                    raise ValueError(f"entry {k}: a DefectFile in a population needs a path "
                                     f"without spaces, not {e.path!r}")
                lines.append(f"defect {e.kind} {path}")
            elif isinstance(e, Defect):
                lines.append(f"defect {e.kind}")
                lines += e.text().rstrip("\n").split("\n")[2:]
            else:
                raise TypeError(f"entry {k} must be a korvex.Edge, Void, ..., DefectFile, not {e!r}")
        return "\n".join(lines) + "\n"


class Beam:
    """One beam of a condition: its order (a multiple of g), its image (n_y, n_x) and s_g."""

    def __init__(self, signal, s_g):
        self.order = signal["beam_order"]
        self.label = signal["name"]
        self.image = signal["values"]
        self.s_g = s_g  # 1/Angstrom
        y, x = signal["axes"][0][2], signal["axes"][1][2]
        self.pixel_size_nm = (float(y[1] - y[0]) if len(y) > 1 else 2 * float(y[0]),
                              float(x[1] - x[0]) if len(x) > 1 else 2 * float(x[0]))
        self.axes = {a[0]: a[2] for a in signal["axes"]}  # column centres, nm

    def __repr__(self):
        return f"<Beam {self.label}: {self.image.shape[1]} x {self.image.shape[0]}, s_g={self.s_g:.3g}/A>"


class Condition:
    """What one condition (g, ng) gave: beams (jobs 1 and 3), middle-slice maps, fringes (job 2),
    layer images (job 3); with a probe, the detectors' images (by name) instead of the beams."""

    def __init__(self, c):
        self.n = c["condition_n"]
        self.output_name = c["output_name"]
        self.engine, self.seconds = c["engine"], c["seconds"]
        s_g = dict(zip(c["beam_orders"], c["s_g"]))
        self.s_g = s_g
        scanned = [s for s in c["images"] if s["quantity"] == "detector intensity"]
        self.beams = [Beam(s, s_g[s["beam_order"]]) for s in c["images"] if s not in scanned]
        self.detectors = {s["name"]: s["values"] for s in scanned}  # "bf", "adf", "adf2", ...
        self.maps = {s["beam_order"]: s["values"] for s in c["maps"]}
        self.fringes = {s["beam_order"]: s["values"] for s in c["fringes"]}
        self.fringe_depths_nm = c["fringes"][0]["axes"][1][2] if c["fringes"] else None
        self.layers = c["layers"][0]["values"] if c["layers"] else None
        self.layer_depths_nm = c["layers"][0]["axes"][0][2] if c["layers"] else None


class Result:
    """The results of one run: `conditions` (one, or the twelve of a series), `beams` of the
    first, `parameters` and `optics` as dicts; `save_hdf5(path)`, `save_tiff(folder)`."""

    def __init__(self, run):
        self._run = run
        d = run.to_dict()
        self.parameters, self.optics = d["parameters"], d["optics"]
        self.defect_configuration = d["defect_configuration"]
        self.version, self.engine, self.seconds = d["program_version"], d["engine"], d["seconds"]
        self.conditions = [Condition(c) for c in d["conditions"]]
        self.beams = self.conditions[0].beams if self.conditions else []
        self.detectors = self.conditions[0].detectors if self.conditions else {}

    def image(self, order, condition=0):
        """The image of the beam of this order (0 the bright field) of a condition."""
        for b in self.conditions[condition].beams:
            if b.order == order:
                return b.image
        raise KeyError(f"no image of the beam {order}g")

    def save_hdf5(self, path):
        """Every result in one HDF5 file (the layout of korvex --hdf5), written whole or not at all."""
        self._run.save_hdf5(os.fspath(path))

    def save_tiff(self, folder):
        """The 32-bit float TIFF of every image, named as the run's text files would be."""
        os.makedirs(folder, exist_ok=True)
        self._run.save_tiff(os.fspath(folder))

    def __repr__(self):
        return (f"<korvex.Result: {len(self.conditions)} condition(s), beams "
                f"{[b.label for b in self.beams]}, engine {self.engine}>")


_INPUT = """Specimen label (korvex.simulate label=)
{label}
Crystal (crystal=)
{crystal}
Job (job=)
{job}
Column approximation (column_approximation=)
{ca}
Accelerating voltage in kV (voltage=)
{voltage!r}
Defect (defect=)
{defect}
Image width along x in Angstrom (size=)
{sx!r}
Image width along y in Angstrom (size=)
{sy!r}
Foil thickness in Angstrom (thickness=)
{thickness!r}
Zone axis (zone=)
{zone}
Diffraction vector (g=)
{g}
First and last beam of the systematic row (beams=)
{first} {last}
Diffraction condition n of (g,ng) (condition=)
{condition!r}
Absorption (absorption=)
{absorption}
"""


def simulate(input_file=None, defect_file=None, *, crystal="Cu", voltage=200, g=(2, 0, 0),
             zone=(0, 0, 1), beams=(-1, 3), condition=1.0, size=(64, 64), thickness=100,
             defect=None, job=1, column_approximation="no", absorption=True, label="python",
             name="korvex", engine="exact", absorption_model="first-order", threads=None,
             verbose=False, pixel_size=None, slice_thickness=None, detector=None,
             convergence=None, directions=None, field_tolerance=None):
    """Runs KORVEX in this process and returns a Result; writes no file.

    Either an input parameter file (and a defect configuration file), read as `korvex -t`
    reads them, or the parameters as keywords: size = (x, y) and thickness in Angstrom (about
    one column per Angstrom), beams = (first, last) multiples of g, condition = n of (g, ng)
    (999: the series of twelve), defect = a korvex.Edge, Screw, Void, ..., a Population of
    them or a DefectFile.
    engine "exact" or "table"; absorption_model "first-order" or "exact"; threads: OpenMP
    threads of the run (default: as the environment says).
    A scanning (convergent-probe) run: detector = "bf:B" or "adf:B1:B2" (mrad), or a list of
    them, convergence = the probe's semi-angle (mrad), directions = incident directions across
    the disc; the result's `detectors` then hold one image per detector.
    field_tolerance: loops, tetrahedra and edge dislocations sampled at every few columns where
    the error of a strain term stays within it (1/Angstrom; 0: every column; default: every
    column for a defect alone, a tenth of the population's tolerance for a population).
    """
    threads = int(threads or 0)
    illumination = []
    for d in [detector] if isinstance(detector, str) else list(detector or []):
        illumination.append(f"--detector={d}")
    if convergence is not None:
        illumination.append(f"--convergence={float(convergence)!r}")
    if directions is not None:
        illumination.append(f"--directions={directions}")
    slicing = slice_thickness if isinstance(slice_thickness, str) else ""
    options = dict(engine=engine, absorption=absorption_model, threads=threads, verbose=verbose,
                   pixel_size=float(pixel_size or 0.0),
                   slice_thickness=0.0 if slicing else float(slice_thickness or 0.0),
                   illumination=illumination, slicing=slicing,
                   field_tolerance=-1.0 if field_tolerance is None else float(field_tolerance))
    if input_file is not None:
        return Result(_korvex.run(os.fspath(input_file), None,
                                  os.fspath(defect_file) if defect_file else "", **options))
    kind, path, text = "no", "", None
    if isinstance(defect, DefectFile):
        kind, path = defect.kind, defect.path
    elif isinstance(defect, Defect):
        kind, text = defect.kind, defect.text()
    elif isinstance(defect, str):
        kind, path = defect, os.fspath(defect_file) if defect_file else ""
    elif defect is not None:
        raise TypeError(f"defect must be a korvex.Edge, Screw, ..., DefectFile or a defect word, not {defect!r}")
    sx, sy = (float(v) for v in size)
    first, last = (int(v) for v in beams)
    record = _INPUT.format(label=label, crystal=crystal, job=int(job), ca=column_approximation,
                           voltage=float(voltage), defect=kind, sx=sx, sy=sy,
                           thickness=float(thickness), zone=_vector(zone, "zone"),
                           g=_vector(g, "g"), first=first, last=last, condition=float(condition),
                           absorption=1 if absorption else 0)
    if text is None:
        return Result(_korvex.run(name, record, path, **options))
    # A defect given by keywords is read as the program reads its file, at every slice, from a
    # private folder that goes with the run.
    with tempfile.TemporaryDirectory(prefix="korvex-") as folder:
        defect_path = pathlib.Path(folder) / f"{kind}.ini"
        defect_path.write_text(text)
        return Result(_korvex.run(name, record, str(defect_path), **options))
