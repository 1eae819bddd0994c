"""BIDS datasets of eye-tracking recordings.

    import vokapi.bids
    vokapi.bids.write(["data/"], "dataset", task="reading",
                      display={"ScreenSize": [0.53, 0.30], "ScreenDistance": 0.6,
                               "ScreenOrigin": ["top", "left"]})
    ds = vokapi.bids.read("dataset")
    run = ds.run(sub="p01", task="reading")
    run.trials, run.samples("left"), run.events("right")

``write`` runs the ``vok bids`` command of the vok tool, so that the
command line and Python write datasets by one set of rules.  The tool is the
file named by the environment variable VOKAPI_TOOL, else the ``vok`` program
beside the vokapi library (or in the build tree next to it), else ``vok`` on
the PATH.  ``read`` loads a dataset written that way into pandas tables.
"""

import glob
import json
import os
import re
import shutil
import subprocess
import tempfile

from . import _lib

__all__ = ["write", "read", "tool_path", "BidsWriteError", "Dataset", "Run"]


class BidsWriteError(RuntimeError):
    """``vok bids`` failed for some recordings (returncode 1) or as a whole
    (returncode 2: wrong naming or display, nothing written)."""

    def __init__(self, returncode, stderr, converted):
        self.returncode = returncode
        self.stderr = stderr
        self.converted = converted
        super().__init__(f"vok bids exited with status {returncode}:\n{stderr.strip()}")


def tool_path():
    """The vok program that ``write`` runs; FileNotFoundError when none is found."""
    exe = "vok.exe" if os.name == "nt" else "vok"
    named = os.environ.get("VOKAPI_TOOL")
    if named:
        if os.path.isfile(named):
            return named
        raise FileNotFoundError(f"VOKAPI_TOOL names {named!r}, which is not a file")
    here = os.path.dirname(os.path.abspath(_lib.library_path)) if _lib.library_path else None
    if here:
        for candidate in (os.path.join(here, exe), os.path.join(here, "tools", "vok", exe),
                          os.path.join(here, "..", "bin", exe)):
            if os.path.isfile(candidate):
                return candidate
    found = shutil.which("vok")
    if found:
        return found
    raise FileNotFoundError("the vok tool was not found: set VOKAPI_TOOL to its path, or put vok on the PATH")


def _pair(value):
    return ",".join(str(v) for v in value)


def write(recordings, dataset, *, task=None, session=None, map=None, pattern=None, display=None,
          screen_size=None, screen_distance=None, screen_origin=None, screen_resolution=None,
          custom_coordinates=False, velocities=False, resolution=False, trial_start=None, trial_end=None,
          overwrite=False, jobs=1, gzip_level=None, consistency=None, tolerant=False, time_fixup=True,
          message_time_offsets=False, extra_messages=False, check=True):
    """Writes recordings (files or folders of them) into the BIDS dataset
    folder ``dataset`` with ``vok bids``; the options are the command's
    (see ``vok bids --help``).  ``display`` is a dict of StimulusPresentation
    values or the path of a JSON file with them; the ``screen_*`` values
    (pairs as sequences) override it.  The reading options are those of
    ``vokapi.open`` (``extra_messages``: True or the file's path).

    Returns the list of recordings converted.  Raises BidsWriteError when
    the command fails (with ``check=False`` only when nothing was converted
    for a reason of the command line)."""
    if isinstance(recordings, (str, os.PathLike)):
        recordings = [recordings]
    args = [tool_path(), "bids", "--no-progress", "-o", os.fspath(dataset)]
    options = [("--task", task), ("--session", session), ("--map", map), ("--pattern", pattern),
               ("--trial-start", trial_start), ("--trial-end", trial_end), ("--gzip-level", gzip_level),
               ("--consistency", consistency), ("-j", jobs)]
    for flag, value in options:
        if value is not None:
            args += [flag, os.fspath(value) if isinstance(value, os.PathLike) else str(value)]
    for flag, value in (("--screen-size", screen_size), ("--screen-origin", screen_origin),
                        ("--screen-resolution", screen_resolution)):
        if value is not None:
            args += [flag, value if isinstance(value, str) else _pair(value)]
    if screen_distance is not None:
        args += ["--screen-distance", str(screen_distance)]
    for flag, on in (("--custom-coordinates", custom_coordinates), ("--velocities", velocities),
                     ("--resolution", resolution), ("--overwrite", overwrite), ("--tolerant", tolerant),
                     ("--no-fixup", not time_fixup), ("--message-offsets", message_time_offsets)):
        if on:
            args.append(flag)
    if extra_messages is True:
        args.append("--extra-messages")
    elif extra_messages:
        args.append("--extra-messages=" + os.fspath(extra_messages))
    temp = None
    try:
        if isinstance(display, dict):
            fd, temp = tempfile.mkstemp(suffix=".json", prefix="vokapi-display-")
            with os.fdopen(fd, "w") as f:
                json.dump(display, f)
            args += ["--display", temp]
        elif display is not None:
            args += ["--display", os.fspath(display)]
        args += [os.fspath(r) for r in recordings]
        done = subprocess.run(args, capture_output=True, text=True, errors="replace")
    finally:
        if temp:
            os.unlink(temp)
    converted = [line.rsplit(": sub-", 1)[0] for line in done.stdout.splitlines() if ": sub-" in line]
    if done.returncode != 0 and (check or done.returncode == 2):
        raise BidsWriteError(done.returncode, done.stderr, converted)
    return converted


# --------------------------------------------------------------------------
# Reading

_ENTITY = re.compile(r"^sub-(?P<sub>[A-Za-z0-9]+)(_ses-(?P<ses>[A-Za-z0-9]+))?_task-(?P<task>[A-Za-z0-9]+)"
                     r"(_run-(?P<run>[0-9]+))?_(?P<rest>.+)$")
_RECORDING = re.compile(r"^recording-(?P<label>[A-Za-z0-9]+)_physio\.tsv\.gz$")


def _json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


class Recording:
    """One physiological recording: the samples of one eye over one part of
    a run, with its events."""

    def __init__(self, stem, label):
        self.label = label
        self.metadata = _json(stem + "_physio.json")
        self.events_metadata = _json(stem + "_physioevents.json")
        self._stem = stem
        self._samples = self._events = None

    @property
    def eye(self):
        return self.metadata.get("RecordedEye")

    @property
    def samples(self):
        """The physio rows (NaN where the file says n/a)."""
        if self._samples is None:
            import pandas as pd
            cols = self.metadata["Columns"]
            self._samples = pd.read_csv(self._stem + "_physio.tsv.gz", sep="\t", header=None, names=cols,
                                        compression="gzip", na_values=["n/a"], keep_default_na=False,
                                        dtype={c: "float64" for c in cols})
        return self._samples

    @property
    def events(self):
        """The physioevents rows; ``message`` is None on rows that are not messages."""
        if self._events is None:
            import pandas as pd
            cols = self.events_metadata["Columns"]
            na = {c: ["n/a"] for c in cols if c != "message"}
            ev = pd.read_csv(self._stem + "_physioevents.tsv.gz", sep="\t", header=None, names=cols,
                             compression="gzip", na_values=na, keep_default_na=False,
                             dtype={"message": object, "trial_type": object})
            if "message" in ev:
                ev["message"] = ev["message"].where(ev["trial_type"] == "message", None)
            self._events = ev
        return self._events


class Run:
    """The files of one recording session's task run: ``trials`` (the task
    events), ``task_metadata`` and ``recordings`` (label -> Recording)."""

    def __init__(self, folder, prefix, entities):
        self.entities = entities
        self.prefix = prefix
        stem = os.path.join(folder, prefix)
        import pandas as pd
        self.trials = pd.read_csv(stem + "_events.tsv", sep="\t", na_values=["n/a"], keep_default_na=False,
                                  dtype={"message": object})
        self.task_metadata = _json(stem + "_events.json")
        self.recordings = {}
        for path in sorted(glob.glob(glob.escape(stem) + "_recording-*_physio.tsv.gz")):
            m = _RECORDING.match(os.path.basename(path)[len(prefix) + 1:])
            if m:
                self.recordings[m.group("label")] = Recording(path[:-len("_physio.tsv.gz")], m.group("label"))

    def _parts(self, eye):
        parts = [r for r in self.recordings.values() if r.eye == eye]
        return sorted(parts, key=lambda r: r.metadata.get("StartTime", 0))

    def samples(self, eye):
        """The samples of one eye ("left" or "right") over all parts, in time
        order, with a ``recording`` column naming the part."""
        import pandas as pd
        frames = [r.samples.assign(recording=r.label) for r in self._parts(eye)]
        return pd.concat(frames, ignore_index=True) if frames else pd.DataFrame()

    def events(self, eye):
        """The events of one eye with every message, button and input, over all parts."""
        import pandas as pd
        frames = [r.events.assign(recording=r.label) for r in self._parts(eye)]
        return pd.concat(frames, ignore_index=True) if frames else pd.DataFrame()

    def __repr__(self):
        return f"<vokapi.bids.Run {self.prefix}: {len(self.trials)} trials, recordings {sorted(self.recordings)}>"


class Dataset:
    """A dataset read by ``read``: ``description``, ``participants`` and ``runs``."""

    def __init__(self, path):
        import pandas as pd
        self.path = os.fspath(path)
        self.description = _json(os.path.join(self.path, "dataset_description.json"))
        participants = os.path.join(self.path, "participants.tsv")
        self.participants = (pd.read_csv(participants, sep="\t", na_values=["n/a"], keep_default_na=False)
                             if os.path.exists(participants) else None)
        self.runs = []
        pattern = os.path.join(glob.escape(self.path), "sub-*", "**", "beh", "*_events.tsv")
        for events in sorted(glob.glob(pattern, recursive=True)):
            name = os.path.basename(events)
            m = _ENTITY.match(name)
            if not m or m.group("rest") != "events.tsv":
                continue
            entities = {k: m.group(k) for k in ("sub", "ses", "task", "run") if m.group(k)}
            self.runs.append(Run(os.path.dirname(events), name[:-len("_events.tsv")], entities))

    def run(self, sub, task, ses=None, run=None):
        """The run with these entities; KeyError when there is none."""
        want = {k: v for k, v in (("sub", sub), ("ses", ses), ("task", task), ("run", run)) if v is not None}
        for r in self.runs:
            if r.entities == {k: str(v) for k, v in want.items()}:
                return r
        raise KeyError(f"no run {want} in {self.path}")

    def __repr__(self):
        return f"<vokapi.bids.Dataset {self.path}: {len(self.runs)} runs>"


def read(dataset):
    """Loads a dataset written by ``write`` (or ``vok bids``)."""
    return Dataset(dataset)
