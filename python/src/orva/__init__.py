"""Python interface to orva, the crystal-centring program of the beamline.

    import orva
    result = orva.centre(["img_000.png", "img_090.png", ...], [0, 90, ...])
    moves = orva.centring_moves(result, pixel_size_um=2.0, axis_direction="up")
"""

from .moves import CentringMoves, centring_moves
from .report import (Background, Fit, Image, Observation, Result, RunWarning,
                     read_report)
from .run import OrvaError, centre, find_program, write_job

__version__ = "3.0"

__all__ = [
    "Background", "CentringMoves", "Fit", "Image", "Observation", "OrvaError", "Result",
    "RunWarning", "centre", "centring_moves", "find_program", "read_report", "write_job",
]
