#!/usr/bin/env python3
"""Memory of the regular grid: the peak resident memory that
rec.samples(grid="regular", ...) adds, against the size of the table it
returns, for a one-hour 1000 Hz binocular recording (the recording of
bench/python_load.py, written with the build's vokgen on first use).

    /usr/bin/python3 bench/python_grid_memory.py [BUILD_DIR]

Each figure runs in a fresh interpreter: the recording is opened, the
process's peak is reset (Linux: /proc/self/clear_refs), the table made, and
the new peak compared with the memory before the call.
Goal: the peak adds at most the table's own size plus one column (8 bytes
per row), with any of the options.
"""

import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

CHILD = r"""
import json, sys
import vokapi

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(field)

path, as_frame, extra = sys.argv[1], sys.argv[2] == "1", json.loads(sys.argv[3])
if "display" in extra:
    extra["display"] = vokapi.Display(**extra["display"])
with vokapi.open(path, consistency=0) as rec:
    rec.blocks
    if extra.get("trial_column"):
        rec.trials()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = status("VmRSS")
    table = rec.samples(grid="regular", as_frame=as_frame, **extra)
    peak = status("VmHWM")
    size = int(table.memory_usage(index=False).sum()) if as_frame else table.nbytes
    print(json.dumps({"rows": len(table), "added": peak - before, "size": size}))
"""


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python"),
               VOKAPI_LIBRARY=os.environ.get("VOKAPI_LIBRARY", os.path.join(build, "libvokapi.so")))
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from python_load import hour_recording
    path = hour_recording(build)
    display = {"distance": 600, "width": 530, "height": 300, "pixels": [1920, 1080]}
    figures = [
        ("NumPy, default columns", False, {}),
        ("DataFrame, default columns", True, {}),
        ("DataFrame, blinks + degrees + trials", True,
         {"blinks": "nan", "units": "deg", "display": display, "trial_column": True}),
        ("DataFrame, all columns", True, {"columns": "all"}),
    ]
    print(f"recording: {path}")
    verdicts = []
    for name, as_frame, extra in figures:
        out = subprocess.run([sys.executable, "-c", CHILD, path, "1" if as_frame else "0", json.dumps(extra)],
                             check=True, capture_output=True, text=True, env=env).stdout
        r = json.loads(out.splitlines()[-1])
        column = 8 * r["rows"]
        over = r["added"] - r["size"]
        ok = over <= column
        verdicts.append(ok)
        print(f"{name:40s} rows {r['rows']}  table {r['size'] / 2**20:7.1f} MiB  peak added "
              f"{r['added'] / 2**20:7.1f} MiB  over the table {over / 2**20:6.1f} MiB "
              f"({over / column:4.2f} columns)  goal <= 1 column: {'met' if ok else 'MISSED'}")
    return 0 if all(verdicts) else 1


if __name__ == "__main__":
    sys.exit(main())
