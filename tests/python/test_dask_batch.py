"""examples/dask_batch.py on a LocalCluster of two worker processes."""

import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import orvex

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "examples" / "dask_batch.py"

pytest.importorskip("distributed")


def picture(h, w, seed):
    rng = np.random.default_rng(seed)
    return rng.integers(0, 256, size=(h, w, 3), dtype=np.uint8)


def run(*args):
    return subprocess.run([sys.executable, str(SCRIPT), *map(str, args)], capture_output=True, text=True, timeout=240)


def test_folder_through_a_local_cluster(tmp_path):
    source, target = tmp_path / "in", tmp_path / "out"
    source.mkdir()
    sizes = [(30, 41), (17, 23), (64, 48), (9, 5), (33, 33)]
    for i, (h, w) in enumerate(sizes):
        orvex.save(picture(h, w, i), source / f"p{i}.png")
    (source / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\nnot really")
    (source / "notes.txt").write_text("not a picture, not a task")
    recipe = tmp_path / "steps.txt"
    recipe.write_text("# soften, then turn\nGaussianBlur=1.5\n\nRotate90CW  # a quarter turn\n")
    # An output already there is a failure of its own file and stays as it was.
    target.mkdir()
    (target / "p4.png").write_bytes(b"keep me")

    done = run(source, target, "Invert", "--recipe", recipe, "--workers", 2)
    assert done.returncode == 2, done.stderr
    assert "4 done, 2 failed" in done.stdout
    assert "broken.png: Load failed" in done.stdout
    assert "p4.png: exists" in done.stdout
    assert (target / "p4.png").read_bytes() == b"keep me"
    assert not (target / "broken.png").exists() and not (target / "notes.txt").exists()

    # Each worker ran exactly what the module runs here: recipe steps first, then the command line's.
    for i in range(4):
        expected = orvex.apply_recipe(orvex.load(source / f"p{i}.png"), ["GaussianBlur=1.5", "Rotate90CW", "Invert"])
        assert np.array_equal(orvex.load(target / f"p{i}.png"), expected), i


def test_bad_steps_and_folders_fail_before_any_work(tmp_path):
    (tmp_path / "in").mkdir()
    orvex.save(picture(8, 8, 1), tmp_path / "in" / "a.png")
    bad = run(tmp_path / "in", tmp_path / "out", "GaussianBlur=-3")
    assert bad.returncode == 1 and "GaussianBlur" in bad.stderr
    recipe = tmp_path / "r.txt"
    recipe.write_text("Invert\nNoSuchStep\n")
    bad = run(tmp_path / "in", tmp_path / "out", "--recipe", recipe)
    assert bad.returncode == 1 and "line 2" in bad.stderr
    missing = run(tmp_path / "nowhere", tmp_path / "out", "Invert")
    assert missing.returncode == 1 and "not a folder" in missing.stderr
    assert not (tmp_path / "out").exists()
