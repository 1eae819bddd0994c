#!/usr/bin/env python3
"""The reading goals in one table: every figure measured in this run next to
its floor (a plain read of the file, the plain open, zlib inflating alone, the
C walk), on the one-hour 1000 Hz binocular recording of the benchmarks.

    /usr/bin/python3 bench/goals.py [BUILD_DIR]

Needs a build with benchmarks (vokapi_bench, vok_export_bench,
vokapi_walk_time, vokgen, the shared library).  Takes about two minutes.
The machine may be shared: read the ratios, not the absolute times.
"""

import json
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def gbench(program, pattern):
    """Runs the Google Benchmark program on the benchmarks matching pattern
    and returns {name: result record}."""
    # The library's open prints a progress line on standard output: the
    # results go to a file of their own.
    with tempfile.NamedTemporaryFile(suffix=".json") as results:
        subprocess.run([program, f"--benchmark_filter={pattern}", f"--benchmark_out={results.name}",
                        "--benchmark_out_format=json"],
                       check=True, capture_output=True, cwd=os.path.dirname(program))
        out = open(results.name, encoding="utf-8").read()
    # Names carry their settings ("BM_Open/consistency:0/min_time:2.000"):
    # keep the benchmark and its arguments.
    return {b["name"].split("/min_time")[0].split("/iterations")[0]: b for b in json.loads(out)["benchmarks"]}


def seconds(record):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[record["time_unit"]]
    return record["real_time"] * scale


def python_frames(build, rounds):
    """Best processor time of samples(as_frame=True) plus events(as_frame=True)
    and of the C walk of the same recording, taking turns."""
    os.environ.setdefault("VOKAPI_LIBRARY", os.path.join(build, "libvokapi.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import vokapi
    from python_load import hour_recording

    path = hour_recording(build)
    walker = os.path.join(build, "bench", "vokapi_walk_time")
    best_py = best_c = float("inf")
    with vokapi.open(path, consistency=0) as rec:
        for _ in range(rounds):
            out = subprocess.run([walker, path, "1"], check=True, capture_output=True, text=True).stdout
            best_c = min(best_c, float(out.splitlines()[-1].split()[0]))
            start = time.process_time()
            frames = (rec.samples(as_frame=True), rec.events(as_frame=True))
            best_py = min(best_py, time.process_time() - start)
            del frames
    return best_py, best_c


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    bench = os.path.join(build, "bench")
    read = gbench(os.path.join(bench, "vokapi_bench"),
                  "BM_(PlainRead|Open/consistency:[02]|InflateAlone|OpenCompressed|WalkWithVelocities)/")
    export = gbench(os.path.join(bench, "vok_export_bench"), "BM_ExportSamplesCsv/")
    py, c_walk = python_frames(build, int(os.environ.get("VOKAPI_BENCH_ROUNDS", "3")))

    plain = seconds(read["BM_PlainRead"])
    open0 = seconds(read["BM_Open/consistency:0"])
    open2 = seconds(read["BM_Open/consistency:2"])
    compressed = seconds(read["BM_OpenCompressed"])
    inflate = seconds(read["BM_InflateAlone"])
    walk = read["BM_WalkWithVelocities"]["samples_per_s"]
    rows = export["BM_ExportSamplesCsv"]["items_per_second"]
    per_item = read["BM_Open/consistency:0"]["index_bytes_per_item"]

    # measure, figure, floor, ratio, goal, met
    table = [
        ("open, consistency 0, vs plain read", f"{open0 * 1e3:.1f} ms", f"{plain * 1e3:.1f} ms",
         open0 / plain, "<= 4x", open0 / plain <= 4.0),
        ("open at consistency 2 vs 0", f"{open2 * 1e3:.1f} ms", f"{open0 * 1e3:.1f} ms",
         open2 / open0, "<= 1.2x", open2 / open0 <= 1.2),
        ("compressed open vs plain open", f"{compressed * 1e3:.1f} ms", f"{open0 * 1e3:.1f} ms",
         compressed / open0, "<= 1.15x", compressed / open0 <= 1.15),
        ("  (inflating alone vs plain open)", f"{inflate * 1e3:.1f} ms", f"{open0 * 1e3:.1f} ms",
         inflate / open0, "", None),
        ("  (compressed open vs the larger of the two)", f"{compressed * 1e3:.1f} ms",
         f"{max(inflate, open0) * 1e3:.1f} ms", compressed / max(inflate, open0), "", None),
        ("walk with velocities", f"{walk / 1e6:.2f} M samples/s", "", None, ">= 10 M/s", walk >= 10e6),
        ("Python samples+events frames vs C walk", f"{py:.3f} s", f"{c_walk:.3f} s",
         py / c_walk, "<= 1.3x", py / c_walk <= 1.3),
        ("vok export samples CSV", f"{rows / 1e6:.2f} M rows/s", "", None, ">= 4 M rows/s", rows >= 4e6),
        ("index memory", f"{per_item:.1f} B/item", "", None, "16 B/item", per_item <= 16.0),
    ]
    print(f"{'measure':42s} {'figure':>18s} {'floor':>10s} {'ratio':>7s}  {'goal':>13s}")
    for name, figure, floor, ratio, goal, met in table:
        r = "" if ratio is None else f"{ratio:.2f}x"
        verdict = "" if met is None else ("met" if met else "MISSED")
        print(f"{name:42s} {figure:>18s} {floor:>10s} {r:>7s}  {goal:>13s} {verdict}")


if __name__ == "__main__":
    main()
