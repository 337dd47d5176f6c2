#!/usr/bin/env python3
"""Draws the CPU time per scan pass against the number of USB devices (log-log), before and
after a change, from the JSON that bench/compare-builds.py writes, as docs/scan-scale.png.
Needs only python3 and ImageMagick (convert).

    python3 bench/compare-builds.py --before BUILD_OF_THE_EARLIER_COMMIT
    python3 bench/plot-scale.py docs/scan-scale.json docs/scan-scale.png
"""
import json
import math
import subprocess
import sys

W, H, L, R, T, B = 820, 540, 80, 280, 56, 60


def medians(runs):
    """Benchmark name -> its median aggregate (or its only run)."""
    out = {}
    for b in runs["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        out[b.get("run_name", b["name"])] = b
    return out


def main():
    src, png = sys.argv[1], sys.argv[2]
    doc = json.load(open(src))
    series = {}
    for when in ("before", "after"):
        if when not in doc:
            continue
        whole, search, rest = {}, {}, {}
        for name, b in medians(doc[when]).items():
            kind, _, arg = name.partition("/")
            if kind != "ScanScale":
                continue
            n = int(arg)
            whole[n] = b["cpu_time"]
            total = b.get("search ms", 0) + b.get("rest ms", 0)
            share = b.get("search ms", 0) / total if total else 0
            search[n] = b["cpu_time"] * share
            rest[n] = b["cpu_time"] * (1 - share)
        series["whole pass, " + when] = whole
        series["driver-key search, " + when] = search
        series["rest of the pass, " + when] = rest
    xs = (10, 1000)
    ys = (0.01, 100000)

    def px(n):
        return L + (math.log10(n) - math.log10(xs[0])) / (math.log10(xs[1]) - math.log10(xs[0])) * (W - L - R)

    def py(ms):
        return H - B - (math.log10(ms) - math.log10(ys[0])) / (math.log10(ys[1]) - math.log10(ys[0])) * (H - T - B)

    colours = {"whole pass": "#c0392b", "driver-key search": "#8e44ad",
               "rest of the pass": "#2471a3"}
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

    for e in range(-2, 6):
        y = py(10 ** e)
        line(L, y, W - R, y, "#dddddd")
        text(L - 6, y + 4, "%g" % 10 ** e, anchor="end")
    for n in (10, 30, 100, 300, 1000):
        x = px(n)
        line(x, T, x, H - B, "#dddddd")
        text(x, H - B + 18, str(n), anchor="middle")
    text((L + W - R) / 2, H - 15, "USB devices (about 28 device nodes each)", anchor="middle")
    text((L + W - R) / 2, 20, "One scan pass on simulated machines, before and after (log-log)",
         15, "middle")
    text(8, T - 12, "CPU ms per pass (dashed: before, solid: after)")
    legend = []
    for label, pts in series.items():
        if not pts:
            continue
        kind, _, when = label.rpartition(", ")
        colour = colours[kind]
        dash = "7 4" if when == "before" else None
        ordered = sorted(pts.items())
        for (n1, v1), (n2, v2) in zip(ordered, ordered[1:]):
            line(px(n1), py(max(v1, ys[0])), px(n2), py(max(v2, ys[0])), colour, 2.5, dash)
        for n, v in ordered:
            args.extend(["-stroke", "none", "-fill", colour,
                         "-draw", "circle %.1f,%.1f %.1f,%.1f" % (px(n), py(max(v, ys[0])),
                                                                  px(n) + 3.5, py(max(v, ys[0])))])
        legend.append((colour, label, dash))
    # Reference slopes through the rest of the pass at 10 devices: linear and quadratic.
    base = series.get("rest of the pass, after", {}).get(10)
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
