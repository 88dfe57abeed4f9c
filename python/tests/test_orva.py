"""The Python package against the real program on generated scenes."""

import json
import math
import os
import re
import shutil
import statistics
import subprocess
from pathlib import Path

import pytest

import orva

REPO = Path(__file__).resolve().parents[2]


def test_centre_agrees_with_result_file_and_truth(program, make_scene):
    scene = make_scene("--images", "8", "--seed", "5")
    result = orva.centre(scene.images, scene.angles, program=program)
    v, fit, truth = result.values, result.fit, scene.truth
    assert (result.status, result.method, result.scale, fit.kind) == (0, "default", "full", "motion")
    assert result.images_used == 8 and all(i.used and i.observations for i in result.images)
    assert abs(fit.axis - v["X_CENTRE"]) <= 0.5 and abs(fit.along - v["Y_CENTRE"]) <= 0.5
    assert v["RADIUS"] == math.floor(fit.radius + 0.5) and v["TARGET_ANGLE"] == math.floor(fit.phase)
    assert abs(fit.axis - truth["X_CENTRE"]) < 4 and abs(fit.radius - truth["RADIUS"]) < 6

    # The moves put the crystal where the centring table cancels it: at 0 and
    # 90 degrees the crystal appears -centring / pixel size off the axis.
    moves = orva.centring_moves(result, pixel_size_um=2.0, axis_direction="up")
    for angle, move in ((0, moves.centring_0), (90, moves.centring_90)):
        column, _ = fit.position(angle)
        assert column - fit.axis == pytest.approx(-move / 2.0)
    assert moves.along_axis == pytest.approx(-2.0 * (149.5 - fit.along))
    with pytest.raises(ValueError):
        orva.centring_moves(result, 2.0, "left")


@pytest.mark.parametrize("options", [
    ("--loop-position", "3", "--background"),
    ("--loop-position", "2", "--vers23"),
    ("--loop-position", "1", "--size", "1000x820", "--images", "4"),
    ("--loop-position", "3", "--vers23"),
    ("--images", "1",),
])
def test_report_values_agree_with_the_result_file(program, make_scene, options):
    scene = make_scene("--seed", "7", *options)
    result = orva.centre(scene.images, scene.angles, int(scene.truth["LOOP_POSITION"]),
                         scene.background, "version-2.3" if "--vers23" in options else "default",
                         program=program)
    v, fit = result.values, result.fit
    assert abs(fit.axis - v[fit.axis_result_line]) <= 0.5
    assert abs(fit.along - v[fit.along_result_line]) <= 0.5
    assert v["RELIABILITY"] == result.reliability and v["PRECENTRING"] == result.precentring
    if result.method == "default":
        assert result.loop_width == v["LOOP_WIDTH"] * (2 if result.scale == "half" else 1)
        assert bool(result.background and result.background.used) == bool(scene.background)
    if len(scene.images) == 1:
        # One image: the version-2.3 method, and the column is the crystal's, not the axis.
        assert (result.method, fit.kind) == ("version-2.3", "mean")
        assert "too_few_images" in [w.code for w in result.warnings]
        with pytest.raises(ValueError):
            orva.centring_moves(result, 1.0, "up")
    else:
        # Whatever the loop position and method, the fit and the observations are in
        # input pixels: the axis where the scene has it, the observations on the motion.
        assert fit.kind == "motion" and result.observations_used > 0
        assert abs(fit.axis - scene.truth["X_CENTRE"]) < 6
        assert abs(fit.along - scene.truth["Y_CENTRE"]) < 10
        off = [math.dist((o.column, o.row), fit.position(i.angle))
               for i in result.images for o in i.observations
               if not o.rejected and o.row is not None]
        assert statistics.median(off) < 12


def test_failures_raise_with_status_and_report(program, make_scene, tmp_path):
    scene = make_scene("--images", "4", "--seed", "3")
    with pytest.raises(orva.OrvaError) as failure:
        orva.centre([tmp_path / "gone.png", tmp_path / "lost.png"], [0, 90], program=program)
    assert failure.value.status == 99 and "none of the listed images" in failure.value.message
    assert [i.reason for i in failure.value.result.images] == [
        "could not be opened for reading: No such file or directory"] * 2

    odd = tmp_path / "odd pic.pgm"  # a space in the name is no problem
    odd.write_bytes(b"P5\n3 3\n255\n" + bytes(9))
    with pytest.raises(orva.OrvaError) as failure:
        orva.centre([scene.images[0], odd], [0, 90], program=program, output_dir=tmp_path / "run")
    assert failure.value.status == 14 and "differ in size" in failure.value.message
    assert not (tmp_path / "run" / "result.txt").exists()
    report = json.loads((tmp_path / "run" / "report.json").read_text())
    assert (report["status"], report["success"], report["result"]) == (14, False, None)

    with pytest.raises(ValueError):
        orva.centre(scene.images, scene.angles, program=program, data="x.png")


def test_job_file_warnings_and_hint_reach_the_report(program, make_scene, tmp_path):
    scene = make_scene("--images", "8", "--seed", "4")
    job = (scene.folder / "job.txt").read_text()
    (scene.folder / "job.txt").write_text("REPORT r.json\nNUMBER_OF_IMAGE 8\n" + job)
    done = subprocess.run([program, "job.txt", "res.txt"], cwd=scene.folder,
                          env=dict(os.environ, ORVA_DIAG_DIR=""), capture_output=True, text=True)
    assert done.returncode == 0
    assert "\n ===> Unknown keyword: NUMBER_OF_IMAGE !\n      Did you mean NUMBER_OF_IMAGES?" \
        in done.stderr
    result = orva.read_report(scene.folder / "r.json")
    assert result.warnings[0] == orva.RunWarning(
        "unknown_keyword", "Unknown keyword: NUMBER_OF_IMAGE (did you mean NUMBER_OF_IMAGES?)")

    # A report that cannot be written fails the run before the result file is written.
    (scene.folder / "job.txt").write_text("REPORT no/such/folder.json\n" + job)
    done = subprocess.run([program, "job.txt", "res16.txt"], cwd=scene.folder,
                          env=dict(os.environ, ORVA_DIAG_DIR=""), capture_output=True, text=True)
    assert done.returncode == 16 and "Cannot write report file no/such/folder.json" in done.stderr
    assert not (scene.folder / "res16.txt").exists()


def test_diagnostic_pictures_go_where_told(program, make_scene, tmp_path):
    scene = make_scene("--images", "4", "--seed", "2")
    before = set(os.listdir(scene.folder))
    for value, folder in (("", None), (str(tmp_path / "diag"), tmp_path / "diag")):
        if folder:
            folder.mkdir()
        subprocess.run([program, "job.txt", "res.txt"], cwd=scene.folder, capture_output=True,
                       env=dict(os.environ, ORVA_DIAG_DIR=value), check=True)
        new = set(os.listdir(scene.folder)) - before - {"res.txt", "Orva_check.txt"}
        assert new == set()
        if folder:
            assert "diffmask_00.jpg" in os.listdir(folder)


def test_readme_install_command_and_example(program, tmp_path):
    """The README's commands: a fresh virtual environment, pip from the tree
    with Debian's setuptools, then the README's Python example."""
    readme = (REPO / "README.md").read_text()
    install = re.search(r"\n    (/usr/bin/python3 -m venv .*)\n", readme).group(1)
    example = re.search(r"```python\n(.*?)```", readme, re.S).group(1)
    tree = tmp_path / "tree"
    shutil.copytree(REPO / "python", tree / "python",
                    ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
    env = dict(os.environ, ORVA_PROGRAM=program, PYTHONDONTWRITEBYTECODE="1")
    env.pop("PYTHONPATH", None)
    subprocess.run(install, shell=True, cwd=tree, env=env, check=True, capture_output=True)
    scenegen = os.environ.get("ORVA_SCENEGEN") or str(REPO / "build/tools/scenegen/scenegen")
    subprocess.run([scenegen, "--quiet", "--out", str(tree / "scene")], check=True)
    done = subprocess.run([str(tree / "env/bin/python"), "-c", example], cwd=tree, env=env,
                          check=True, capture_output=True, text=True)
    assert "crystal at column" in done.stdout and "move" in done.stdout
