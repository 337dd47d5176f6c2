#!/usr/bin/env python3
"""Draws the time per scan pass against the number of USB devices (log-log) from the JSON
output of keyscout-bench, as docs/scan-scale.png. Needs only python3 and ImageMagick (convert).

    build/linux/bench/keyscout-bench --benchmark_filter='ScanScale|ScanWithoutSearch' \\
        --benchmark_out=docs/scan-scale.json --benchmark_out_format=json
    python3 bench/plot-scale.py docs/scan-scale.json docs/scan-scale.png
"""
import json
import math
import subprocess
import sys

W, H, L, R, T, B = 760, 500, 80, 220, 40, 60


def main():
    src, png = sys.argv[1], sys.argv[2]
    runs = json.load(open(src))["benchmarks"]
    series = {"whole pass": {}, "driver-key search": {}, "rest of the pass": {},
              "pass, node found by table": {}}
    for b in runs:
        name, _, arg = b["name"].partition("/")
        n = int(arg)
        if name == "ScanScale":
            series["whole pass"][n] = b["cpu_time"]
            total = b.get("search ms", 0) + b.get("rest ms", 0)
            share = b.get("search ms", 0) / total if total else 0
            series["driver-key search"][n] = b["cpu_time"] * share
            series["rest of the pass"][n] = b["cpu_time"] * (1 - share)
        elif name == "ScanWithoutSearch":
            series["pass, node found by table"][n] = b["cpu_time"]
    xs = (10, 1000)
    ys = (0.1, 100000)

    def px(n):
        return L + (math.log10(n) - math.log10(xs[0])) / (math.log10(xs[1]) - math.log10(xs[0])) * (W - L - R)

    def py(ms):
        return H - B - (math.log10(ms) - math.log10(ys[0])) / (math.log10(ys[1]) - math.log10(ys[0])) * (H - T - B)

    colours = ["#c0392b", "#8e44ad", "#2471a3", "#229954"]
    args = ["convert", "-size", "%dx%d" % (W, H), "xc:white", "-font", "DejaVu-Sans", "-pointsize", "13"]

    def line(x1, y1, x2, y2, colour, width=1, dash=None):
        args.extend(["-stroke", colour, "-strokewidth", str(width), "-fill", "none"])
        if dash:
            args.extend(["-draw", "stroke-dasharray %s line %.1f,%.1f %.1f,%.1f" % (dash, x1, y1, x2, y2)])
        else:
            args.extend(["-draw", "line %.1f,%.1f %.1f,%.1f" % (x1, y1, x2, y2)])

    def text(x, y, words, size=13, anchor="start"):
        gravity_shift = {"start": 0, "middle": 3.6 * len(words), "end": 7.2 * len(words)}[anchor]
        args.extend(["-stroke", "none", "-fill", "black", "-pointsize", str(size),
                     "-draw", "text %.1f,%.1f '%s'" % (x - gravity_shift, y, words)])

    for e in range(-1, 6):
        y = py(10 ** e)
        line(L, y, W - R, y, "#dddddd")
        text(L - 6, y + 4, "%g" % 10 ** e, anchor="end")
    for n in (10, 30, 100, 300, 1000):
        x = px(n)
        line(x, T, x, H - B, "#dddddd")
        text(x, H - B + 18, str(n), anchor="middle")
    text((L + W - R) / 2, H - 15, "USB devices (about 28 device nodes each)", anchor="middle")
    text((L + W - R) / 2, 24, "One scan pass on simulated machines (log-log)", 15, "middle")
    text(8, T - 12, "CPU ms per pass")
    legend = []
    for (label, pts), colour in zip(series.items(), colours):
        if not pts:
            continue
        ordered = sorted(pts.items())
        for (n1, v1), (n2, v2) in zip(ordered, ordered[1:]):
            line(px(n1), py(v1), px(n2), py(v2), colour, 2.5)
        for n, v in ordered:
            args.extend(["-stroke", "none", "-fill", colour,
                         "-draw", "circle %.1f,%.1f %.1f,%.1f" % (px(n), py(v), px(n) + 3.5, py(v))])
        legend.append((colour, label, None))
    # Reference slopes through the table pass at 10 devices: linear and quadratic growth.
    base = series["pass, node found by table"].get(10)
    if base:
        for k, dash, label in ((1, "6 4", "linear growth"), (2, "2 4", "quadratic growth")):
            end = min(1000, 10 * (ys[1] / base) ** (1 / k))
            line(px(10), py(base), px(end), py(base * (end / 10) ** k), "#999999", 1, dash)
            legend.append(("#999999", label, dash))
    for i, (colour, label, dash) in enumerate(legend):
        y = T + 20 + 22 * i
        line(W - R + 12, y, W - R + 40, y, colour, 2.5, dash)
        text(W - R + 46, y + 4, label)
    args.append(png)
    subprocess.run(args, check=True)


if __name__ == "__main__":
    main()
