"""Samples on a regular time grid: the library plans the grid from the item
index (vokext_grid_plan), one bulk walk reads the samples in small batches
and each batch is scattered onto its rows (vokext_grid_rows).  Every output
column is allocated once at its final size and prefilled with its empty
value, so the memory used is the table plus a few batch buffers.

This module is shared by everything that puts samples on the grid (the
samples tables, exporters, lazily loaded datasets); ``read()`` is its entry.
"""

import ctypes
from ctypes import byref

import numpy as np

from . import _lib as L
from ._recording import SAMPLE_COLUMNS, _column_dtype, _set_column

#: grid= names and the library's modes.
MODES = {"regular": L.VOKEXT_GRID_BLOCKS, "continuous": L.VOKEXT_GRID_CONTINUOUS}

#: Rows of one batch of the walk.
BATCH_ROWS = 8192

#: Empty row values of the integer columns: no flag bit (a sample always has
#: bit 0x0001), no item position, and the library's absent-word marker.
EMPTY_FLAGS = 0
EMPTY_POSITION = 0xFFFFFFFF


def check_mode(grid):
    if grid is not None and grid not in MODES:
        raise ValueError(f"grid must be None, 'regular' or 'continuous', not {grid!r}")
    return grid


class Plan:
    """The segments of a grid, in row order.  Segment k is a regular grid of
    ``rows[k]`` rows from ``first_time[k]`` ms in steps of ``step[k]`` ms;
    its row r is overall row ``first_row[k] + r``."""

    def __init__(self, grid, segments):
        self.grid = grid
        self.count = len(segments)
        self._segments = segments  # the ctypes array vokext_grid_rows reads
        self.first_time = np.array([s.firstTimeMs for s in segments], np.float64)
        self.step = np.array([s.stepMs for s in segments], np.float64)
        self.first_row = np.array([s.firstRow for s in segments], np.int64)
        self.rows_of = np.array([s.rows for s in segments], np.int64)
        self.rate = np.array([s.rate for s in segments], np.float64)
        self.samples = np.array([s.samples for s in segments], np.int64)
        self.rows = int(self.rows_of.sum())

    def fill_times(self, out):
        """Writes the time of every row into out (float64, ``rows`` long),
        first + r * step for each segment, a chunk at a time."""
        chunk = 1 << 20
        for k in range(self.count):
            base, n = int(self.first_row[k]), int(self.rows_of[k])
            for lo in range(0, n, chunk):
                part = out[base + lo:base + min(lo + chunk, n)]
                part[:] = np.arange(lo, lo + len(part), dtype=np.float64)
                part *= self.step[k]
                part += self.first_time[k]
        return out

    def row_ranges(self, start, end):
        """Overall row ranges [lo, hi) of the rows whose time lies in
        [start[i], end[i]] (ms, arrays of equal length), as two int64 arrays;
        one pair per interval and segment that meet."""
        start = np.asarray(start, np.float64)
        end = np.asarray(end, np.float64)
        los, his = [], []
        for k in range(self.count):
            step, first, n = self.step[k], self.first_time[k], self.rows_of[k]
            lo = np.ceil((start - first) / step - 1e-9)
            hi = np.floor((end - first) / step + 1e-9) + 1
            lo = np.clip(lo, 0, n).astype(np.int64)
            hi = np.clip(hi, 0, n).astype(np.int64)
            meet = hi > lo
            los.append(lo[meet] + self.first_row[k])
            his.append(hi[meet] + self.first_row[k])
        if not los:
            return np.empty(0, np.int64), np.empty(0, np.int64)
        return np.concatenate(los), np.concatenate(his)


def plan(recording, grid):
    """The library's plan of the grid ("regular": one segment per recording
    block, "continuous": blocks at one rate joined with the empty rows
    between them)."""
    h = recording._h()
    mode = MODES[grid]
    with L.collected_log() as logged:
        n = L.lib.vokext_grid_plan(h, mode, None, 0)
        if n < 0:
            raise ValueError(logged.text("the library could not plan the grid"))
        segments = (L.GridSegment * int(n))()
        if n and L.lib.vokext_grid_plan(h, mode, ctypes.addressof(segments), int(n)) != n:
            raise ValueError(logged.text("the library could not plan the grid"))
    return Plan(grid, segments)


class _GridRows:
    """Rows of the samples of one walk, from their item positions."""

    def __init__(self, recording, plan):
        self._recording = recording
        self._plan = plan
        self._cursor = L.GridCursor()

    def __call__(self, positions):
        rows = np.empty(len(positions), np.int64)
        segments = ctypes.addressof(self._plan._segments) if self._plan.count else None
        with L.collected_log() as logged:
            if L.lib.vokext_grid_rows(self._recording._h(), segments, self._plan.count, byref(self._cursor),
                                      positions.ctypes.data, len(positions), rows.ctypes.data) != 0:
                raise ValueError(logged.text("the library could not place the samples on the grid"))
        return rows

    @property
    def unplaced(self):
        return int(self._cursor.unplaced)


class _StreamRows:
    """Rows of the samples in stream order (no grid)."""

    def __init__(self):
        self.next = 0
        self.unplaced = 0

    def __call__(self, positions):
        rows = np.arange(self.next, self.next + len(positions), dtype=np.int64)
        self.next += len(positions)
        return rows


def empty_value(name):
    """The value of column ``name`` on a row that holds no sample."""
    kind = SAMPLE_COLUMNS[name][3]
    if kind in ("f", "t"):
        return np.nan
    if name == "flags":
        return EMPTY_FLAGS
    if name == "position":
        return EMPTY_POSITION
    return -32768 if np.dtype(SAMPLE_COLUMNS[name][2]).kind == "i" else L.ABSENT_WORD


class Result:
    """What ``read()`` gives: ``columns`` (name -> array, views of ``table``
    when the layout is "struct"), ``table`` (the structured array or None),
    ``valid`` (True on rows that hold a sample), ``rows``, ``plan`` (None
    without a grid), ``unplaced`` (samples that landed on no row) and
    ``unreadable`` (samples the library could not read)."""

    def __init__(self, columns, table, valid, rows, plan, unplaced, unreadable):
        self.columns, self.table, self.valid, self.rows = columns, table, valid, rows
        self.plan, self.unplaced, self.unreadable = plan, unplaced, unreadable


def read(recording, names, grid, *, layout="columns", helpers=(), extra=None, records=False, on_batch=None,
         batch_rows=BATCH_ROWS):
    """Reads the sample columns ``names`` (NaN mode) onto the grid ``grid``
    ("regular", "continuous", or None for one row per sample in stream
    order).

    layout: "columns" (a dict of arrays) or "struct" (one aligned structured
        array; its fields are ``names`` and then ``extra``).
    helpers: further sample columns read into the batches (for on_batch) but
        not kept.
    extra: {name: (dtype, fill value)} of further output columns for the
        caller to fill (the "valid" column is always made and filled).
    records: the batches also carry the whole Sample records (``"records"``).
    on_batch(buffers, rows, columns): called for every batch before it is
        scattered; buffers maps each read column (names, helpers,
        "position", and "records") to its values of the batch, which it may
        change in place; rows are the batch's output rows (-1: on no row);
        columns are the output columns.

    On a grid the "time" column is the rows' grid time; without one it is the
    samples' own time.  Samples that land on no row are counted in
    ``unplaced`` and left out.
    """
    check_mode(grid)
    names = list(names)
    extra = dict(extra or {})
    grid_plan = plan(recording, grid) if grid is not None else None
    rows = grid_plan.rows if grid_plan is not None else max(len(recording), 1)
    place = _GridRows(recording, grid_plan) if grid_plan is not None else _StreamRows()

    # ---- the output, at its final size ----
    out_dtypes = ([(n, _column_dtype(n, False)) for n in names] + [("valid", np.bool_)] +
                  [(n, d) for n, (d, _) in extra.items()])
    table = None
    if layout == "struct":
        table = np.zeros(rows, np.dtype(out_dtypes, align=True))
        columns = {n: table[n] for n, _ in out_dtypes}
    else:
        columns = {n: np.zeros(rows, d) for n, d in out_dtypes}
    for n in names:
        if grid_plan is not None and n == "time":
            grid_plan.fill_times(columns[n])
        else:
            value = empty_value(n)
            if value != 0:
                columns[n].fill(value)
    for n, (_, value) in extra.items():
        if value != 0:
            columns[n].fill(value)
    valid = columns["valid"]

    # ---- the batches ----
    walked = [n for n in names if not (grid_plan is not None and n == "time")]
    walked += [n for n in list(helpers) + ["flags"] if n not in walked]
    batch = L.Batch()
    batch.kinds = L.VOKEXT_SAMPLES
    batch.options = L.VOKEXT_MISSING_AS_NAN
    batch.sampleCapacity = batch_rows
    buffers = {n: np.empty(batch_rows, _column_dtype(n, False)) for n in walked}
    for n, a in buffers.items():
        _set_column(batch.samples, n, a.ctypes.data, False)
    positions = buffers.setdefault("position", np.empty(batch_rows, np.uint32))
    batch.samples.position = positions.ctypes.data
    if records:
        from ._recording import SAMPLE_DTYPE
        buffers["records"] = np.empty(batch_rows, SAMPLE_DTYPE)
        batch.samples.records = buffers["records"].ctypes.data
    kept = [n for n in names if n in buffers]

    def scatter(b):
        count = b.sampleCount
        b.sampleCount = 0
        if count == 0:
            return
        at = place(positions[:count])
        if on_batch is not None:
            on_batch({n: a[:count] for n, a in buffers.items()}, at, columns)
        placed = at >= 0
        if placed.all():
            # Rows only increase: a batch without holes is one slice.
            target = slice(int(at[0]), int(at[-1]) + 1) if at[-1] - at[0] == count - 1 else at
            pick = slice(0, count)
        else:
            target, pick = at[placed], np.flatnonzero(placed)
        for n in kept:
            columns[n][target] = buffers[n][pick]
        # Placeholder samples (filled gaps) lack the record bit 0x0001.
        valid[target] = (buffers["flags"][pick] & 1) != 0

    recording._walk(batch, scatter)
    scatter(batch)
    if grid_plan is None:
        used = place.next
        columns = {n: a[:used] for n, a in columns.items()}
        if table is not None:
            table = table[:used]
            columns = {n: table[n] for n, _ in out_dtypes}
        valid = columns["valid"]
        rows = used
    if place.unplaced:
        L.log.warning("%s: %d sample(s) landed on no row of the grid and were left out (outside every recording "
                      "block, or closer to the sample before than the rate's step)", recording.path, place.unplaced)
    if batch.unreadable:
        L.log.warning("%s: %d sample(s) could not be read and were left out", recording.path, batch.unreadable)
    return Result(columns, table, valid, rows, grid_plan, place.unplaced, int(batch.unreadable))
