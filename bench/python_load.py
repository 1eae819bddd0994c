#!/usr/bin/env python3
"""Loading all samples of a one-hour 1000 Hz binocular recording with the
Python package, against the C walk of the same file (every item stepped and
its record fetched, velocities computed) timed by vokapi_walk_time.

    /usr/bin/python3 bench/python_load.py [BUILD_DIR]

Writes the recording with the build's vokgen on first use (beside the
benchmark programs) and prints each figure (processor time, best of the
rounds) with its ratio to the C walk.
Goals: NumPy columns within 1.5x, a DataFrame within 2.5x.
"""

import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def best_of(rounds, call):
    """Best processor time of the process over the rounds, in seconds (the
    machine may be shared; processor time is not stretched by waiting)."""
    best = float("inf")
    result = None
    for _ in range(rounds):
        start = time.process_time()
        result = call()
        best = min(best, time.process_time() - start)
        del result
    return best


def hour_recording(build):
    """The one-hour 1000 Hz binocular recording beside the benchmark
    programs, written with the build's vokgen on first use."""
    path = os.path.join(build, "bench", "python_hour_1000hz.vok")
    if not os.path.exists(path):
        print(f"writing {path} ...", flush=True)
        subprocess.run([os.path.join(build, "tools", "vokgen", "vokgen"), "generate", path, "--seed", "2026",
                        "--duration-ms", "3600000", "--rate", "1000", "--blocks", "12", "--eyes", "both"],
                       check=True, capture_output=True)
    return path


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    os.environ.setdefault("VOKAPI_LIBRARY", os.path.join(build, "libvokapi.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))
    import vokapi

    path = hour_recording(build)
    walker = os.path.join(build, "bench", "vokapi_walk_time")

    def c_walk():
        out = subprocess.run([walker, path, "1"], check=True, capture_output=True, text=True).stdout
        seconds, count = out.splitlines()[-1].split()[:2]
        return float(seconds), int(count)

    rounds = int(os.environ.get("VOKAPI_BENCH_ROUNDS", "5"))
    with vokapi.open(path, consistency=0) as rec:
        figures = [
            ("NumPy, default columns", lambda: rec.samples(), 1.5),
            ("NumPy, all columns", lambda: rec.samples(columns="all"), None),
            ("NumPy, raw Sample records", lambda: rec.samples(raw=True), None),
            ("DataFrame, default columns", lambda: rec.samples(as_frame=True), 2.5),
            ("DataFrame, all columns", lambda: rec.samples(columns="all", as_frame=True), None),
        ]
        samples = len(rec.samples(columns="time"))
        # The machine may be busy: the C walk and each figure take turns, and
        # the best of the rounds counts.
        best_c = float("inf")
        best = {name: float("inf") for name, _, _ in figures}
        for _ in range(rounds):
            for name, call, _ in figures:
                seconds, count = c_walk()
                assert count == samples, (count, samples)
                best_c = min(best_c, seconds)
                best[name] = min(best[name], best_of(1, call))
    print(f"recording: {path}, {samples} samples, best of {rounds} rounds")
    print(f"{'C walk with velocities':32s}{best_c:8.3f} s  1.00x")
    for name, _, goal in figures:
        ratio = best[name] / best_c
        verdict = "" if goal is None else f"   goal {goal}x: {'met' if ratio <= goal else 'MISSED'}"
        print(f"{name:32s}{best[name]:8.3f} s {ratio:5.2f}x{verdict}")

if __name__ == "__main__":
    main()
