# Draws the 80 x 27 signature stamp: a cursive "Orvex" with an underline swash, white strokes on
# black, written as a 24-bit bottom-up BMP.
import math, struct, sys

W, H = 80, 27
img = [[0.0] * W for _ in range(H)]

def catmull(points, steps=24):
    out = []
    pts = [points[0]] + points + [points[-1]]
    for i in range(1, len(pts) - 2):
        p0, p1, p2, p3 = pts[i - 1], pts[i], pts[i + 1], pts[i + 2]
        for s in range(steps):
            t = s / steps
            t2, t3 = t * t, t * t * t
            x = 0.5 * ((2 * p1[0]) + (-p0[0] + p2[0]) * t + (2 * p0[0] - 5 * p1[0] + 4 * p2[0] - p3[0]) * t2 + (-p0[0] + 3 * p1[0] - 3 * p2[0] + p3[0]) * t3)
            y = 0.5 * ((2 * p1[1]) + (-p0[1] + p2[1]) * t + (2 * p0[1] - 5 * p1[1] + 4 * p2[1] - p3[1]) * t2 + (-p0[1] + 3 * p1[1] - 3 * p2[1] + p3[1]) * t3)
            out.append((x, y))
    out.append(points[-1])
    return out

def stroke(points, width=1.3, level=1.0):
    path = catmull(points)
    for (ax, ay), (bx, by) in zip(path, path[1:]):
        x0, x1 = int(min(ax, bx) - 3), int(max(ax, bx) + 3)
        y0, y1 = int(min(ay, by) - 3), int(max(ay, by) + 3)
        dx, dy = bx - ax, by - ay
        L2 = dx * dx + dy * dy or 1e-9
        for y in range(max(0, y0), min(H, y1 + 1)):
            for x in range(max(0, x0), min(W, x1 + 1)):
                px, py = x + 0.5, y + 0.5
                t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / L2))
                d = math.hypot(px - (ax + t * dx), py - (ay + t * dy))
                v = max(0.0, min(1.0, width - d + 0.5)) * level
                img[y][x] = max(img[y][x], v)

# "O": an open oval with a little entry loop
stroke([(14, 6), (8, 7), (5, 13), (7, 19), (13, 20), (18, 15), (17, 8), (12, 5), (9, 7)])
# "r" joined to "v", "e", "x" in one running line
stroke([(16, 14), (20, 12), (21, 18), (22, 13), (25, 12), (27, 13),
        (29, 18), (31, 12), (33, 18), (35, 12), (37, 13),
        (41, 15), (44, 13), (42, 11), (39, 13), (40, 18), (45, 17), (48, 13),
        (51, 12), (55, 18), (58, 19)])
stroke([(49, 18), (53, 15), (57, 11)], width=1.1)
# underline swash, fainter
stroke([(4, 23), (20, 24), (40, 23), (60, 21), (74, 17), (77, 13)], width=1.0, level=0.7)
# a dot after the name
stroke([(64, 17), (64.6, 17.4)], width=1.2)

row = (W * 3 + 3) & ~3
data = bytearray()
for y in range(H - 1, -1, -1):
    line = bytearray()
    for x in range(W):
        v = int(round(img[y][x] * 255))
        # a warm white: the blue byte a little lower than green and red
        line += bytes((int(v * 0.92), v, v))
    line += b"\0" * (row - W * 3)
    data += line
header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
open(sys.argv[1], "wb").write(header + info + data)
