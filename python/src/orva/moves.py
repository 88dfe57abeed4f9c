"""Centring moves from a fitted crystal motion.

A goniometer centres a crystal with two translations that turn with the
spindle (the centring table) and one along the spindle. The fit gives the
crystal's offset from the rotation axis as a radius and a phase: at rotation
angle a the crystal appears at axis + sign * radius * cos(a - phase) across
the axis. Split into the two directions seen across the image at the angles 0
and 90 degrees, that offset is

    u = sign * radius * cos(phase),   v = sign * radius * sin(phase)

and the centring table moves by -u and -v to bring the crystal onto the axis.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Optional, Tuple

from .report import Result

# Image directions and the image coordinate that grows along each.
DIRECTIONS = {"up": ("row", -1), "down": ("row", 1), "left": ("column", -1),
              "right": ("column", 1)}


@dataclass(frozen=True)
class CentringMoves:
    """Moves in micrometres.

    along_axis: along the spindle, positive in the direction given as
        axis_direction, bringing the crystal to the beam position.
    centring_0, centring_90: centring-table moves along the directions that
        appear across the image (towards growing image coordinate) when the
        spindle stands at 0 and at 90 degrees; they put the crystal on the axis.
    axis_to_beam: how far the beam lies from the rotation axis across it
        (towards growing image coordinate); nonzero means the axis itself is
        off the beam.
    target_angle: rotation angle (degrees) of the crystal's largest excursion.
    precentring: the run centred the loop or pin, not a crystal.
    """

    along_axis: float
    centring_0: float
    centring_90: float
    axis_to_beam: float
    target_angle: float
    precentring: bool


def centring_moves(result: Result, pixel_size_um: float, axis_direction: str,
                   beam: Optional[Tuple[float, float]] = None) -> CentringMoves:
    """The moves that centre the crystal of `result`.

    pixel_size_um: size of one input-image pixel in micrometres.
    axis_direction: "up", "down", "left" or "right": where in the image a
        positive move along the spindle takes the sample.
    beam: (column, row) of the beam in the image; default the image centre.
    """
    fit = result.fit
    if fit is None or fit.kind != "motion":
        raise ValueError("the run fitted no motion (too few images or no position): "
                         "the rotation axis is not known")
    if axis_direction not in DIRECTIONS:
        raise ValueError(f"axis_direction must be one of {', '.join(DIRECTIONS)}")
    coordinate, step = DIRECTIONS[axis_direction]
    if coordinate != fit.along_coordinate:
        raise ValueError(f"the spindle axis runs along the image {fit.along_coordinate}s for "
                         f"loop position {result.loop_position}, not {axis_direction}")
    if not pixel_size_um > 0:
        raise ValueError("pixel_size_um must be positive")
    if beam is None:
        width, height = result.image_size
        beam = ((width - 1) / 2.0, (height - 1) / 2.0)
    beam_along, beam_across = (beam[1], beam[0]) if fit.along_coordinate == "row" else beam
    u = fit.sign * fit.radius * math.cos(math.radians(fit.phase))
    v = fit.sign * fit.radius * math.sin(math.radians(fit.phase))
    return CentringMoves(
        along_axis=step * (beam_along - fit.along) * pixel_size_um,
        centring_0=-u * pixel_size_um,
        centring_90=-v * pixel_size_um,
        axis_to_beam=(beam_across - fit.axis) * pixel_size_um,
        target_angle=fit.phase,
        precentring=bool(result.precentring),
    )
