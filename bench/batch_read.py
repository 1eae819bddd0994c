#!/usr/bin/env python3
"""Many recordings at once: eight copies of a 10-minute 1000 Hz binocular
recording read in parallel on two cores, against one at a time.

    /usr/bin/python3 bench/batch_read.py prepare [BUILD_DIR]     # writes the copies, prints the commands
    /usr/bin/python3 bench/batch_read.py dataset WORKERS [BUILD_DIR]
    /usr/bin/python3 bench/batch_read.py one-by-one [BUILD_DIR]

`prepare` writes the recordings with the build's vokgen (beside the
benchmark programs, once) and prints the two comparisons to time in one run
each, the parallel command first and the one-at-a-time command as the
baseline:

    vok export -j 2 FOLDER            against  vok export -j 1 FOLDER
    batch_read.py dataset 2           against  batch_read.py one-by-one

`warm WORKERS` times, in one process, only the reading: the dataset's
compute on a cluster that is already running (best of two, after one
compute that warms it) against the one-by-one read (best of three), and
prints both wall times and their ratio; the cluster's start-up, which the
whole-process figures above include, is left out.

`dataset` reads every recording's samples as a vokapi.dataset frame on a
LocalCluster of WORKERS processes (one thread each) and counts the rows on
the workers; `one-by-one` reads the same samples with Recording.samples()
in this process, one file after the other.  Both print the row count, which
must agree.  Goal: the parallel commands at 1.8x or better on two cores.
"""

import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COPIES = 8


def paths(build):
    folder = os.path.join(build, "bench", "batch-read")
    return folder, [os.path.join(folder, f"rec{i}.vok") for i in range(COPIES)]


def prepare(build):
    folder, files = paths(build)
    os.makedirs(folder, exist_ok=True)
    first = files[0]
    if not os.path.exists(first):
        vokgen = os.path.join(build, "tools", "vokgen", "vokgen")
        subprocess.run([vokgen, "generate", first, "--seed", "21", "--duration-ms", "600000", "--rate", "1000"],
                       check=True, capture_output=True)
    with open(first, "rb") as f:
        data = f.read()
    for path in files[1:]:
        if not os.path.exists(path) or os.path.getsize(path) != len(data):
            with open(path, "wb") as f:
                f.write(data)
    vok = os.path.join(build, "tools", "vok", "vok")
    me = os.path.abspath(__file__)
    print(f"farm-bench --vs \"sh -c 'exec {vok} export -j 1 {folder} >/dev/null'\" -- "
          f"sh -c 'exec {vok} export -j 2 {folder} >/dev/null'")
    print(f"farm-bench --vs '/usr/bin/python3 {me} one-by-one {build}' -- /usr/bin/python3 {me} dataset 2 {build}")


def setup(build):
    os.environ.setdefault("VOKAPI_LIBRARY", os.path.join(build, "libvokapi.so"))
    sys.path.insert(0, os.path.join(ROOT, "python"))


def one_by_one(build):
    setup(build)
    import vokapi
    rows = 0
    for path in paths(build)[1]:
        with vokapi.open(path) as rec:
            rows += len(rec.samples(as_frame=True))
    print(rows)


def dataset(workers, build):
    setup(build)
    from dask.distributed import Client, LocalCluster

    import vokapi
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                      silence_logs=40) as cluster, Client(cluster):
        frame = vokapi.dataset(paths(build)[1]).samples()
        print(len(frame))  # counted on the workers, partition by partition


def warm(workers, build):
    setup(build)
    import time

    from dask.distributed import Client, LocalCluster

    import vokapi
    files = paths(build)[1]

    def best(calls):
        times = []
        for call in calls:
            start = time.perf_counter()
            call()
            times.append(time.perf_counter() - start)
        return min(times)

    def sequential():
        for path in files:
            with vokapi.open(path) as rec:
                len(rec.samples(as_frame=True))

    one = best([sequential] * 3)
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                      silence_logs=40) as cluster, Client(cluster):
        len(vokapi.dataset(files, consistency=2).samples())
        # Frames of equal work but distinct keys (levels 1 and 3 check the
        # same way): the cluster cannot answer one from an earlier result.
        frames = [vokapi.dataset(files, consistency=c).samples() for c in (1, 3)]
        parallel = best([lambda f=f: len(f) for f in frames])
    print(f"one by one {one:.3f} s, dataset on {workers} workers {parallel:.3f} s: {one / parallel:.2f}x")


def main():
    args = sys.argv[1:]
    if not args or args[0] not in ("prepare", "dataset", "warm", "one-by-one"):
        sys.exit(__doc__)
    if args[0] in ("dataset", "warm"):
        workers = int(args[1])
        build = args[2] if len(args) > 2 else os.path.join(ROOT, "build")
        (dataset if args[0] == "dataset" else warm)(workers, os.path.abspath(build))
        return
    build = os.path.abspath(args[1] if len(args) > 1 else os.path.join(ROOT, "build"))
    (prepare if args[0] == "prepare" else one_by_one)(build)


if __name__ == "__main__":
    main()
