"""Many recordings at once: a ``Dataset`` whose tables are dask.dataframe
frames with one partition per recording.

    ds = vokapi.dataset("data/*.vok", consistency=2)
    fix = ds.events()
    fix = fix[fix.type == "fixation"]
    fix.groupby("recording").duration.mean().compute()

Every partition opens its recording in the process that computes it (a
thread of the local scheduler, or a worker of a dask.distributed cluster),
reads it with the ``Recording`` methods and closes it again; nothing but the
paths and the options travels to the workers.  Paths may be fsspec URLs
(``s3://...``, ``memory://...``): the worker then copies the recording to a
local temporary file, which is removed afterwards.

Dask (python3-dask, python3-distributed) and fsspec are needed only here: the
rest of the package works without them.
"""

import contextlib
import glob as _glob
import os
import tempfile

from . import _recording as R

__all__ = ["dataset", "Dataset", "RecordingError"]

_MISSING_DASK = ("vokapi.dataset needs Dask and fsspec, which are not installed: install them "
                 "(on Debian: apt install python3-dask python3-distributed python3-fsspec)")

# Options of vokapi.open(); every other keyword of dataset() is refused, so
# that a typing error does not pass silently.
_OPEN_OPTIONS = ("consistency", "tolerant", "time_fixup", "message_time_offsets", "events", "samples",
                 "extra_messages", "resolution", "text_encoding")


def _dask():
    try:
        import dask  # noqa: F401
        import dask.dataframe as dd
        import fsspec  # noqa: F401
    except ImportError as e:
        raise ImportError(_MISSING_DASK) from e
    return dd


class RecordingError(Exception):
    """A recording of a dataset could not be opened or read: ``path`` (as
    given to the dataset) and ``reason`` (the library's diagnostic)."""

    def __init__(self, path, reason):
        super().__init__(path, reason)
        self.path = path
        self.reason = reason

    def __str__(self):
        return f"{self.path}: {self.reason}"


# --------------------------------------------------------------------------
# Paths


def _is_url(path):
    return "://" in path


def _expand(paths_or_glob, storage_options):
    """The recordings named: a glob pattern, a folder (its *.vok files), a
    path, or a list of them; URLs through fsspec.  Sorted within each
    pattern, in the order given otherwise."""
    items = [paths_or_glob] if isinstance(paths_or_glob, (str, os.PathLike)) else list(paths_or_glob)
    out = []
    for item in items:
        p = os.fspath(item)
        if isinstance(p, bytes):
            p = os.fsdecode(p)
        if _is_url(p):
            import fsspec
            fs, _, _ = fsspec.core.get_fs_token_paths(p, storage_options=storage_options)
            if any(c in p for c in "*?["):
                found = sorted(fs.glob(p))
            elif fs.isdir(p):
                found = sorted(f for f in fs.ls(p, detail=False) if f.lower().endswith(".vok"))
            else:
                found = [p]
            out.extend(f if _is_url(f) else fs.unstrip_protocol(f) for f in found)
        elif any(c in p for c in "*?["):
            out.extend(sorted(_glob.glob(p)))
        elif os.path.isdir(p):
            out.extend(sorted(os.path.join(p, f) for f in os.listdir(p) if f.lower().endswith(".vok")))
        else:
            out.append(p)
    return out


def _size(path, storage_options):
    try:
        if _is_url(path):
            import fsspec
            fs, _, (p,) = fsspec.core.get_fs_token_paths(path, storage_options=storage_options)
            return int(fs.size(p))
        return os.path.getsize(path)
    except (OSError, ValueError, TypeError):
        return None


@contextlib.contextmanager
def _local_copy(path, storage_options):
    """The recording as a local file: the path itself, or for a URL a
    temporary copy that is removed when the block ends."""
    if not _is_url(path):
        yield path
        return
    import fsspec
    fd, local = tempfile.mkstemp(prefix="vokapi-", suffix=".vok")
    try:
        try:
            with os.fdopen(fd, "wb") as out, fsspec.open(path, "rb", **(storage_options or {})) as src:
                while True:
                    chunk = src.read(1 << 22)
                    if not chunk:
                        break
                    out.write(chunk)
        except (OSError, ValueError) as e:
            raise RecordingError(path, f"cannot be copied from its file system: {e}") from None
        yield local
    finally:
        with contextlib.suppress(OSError):
            os.remove(local)


# --------------------------------------------------------------------------
# One partition


def _trials_frame(rec, start, end):
    import pandas as pd
    rows = []
    for t in rec.trials(start=start, end=end):
        block = t.header.block or {}
        rows.append({"trial": t.number, "start_time": t.header.start_time, "end_time": t.header.end_time,
                     "duration": t.header.duration, "first_item": t.first, "end_item": t.end,
                     "sample_rate": float(block.get("sampleRate", float("nan")))})
    columns = ["trial", "start_time", "end_time", "duration", "first_item", "end_item", "sample_rate"]
    frame = pd.DataFrame(rows, columns=columns)
    return frame.astype({"trial": "int64", "start_time": "int64", "end_time": "int64", "duration": "int64",
                         "first_item": "int64", "end_item": "int64", "sample_rate": "float64"})


def _read(path, table, open_options, table_options, storage_options):
    """The table of one recording as a pandas DataFrame, with the column
    ``recording`` (the path as given) in front."""
    with _local_copy(path, storage_options) as local:
        try:
            rec = R.open(local, **open_options)
        except OSError as e:
            raise RecordingError(path, e.strerror or str(e)) from None
        with rec:
            if table == "samples":
                frame = rec.samples(as_frame=True, **table_options)
            elif table == "events":
                frame = rec.events(as_frame=True, **table_options)
            else:
                frame = _trials_frame(rec, **table_options)
    frame.insert(0, "recording", path)
    return frame


class _Partition:
    """What a worker runs for one recording (a plain object, so that it
    pickles to any worker)."""

    def __init__(self, table, open_options, table_options, storage_options, dtypes):
        self.table = table
        self.open_options = open_options
        self.table_options = table_options
        self.storage_options = storage_options
        self.dtypes = dtypes

    def __call__(self, path):
        frame = _read(path, self.table, self.open_options, self.table_options, self.storage_options)
        if self.dtypes is not None and list(frame.columns) == list(self.dtypes):
            # An all-missing column of one recording keeps the dtype that the
            # others have.
            differ = {c: t for c, t in self.dtypes.items() if frame[c].dtype != t}
            if differ:
                frame = frame.astype(differ)
        return frame


def _probe(path, open_options, storage_options):
    """None when the recording opens, else the reason."""
    try:
        with _local_copy(path, storage_options) as local:
            R.open(local, **open_options).close()
    except RecordingError as e:
        return e.reason
    except OSError as e:
        return e.strerror or str(e)
    return None


# --------------------------------------------------------------------------


class Dataset:
    """Recordings read together.  Made by ``vokapi.dataset()``.

    Attributes: ``paths`` (the recordings, in partition order), ``errors``
    (with ``on_error="skip"``: (path, reason) of every recording left out),
    ``open_options``.  ``samples()``, ``events()`` and ``trials()`` return
    dask.dataframe frames with one partition per recording and the column
    ``recording`` first; nothing is read until they are computed.
    """

    def __init__(self, paths, open_options, storage_options, errors):
        self.paths = list(paths)
        self.open_options = dict(open_options)
        self.storage_options = storage_options
        self.errors = list(errors)
        self._meta_path = None

    def __len__(self):
        return len(self.paths)

    def __repr__(self):
        return f"<vokapi.Dataset of {len(self.paths)} recordings>"

    def _frame(self, table, table_options):
        dd = _dask()
        if not self.paths:
            raise ValueError("the dataset holds no recording")
        meta = self._meta(table, table_options)
        part = _Partition(table, self.open_options, table_options, self.storage_options, meta.dtypes.to_dict())
        return dd.from_map(part, self.paths, meta=meta, label=f"vokapi-{table}", enforce_metadata=False)

    def _meta(self, table, table_options):
        """The empty frame the partitions look like, from the smallest
        recording (only one file is read for it)."""
        if self._meta_path is None:
            sizes = [(_size(p, self.storage_options), i) for i, p in enumerate(self.paths)]
            known = [s for s in sizes if s[0] is not None]
            self._meta_path = self.paths[min(known)[1] if known else 0]
        return _read(self._meta_path, table, self.open_options, table_options, self.storage_options).iloc[:0]

    def samples(self, columns=None, **options):
        """The samples of every recording (``Recording.samples(as_frame=True)``
        with these arguments, which are passed on as they are)."""
        if columns is not None:
            options["columns"] = columns
        return self._frame("samples", options)

    def events(self, **options):
        """The events of every recording (``Recording.events(as_frame=True)``
        with these arguments)."""
        return self._frame("events", options)

    def trials(self, start=None, end=None):
        """One row per trial of every recording: ``trial`` (its number in the
        recording), ``start_time``, ``end_time``, ``duration`` (ms),
        ``first_item``, ``end_item`` (item positions) and ``sample_rate`` of
        its block (NaN when it lies in none); trials as
        ``Recording.trials(start, end)`` makes them."""
        return self._frame("trials", {"start": start, "end": end})


def dataset(paths_or_glob, *, on_error="raise", storage_options=None, **open_options):
    """Recordings to be read together with Dask: returns a ``Dataset``.

    paths_or_glob: a glob pattern ("data/*.vok"), a folder (its .vok files),
        a path, or a list of them; fsspec URLs ("memory://...", "s3://...")
        too, with ``storage_options`` for their file system.
    open_options: those of ``vokapi.open()`` (consistency, tolerant, ...),
        used for every recording.
    on_error: "raise" (default): a recording that cannot be opened makes its
        partition, and so the computation, fail with a ``RecordingError``
        naming its path and the library's reason.  "skip": every recording
        is opened once now (on the Dask scheduler in use), those that fail
        are left out and listed in ``errors``.

    Raises ImportError when Dask or fsspec is missing, ValueError for bad
    arguments or when nothing matches.
    """
    _dask()
    unknown = sorted(set(open_options) - set(_OPEN_OPTIONS))
    if unknown:
        raise TypeError(f"dataset() got unknown options {', '.join(unknown)} (those of vokapi.open() are "
                        f"{', '.join(_OPEN_OPTIONS)})")
    if on_error not in ("raise", "skip"):
        raise ValueError(f'on_error must be "raise" or "skip", not {on_error!r}')
    paths = _expand(paths_or_glob, storage_options)
    if not paths:
        raise ValueError(f"no recording matches {paths_or_glob!r}")
    errors = []
    if on_error == "skip":
        import dask
        reasons = dask.compute(*[dask.delayed(_probe, pure=True)(p, open_options, storage_options)
                                 for p in paths])
        errors = [(p, r) for p, r in zip(paths, reasons) if r is not None]
        paths = [p for p, r in zip(paths, reasons) if r is None]
    return Dataset(paths, open_options, storage_options, errors)
