#!/usr/bin/env python3
"""OpenCV's medianBlur(5) and bilateralFilter on the 6000 x 4000 photo, the peers of Despeckle and
Bilateral (rank_diffusion_bench's DespeckleBench and BilateralBench). Median of five runs, in ms."""
import os
import sys
import time

import cv2

path = os.path.join(os.environ.get("ORVEX_BENCH_IMAGES", "/tmp/orvex-bench"), "photo_6000x4000.ppm")
image = cv2.imread(path, cv2.IMREAD_COLOR)
if image is None:
    sys.exit("cannot read " + path)
print("OpenCV", cv2.__version__, "threads", cv2.getNumThreads())


def timed(name, call, runs=5):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append((time.perf_counter() - start) * 1000.0)
    print(f"{name}: {sorted(times)[len(times) // 2]:.1f} ms")


timed("medianBlur ksize 5", lambda: cv2.medianBlur(image, 5))
radius = 5
timed(f"bilateralFilter d={2 * radius + 1} sigmaColor=30 sigmaSpace={radius / 2}",
      lambda: cv2.bilateralFilter(image, 2 * radius + 1, 30, radius / 2), runs=3)
