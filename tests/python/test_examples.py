"""The Python examples run (small) and show what they are about."""
import os
import re
import subprocess
import sys

import pytest

from conftest import SOURCE

pytest.importorskip("korvex")
pytest.importorskip("matplotlib")


def run_example(name, folder):
    env = dict(os.environ, MPLBACKEND="Agg")
    result = subprocess.run([sys.executable, str(SOURCE / "examples" / "python" / name),
                             "--quick", "--out", str(folder)], capture_output=True, text=True,
                            env=env, cwd=folder, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


@pytest.mark.parametrize("name", ["thickness_sweep.py", "gng_series.py"])
def test_the_plotting_examples_draw_their_picture(scratch, name):
    out = run_example(name, scratch)
    picture = scratch / name.replace(".py", ".png")
    assert picture.stat().st_size > 10000 and f"wrote {picture}" in out
    # Nothing else is left behind: the runs write no file.
    assert sorted(p.name for p in scratch.iterdir()) == [picture.name]


def test_the_loop_is_weakest_where_g_b_vanishes(scratch):
    out = run_example("gb_invisibility.py", scratch)
    rows = re.findall(r"\(([-\d, ]+)\)\s+([-\d.]+)\s+([\d.]+)", out)
    assert len(rows) == 6, out
    visible = [float(c) for _, gb, c in rows if float(gb) != 0]
    invisible = [float(c) for _, gb, c in rows if float(gb) == 0]
    assert invisible and max(invisible) < 0.2 * min(visible), out
