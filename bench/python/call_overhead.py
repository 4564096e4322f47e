"""The Python module's call overhead on a 1000 x 1000 picture, read off one run.

    PYTHONPATH=build-release/python python3 bench/python/call_overhead.py [build-release/bench/python/python_bridge_bench]

Each call through `orvex` is timed beside the same work done without the interpreter
(_orvex.time_native: copy in, operation, a fresh output buffer, copy out), the two alternating
call by call in one process so that both meet the same load on a shared machine; the medians and
their difference are printed. Given the path of the C++ benchmark program
(bench/python/python_bridge_bench.cpp), its figures for the operation alone on a picture already in
the engine, the copies alone and the memcpy floor are printed first. Both use the benchmark's own
FFT wisdom file, so the blurs plan alike.
"""

import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

os.environ.setdefault("ORVEX_FFT_WISDOM", str(pathlib.Path(tempfile.gettempdir()) / "orvex-bench-fftw-wisdom"))

import numpy as np  # noqa: E402

import _orvex  # noqa: E402
import orvex  # noqa: E402

CALLS = [
    ("Invert", "rgb", lambda a: orvex.invert(a)),
    ("Invert", "bgr", lambda a: orvex.invert(a, order="bgr")),
    ("Sharpen", "rgb", lambda a: orvex.sharpen(a)),
    ("GaussianBlur=5,1", "rgb", lambda a: orvex.gaussian_blur(a, radius=5.0, gaussian=True)),
]


def cpp_figures(program):
    out = subprocess.run(
        [program, "--benchmark_format=json", "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            print(f"  C++ {b['run_name'].removesuffix('/real_time'):32} {b['real_time']:9.0f} us")


def compare(text, order, call, image, seconds=2.0):
    call(image)
    _orvex.time_native(image, text, order, 1)
    py, native = [], []
    deadline = time.perf_counter() + seconds
    while time.perf_counter() < deadline or len(py) < 15:
        start = time.perf_counter()
        call(image)
        py.append(time.perf_counter() - start)
        native.append(_orvex.time_native(image, text, order, 1)[0])
    p, n = np.median(py) * 1e6, np.median(native) * 1e6
    size = f"{image.shape[1]}x{image.shape[0]}"
    print(f"  {text + ' ' + order + ' ' + size:32} {n:9.1f} us {p:9.1f} us {p - n:+8.1f} us {100 * (p - n) / n:+7.1f} %")


def main():
    if len(sys.argv) > 1:
        cpp_figures(sys.argv[1])
    image = np.random.default_rng(1).integers(0, 256, (1000, 1000, 3), dtype=np.uint8)
    print(f"  {'call':32} {'C++ only':>12} {'Python':>12} {'overhead':>11} {'':>9}")
    for text, order, call in CALLS:
        compare(text, order, call, image)
    # The interpreter's fixed share of a call, where the engine has next to nothing to do.
    tiny = np.zeros((1, 1, 3), np.uint8)
    compare("Invert", "rgb", lambda a: orvex.invert(a), tiny, seconds=0.5)
    compare("GaussianBlur=5,1", "rgb", lambda a: orvex.gaussian_blur(a, radius=5.0, gaussian=True), tiny, seconds=0.5)


if __name__ == "__main__":
    main()
