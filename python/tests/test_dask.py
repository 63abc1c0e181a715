"""The Dask example on a small grid: the same numbers as a serial loop over fit."""

import pathlib
import sys
import xml.etree.ElementTree as ET

import numpy as np
import pytest

pytest.importorskip("dask.distributed")
pytest.importorskip("xarray")

import korvalinde  # noqa: E402

# Old event-loop calls inside the cluster machinery, not ours.
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning:tornado")

# Worker processes inherit sys.path, so they import the example by name too.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"))
import return_levels_dask as example  # noqa: E402


def test_dask_grid_equals_serial_fits(tmp_path):
    ny, nx, years = 20, 20, 50
    assert example.main(["--ny", str(ny), "--nx", str(nx), "--years", str(years),
                         "--chunk", "8", "--out", str(tmp_path)]) == 0
    level = np.load(tmp_path / "return_level_100.npy")
    width = np.load(tmp_path / "interval_width_100.npy")
    assert level.shape == width.shape == (ny, nx)

    maxima = example.make_grid(ny, nx, years).values
    for i in range(ny):
        for j in range(nx):
            r = korvalinde.fit(maxima[i, j], methods=("mle",), periods=(100,))
            rl = r["mle"]["return_levels"][0]
            assert level[i, j] == rl["value"]
            assert width[i, j] == rl["upper"] - rl["lower"]

    svg = ET.parse(tmp_path / "return_level_100.svg").getroot()
    assert svg.tag == "{http://www.w3.org/2000/svg}svg"
    assert len(svg.findall(".//{http://www.w3.org/2000/svg}path")) > 2 * 16
