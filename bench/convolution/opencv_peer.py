#!/usr/bin/env python3
"""OpenCV's GaussianBlur on the sizes and sigmas of convolution_bench, for ratios measured in the
same session (run it right before or after the benchmark). Needs Debian's python3-opencv.

    python3 bench/convolution/opencv_peer.py [runs]
"""
import sys
import time

import cv2
import numpy as np

runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
rng = np.random.default_rng(1)
cases = [(0.75, 6000, 4000), (1.5, 6000, 4000), (10, 6000, 4000), (50, 6000, 4000), (50, 4001, 2999)]
print(f"OpenCV {cv2.__version__}, {cv2.getNumThreads()} threads, median of {runs}")
for sigma, w, h in cases:
    img = rng.integers(0, 256, size=(h, w, 3), dtype=np.uint8)
    dst = np.empty_like(img)
    cv2.GaussianBlur(img, (0, 0), sigma, dst=dst)  # warm-up
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        cv2.GaussianBlur(img, (0, 0), sigma, dst=dst)
        times.append(time.perf_counter() - t)
    times.sort()
    print(f"GaussianBlur sigma {sigma:5} {w}x{h}: {times[len(times) // 2] * 1000:8.1f} ms")
