"""The orvex Python module against orvex-cli and against plain references written here."""

import ast
import inspect
import os
import pathlib
import re
import struct
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import orvex
import _orvex

BUILD = pathlib.Path(orvex.__file__).resolve().parent.parent
CLI = os.environ.get("ORVEX_CLI", str(BUILD / "orvex-cli"))
TABLE = _orvex.operations()
ROWS = {row["name"]: row for row in TABLE}


def picture(h=47, w=61, seed=3):
    """Smooth gradients with noise on top: every operation has something to change."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w]
    base = np.stack([x * 255 // max(w - 1, 1), y * 255 // max(h - 1, 1), (x + y) * 127 // max(w + h - 2, 1)], axis=-1)
    return np.clip(base + rng.integers(-40, 41, size=(h, w, 3)), 0, 255).astype(np.uint8)


# Operation texts for the sweep; a row not named here runs with its defaults. Every row runs at least once.
CASES = [
    "GaussianBlur=3.5,1", "GaussianBlur=1.5,1", "GaussianBlur=6,0", "MotionBlur=30,6", "UnsharpMask=4,1.5",
    "HighPass=5", "CustomFilter=1,0,0,0,0,0,2,0,0,0,0,0,-3,0,0,0,0,0,1,0,0,0,0,0,2,3,10", "RotateArbitrary=17.5",
    "ResizeImage=50,31,b", "ResizeImage=90,70,n", "ResizeImage=100,40,b", "ResizeImage=52,40,l", "CanvasSize=80,60,n",
    "CanvasSize=40,30,e", "Crop=5,7,30,20", "Offset=7,-5,w", "Offset=-3,4,r", "RankFilter=2,0", "RankFilter=1,1",
    "TotalVariationDiffusion=3", "BalancedDiffusion=3", "Despeckle=1,20", "Bilateral=3,30", "Posterize=5",
    "Levels=g,10,200,1.3,5,250", "Curves=a,0,0,64,40,192,220,255,255", "Curves=r,0,30,255,200",
    "BrightnessContrast=1.5,10", "ColorBalance=10,-20,30", "HueSaturation=30,1.5,0.1", "BlackAndWhite=0.5,0.2,0.3",
    "Variations=10,0,-10,5", "AutoLevels=1", "AutoContrast=1", "Threshold=100", "AddNoise=50,1,0",
    "AddNoise=30,0,1", "LensFlare=20,15,1.2", "Mosaic=4", "Facet=2", "Fragment=3", "Clouds=0.6",
    "DifferenceClouds=0.4",
]
CASES += [row["name"] for row in TABLE if not any(c.split("=")[0] == row["name"] for c in CASES)]


def keywords(text):
    """The keyword arguments of a row's function that mean what `text` means on the command line."""
    name, _, rest = text.partition("=")
    row = ROWS[name]
    values = rest.split(",") if rest else []
    kw = {}
    for p, v in zip(row["params"], values):
        kw[p["name"]] = {"int": int, "float": float, "flag": lambda s: s == "1", "code": str}[p["type"]](v)
    return row, kw


@pytest.fixture(scope="module")
def sweep_input(tmp_path_factory):
    folder = tmp_path_factory.mktemp("sweep")
    img = picture()
    path = folder / "in.png"
    orvex.save(img, path)
    return folder, path, img


def run_cli(*args):
    return subprocess.run([CLI, "--quiet", *map(str, args)], capture_output=True, text=True)


def test_every_operation_as_orvex_cli_gives_it(sweep_input):
    folder, path, img = sweep_input
    assert (orvex.load(path) == img).all()

    def cli(i):
        out = folder / f"out{i}.png"
        return run_cli("--seed", 7, path, out, CASES[i]), out

    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(cli, range(len(CASES))))
    for text, (done, out) in zip(CASES, results):
        row, kw = keywords(text)
        if row["seeded"]:
            kw["seed"] = 7
        function = getattr(orvex, row["function"])
        if done.returncode != 0:
            # The tool failing (Sign on a picture too small) must be a raise here, never a result.
            assert done.returncode == 4, (text, done.stderr)
            with pytest.raises(RuntimeError):
                function(img, **kw)
            continue
        expected = orvex.load(out)
        got = function(img, **kw)
        assert got.dtype == np.uint8 and got.flags.c_contiguous
        assert got.shape == expected.shape, text
        assert np.array_equal(got, expected), text
        assert np.array_equal(orvex.apply(img, text, seed=7), expected), text
        # BGR arrays: the same picture with the channels the other way round.
        bgr = function(np.ascontiguousarray(img[..., ::-1]), order="bgr", **kw)
        assert np.array_equal(bgr[..., ::-1], expected), text


def test_input_array_is_left_alone_and_odd_sizes_round_trip():
    for h, w in [(1, 1), (1, 7), (5, 1), (3, 5), (2, 4)]:
        img = picture(h, w)
        before = img.copy()
        out = orvex.flip_vertical(orvex.flip_vertical(img))
        assert np.array_equal(img, before) and np.array_equal(out, img)
        assert np.array_equal(orvex.invert(img), 255 - img)
        assert np.array_equal(orvex.rotate90_cw(img), np.rot90(img, -1))
        assert np.array_equal(orvex.flip_horizontal(img), img[:, ::-1])
        # Red raised, blue lowered: which channel is which follows `order`.
        bal = orvex.color_balance(img, red=20, green=0, blue=-20)
        assert np.array_equal(bal[..., 0], np.minimum(img[..., 0].astype(int) + 20, 255))
        assert np.array_equal(bal[..., 2], np.maximum(img[..., 2].astype(int) - 20, 0))
        bal_bgr = orvex.color_balance(img, red=20, green=0, blue=-20, order="bgr")
        assert np.array_equal(bal_bgr[..., 2], np.minimum(img[..., 2].astype(int) + 20, 255))


def test_channel_copies_at_every_row_length():
    # Rows of 1 .. 24 pixels: the copies in and out swap channels in steps of several pixels with
    # the rest one by one, and must neither drop nor mix a byte at the end of a row.
    for w in range(1, 25):
        img = picture(3, w, seed=w)
        assert np.array_equal(orvex.rotate180(img), img[::-1, ::-1]), w
        assert np.array_equal(orvex.rotate180(img, order="bgr"), img[::-1, ::-1]), w
        red_up = img.astype(int)
        red_up[..., 0] = np.minimum(red_up[..., 0] + 30, 255)
        assert np.array_equal(orvex.color_balance(img, red=30), red_up), w
        assert np.array_equal(orvex.color_balance(img[..., ::-1].copy(), red=30, order="bgr"), red_up[..., ::-1]), w


def test_arrays_the_engine_cannot_take_are_refused():
    img = picture(10, 12)
    cases = [
        (img[:, ::2], ValueError, "C-contiguous"),
        (np.asfortranarray(img), ValueError, "C-contiguous"),
        (img[::-1], ValueError, "C-contiguous"),
        (img.astype(np.float32), TypeError, "uint8"),
        (img.astype(np.int16), TypeError, "uint8"),
        (img.astype(np.int8), TypeError, "uint8"),
        (img[..., 0].copy(), ValueError, "shape"),
        (np.zeros((4, 4, 4), np.uint8), ValueError, "shape"),
        (np.zeros((0, 4, 3), np.uint8), ValueError, "no pixels"),
        (img.tolist(), TypeError, "numpy.ndarray"),
    ]
    for bad, error, words in cases:
        with pytest.raises(error, match=words):
            orvex.invert(bad)
        with pytest.raises(error, match=words):
            orvex.apply(bad, "Invert")
    with pytest.raises(ValueError, match="order"):
        orvex.invert(img, order="rbg")


def test_values_out_of_range_name_the_parameter_and_range():
    img = picture(8, 8)
    for row in TABLE:
        function = getattr(orvex, row["function"])
        for p in row["params"]:
            if p["type"] in ("int", "float"):
                big = p["max"] + 1 if p["type"] == "int" else p["max"] + 0.5
                low, high = (int(p["min"]), int(p["max"])) if p["type"] == "int" else (p["min"], p["max"])
                with pytest.raises(ValueError, match=re.escape(f"{p['name']} must be within {low!r} .. {high!r}")):
                    function(img, **{p["name"]: int(big) if p["type"] == "int" else big})
                small = p["min"] - 1
                with pytest.raises(ValueError, match=p["name"]):
                    function(img, **{p["name"]: int(small) if p["type"] == "int" else small})
            elif p["type"] == "code":
                with pytest.raises(ValueError, match=rf"{p['name']} must be one of"):
                    function(img, **{p["name"]: "?"})
            else:
                with pytest.raises(ValueError, match=p["name"]):
                    function(img, **{p["name"]: 2})
    with pytest.raises(TypeError, match="radius must be a float"):
        orvex.gaussian_blur(img, radius="5")
    with pytest.raises(TypeError, match="radius must be an int"):
        orvex.rank_filter(img, radius=2.0)
    with pytest.raises(ValueError, match="radius must be within 1 .. 100"):
        orvex.rank_filter(img, radius=2**70)
    with pytest.raises(ValueError, match="finite"):
        orvex.gaussian_blur(img, radius=float("nan"))
    with pytest.raises(TypeError):
        orvex.invert(img, radius=3)
    # Limits themselves are accepted, numpy scalars too.
    orvex.gaussian_blur(img, radius=np.float32(0.0), gaussian=np.bool_(False))
    orvex.posterize(img, levels=np.int64(256))
    with pytest.raises(ValueError, match="out of range 0..250"):
        orvex.apply(img, "GaussianBlur=251")
    with pytest.raises(ValueError, match="unknown operation"):
        orvex.apply(img, "Blurr")


def exif_jpeg(jpeg: bytes, orientation: int, artist: str) -> bytes:
    """`jpeg` with an APP1 EXIF segment after SOI: orientation and artist in IFD0."""
    text = artist.encode() + b"\0"
    entries = struct.pack("<HHIHH", 0x0112, 3, 1, orientation, 0)
    entries += struct.pack("<HHII", 0x013B, 2, len(text), 8 + 2 + 2 * 12 + 4)
    tiff = b"II*\0" + struct.pack("<IH", 8, 2) + entries + struct.pack("<I", 0) + text
    payload = b"Exif\0\0" + tiff
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload + jpeg[2:]


def test_load_and_save_round_trips(tmp_path):
    img = picture(33, 45)
    for ext in ["png", "bmp", "tif", "webp"]:
        path = tmp_path / f"a.{ext}"
        orvex.save(img, path, quality=100)
        assert np.array_equal(orvex.load(path), img), ext
        assert np.array_equal(orvex.load(str(path), order="bgr"), img[..., ::-1]), ext
    orvex.save(np.ascontiguousarray(img[..., ::-1]), tmp_path / "b.png", order="bgr")
    assert np.array_equal(orvex.load(tmp_path / "b.png"), img)
    orvex.save(img, tmp_path / "a.jpg", quality=95)
    diff = np.abs(orvex.load(tmp_path / "a.jpg").astype(int) - img)
    assert diff.mean() < 12
    # Same quality, same bytes as the tool writes.
    assert run_cli("--quality", 95, tmp_path / "a.png", tmp_path / "c.jpg").returncode == 0
    assert (tmp_path / "a.jpg").read_bytes() == (tmp_path / "c.jpg").read_bytes()


def test_metadata_from_keeps_what_orvex_cli_keeps(tmp_path):
    img = picture(20, 30)
    orvex.save(img, tmp_path / "plain.jpg")
    source = tmp_path / "camera.jpg"
    source.write_bytes(exif_jpeg((tmp_path / "plain.jpg").read_bytes(), 6, "Ada Example"))
    upright = orvex.load(source)
    assert upright.shape == (30, 20, 3)  # orientation 6: turned a quarter clockwise
    for ext in ["jpg", "png", "tif"]:
        ours, theirs = tmp_path / f"ours.{ext}", tmp_path / f"theirs.{ext}"
        orvex.save(upright, ours, metadata_from=source)
        assert run_cli("--quality", 92, source, theirs).returncode == 0
        assert ours.read_bytes() == theirs.read_bytes(), ext
        if ext != "png":  # PNG keeps EXIF deflated
            assert b"Ada Example" in ours.read_bytes()
        assert orvex.load(ours).shape == (30, 20, 3)  # written upright
    orvex.save(upright, tmp_path / "bare.jpg")
    assert b"Ada Example" not in (tmp_path / "bare.jpg").read_bytes()


def test_failing_loads_and_saves(tmp_path):
    with pytest.raises(FileNotFoundError):
        orvex.load(tmp_path / "missing.png")
    (tmp_path / "junk.png").write_bytes(b"not a picture at all")
    with pytest.raises(OSError, match="Load failed"):
        orvex.load(tmp_path / "junk.png")
    img = picture(6, 6)
    keep = tmp_path / "keep.png"
    orvex.save(picture(9, 9, seed=1), keep)
    before = keep.read_bytes()
    with pytest.raises(FileNotFoundError):
        orvex.save(img, keep, metadata_from=tmp_path / "missing.jpg")
    with pytest.raises(ValueError, match="quality"):
        orvex.save(img, keep, quality=0)
    with pytest.raises(ValueError, match="extension"):
        orvex.save(img, tmp_path / "x.unknown")
    with pytest.raises(OSError, match="Can not save"):
        orvex.save(img, tmp_path / "no" / "such" / "folder.png")
    assert keep.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["junk.png", "keep.png"]


def test_recipes(tmp_path):
    img = picture(12, 14)
    recipe = tmp_path / "r.txt"
    recipe.write_text("# tone first\n\n  Levels=a,10,245   # clip\nGaussianBlur=2\r\n\tInvert\n")
    assert orvex.read_recipe(recipe) == ["Levels=a,10,245", "GaussianBlur=2", "Invert"]
    expected = orvex.invert(orvex.gaussian_blur(orvex.levels(img, black=10, white=245), radius=2.0))
    assert np.array_equal(orvex.apply_recipe(img, recipe), expected)
    assert np.array_equal(orvex.apply_recipe(img, str(recipe)), expected)
    assert np.array_equal(orvex.apply_recipe(img, ["Levels=a,10,245", "GaussianBlur=2", "", "Invert"]), expected)
    assert np.array_equal(orvex.apply_recipe(img, []), img)
    bad = tmp_path / "bad.txt"
    bad.write_text("Invert\n# fine\nGaussianBlur=300\n")
    with pytest.raises(ValueError, match=r"bad.txt: line 3: .*out of range"):
        orvex.read_recipe(bad)
    with pytest.raises(ValueError, match="line 3"):
        orvex.apply_recipe(img, bad)
    with pytest.raises(ValueError, match=r"line 2: unknown operation 'Nope'"):
        orvex.apply_recipe(img, ["Invert", "Nope=1"])
    with pytest.raises(ValueError, match="line 1: .* takes 1 argument"):
        orvex.apply_recipe(img, ["HighPass=1,2"])
    with pytest.raises(FileNotFoundError):
        orvex.read_recipe(tmp_path / "none.txt")


def test_seeds():
    img = picture(16, 16)
    try:
        a = orvex.add_noise(img, amount=40.0, seed=11)
        assert np.array_equal(a, orvex.add_noise(img, amount=40.0, seed=11))
        assert not np.array_equal(a, orvex.add_noise(img, amount=40.0, seed=12))
        orvex.seed(11)
        assert np.array_equal(orvex.add_noise(img, amount=40.0), a)
        assert np.array_equal(orvex.apply(img, "AddNoise=40"), a)
        assert np.array_equal(orvex.add_noise(img, amount=40.0, seed=12), orvex.apply(img, "AddNoise=40", seed=12))
        for bad, error in [(-1, ValueError), (2**32, ValueError), (1.5, TypeError), (True, TypeError)]:
            with pytest.raises(error):
                orvex.add_noise(img, amount=40.0, seed=bad)
            with pytest.raises(error):
                orvex.seed(bad)
        assert "seed" not in inspect.signature(orvex.invert).parameters
    finally:
        orvex.seed(None)


def progress_while(call):
    """How often another Python thread got to run while `call` ran. The switch interval is made so
    long that a call holding the interpreter lock would let the other thread run not at all."""
    done = threading.Event()
    count = [0]

    def other():
        while not done.is_set():
            count[0] += 1
            time.sleep(0.001)  # lets the lock go, so the call can take it back when it returns

    old = sys.getswitchinterval()
    sys.setswitchinterval(30)
    thread = threading.Thread(target=other)
    try:
        thread.start()
        while count[0] == 0:
            time.sleep(0.001)
        before = count[0]
        call()
        during = count[0] - before
    finally:
        done.set()
        thread.join()
        sys.setswitchinterval(old)
    return during


def test_operations_loads_and_saves_let_other_threads_run(tmp_path):
    big = picture(700, 900)
    start = time.perf_counter()
    assert progress_while(lambda: orvex.total_variation_diffusion(big, iterations=40)) >= 10
    assert time.perf_counter() - start > 0.05
    path = tmp_path / "big.tif"
    assert progress_while(lambda: orvex.save(big, path)) >= 3
    assert progress_while(lambda: orvex.load(path)) >= 1


def test_threads_give_the_serial_results():
    pictures = [picture(120, 160, seed=s) for s in range(4)]
    steps = ["GaussianBlur=4", "RankFilter=2,0", "AddNoise=30,0,0", "Bilateral=2,20"]
    serial = [orvex.apply(p, s, seed=3) for p, s in zip(pictures, steps)]
    with ThreadPoolExecutor(4) as pool:
        parallel = list(pool.map(lambda ps: orvex.apply(ps[0], ps[1], seed=3), zip(pictures, steps)))
    for a, b in zip(serial, parallel):
        assert np.array_equal(a, b)


def test_stubs_and_docstrings_follow_the_table():
    stub = pathlib.Path(orvex.__file__).with_suffix(".pyi")
    tree = ast.parse(stub.read_text())
    stubs = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    for name in ["load", "save", "apply", "read_recipe", "apply_recipe", "seed"]:
        assert name in stubs
    for row in TABLE:
        function = getattr(orvex, row["function"])
        signature = inspect.signature(function)
        node = stubs[row["function"]]
        args = node.args
        assert [a.arg for a in args.args] == list(signature.parameters)[: len(args.args)]
        defaults = [ast.literal_eval(d) for d in args.defaults]
        assert defaults == [p.default for p in list(signature.parameters.values())[1 : len(args.args)]]
        assert ast.get_docstring(node) == inspect.getdoc(function)
        for p in row["params"]:
            assert signature.parameters[p["name"]].default == (
                chr(int(p["default"])) if p["type"] == "code" else p["default"]
            )
    doc = inspect.getdoc(orvex.gaussian_blur)
    assert "radius : float, 0.0 .. 250.0, default 10.0" in doc
    assert "gaussian : bool, default True" in doc
    assert "seed" in inspect.getdoc(orvex.add_noise)
    assert set(orvex.__all__) >= {"load", "save", "apply", "gaussian_blur", "rotate90_cw"}


def _forked_child(image, expected, queue):
    queue.put(bool(np.array_equal(orvex.rank_filter(image, radius=2), expected)))


def test_a_process_forked_after_an_operation_still_runs_operations():
    # The engine's helper threads stay in the parent; the child must neither wait for them for
    # ever nor give another result (a multiprocessing pool forks after the parent has worked).
    import multiprocessing

    image = picture(300, 400)
    expected = orvex.rank_filter(image, radius=2)
    context = multiprocessing.get_context("fork")
    queue = context.Queue()
    child = context.Process(target=_forked_child, args=(image, expected, queue))
    child.start()
    child.join(60)
    if child.is_alive():
        child.kill()
        pytest.fail("the forked process hung in its first operation")
    assert child.exitcode == 0 and queue.get(timeout=5)
