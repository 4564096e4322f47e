"""The Python module's call overhead, read off one run.

    PYTHONPATH=build-release/python python3 bench/python/call_overhead.py build-release/bench/python/python_bridge_bench

Runs the C++ benchmark of the module's work without the interpreter (copy in, operation, copy out,
bench/python/python_bridge_bench.cpp), then times the same calls through `orvex` on the same
1000 x 1000 picture and prints both with the interpreter's share. Both use the benchmark's own FFT
wisdom file, so the blurs plan alike.
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

import orvex  # noqa: E402

CALLS = {
    "Invert": (lambda a: orvex.invert(a), "BM_ArrayCall/Invert"),
    "Sharpen": (lambda a: orvex.sharpen(a), "BM_ArrayCall/Sharpen"),
    "GaussianBlur=5,1": (lambda a: orvex.gaussian_blur(a, radius=5.0), "BM_ArrayCall/GaussianBlur"),
    "Invert (bgr)": (lambda a: orvex.invert(a, order="bgr"), "BM_ArrayCall/InvertBgr"),
}


def cpp_times(program):
    out = subprocess.run(
        [program, "--benchmark_format=json", "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            times[b["run_name"].removesuffix("/real_time")] = b["real_time"]  # microseconds
    return times


def python_time(call, image, seconds=1.0):
    call(image)
    samples = []
    deadline = time.perf_counter() + seconds
    while time.perf_counter() < deadline or len(samples) < 20:
        start = time.perf_counter()
        call(image)
        samples.append(time.perf_counter() - start)
    return float(np.median(samples)) * 1e6


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else "build-release/bench/python/python_bridge_bench"
    cpp = cpp_times(program)
    image = np.ascontiguousarray(np.random.default_rng(1).integers(0, 256, (1000, 1000, 3), dtype=np.uint8))
    print(f"memcpy of the array (floor)        {cpp['BM_MemcpyFloor']:9.0f} us")
    print(f"copies in and out alone (rgb, bgr) {cpp['BM_CopiesOnly/rgb']:9.0f} us {cpp['BM_CopiesOnly/bgr']:6.0f} us")
    print(f"{'operation':24} {'engine':>9} {'C++ call':>9} {'Python':>9} {'overhead':>9}")
    for name, (call, key) in CALLS.items():
        engine = cpp.get("BM_Engine/" + key.split("/")[1].replace("Bgr", ""), float("nan"))
        ours = python_time(call, image)
        base = cpp[key]
        print(f"{name:24} {engine:7.0f}us {base:7.0f}us {ours:7.0f}us {100 * (ours - base) / base:8.1f}%")


if __name__ == "__main__":
    main()
