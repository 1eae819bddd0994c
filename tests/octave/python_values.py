"""Writes what the Python package reads from recordings, for the Octave
comparison test: for each job the samples (every column; <NA> and NaN as
NaN), the joined events and, with identifiers, the trials and their events.

    python_values.py OUT JOB [JOB ...]      JOB: path,consistency,tolerant[,start,end]

OUT holds entries "name, kind, count, values": a u32 name length and the
name, a u8 kind (0 float64 values, 1 texts), a u32 count, then the values
as little-endian float64, or each text as a u32 byte count and its UTF-8
bytes.  Names are "<job>.samples.<column>", "<job>.events.<column>",
"<job>.trials.<field>" and "<job>.trial<k>.events.<column>"."""

import struct
import sys

import numpy as np
import pandas as pd

import vokapi


def put(out, name, values):
    data = name.encode("utf-8")
    out.write(struct.pack("<I", len(data)) + data)
    if values.dtype == object:
        out.write(struct.pack("<BI", 1, len(values)))
        for v in values:
            b = b"" if v is None else str(v).encode("utf-8")
            out.write(struct.pack("<I", len(b)) + b)
    else:
        out.write(struct.pack("<BI", 0, len(values)))
        out.write(np.ascontiguousarray(values, dtype="<f8").tobytes())


def column(series):
    if isinstance(series.dtype, pd.api.extensions.ExtensionDtype):  # nullable words: <NA> as NaN
        return series.array.to_numpy(dtype="float64", na_value=np.nan)
    return series.to_numpy().astype("float64")


def put_events(out, prefix, events):
    for name in events.dtype.names:
        v = events[name]
        put(out, f"{prefix}.{name}", v if v.dtype == object else v.astype("float64"))


def main():
    with open(sys.argv[1], "wb") as out:
        for job, spec in enumerate(sys.argv[2:], start=1):
            parts = spec.split(",")
            path, consistency, tolerant = parts[0], int(parts[1]), parts[2] == "1"
            with vokapi.open(path, consistency=consistency, tolerant=tolerant) as rec:
                frame = rec.samples(columns="all", as_frame=True)
                for name in frame.columns:
                    put(out, f"{job}.samples.{name}", column(frame[name]))
                put_events(out, f"{job}.events", rec.events())
                if len(parts) == 5:
                    trials = rec.trials(start=parts[3], end=parts[4])
                    put(out, f"{job}.trials.start_time", np.array([t.header.start_time for t in trials], "f8"))
                    put(out, f"{job}.trials.end_time", np.array([t.header.end_time for t in trials], "f8"))
                    put(out, f"{job}.trials.start_position", np.array([t.first for t in trials], "f8"))
                    put(out, f"{job}.trials.end_position", np.array([t.end for t in trials], "f8"))
                    for k, t in enumerate(trials, start=1):
                        put(out, f"{job}.trial{k}.samples.position",
                            t.samples(columns=["position"])["position"].astype("float64"))
                        put_events(out, f"{job}.trial{k}.events", t.events())


if __name__ == "__main__":
    main()
