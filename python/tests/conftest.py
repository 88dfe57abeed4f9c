"""Generated scenes for the tests: the scene generator renders a rotation
series with its job file and the true answer."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python" / "src"))


def _built(variable, default):
    path = os.path.abspath(os.environ.get(variable) or str(REPO / default))
    if not os.path.exists(path):
        pytest.exit(f"{path} not found: build first or set {variable}", returncode=2)
    return path


@pytest.fixture(scope="session")
def program():
    return _built("ORVA_PROGRAM", "build/orva")


class Scene:
    def __init__(self, folder: Path):
        self.folder = folder
        self.images, self.angles = [], []
        lines = (folder / "job.txt").read_text().splitlines()
        listing = lines[lines.index("DATA_START") + 1:lines.index("DATA_END")]
        for line in listing:
            angle, name = line.split()
            self.angles.append(float(angle))
            self.images.append(str(folder / name))
        self.truth = {}
        for line in (folder / "truth.txt").read_text().splitlines():
            fields = line.split()
            if len(fields) == 2 and not line.startswith("#"):
                try:
                    self.truth[fields[0]] = float(fields[1])
                except ValueError:
                    pass
        back = folder / "back.png"
        self.background = str(back) if back.exists() else None


@pytest.fixture(scope="session")
def make_scene(tmp_path_factory):
    scenegen = _built("ORVA_SCENEGEN", "build/tools/scenegen/scenegen")

    def make(*options):
        folder = tmp_path_factory.mktemp("scene")
        subprocess.run([scenegen, "--quiet", "--out", str(folder), "--size", "400x300", *options],
                       check=True)
        return Scene(folder)

    return make
