#!/usr/bin/env python3
"""OpenCV's counterparts of geometry_bench on a 6000 x 4000 picture, for ratios measured in the same
session (run it right before or after the benchmark). Needs Debian's python3-opencv.

    python3 bench/geometry/opencv_peer.py [runs]
"""
import math
import sys
import time

import cv2
import numpy as np

runs = int(sys.argv[1]) if len(sys.argv) > 1 else 7
rng = np.random.default_rng(1)
h, w = 4000, 6000
img = rng.integers(0, 256, size=(h, w, 3), dtype=np.uint8)

# The rotated canvas of RotateArbitrary(12.5) on this size.
a = math.radians(12.5)
c, s = math.cos(a), math.sin(a)
rw = math.ceil((w - 1) * c + (h - 1) * s)
rh = math.ceil((w - 1) * s + (h - 1) * c)
m = cv2.getRotationMatrix2D((w / 2, h / 2), -12.5, 1.0)
m[0, 2] += rw / 2 - w / 2
m[1, 2] += rh / 2 - h / 2

cases = [
    ("copy pass (numpy copyto)", lambda: np.copyto(dst_same, img)),
    ("rotate 90 cw", lambda: cv2.rotate(img, cv2.ROTATE_90_CLOCKWISE)),
    ("rotate 90 ccw", lambda: cv2.rotate(img, cv2.ROTATE_90_COUNTERCLOCKWISE)),
    ("flip horizontal", lambda: cv2.flip(img, 1)),
    ("flip vertical", lambda: cv2.flip(img, 0)),
    ("rotate 180 (flip both)", lambda: cv2.flip(img, -1)),
    ("warpAffine 12.5 linear", lambda: cv2.warpAffine(img, m, (rw, rh), flags=cv2.INTER_LINEAR,
                                                     borderMode=cv2.BORDER_CONSTANT, borderValue=(100, 100, 100))),
    ("resize 1600x1067 area", lambda: cv2.resize(img, (1600, 1067), interpolation=cv2.INTER_AREA)),
    ("resize 1600x1067 linear", lambda: cv2.resize(img, (1600, 1067), interpolation=cv2.INTER_LINEAR)),
    ("resize 1600x1067 nearest", lambda: cv2.resize(img, (1600, 1067), interpolation=cv2.INTER_NEAREST)),
    ("resize 12000x8000 linear", lambda: cv2.resize(img, (12000, 8000), interpolation=cv2.INTER_LINEAR)),
    ("resize 12000x8000 nearest", lambda: cv2.resize(img, (12000, 8000), interpolation=cv2.INTER_NEAREST)),
]
dst_same = np.empty_like(img)
print(f"OpenCV {cv2.__version__}, {cv2.getNumThreads()} threads, median of {runs}")
for name, fn in cases:
    fn()  # warm-up
    times, cpu = [], []
    for _ in range(runs):
        t, c = time.perf_counter(), time.process_time()
        fn()
        times.append(time.perf_counter() - t)
        cpu.append(time.process_time() - c)
    times.sort()
    cpu.sort()
    # CPU time of all threads is the steadier figure on a busy machine.
    print(f"{name:28}: {times[len(times) // 2] * 1000:8.1f} ms  (range {times[0] * 1000:.1f}-{times[-1] * 1000:.1f})"
          f"  cpu {cpu[len(cpu) // 2] * 1000:8.1f} ms")
