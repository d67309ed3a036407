#!/usr/bin/env python3
"""Writes the seed corpus of zarvel_engine_fuzz (fuzz/corpus/engine/), one render per file, in
the byte layout EngineFuzzTarget.cpp describes. Run it from anywhere after changing that layout;
the fuzzer itself never needs it. Files of the folder it does not name are left alone: inputs
the fuzzer found that reach a case no seed here reaches (good-tall-field-envelope-rounding: the
rows of a 13,656-row field where the single-precision envelope's rounding decides)."""

import os
import struct

TYPES = {"rgba8": 0, "rgba16": 1, "rgbaf": 2, "a8": 3, "a16": 4, "af": 5}
QUALITY = {"draft": 0, "good": 1, "best": 2}


def s8(value):
    return value & 0xFF


def move(pixels):
    """A signed offset byte that moves an edge by `pixels` (small moves are in eighths)."""
    assert -12 <= pixels <= 12
    return s8(pixels * 8)


def schedule_bytes(level, stripe, bands, block_rows, prepared, run, order_seed):
    """Level, work units (0 automatic), threads prepared for and run per phase, order seed."""
    return bytes([level, stripe, bands, block_rows, prepared - 1, run - 1, order_seed])


def seed(type_="rgba8", quality="good", width=15.0, width_kind=None, width_code=None, tall=False,
         wide=False, shift=0, field=(0, 0, 96, 96), dest=(0, 0, 0, 0), window=(0, 0, 255, 255), source_kind=0,
         source=(0, 0, 0, 0), layout=0, schedule=(2, 0, 0, 0, 2, 2, 0), again=None,
         colour=(190, 110, 40), shapes=(), wild=False, colour_seed=1, fill_seed=7, pixels=()):
    if width_kind is None:
        width_kind, width_code = (6, int((width - 254.0) * 256) - 1) if width > 254 else \
            (0, int(round(width * 256)))
    out = bytearray([TYPES[type_], QUALITY[quality], width_kind])
    out += struct.pack("<H", width_code)
    out += bytes([(7 if tall else 6 if wide else 0) | shift << 3, s8(field[0]), s8(field[1]), field[2], field[3]])
    out += bytes(move(m) for m in dest)
    out += bytes(window)
    out += bytes([source_kind]) + bytes(move(m) for m in source)
    out += bytes([layout]) + schedule_bytes(*schedule)
    out += bytes([1 if again else 0]) + schedule_bytes(*(again or (0, 0, 0, 0, 1, 1, 0)))
    out += bytes(colour)
    out += bytes([len(shapes) | (8 if wild else 0), colour_seed, fill_seed])
    for shape in shapes:
        out += bytes(shape)
    for index, code in pixels:
        out += struct.pack("<HB", index, code)
    return bytes(out)


# Shapes: kind (0 ellipse, 1 ring, 2 box, 3 line across, 4 line down), centre x and y (/ 256 of
# the source), radii (/ 4 pixels), softness (/ 32 pixels; 0 hard).
SOFT_SHAPES = ((0, 60, 70, 60, 40, 32), (1, 180, 150, 80, 80, 24), (2, 200, 40, 30, 50, 40))
HARD_SHAPES = ((2, 128, 128, 40, 20, 0), (3, 64, 200, 12, 16, 0), (4, 30, 100, 20, 8, 0))
# Alpha codes 192 + k: 0, 1, half, just above half, maximum - 1, maximum, just below half, 2
# (floats: 0, -0, NaN, infinity, -infinity, 0.5, just above 0.5, the smallest denormal).
BOUNDARY_PIXELS = tuple((97 * 30 + 10 * k, 192 + k) for k in range(8))

SEEDS = {
    "rgba8-good-w15-shapes": seed(shapes=SOFT_SHAPES),
    "rgba8-draft-w15-shapes": seed(quality="draft", shapes=SOFT_SHAPES),
    "rgba8-draft-w15-shapes-baseline": seed(quality="draft", shapes=SOFT_SHAPES,
                                            schedule=(0, 0, 0, 0, 2, 2, 0)),
    "rgba8-good-w15-shapes-avx2": seed(shapes=SOFT_SHAPES, schedule=(1, 0, 0, 0, 2, 2, 0)),
    "alpha8-good-w15-shapes-one-thread": seed(type_="a8", shapes=SOFT_SHAPES,
                                               schedule=(0, 0, 0, 0, 1, 1, 0)),
    "rgba16-best-w2.5-bottom-up-padded": seed(type_="rgba16", quality="best", width=2.5,
                                               layout=0b011_101_11, shapes=SOFT_SHAPES),
    "alpha16-draft-w6-bottom-up": seed(type_="a16", quality="draft", width=6.0, layout=0b10,
                                       shapes=HARD_SHAPES),
    "rgbaf-good-w4-nan-negative-alpha": seed(type_="rgbaf", width=4.0, shapes=SOFT_SHAPES,
                                             wild=True, pixels=BOUNDARY_PIXELS +
                                             ((500, 5), (501, 0), (502, 194))),
    "alphaf-draft-w7.5-hard-edges": seed(type_="af", quality="draft", width=7.5,
                                         shapes=HARD_SHAPES, pixels=BOUNDARY_PIXELS),
    "alpha8-good-boundary-alphas": seed(type_="a8", width=3.0, pixels=BOUNDARY_PIXELS),
    "rgba16-draft-boundary-alphas": seed(type_="rgba16", quality="draft", width=3.0,
                                         pixels=BOUNDARY_PIXELS),
    "good-tile-inside-the-field": seed(width=7.0, window=(50, 60, 120, 110), shapes=SOFT_SHAPES),
    "draft-tile-inside-the-field": seed(quality="draft", width=7.0, window=(50, 60, 120, 110),
                                        shapes=SOFT_SHAPES, schedule=(1, 0, 0, 0, 3, 2, 5)),
    "window-across-the-field": seed(field=(-20, 10, 60, 50), dest=(-10, -8, 9, 12),
                                    window=(20, 10, 255, 230), shapes=SOFT_SHAPES),
    "draft-window-across-the-field": seed(quality="draft", width=9.0, field=(-20, 10, 60, 50),
                                          dest=(-10, -8, 9, 12), window=(20, 10, 255, 230),
                                          shapes=SOFT_SHAPES),
    "source-apart-from-destination": seed(field=(5, -7, 80, 70), dest=(-3, -3, 3, 3),
                                          source=(10, 8, 12, 12), shapes=SOFT_SHAPES),
    "no-source": seed(quality="draft", source_kind=2, width=5.0),
    "source-bounds-without-data": seed(source_kind=3, width=5.0),
    "good-forced-stripes-bands-shuffled": seed(width=11.0, schedule=(0, 7, 5, 0, 6, 4, 3),
                                               shapes=SOFT_SHAPES, pixels=BOUNDARY_PIXELS),
    "draft-forced-blocks-rendered-again": seed(quality="draft", width=13.0,
                                               schedule=(1, 9, 3, 5, 3, 3, 9),
                                               again=(2, 0, 0, 0, 8, 5, 4), shapes=SOFT_SHAPES),
    "best-levels-rendered-again": seed(quality="best", width=20.0, schedule=(2, 33, 2, 0, 4, 4, 1),
                                       again=(0, 0, 0, 0, 1, 1, 0), shapes=HARD_SHAPES),
    "whole-field-width-beyond-the-fast-path": seed(width=300.0, field=(0, 0, 40, 30),
                                                   shapes=SOFT_SHAPES),
    "whole-field-draft-width-beyond": seed(quality="draft", type_="af", width=260.0,
                                           field=(3, 3, 30, 40), shapes=HARD_SHAPES),
    "width-at-the-fast-limit": seed(width_kind=0, width_code=65535, field=(0, 0, 40, 40),
                                    shapes=SOFT_SHAPES),
    "width-not-a-number": seed(width_kind=7, width_code=0, shapes=SOFT_SHAPES),
    "width-zero": seed(quality="draft", width_kind=7, width_code=2, shapes=SOFT_SHAPES),
    "width-0.1": seed(type_="a16", width_kind=0, width_code=0, shapes=HARD_SHAPES),
    "rgba8-good-width-0.1-soft-edges": seed(width_kind=0, width_code=0, shapes=SOFT_SHAPES,
                                            schedule=(2, 0, 1, 0, 1, 1, 0)),
    "good-tall-field-4088-rows": seed(type_="a8", width=6.0, tall=True, field=(0, 0, 2, 8),
                                      shapes=((4, 128, 100, 4, 8, 0),)),
    "good-tall-field-4089-rows": seed(type_="a8", width=6.0, tall=True, field=(0, 0, 2, 9),
                                      shapes=((4, 128, 100, 4, 8, 0),)),
    # 4336 rows (8K UHD is 4320), sources crowded about the rows from 4088 on.
    "good-tall-field-4336-rows": seed(type_="a16", width=11.0, tall=True, field=(0, 0, 3, 22),
                                      shapes=((0, 64, 240, 6, 40, 16), (2, 200, 247, 2, 20, 0),
                                              (1, 128, 250, 8, 30, 8)),
                                      schedule=(2, 0, 0, 0, 3, 3, 2)),
    "best-tall-field-13656-rows": seed(type_="rgbaf", quality="best", width=3.0, tall=True,
                                       field=(0, 0, 1, 255), shapes=((0, 128, 200, 5, 60, 20),),
                                       pixels=tuple((3 * 13000 + k, 100 + k) for k in range(9))),
    "draft-tall-field": seed(type_="rgba8", quality="draft", width=6.0, tall=True,
                             field=(0, 0, 1, 40), shapes=((1, 128, 128, 6, 40, 16),)),
    "good-far-from-the-origin": seed(shift=3, dest=(-2, -2, 2, 2), source=(3, 0, 0, -3),
                                     layout=0b001_010_11, shapes=SOFT_SHAPES),
    "draft-at-negative-coordinates": seed(quality="draft", shift=2, field=(-100, -90, 90, 80),
                                          dest=(-2, 1, 2, -1), shapes=HARD_SHAPES),
    "draft-wide-short-field": seed(quality="draft", width=5.0, wide=True, field=(0, 0, 90, 20),
                                   schedule=(2, 0, 0, 0, 2, 2, 0),
                                   shapes=((3, 128, 100, 0, 20, 8), (0, 40, 128, 30, 20, 0))),
    "good-wide-short-field": seed(type_="a8", width=9.0, wide=True, field=(0, 0, 96, 23),
                                  window=(3, 0, 250, 255), shapes=SOFT_SHAPES),
    "good-window-past-the-destination": seed(width=6.0, dest=(2, 3, -2, -1),
                                             source_kind=(13 << 2), shapes=SOFT_SHAPES),
    "draft-window-past-the-destination": seed(quality="draft", width=6.0, dest=(-1, 2, -3, 0),
                                              source_kind=(62 << 2), window=(10, 0, 200, 255),
                                              shapes=SOFT_SHAPES),
    "empty-window": seed(window=(100, 100, 0, 0), shapes=SOFT_SHAPES),
    "empty-field": seed(field=(0, 0, 0, 40), dest=(0, 0, 12, 0), shapes=SOFT_SHAPES),
    "out-of-range-colour": seed(colour=(255, 0, 250), shapes=SOFT_SHAPES),
}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "engine")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
