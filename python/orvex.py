"""Orvex's picture engine for Python.

Pictures are numpy arrays of uint8 with shape (height, width, 3), C-contiguous, the channels in
red, green, blue order (order="rgb", the default) or blue, green, red (order="bgr"). Every function
returns a new array and leaves the one given as it was.

    import orvex
    img = orvex.load("photo.jpg")
    img = orvex.gaussian_blur(img, radius=5.0)
    img = orvex.apply(img, "Levels=a,10,245")
    orvex.save(img, "out.jpg", quality=90, metadata_from="photo.jpg")

Every operation of the engine is a function of its own (snake case of the engine's name, keyword
parameters with their ranges and defaults); apply() and apply_recipe() run operations written as
orvex-cli reads them. The interpreter is let go while an operation, a load or a save runs, so
threads working on different pictures run at the same time.
"""

import os as _os
import warnings as _warnings

import numpy

import _orvex

_run_op = _orvex.run_op

__all__ = ["load", "save", "apply", "read_recipe", "apply_recipe", "parse_operations", "seed", "OPERATIONS"]


def load(path, order: str = "rgb") -> numpy.ndarray:
    """Reads the picture file at `path` as the editor opens it, turned upright by its EXIF orientation.

    Returns a new uint8 array of shape (height, width, 3) with the channels in `order` ('rgb' or
    'bgr'). Raises FileNotFoundError / PermissionError when the file cannot be read and OSError
    with the loader's reason ("Load failed: PATH: reason") when it is not a picture the editor takes.
    """
    return _orvex.load(_os.fsencode(path), path, order)


def save(image: numpy.ndarray, path, quality: int = 92, metadata_from=None, order: str = "rgb") -> None:
    """Writes `image` to `path` in the format of its extension (.jpg .png .bmp .gif .tif .webp ...).

    As orvex-cli --quality QUALITY writes it: JPEG at `quality` (1 .. 100; full-resolution colour
    from 90 up), WebP lossy at `quality` and lossless at 100, PNG, TIFF, BMP and GIF with their
    defaults. With `metadata_from`, the EXIF, XMP, IPTC and colour profile of that file are written
    too (orientation upright, pixel size updated), as orvex-cli keeps its INPUT's, and a JPEG's
    colour is sampled no finer than that file's was. The file is written under a temporary name and
    renamed into place when complete: a failing save raises OSError and never damages an existing
    file. Metadata the format could not keep is named in a warning.
    """
    source = None if metadata_from is None else _os.fsencode(metadata_from)
    for block in _orvex.save(image, _os.fsencode(path), path, quality, source, metadata_from, order):
        _warnings.warn(f"{path}: not kept: {block}", stacklevel=2)


def seed(n=None) -> None:
    """Seeds the random effects (add_noise, lens_flare, clouds...) of every later call with `n`.

    The same seed gives what orvex-cli --seed N gives. None goes back to the clock's seconds. A
    call's own seed= keyword takes precedence.
    """
    _orvex.set_seed(n)


def apply(image: numpy.ndarray, operation: str, order: str = "rgb", seed=None) -> numpy.ndarray:
    """Runs one operation written as orvex-cli reads it: "Name" or "Name=ARG,ARG,..." (the name in
    any case, arguments in parameter order, numbers in the C locale, codes as one character, flags
    as 0 or 1, arguments left out at the end taking their defaults).

    Raises ValueError naming the argument when the text cannot be read.
    """
    return _orvex.run_texts(image, [operation], order, seed)


def _recipe_text(path) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def read_recipe(path) -> list:
    """The operations of the recipe file at `path`: one operation per line as on the command line,
    blank lines and everything from a '#' on left out.

    Raises ValueError ("PATH: line N: reason") on the first line that cannot be read.
    """
    try:
        return _orvex.parse_recipe(_recipe_text(path))
    except ValueError as e:
        raise ValueError(f"{_os.fsdecode(path)}: {e}") from None


def apply_recipe(image: numpy.ndarray, recipe, order: str = "rgb", seed=None) -> numpy.ndarray:
    """Runs a recipe on `image`: the path of a recipe file, or its lines as a list of str.

    Every line is read before any work; a bad one raises ValueError with its line number.
    """
    if isinstance(recipe, (str, bytes, _os.PathLike)):
        steps = read_recipe(recipe)
    else:
        lines = list(recipe)
        for line in lines:
            if not isinstance(line, str):
                raise TypeError(f"recipe lines must be str, not {type(line).__name__}")
        steps = _orvex.parse_recipe("\n".join(lines))
    return _orvex.run_texts(image, steps, order, seed)


def parse_operations(operations) -> list:
    """Reads operations written as orvex-cli reads them (a list of str) without running any.

    Returns them as apply() and apply_recipe() take them. Raises ValueError naming the first one
    that cannot be read, so that a batch can refuse a typing error before it starts.
    """
    lines = list(operations)
    for line in lines:
        if not isinstance(line, str):
            raise TypeError(f"operations must be str, not {type(line).__name__}")
        if "\n" in line or "#" in line:
            raise ValueError(f"one operation per text, without comments: {line!r}")
    try:
        return _orvex.parse_recipe("\n".join(lines))
    except ValueError as e:
        # The parser counts lines; here each text is its own.
        raise ValueError(str(e).split(": ", 1)[-1]) from None


# One function per row of the engine's operations table.
exec(_orvex.wrapper_source(), globals())

OPERATIONS = {row["function"]: row["name"] for row in _orvex.operations()}
__all__ += list(OPERATIONS)
