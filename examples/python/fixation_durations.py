"""Mean fixation duration per recording over a folder of recordings, computed
on a local Dask cluster (one partition per recording).

    python3 fixation_durations.py FOLDER [WORKERS]

Needs Dask (Debian: python3-dask python3-distributed python3-fsspec).
"""

import sys

from dask.distributed import Client, LocalCluster

import vokapi


def main(folder, workers=2):
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster):
        ds = vokapi.dataset(folder, consistency=2, on_error="skip")
        for path, reason in ds.errors:
            print(f"left out {path}: {reason}", file=sys.stderr)
        events = ds.events()
        fixations = events[events["type"] == "fixation"]
        summary = fixations.groupby("recording")["duration"].agg(["count", "mean"]).compute()
    summary = summary.sort_index()
    print(f"{'recording':40} {'fixations':>9} {'mean ms':>9}")
    for path, row in summary.iterrows():
        print(f"{path:40} {int(row['count']):9d} {row['mean']:9.1f}")


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 2)
