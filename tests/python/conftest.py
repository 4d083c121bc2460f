"""What the Python tests share: the program, the source tree, runs in scratch folders."""
import os
import pathlib
import shutil
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("KORVEX_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
BINARY = os.environ.get("KORVEX_BINARY", str(SOURCE / "build" / "app" / "korvex"))

# A small Cu (2 0 0) input: job, size (x y thickness), beams, condition n and defect vary.
INPUT = """Specimen label
{label}
Crystal (element symbol)
Cu
Job
{job}
Column approximation
no
Accelerating voltage in kV
200
Defect
{defect}
Image width along x in Angstrom
{x}
Image width along y in Angstrom
{y}
Foil thickness in Angstrom
{z}
Zone axis u v w
0 0 1
Diffraction vector h k l
2 0 0
First and last beam of the systematic row (multiples of g)
{first} {last}
Diffraction condition n of (g,ng)
{n}
Absorption (1 with, 0 without)
1
"""

EDGE = """{edge}
===
1 2 1 0 1        Burgers vector m/n[i,j,k]
16.0 0.0 20.0    a point of the line
0 1 0            line
0.34             Poisson's ratio
1.0              core cut-off
0                surface relaxation
"""


def input_text(job=1, defect="edge", x=32, y=24, z=40, first=-1, last=2, n=1.0, label="Cu-test"):
    return INPUT.format(job=job, defect=defect, x=x, y=y, z=z, first=first, last=last, n=n,
                        label=label)


def write_run(folder, name="in", defect_text=EDGE, **kw):
    """The input, defect and directory files of a run in `folder`; returns the run.args."""
    folder = pathlib.Path(folder)
    (folder / "filesystem.ini").write_text("dirs\nroot, system, run, record, data\n''\n'./'\n'./'\n'./'\n'./'\n")
    (folder / name).write_text(input_text(**kw))
    args = [name]
    if defect_text:
        (folder / "defect.ini").write_text(defect_text)
        args.append("defect.ini")
    return args


def run_korvex(folder, args, options=(), check=True, **popen):
    """korvex [options] -t args in `folder`."""
    env = dict(os.environ, OMP_NUM_THREADS=os.environ.get("OMP_NUM_THREADS", "2"))
    result = subprocess.run([BINARY, *options, "-t", *args], cwd=folder, env=env,
                            capture_output=True, text=True, **popen)
    if check:
        assert result.returncode == 0, result.stdout + result.stderr
    return result


def read_text_image(path):
    """A text image (header of 8 records, then one record per x index) as an (n_y, n_x) array."""
    import numpy as np
    records = pathlib.Path(path).read_text().split("\n")
    nx, ny = int(records[1]), int(records[3])
    values = np.array([float(v) for v in " ".join(records[8:]).split()])
    return values.reshape(-1, ny).T


@pytest.fixture
def scratch(tmp_path):
    return tmp_path


def example_folder(name, into):
    """A copy of examples/<name> in `into`."""
    target = pathlib.Path(into) / name
    shutil.copytree(SOURCE / "examples" / name, target)
    return target
