"""The HDF5 results of `korvex --hdf5`, read back with h5py against the run's text files."""
import os
import pathlib
import shutil
import signal
import subprocess

import h5py
import numpy as np
import pytest

from conftest import BINARY, read_text_image, run_korvex, write_run


def every_value(f):
    """Every dataset and numeric attribute of the file, by name."""
    found = {}

    def visit(name, obj):
        for key, value in obj.attrs.items():
            if np.asarray(value).dtype.kind in "fiu":
                found[f"{name}@{key}"] = np.asarray(value)
        if isinstance(obj, h5py.Dataset) and obj.dtype.kind in "fi":
            found[name] = obj[()]

    f.visititems(visit)
    return found


@pytest.mark.parametrize("job", [1, 2, 3])
def test_every_value_round_trips_finite_with_calibrated_axes(scratch, job):
    args = write_run(scratch, job=job, z=24 if job == 3 else 40, n=1.0 if job != 3 else 1.5)
    run_korvex(scratch, args, ["--hdf5", "--engine=table"])
    with h5py.File(scratch / "in.h5", "r") as f:
        values = every_value(f)
        assert values and all(np.isfinite(v).all() for v in values.values())
        assert f.attrs["version_major"] == 0 and f.attrs["version_minor"] == 2
        assert f.attrs["program"] == "korvex" and f.attrs["run_seconds"] > 0
        p = f["parameters"].attrs
        assert (p["crystal"], p["voltage_kV"], p["job"], p["thickness_A"]) == (
            "Cu", 200.0, job, 24.0 if job == 3 else 40.0)
        assert list(p["g"]) == [2, 0, 0] and list(p["beams"]) == [-1, 2]
        o = f["optics"].attrs
        assert len(o["U_g_per_A2"]) == 4 and len(o["extinction_distance_A"]) == 3
        assert 400 < o["extinction_distance_A"][0] < 450  # Cu 200 at 200 kV, about 42 nm
        assert "Burgers" in f["defect"].attrs["configuration"]
        c = f["conditions/c01"]
        assert list(c["beam_orders"]) == [-1, 0, 1, 2] and "table" in c.attrs["engine"]
        data = f["data"]
        for tag in ["-01g", "00g", "01g", "02g"]:
            kind = {1: "", 2: "_fringes", 3: ""}[job]
            g = data[f"c01_{tag}{kind}"]
            assert g.attrs["emd_group_type"] == 1
            double, single = g["data_double"][()], g["data"][()]
            assert single.dtype == np.float32 and double.dtype == np.float64
            assert np.array_equal(single, double.astype(np.float32))
            text = read_text_image(scratch / g.attrs["file"])
            # Intensity images print four digits; the profiles (one record per slice) ten.
            assert np.allclose(text, double, rtol=6e-4 if job != 2 else 1e-8, atol=0)
            for k, axis in enumerate(g["data"].dims):
                scale = axis[0]
                assert scale.attrs["units"] == "nm" and len(scale) == double.shape[k]
            if job == 2:
                assert np.allclose(g["dim2"][()], (np.arange(40) + 1.0) / 10)  # exit depths
            else:
                assert np.allclose(g["dim2"][()], (np.arange(32) + 0.5) / 10)
            sgr = data[f"c01_{tag}_sgr"]
            assert np.allclose(read_text_image(scratch / sgr.attrs["file"]), sgr["data_double"][()],
                               rtol=1e-8, atol=1e-14)
        if job == 3:
            layers = data["c01_01g_layers/data_double"]
            depth = data["c01_01g_layers/dim1"][()]
            assert layers.shape == (len(depth), 24, 32) and np.all(np.diff(depth) > 0)
            last = sorted(pathlib.Path(scratch).glob("in01gml????"))[-1]
            assert np.allclose(read_text_image(last), layers[-1], rtol=6e-4)


def test_a_scanning_run_holds_its_detector_images(scratch):
    args = write_run(scratch, job=1)
    text = (scratch / args[0]).read_text().split("\n")
    text[7] = "yes"  # the probe takes the column approximation
    (scratch / args[0]).write_text("\n".join(text))
    run_korvex(scratch, args, ["--hdf5", "--detector=bf:5", "--detector=adf:8:40",
                               "--convergence=3", "--directions=7"])
    with h5py.File(scratch / "in.h5", "r") as f:
        for tag in ["bf", "adf"]:
            g = f[f"data/c01_{tag}"]
            assert np.allclose(read_text_image(scratch / g.attrs["file"]), g["data_double"][()],
                               rtol=6e-4)


def test_a_stopped_run_leaves_no_file(scratch):
    args = write_run(scratch, x=96, y=96, z=400)
    proc = subprocess.Popen([BINARY, "--hdf5", "-t", *args], cwd=scratch, stdout=subprocess.PIPE,
                            text=True)
    for line in proc.stdout:
        if "finished" in line:
            proc.send_signal(signal.SIGINT)
            break
    proc.communicate(timeout=120)
    assert proc.returncode != 0
    names = [p.name for p in pathlib.Path(scratch).iterdir()]
    assert not [n for n in names if ".h5" in n or ".part" in n], names


def test_a_link_under_its_name_is_refused(scratch):
    args = write_run(scratch)
    (scratch / "elsewhere").write_text("keep")
    (scratch / "in.h5").symlink_to(scratch / "elsewhere")
    result = run_korvex(scratch, args, ["--hdf5"], check=False)
    assert result.returncode != 0 and '"./in.h5"' in result.stdout
    assert (scratch / "elsewhere").read_text() == "keep"
    assert not (scratch / "in.imi").exists()


@pytest.mark.skipif(not shutil.which("mpirun"), reason="mpirun is not installed")
@pytest.mark.parametrize("n", [999, 1.0])  # a series split by condition, an image by rows
def test_a_split_run_writes_the_same_values(scratch, n):
    args = write_run(scratch, n=n, x=20, z=30)
    run_korvex(scratch, args, ["--hdf5"])
    (scratch / "in.h5").rename(scratch / "one.h5")
    env = dict(os.environ, OMP_NUM_THREADS="1", OMPI_ALLOW_RUN_AS_ROOT="1",
               OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1", OMPI_MCA_btl="self,vader")
    subprocess.run(["mpirun", "--oversubscribe", "-np", "2", BINARY, "--hdf5", "-t", *args],
                   cwd=scratch, env=env, check=True, capture_output=True)
    with h5py.File(scratch / "one.h5", "r") as one, h5py.File(scratch / "in.h5", "r") as split:
        assert sorted(one["data"]) == sorted(split["data"]) and len(one["data"]) >= 8
        for name in one["data"]:
            assert np.array_equal(one["data"][name]["data_double"], split["data"][name]["data_double"])
