#!/usr/bin/env python3
"""Measures two builds of KeyScout in one run, for docs/PERFORMANCE.md and its plot: the scan
benchmarks of each build's keyscout-bench, then whole keyscout-list runs of each, taken in
turns so that both meet the same load.

    python3 bench/compare-builds.py --before /work/wt/perf-before/build/linux \\
        [--after build/linux] [--out docs/scan-scale.json] [--repetitions 5] [--runs 40]

--before and --after are build folders of the linux preset (an earlier commit can be built
in a worktree of its own: git worktree add DIR COMMIT, then cmake --preset linux and a build
there). Both benchmark binaries scan the same generated machines, those of --after. The
whole runs are `keyscout-list --json --machine` on the machine of 100 devices and, as the
start-up they are measured against, on an empty machine; for each, the median and the least
of --runs runs of wall time, and of CPU time (the process's user and system time).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

FILTER = "ScanScale|ScanWithoutSearch|DriverKeySearch|LoadMachine|MakeModelPlatform"


def bench(build, machines, repetitions):
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as out:
        path = out.name
    env = dict(os.environ, KS_BENCH_MACHINES=machines)
    subprocess.run([os.path.join(build, "bench", "keyscout-bench"),
                    "--benchmark_filter=" + FILTER,
                    "--benchmark_repetitions=%d" % repetitions,
                    "--benchmark_report_aggregates_only=true",
                    "--benchmark_out=" + path, "--benchmark_out_format=json"],
                   env=env, check=True, stdout=subprocess.DEVNULL)
    with open(path) as f:
        result = json.load(f)
    os.unlink(path)
    return result


def one_run(program, machine):
    start = time.perf_counter()
    child = subprocess.Popen([program, "--json", "--machine", machine], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit("%s --machine %s failed (%d)" % (program, machine, status))
    return wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000


def whole_runs(builds, machines, runs):
    empty = os.path.join(tempfile.gettempdir(), "keyscout-empty-machine.json")
    with open(empty, "w") as f:
        f.write("{}\n")
    cases = {"empty": empty, "100 devices": os.path.join(machines, "machine-100.json")}
    samples = {(b, c): ([], []) for b in builds for c in cases}
    for _ in range(runs):
        for b, build in builds.items():
            program = os.path.join(build, "tools", "keyscout-list", "keyscout-list")
            for c, machine in cases.items():
                wall, cpu = one_run(program, machine)
                samples[(b, c)][0].append(wall)
                samples[(b, c)][1].append(cpu)
    out = {}
    for (b, c), (walls, cpus) in samples.items():
        out.setdefault(b, {})[c] = {"median wall ms": statistics.median(walls),
                                    "median cpu ms": statistics.median(cpus),
                                    "min wall ms": min(walls), "min cpu ms": min(cpus),
                                    "runs": runs}
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--before", required=True)
    ap.add_argument("--after", default="build/linux")
    ap.add_argument("--out", default="docs/scan-scale.json")
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--runs", type=int, default=40)
    args = ap.parse_args()
    builds = {"before": args.before, "after": args.after}
    machines = os.path.join(args.after, "bench", "machines")
    result = {"load average at start": os.getloadavg()}
    for name, build in builds.items():
        print("benchmarks of %s (%s)" % (name, build), file=sys.stderr)
        result[name] = bench(build, machines, args.repetitions)
    print("whole keyscout-list runs", file=sys.stderr)
    result["whole runs"] = whole_runs(builds, machines, args.runs)
    result["load average at end"] = os.getloadavg()
    with open(args.out, "w") as f:
        json.dump(result, f, indent=1)
        f.write("\n")
    for b in builds:
        runs = result["whole runs"][b]
        print("%s: keyscout-list --json on 100 devices %.1f ms wall (%.1f CPU, least %.1f), "
              "empty machine %.1f ms wall (%.1f CPU, least %.1f)"
              % (b, runs["100 devices"]["median wall ms"], runs["100 devices"]["median cpu ms"],
                 runs["100 devices"]["min cpu ms"], runs["empty"]["median wall ms"],
                 runs["empty"]["median cpu ms"], runs["empty"]["min cpu ms"]))


if __name__ == "__main__":
    main()
