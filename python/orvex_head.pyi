# Type stubs of the orvex module. The operation functions below the marker are written from the
# engine's operations table when the module is built.

import os
from typing import Iterable

import numpy

_Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]

OPERATIONS: dict[str, str]

def load(path: _Path, order: str = "rgb") -> numpy.ndarray: ...
def save(
    image: numpy.ndarray,
    path: _Path,
    quality: int = 92,
    metadata_from: _Path | None = None,
    order: str = "rgb",
) -> None: ...
def seed(n: int | None = None) -> None: ...
def apply(image: numpy.ndarray, operation: str, order: str = "rgb", seed: int | None = None) -> numpy.ndarray: ...
def read_recipe(path: _Path) -> list[str]: ...
def parse_operations(operations: Iterable[str]) -> list[str]: ...
def apply_recipe(
    image: numpy.ndarray, recipe: _Path | Iterable[str], order: str = "rgb", seed: int | None = None
) -> numpy.ndarray: ...

# ---- operations
