"""Running the orva program on a rotation series.

Every run gets its own temporary folder: the job file, the result file, the
report and the progress marker file live there, so concurrent runs never
share a file. Images are linked into that folder under short names, so any
path works (spaces and long names included).
"""

from __future__ import annotations

import math
import os
import shutil
import subprocess
import tempfile
from typing import Iterable, Optional, Sequence

from .report import Result, read_report

JOB_NAME = "job.txt"
RESULT_NAME = "result.txt"
REPORT_NAME = "report.json"

# Methods and the job-file keyword that chooses each.
METHOD_KEYWORDS = {"default": None, "version-2.3": "VERS23", "track": "TRACK"}

# Keywords that centre() writes itself.
OWN_KEYWORDS = {
    "NUMBER_OF_IMAGES", "NUM_IMG", "DATA_START", "DATA_END", "DATA", "BACK",
    "LOOP_POSITION", "LOOP_POS", "VERS23", "TRACK", "REPORT",
}


class OrvaError(RuntimeError):
    """A failed run: status is orva's exit status, message its account of the
    failure; result holds the report when one was written, stderr the
    program's messages."""

    def __init__(self, status: int, message: str, result: Optional[Result] = None,
                 stderr: str = ""):
        super().__init__(f"orva failed with status {status}: {message}")
        self.status = status
        self.message = message
        self.result = result
        self.stderr = stderr


def find_program(program: Optional[str] = None) -> str:
    """The orva program: the argument, else $ORVA_PROGRAM, else orva on the PATH."""
    chosen = program or os.environ.get("ORVA_PROGRAM") or shutil.which("orva")
    if not chosen:
        raise FileNotFoundError("orva program not found: pass program= or set ORVA_PROGRAM")
    return os.path.abspath(chosen)


def _keyword_lines(keywords: dict) -> list:
    lines = []
    for name, value in keywords.items():
        key = name.upper()
        if key in OWN_KEYWORDS:
            raise ValueError(f"{key} is set by centre() itself")
        if value is None or value is False:
            continue
        if value is True:
            lines.append(key)
            continue
        if isinstance(value, float) and not math.isfinite(value):
            raise ValueError(f"{key}: {value} is not a finite number")
        text = str(value)
        if not text or any(c.isspace() for c in text):
            raise ValueError(f"{key}: the value must be one word")
        lines.append(f"{key} {text}")
    return lines


def _link(source, folder: str, name: str) -> str:
    """Links the file into the run folder and returns the name used in the job."""
    ext = os.path.splitext(os.fspath(source))[1]
    if any(c.isspace() for c in ext):
        ext = ""
    target = name + ext
    link = os.path.join(folder, target)
    if os.path.islink(link):  # left by an earlier run in the same output folder
        os.remove(link)
    os.symlink(os.path.abspath(os.fspath(source)), link)
    return target


def write_job(folder: str, images: Sequence, angles: Sequence[float], loop_position: int = 0,
              background=None, method: str = "default", **keywords) -> str:
    """Writes the job file (and the image links) into folder; returns its path."""
    images = list(images)
    angles = [float(a) for a in angles]
    if len(images) != len(angles):
        raise ValueError(f"{len(images)} images but {len(angles)} angles")
    if not 1 <= len(images) <= 36:
        raise ValueError("orva takes 1 to 36 images")
    if not all(math.isfinite(a) for a in angles):
        raise ValueError("every angle must be a finite number")
    if method not in METHOD_KEYWORDS:
        raise ValueError(f"unknown method {method!r}: one of {', '.join(METHOD_KEYWORDS)}")
    lines = ["# written by the orva Python package", f"NUMBER_OF_IMAGES {len(images)}",
             f"LOOP_POSITION {int(loop_position)}", f"REPORT {REPORT_NAME}"]
    if METHOD_KEYWORDS[method]:
        lines.append(METHOD_KEYWORDS[method])
    if background is not None:
        lines.append("BACK " + _link(background, folder, "background"))
    lines += _keyword_lines(keywords)
    lines.append("DATA_START")
    for k, (image, angle) in enumerate(zip(images, angles)):
        lines.append(f"{angle!r} {_link(image, folder, f'image_{k:02d}')}")
    lines.append("DATA_END")
    path = os.path.join(folder, JOB_NAME)
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")
    return path


def _last_lines(text: str, count: int = 4) -> str:
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return " / ".join(lines[-count:])


def _run_in(folder: str, program: str, diagnostics_dir: Optional[str],
            timeout: Optional[float]) -> Result:
    env = dict(os.environ)
    # Diagnostic pictures are off unless a folder is given: concurrent runs must not share one.
    env["ORVA_DIAG_DIR"] = os.path.abspath(diagnostics_dir) if diagnostics_dir else ""
    report_path = os.path.join(folder, REPORT_NAME)
    if os.path.exists(report_path):
        os.remove(report_path)  # an earlier run's report must not pass for this one's
    done = subprocess.run([program, JOB_NAME, RESULT_NAME], cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          errors="replace", timeout=timeout)
    if not os.path.exists(report_path):
        # Job-file errors and the end of a run for lack of memory come before any report.
        raise OrvaError(done.returncode, _last_lines(done.stderr) or "no report written",
                        None, done.stderr)
    result = read_report(report_path)
    if done.returncode != 0 or result.status != 0:
        raise OrvaError(done.returncode, result.message, result, done.stderr)
    return result


def centre(images: Iterable, angles: Iterable[float], loop_position: int = 0, background=None,
           method: str = "default", *, program: Optional[str] = None,
           output_dir: Optional[str] = None, diagnostics_dir: Optional[str] = None,
           timeout: Optional[float] = None, **keywords) -> Result:
    """Centres the crystal seen in `images` taken at `angles` (degrees).

    loop_position: side the loop enters from (0 bottom, 1 top, 2 left, 3 right).
    background: the same view without the sample, or None.
    method: "default", "version-2.3" or "track".
    keywords: further job-file keywords, e.g. border=10, centre_coord=384,
    prealign=True, set_cross=True (True writes the keyword alone).
    output_dir: run there and keep every file (else a private temporary folder).
    diagnostics_dir: folder for the diagnostic pictures (else none are written).

    Returns the Result; raises OrvaError when the run fails.
    """
    program = find_program(program)
    images, angles = list(images), list(angles)
    if output_dir is not None:
        os.makedirs(output_dir, exist_ok=True)
        write_job(output_dir, images, angles, loop_position, background, method, **keywords)
        return _run_in(output_dir, program, diagnostics_dir, timeout)
    with tempfile.TemporaryDirectory(prefix="orva_") as folder:
        write_job(folder, images, angles, loop_position, background, method, **keywords)
        return _run_in(folder, program, diagnostics_dir, timeout)
