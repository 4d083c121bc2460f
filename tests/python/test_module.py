"""The module korvex: in-process runs equal the program's, bit for bit; keywords, errors, stops,
files written only when asked."""
import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import threading
import time

import h5py
import numpy as np
import pytest

from conftest import EDGE, input_text, run_korvex, write_run

korvex = pytest.importorskip("korvex")


def cli_signals(folder, args, options=()):
    """The signals of a command-line run's HDF5 file, by group name."""
    run_korvex(folder, args, ["--hdf5", *options])
    with h5py.File(pathlib.Path(folder) / (args[0] + ".h5"), "r") as f:
        return {name: g["data_double"][()] for name, g in f["data"].items()}


def tag(order):
    return ("-" if order < 0 else "") + f"{abs(order):02d}g"


def by_name(result):
    """The module's signals named as in the HDF5 file."""
    out = {}
    for k, c in enumerate(result.conditions):
        pre = f"c{k + 1:02d}_"
        out.update({pre + b.label: b.image for b in c.beams})
        out.update({pre + tag(o) + "_sgr": m for o, m in c.maps.items()})
        out.update({pre + tag(o) + "_fringes": m for o, m in c.fringes.items()})
        if c.layers is not None:
            out[pre + "01g_layers"] = c.layers
    return out


@pytest.mark.parametrize("job,n,engine", [(1, 1.0, "exact"), (1, 999, "table"), (2, 1.0, "exact"),
                                          (3, 1.5, "table")])
def test_every_image_equals_the_command_line_run_bit_for_bit(scratch, job, n, engine):
    args = write_run(scratch, job=job, n=n, z=24 if job == 3 else 40, x=20 if n == 999 else 32)
    cli = cli_signals(scratch, args, [f"--engine={engine}"])
    os.remove(scratch / (args[0] + ".h5"))
    before = sorted(p.name for p in scratch.iterdir())
    r = korvex.simulate(scratch / args[0], scratch / args[1], engine=engine, threads=2)
    mine = by_name(r)
    assert sorted(mine) == sorted(cli) and len(mine) >= 4
    for name, values in cli.items():
        assert np.array_equal(mine[name], values), name
    assert sorted(p.name for p in scratch.iterdir()) == before  # nothing written
    assert len(r.conditions) == (12 if n == 999 else 1)
    assert r.parameters["job"] == job and r.parameters["voltage_kV"] == 200.0
    if job != 2:
        b = r.beams[1]
        assert b.order == 0 and b.label == "00g" and b.pixel_size_nm == pytest.approx((0.1, 0.1))
        assert b.s_g == pytest.approx(r.conditions[0].s_g[0])


def test_keywords_run_as_the_same_input_file_and_save_what_is_asked(scratch):
    args = write_run(scratch, job=1, x=32, y=24, z=40)
    from_files = korvex.simulate(scratch / args[0], scratch / args[1])
    edge = korvex.Edge(b="1/2[1 0 1]", line=(0, 1, 0), point=(16, 0, 20))
    r = korvex.simulate(crystal="Cu", voltage=200, g=(2, 0, 0), zone=(0, 0, 1), beams=(-1, 2),
                        condition=1.0, size=(32, 24), thickness=40, defect=edge, label="Cu-test",
                        threads=1)
    for a, b in zip(from_files.beams, r.beams):
        assert a.label == b.label and np.array_equal(a.image, b.image)
    assert "1 2 1.0 0.0 1.0" in r.defect_configuration
    r.save_hdf5(scratch / "kw.h5")
    with h5py.File(scratch / "kw.h5", "r") as f:
        assert np.array_equal(f["data/c01_01g/data_double"][()], r.image(1))
        assert f["parameters"].attrs["defect"] == "edge"
    r.save_tiff(scratch / "tif")
    assert sorted(p.name for p in (scratch / "tif").iterdir())[:2] == ["korvex-01g.tif",
                                                                      "korvex-01gsgr.tif"]


def test_a_coarser_grid_keeps_the_columns_it_meets():
    edge = korvex.Edge(b="1/2[1 0 1]", line=(0, 1, 0), point=(16, 0, 20))
    fine = korvex.simulate(size=(36, 24), thickness=40, defect=edge, column_approximation="yes")
    coarse = korvex.simulate(size=(36, 24), thickness=40, defect=edge, column_approximation="yes",
                             pixel_size=3, slice_thickness=1)
    assert coarse.image(0).shape == (8, 12)
    assert np.array_equal(coarse.image(0), fine.image(0)[1::3, 1::3])
    with pytest.raises(korvex.Error, match="pixel_size -2"):
        korvex.simulate(size=(36, 24), thickness=40, pixel_size=-2)
    deep = dict(size=(36, 24), thickness=200, column_approximation="yes",
                defect=korvex.Edge(b="1/2[1 0 1]", line=(0, 1, 0), point=(16, 0, 100)))
    graded = korvex.simulate(slice_thickness="auto:0.01", **deep)
    assert 0 < np.abs(graded.image(0) - korvex.simulate(**deep).image(0)).max() < 1e-3
    with pytest.raises(korvex.Error, match="auto:x"):
        korvex.simulate(size=(36, 24), thickness=40, slice_thickness="auto:x")


KINDS = [
    korvex.Screw(b="1/2[1 1 0]", point=(16, 12, 20), cut_plane=(1, -1, 1)),
    korvex.Void(radius=6, centre=(16, 12, 20)),
    korvex.Inclusion(radius=6, centre=(16, 12, 20), misfit=0.02),
    korvex.Dissociated(b="1/2[1 1 0]", line=(1, 1, 0), point=(16, 12, 20), normal=(1, -1, 1),
                       separation=8),
    korvex.PolygonalLoop(b="1/3[1 1 1]", radius=8, centre=(16, 12, 20), plane=(1, 1, 1),
                         pole=(1, -1, 0), edges=6),
    korvex.Tetrahedron(centroid=(16, 12, 20), edge=10),
]


@pytest.mark.parametrize("defect", KINDS, ids=lambda d: d.kind)
def test_every_defect_kind_is_reachable(defect):
    r = korvex.simulate(size=(32, 24), thickness=40, beams=(0, 1), defect=defect, threads=1)
    bf = r.image(0)
    assert bf.shape == (24, 32) and np.isfinite(bf).all() and bf.std() > 0


def test_the_circular_loop_reads_loop_ini_where_it_runs(scratch, monkeypatch):
    monkeypatch.chdir(scratch)
    (scratch / "loop.ini").write_text("{loop}\n===\n1 3 1 1 1\n8.0\n16 12 20\n1 1 1\n0.34\n"
                                      "infinitesimal\n")
    r = korvex.simulate(size=(32, 24), thickness=40, beams=(0, 1),
                        defect=korvex.DefectFile("loop"), threads=1)
    assert r.image(0).std() > 0 and "infinitesimal" in r.defect_configuration


def test_a_bad_value_raises_the_programs_message_and_the_interpreter_goes_on(scratch):
    with pytest.raises(korvex.Error, match="Xx") as e:
        korvex.simulate(crystal="Xx", size=(8, 8), thickness=10)
    assert "korvex" in str(e.value)  # names where it was read
    with pytest.raises(korvex.Error, match="no-such.ini"):
        korvex.simulate(size=(8, 8), thickness=10, defect="edge", defect_file="no-such.ini")
    with pytest.raises(korvex.Error, match="engine"):
        korvex.simulate(size=(8, 8), thickness=10, engine="fast")
    args = write_run(scratch)
    (scratch / "defect.ini").write_text(EDGE.replace("0.34", "7.5"))
    with pytest.raises(korvex.Error, match="7.5"):
        korvex.simulate(scratch / args[0], scratch / args[1])
    assert korvex.simulate(size=(8, 8), thickness=10).image(0).shape == (8, 8)


def test_other_threads_run_while_the_columns_do():
    ticks, done = [0], threading.Event()

    def count():
        while not done.is_set():
            ticks[0] += 1
            time.sleep(0.001)

    t = threading.Thread(target=count)
    t.start()
    start = ticks[0]
    korvex.simulate(size=(64, 64), thickness=200, defect=korvex.Void(radius=10, centre=(32, 32, 100)),
                    threads=1)
    done.set()
    t.join()
    assert ticks[0] - start > 20


def test_ctrl_c_stops_a_run_cleanly_and_the_next_runs(scratch):
    script = textwrap.dedent("""
        import korvex, sys
        print("ready", flush=True)
        try:
            korvex.simulate(size=(200, 200), thickness=2000, engine="exact", threads=1,
                            defect=korvex.Edge(b="1/2[1 0 1]", line=(0, 1, 0), point=(100, 0, 500)))
            print("not stopped")
        except KeyboardInterrupt as e:
            print("interrupted:", str(e).splitlines()[0])
        print("after:", korvex.simulate(size=(8, 8), thickness=10).image(0).shape)
    """)
    p = subprocess.Popen([sys.executable, "-c", script], cwd=scratch, stdout=subprocess.PIPE,
                         text=True, env=dict(os.environ))
    assert p.stdout.readline().strip() == "ready"
    time.sleep(1.5)
    p.send_signal(signal.SIGINT)
    out, _ = p.communicate(timeout=120)
    assert p.returncode == 0
    assert "interrupted: The run was stopped by signal SIGINT." in out and "after: (8, 8)" in out
    assert list(scratch.iterdir()) == []


def test_a_population_of_keyword_defects_runs_as_its_file(scratch):
    tet, void = korvex.Tetrahedron((16, 12, 20), 12), korvex.Void(4, (6, 6, 10))
    kw = dict(size=(32, 24), thickness=40, beams=(-1, 2), column_approximation="yes", threads=1,
              field_tolerance=0)  # every column evaluated, as a defect alone has it

    def same(a, b):
        return all(np.array_equal(x.image, y.image) for x, y in zip(a.beams, b.beams))

    assert same(korvex.simulate(defect=tet, **kw), korvex.simulate(defect=korvex.Population([tet]), **kw))
    both = korvex.simulate(defect=korvex.Population([tet, void]), **kw)
    (scratch / "pop.ini").write_text(korvex.Population([tet, void]).text())
    (scratch / "tet.ini").write_text(tet.text())
    entry_file = korvex.Population([korvex.DefectFile("tetrahedron", scratch / "tet.ini"), void])
    for other in (korvex.DefectFile("population", scratch / "pop.ini"), entry_file):
        assert same(both, korvex.simulate(defect=other, **kw))
    with pytest.raises(korvex.Error, match=r"entry 2[\s\S]*void radius[\s\S]*-3"):
        korvex.simulate(defect=korvex.Population([tet, korvex.Void(-3, (6, 6, 10))]), **kw)
    for bad in ([], [korvex.Population([tet])], [korvex.DefectFile("edge", "a b.ini")], ["edge"]):
        with pytest.raises((ValueError, TypeError)):
            korvex.Population(bad).text()


def test_a_sampled_field_stays_close_and_a_bad_tolerance_is_refused():
    kw = dict(size=(96, 64), thickness=60, beams=(-1, 2), column_approximation="yes", threads=2,
              defect=korvex.Tetrahedron((48, 32, 30), 16))
    every, sampled = korvex.simulate(**kw), korvex.simulate(field_tolerance=1e-5, **kw)
    diff = max(np.abs(a.image - b.image).max() for a, b in zip(every.beams, sampled.beams))
    assert 0 < diff < 1e-4
    with pytest.raises(korvex.Error, match="field tolerance"):
        korvex.simulate(field_tolerance=-2, **kw)


def test_a_scanning_run_equals_the_programs_and_refuses_what_it_refuses(scratch):
    args = write_run(scratch, job=1, x=32, y=24, z=40)
    path = scratch / args[0]
    path.write_text(path.read_text().replace("Column approximation\nno", "Column approximation\nyes"))
    probe = dict(detector=["bf:3", "adf:4:40"], convergence=2, directions=7, threads=2)
    cli = cli_signals(scratch, args, ["--detector=bf:3", "--detector=adf:4:40", "--convergence=2",
                                      "--directions=7"])
    r = korvex.simulate(path, scratch / args[1], **probe)
    assert sorted(r.detectors) == ["adf", "bf"] and r.beams == []
    for name, image in r.detectors.items():
        assert np.array_equal(image, cli["c01_" + name]), name
    # A probe of one direction on the axis: the bright field of the parallel beam.
    axis = korvex.simulate(path, scratch / args[1], detector="bf:3")
    assert np.array_equal(axis.detectors["bf"], korvex.simulate(path, scratch / args[1]).image(0))
    for bad, words in [(dict(detector="bf:3", convergence=-1), "-1"), (dict(detector="xx:3"), "xx"),
                       (dict(convergence=2), "detector")]:
        with pytest.raises(korvex.Error, match=words):
            korvex.simulate(path, scratch / args[1], **bad)
