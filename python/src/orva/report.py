"""The JSON report of an orva run (job-file keyword REPORT) as dataclasses.

Positions are input-image pixels (column from the left, row from the top),
angles are degrees. A member the run did not reach is None.
"""

from __future__ import annotations

import json
import math
from dataclasses import dataclass, field
from typing import Any, Dict, Optional, Tuple


@dataclass(frozen=True)
class Observation:
    """One position that entered the fit across the spindle axis."""

    detector: str
    column: Optional[float]
    row: Optional[float]
    weight: float
    rejected: bool


@dataclass(frozen=True)
class Image:
    """One listed image: whether it was used, and what was found in it."""

    file: str
    angle: float
    used: bool
    reason: Optional[str]
    empty: Optional[bool]
    observations: Tuple[Observation, ...]


@dataclass(frozen=True)
class Background:
    file: str
    loaded: bool
    used: bool
    reason: Optional[str]


@dataclass(frozen=True)
class Fit:
    """The fitted motion: the moving coordinate at rotation angle a is
    axis + sign * radius * cos(a - phase); the other coordinate is along.

    kind is "motion", "mean" (too few images: axis is then the mean position
    of the observations, not the rotation axis) or "none" (no position).
    """

    kind: str
    axis: Optional[float]
    along: Optional[float]
    radius: Optional[float]
    phase: Optional[float]
    sign: int
    axis_coordinate: str  # "column" or "row"
    along_coordinate: str
    axis_result_line: str  # the result-file line holding axis
    along_result_line: str
    model: str

    def position(self, angle: float) -> Tuple[float, float]:
        """(column, row) of the crystal at the rotation angle (degrees)."""
        if self.kind == "none":
            raise ValueError("the run found no position")
        moving = self.axis + self.sign * self.radius * math.cos(math.radians(angle - self.phase))
        if self.axis_coordinate == "column":
            return moving, self.along
        return self.along, moving


@dataclass(frozen=True)
class RunWarning:
    code: str
    text: str


@dataclass(frozen=True)
class Result:
    """A run of orva, as its report tells it."""

    status: int
    success: bool
    message: str
    version: str
    method: Optional[str]
    method_reason: Optional[str]
    loop_position: int
    image_size: Optional[Tuple[int, int]]  # width, height
    scale: Optional[str]  # "full" or "half" resolution
    images: Tuple[Image, ...]
    images_used: int
    images_with_object: Optional[int]
    observations_used: int
    background: Optional[Background]
    fit: Optional[Fit]
    loop_width: Optional[float]  # input pixels
    values: Optional[Dict[str, int]]  # the result file's eight values
    reliability: Optional[int]  # percent, -1 when it could not be computed
    precentring: Optional[bool]
    precentring_reason: Optional[str]
    warnings: Tuple[RunWarning, ...]
    report: Dict[str, Any] = field(repr=False, compare=False)

    @classmethod
    def from_report(cls, report: Dict[str, Any]) -> "Result":
        size = report.get("image_size")
        back = report.get("background")
        fit = report.get("fit")
        return cls(
            status=report["status"],
            success=report["success"],
            message=report["message"],
            version=report["program"]["version"],
            method=report.get("method"),
            method_reason=report.get("method_reason"),
            loop_position=report["loop_position"],
            image_size=(size["width"], size["height"]) if size else None,
            scale=report.get("scale"),
            images=tuple(
                Image(
                    file=i["file"],
                    angle=i["angle"],
                    used=i["used"],
                    reason=i["reason"],
                    empty=i["empty"],
                    observations=tuple(Observation(**o) for o in i["observations"]),
                )
                for i in report["images"]
            ),
            images_used=report["images_used"],
            images_with_object=report.get("images_with_object"),
            observations_used=report["observations_used"],
            background=Background(**back) if back else None,
            fit=Fit(**fit) if fit else None,
            loop_width=report.get("loop_width"),
            values=report.get("result"),
            reliability=report.get("reliability"),
            precentring=report.get("precentring"),
            precentring_reason=report.get("precentring_reason"),
            warnings=tuple(RunWarning(**w) for w in report["warnings"]),
            report=report,
        )


def read_report(path) -> Result:
    """Reads a report file written by orva."""
    with open(path, encoding="utf-8") as f:
        return Result.from_report(json.load(f))
