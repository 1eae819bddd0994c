"""Analysis-ready samples: the regular grid, blinks blanked, gaze in degrees
of visual angle, trial numbers; and trials with their variables."""

import math
import re

import numpy as np

from . import _grid
from . import _lib as L
from ._recording import (SAMPLE_COLUMNS, _column_names, _table, _with_flags, _word_mask, physical_setup)

# --------------------------------------------------------------------------
# The display


class Display:
    """The display of an experiment, for gaze in degrees from its geometry.

    distance: eye to display centre; width, height: the display's visible
        size, in the same unit (e.g. mm); pixels: (width, height) in pixels;
        distance_bottom: eye to the display's bottom edge when known (then
        ``distance`` is the eye to its top edge).
    """

    def __init__(self, distance, width, height, pixels, distance_bottom=None):
        self.distance = _positive(distance, "distance")
        self.width = _positive(width, "width")
        self.height = _positive(height, "height")
        try:
            w, h = pixels
        except (TypeError, ValueError):
            raise ValueError(f"pixels must be (width, height) in pixels, not {pixels!r}") from None
        self.pixels = (int(_positive(w, "pixels")), int(_positive(h, "pixels")))
        self.distance_bottom = None if distance_bottom is None else _positive(distance_bottom, "distance_bottom")

    @property
    def rect(self):
        """The pixel rectangle (left, top, right, bottom)."""
        return (0.0, 0.0, self.pixels[0] - 1.0, self.pixels[1] - 1.0)

    def setup(self):
        """Hands the geometry to the library (vokapi.physical_setup): the
        physical rectangle centred on the display's middle, y upwards."""
        w, h = self.width / 2, self.height / 2
        physical_setup(self.distance, (-w, h, w, -h), self.rect, self.distance_bottom)

    def __repr__(self):
        bottom = "" if self.distance_bottom is None else f", distance_bottom={self.distance_bottom:g}"
        return (f"vokapi.Display(distance={self.distance:g}, width={self.width:g}, height={self.height:g}, "
                f"pixels={self.pixels}{bottom})")


def _positive(value, name):
    try:
        v = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a number above 0, not {value!r}") from None
    if not (v > 0 and math.isfinite(v)):
        raise ValueError(f"{name} must be a number above 0, not {value!r}")
    return v


_DISPLAY_COORDS = re.compile(r"DISPLAY_COORDS\s+(-?[\d.]+)\s+(-?[\d.]+)\s+(-?[\d.]+)\s+(-?[\d.]+)")


def display_rect(recording):
    """The display's pixel rectangle (left, top, right, bottom) from the
    recording's first "DISPLAY_COORDS" message, or None."""
    records = recording._cached(("events",), recording._read_events)
    for text in records.texts:
        if text is not None and "DISPLAY_COORDS" in text:
            m = _DISPLAY_COORDS.search(text)
            if m:
                left, top, right, bottom = (float(v) for v in m.groups())
                if right > left and bottom > top:
                    return (left, top, right, bottom)
    return None


# --------------------------------------------------------------------------
# Options


class _Options:
    def __init__(self, recording, raw, grid, blinks, blink_padding, units, deg_source, display, trial_column):
        _grid.check_mode(grid)
        if blinks not in (None, False, "nan"):
            raise ValueError(f"blinks must be None or 'nan', not {blinks!r}")
        try:
            before, after = (float(v) for v in blink_padding)
        except (TypeError, ValueError):
            raise ValueError(f"blink_padding must be (before_ms, after_ms), not {blink_padding!r}") from None
        if not (before >= 0 and after >= 0 and math.isfinite(before) and math.isfinite(after)):
            raise ValueError(f"blink_padding must be two numbers of 0 ms or more, not {blink_padding!r}")
        if units not in ("px", "deg"):
            raise ValueError(f"units must be 'px' or 'deg', not {units!r}")
        if deg_source not in ("resolution", "display"):
            raise ValueError(f"deg_source must be 'resolution' or 'display', not {deg_source!r}")
        if display is not None and not isinstance(display, Display):
            raise ValueError(f"display must be a vokapi.Display, not {display!r}")
        if not isinstance(trial_column, bool):
            raise ValueError(f"trial_column must be True or False, not {trial_column!r}")
        if raw and (grid is not None or blinks == "nan" or units != "px" or trial_column):
            raise ValueError("raw=True keeps the library's values: grid, blinks, units and trial_column need "
                             "raw=False")
        self.grid, self.blinks = grid, blinks == "nan"
        self.padding = (before, after)
        self.degrees, self.source, self.display = units == "deg", deg_source, display
        self.trial_column = trial_column
        self.centre = None
        if self.degrees:
            if deg_source == "display" and display is None:
                raise ValueError("units='deg' with deg_source='display' needs display=vokapi.Display(...)")
            if deg_source == "resolution" and not any(b["sample_flags"] & L.SAMPLE_RESOLUTION
                                                      for b in recording.blocks):
                raise ValueError("units='deg': the recording's samples carry no resolution; pick "
                                 "deg_source='display' with display=vokapi.Display(...)")
            rect = display.rect if display is not None else display_rect(recording)
            if rect is None:
                raise ValueError("units='deg' needs the display centre: the recording has no DISPLAY_COORDS "
                                 "message; give display=vokapi.Display(...)")
            self.centre = ((rect[0] + rect[2]) / 2, (rect[1] + rect[3]) / 2)

    @property
    def plain(self):
        return self.grid is None and not self.blinks and not self.degrees and not self.trial_column


# --------------------------------------------------------------------------
# Blinks


def blink_intervals(recording, padding):
    """Per eye (0, 1), the padded blink times as sorted disjoint intervals
    (start, end) in ms.  A blink without an end counts as ending at its
    start."""
    from ._recording import _event_table
    records = recording._cached(("events",), recording._read_events)
    table = _event_table(records, records.joined())
    blink = table["type"] == "blink"
    out = []
    for eye in ("left", "right"):
        pick = blink & (table["eye"] == eye)
        start = table["start_time"][pick]
        end = table["end_time"][pick]
        end = np.where(np.isnan(end), start, end)
        keep = ~np.isnan(start)
        start, end = start[keep] - padding[0], end[keep] + padding[1]
        order = np.argsort(start, kind="stable")
        start, end = start[order], end[order]
        # Overlapping intervals become one.
        if len(start):
            reach = np.maximum.accumulate(end)
            new = np.ones(len(start), bool)
            new[1:] = start[1:] > reach[:-1]
            first = np.flatnonzero(new)
            last = np.append(first[1:], len(start)) - 1
            start, end = start[first], reach[last]
        out.append((start, end))
    return out


def _inside(times, intervals):
    start, end = intervals
    k = np.searchsorted(start, times, "right") - 1
    return (k >= 0) & (times <= end[np.maximum(k, 0)]) if len(start) else np.zeros(len(times), bool)


def _eye_columns(names, eye):
    """The float columns of one eye (gaze, pupil, head-referenced, velocities)."""
    return [n for n in names if n.startswith(eye + "_") and n in SAMPLE_COLUMNS and SAMPLE_COLUMNS[n][3] == "f"]


# --------------------------------------------------------------------------
# Trials


class _Trials:
    """The current trial list as arrays: numbers, item ranges [first, end)
    and the served times of the items that begin and end each trial."""

    def __init__(self, recording):
        trials = recording.trials()
        self.trials = trials
        self.number = np.array([t.number for t in trials], np.int32)
        self.first = np.array([t.first for t in trials], np.int64)
        self.end = np.array([t.end for t in trials], np.int64)
        self.start_time, self.end_time = trial_times(recording, trials)

    def of_positions(self, positions):
        """The trial number of items at these positions, -1 outside every trial."""
        positions = np.asarray(positions, np.int64)
        if not len(self.first):
            return np.full(len(positions), -1, np.int32)
        k = np.searchsorted(self.first, positions, "right") - 1
        inside = (k >= 0) & (positions < self.end[np.maximum(k, 0)])
        return np.where(inside, self.number[np.maximum(k, 0)], -1).astype(np.int32)


def trial_times(recording, trials):
    """Start and end times (ms, float arrays) of the trials as the walk
    serves times: the headers' times less the time offset fixup's shift,
    which the item that began each trial (a message, point event or block
    start, whose served time is its item time) tells."""
    records = recording._cached(("events",), recording._read_events)
    own = (records.extra == 0) & np.isin(records.events["type"], _POINT_TYPES)
    positions = np.concatenate([records.positions[own], records.recording_positions]).astype(np.int64)
    times = np.concatenate([records.events["startTime"][own], records.recordings["time"]]).astype(np.int64)
    order = np.argsort(positions, kind="stable")
    positions, times = positions[order], times[order]
    start = np.empty(len(trials), np.float64)
    end = np.empty(len(trials), np.float64)
    for i, t in enumerate(trials):
        k = int(np.searchsorted(positions, t.first))
        shift = 0
        if k < len(positions) and positions[k] == t.first:
            shift = (t.header.start_time - int(times[k])) & 0xFFFFFFFF
        start[i] = (t.header.start_time - shift) & 0xFFFFFFFF
        end[i] = (t.header.end_time - shift) & 0xFFFFFFFF
    return start, end


_POINT_TYPES = [L.MARKA, L.MARKB, L.MESSAGEEVENT, L.BUTTONEVENT, L.INPUTEVENT]


def _messages(recording):
    """Messages of the recording as (positions, texts), stream order."""
    def make():
        records = recording._cached(("events",), recording._read_events)
        pick = records.events["type"] == L.MESSAGEEVENT
        texts = [t for t, p in zip(records.texts, pick.tolist()) if p]
        return records.positions[pick].astype(np.int64), texts
    return recording._cached(("messages",), make)


_NUMBER = re.compile(r"[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?")
_INTEGER = re.compile(r"[+-]?\d+")


def parse_value(text):
    """A number where the text is one (int or float), else the text."""
    if _INTEGER.fullmatch(text):
        return int(text)
    if _NUMBER.fullmatch(text):
        return float(text)
    return text


def trial_info(recording, trial, prefix):
    """(identifier, variables) of a trial: the text of the message that
    began it (None when a block start began it), and the ``name value``
    pairs of its messages that begin with ``prefix`` (later values win; a
    name without a value gets None)."""
    positions, texts = _messages(recording)
    lo, hi = np.searchsorted(positions, [trial.first, trial.end])
    identifier = texts[lo] if lo < hi and positions[lo] == trial.first else None
    variables = {}
    if prefix:
        for text in texts[lo:hi]:
            if text is None or not text.startswith(prefix):
                continue
            rest = text[len(prefix):]
            if rest and not rest[0].isspace():
                continue
            words = rest.split()
            for k in range(0, len(words), 2):
                variables[words[k]] = parse_value(words[k + 1]) if k + 1 < len(words) else None
    return identifier, variables


def trial_table(recording, trials, prefix):
    """One row per trial: number, start_time, end_time, duration (ms, as the
    walk serves times), identifier, and one column per variable."""
    import pandas as pd
    rows = [(t, *trial_info(recording, t, prefix)) for t in trials]
    start, end = trial_times(recording, trials)
    data = {"number": np.array([t.number for t in trials], np.int64), "start_time": start, "end_time": end,
            "duration": end - start, "identifier": np.array([r[1] for r in rows], dtype=object)}
    names = list(dict.fromkeys(name for r in rows for name in r[2]))
    for name in names:
        values = [r[2].get(name) for r in rows]
        column = name if name not in data else f"{prefix}_{name}"
        data[column] = _variable_column(values)
    return pd.DataFrame(data)


def _variable_column(values):
    import pandas as pd
    present = [v for v in values if v is not None]
    if present and all(isinstance(v, int) for v in present):
        return pd.array(values, dtype="Int64")
    if present and all(isinstance(v, (int, float)) for v in present):
        return np.array([np.nan if v is None else float(v) for v in values], np.float64)
    return np.array(values, dtype=object)


# --------------------------------------------------------------------------
# Samples


def samples(recording, columns, as_frame, options):
    """rec.samples() with the analysis options (validated in ``options``)."""
    names = _column_names(columns)
    read_names = _with_flags(names, False) if as_frame else list(names)
    helpers = []
    extra = {}
    trials = _Trials(recording) if options.trial_column else None
    if options.trial_column:
        extra["trial"] = (np.int32, -1)
    if options.blinks:
        extra["in_blink"] = (np.bool_, False)
        intervals = blink_intervals(recording, options.padding)
        if options.grid is None and "time" not in read_names:
            helpers.append("time")
    gaze = [n for n in read_names if n.endswith(("_gaze_x", "_gaze_y")) and "_vel_" not in n]
    convert = options.degrees and gaze
    if convert and options.source == "resolution":
        helpers += ["resolution_x", "resolution_y"]
    if convert and options.source == "display":
        options.display.setup()
        extent = (options.display.pixels[0] - 1.0, options.display.pixels[1] - 1.0)

    def on_batch(buf, rows, out):
        placed = rows >= 0
        if convert:
            _to_degrees(buf, options, extent if options.source == "display" else None)
        if options.blinks and options.grid is None:
            any_blink = np.zeros(len(rows), bool)
            for k, eye in enumerate(("left", "right")):
                hit = _inside(buf["time"], intervals[k])
                if hit.any():
                    for n in _eye_columns(buf, eye):
                        buf[n][hit] = np.nan
                    any_blink |= hit
            out["in_blink"][rows[placed & any_blink]] = True
        if trials is not None:
            out["trial"][rows[placed]] = trials.of_positions(buf["position"][placed])

    hook = on_batch if (convert or options.trial_column or (options.blinks and options.grid is None)) else None
    result = _grid.read(recording, read_names, options.grid, layout="columns" if as_frame else "struct",
                        helpers=helpers, extra=extra, records=bool(convert) and options.source == "display",
                        on_batch=hook)
    cols = result.columns
    if options.grid is not None:
        plan = result.plan
        if options.blinks:
            for k, eye in enumerate(("left", "right")):
                targets = [cols[n] for n in _eye_columns(read_names, eye)] + [cols["in_blink"]]
                lo, hi = plan.row_ranges(*intervals[k])
                for a, b in zip(lo.tolist(), hi.tolist()):
                    for c in targets[:-1]:
                        c[a:b] = np.nan
                    targets[-1][a:b] = True
        if trials is not None:
            # Empty rows belong to the trial whose time span holds them.
            tr, valid = cols["trial"], result.valid
            for number, start, end in zip(trials.number.tolist(), trials.start_time, trials.end_time):
                lo, hi = plan.row_ranges([start], [end])
                for a, b in zip(lo.tolist(), hi.tolist()):
                    part = tr[a:b]
                    part[~valid[a:b]] = number
    order = list(names) + ["valid"] + list(extra)
    if as_frame:
        return _frame(cols, order, result.valid, options.grid is not None)
    if result.table is None:
        return _table({n: cols[n] for n in order}, False)
    if list(result.table.dtype.names) == order:
        return result.table
    return result.table[order]


def _to_degrees(buf, options, extent):
    cx, cy = options.centre
    for k, eye in enumerate(("left", "right")):
        x, y = buf.get(f"{eye}_gaze_x"), buf.get(f"{eye}_gaze_y")
        if x is None and y is None:
            continue
        if extent is None:
            px, py = buf["resolution_x"], buf["resolution_y"]
        else:
            records = buf["records"]
            px = np.empty(len(records), np.float64)
            py = np.empty(len(records), np.float64)
            L.lib.vokext_calculate_ppd(extent[0], extent[1], records.ctypes.data, len(records), k,
                                       px.ctypes.data, py.ctypes.data)
            px[px == L.MISSING_VALUE] = np.nan
            py[py == L.MISSING_VALUE] = np.nan
        with np.errstate(divide="ignore", invalid="ignore"):
            if x is not None:
                x[:] = np.where(px > 0, (x - cx) / px, np.nan)
            if y is not None:
                y[:] = np.where(py > 0, (y - cy) / py, np.nan)


def _frame(cols, order, valid, on_grid):
    """A DataFrame of the columns (no copy): words as nullable integers with
    <NA> where absent or on an empty row, the position <NA> on empty rows,
    the trial <NA> outside every trial."""
    import pandas as pd
    data = {}
    flags = cols.get("flags")
    hdt = cols.get("head_data_type")
    words = None
    for name in order:
        values = cols[name]
        kind = SAMPLE_COLUMNS[name][3] if name in SAMPLE_COLUMNS else None
        if kind == "w" and name.startswith("head_data_") and name != "head_data_type":
            # The word count of the head data type, worked out once for all eight.
            if words is None:
                words = np.where(hdt < 0, 0, hdt & 15).astype(np.uint8)
            mask = ((flags & L.SAMPLE_HEADDATA) == 0) | (words <= int(name.rsplit("_", 1)[1]))
        elif kind == "w":
            mask = _word_mask(name, values, flags, hdt)
        elif name == "position" and on_grid:
            mask = ~valid
        elif name == "trial":
            mask = values < 0
        else:
            data[name] = values
            continue
        data[name] = pd.arrays.IntegerArray(values.astype(values.dtype.newbyteorder("="), copy=False), mask)
    return pd.DataFrame(data, copy=False)


# --------------------------------------------------------------------------
# Events


def events_with_trials(recording, records, raw, as_frame):
    """The events table (as rec.events()) with the trial number of each row
    (by the item position of the record the row is known by)."""
    from ._recording import _event_columns
    trials = _Trials(recording)
    cols = _event_columns(records, raw)
    return with_trial_number(cols, trials.of_positions(cols["position"]), as_frame)


def with_trial_number(cols, trial, as_frame):
    """The table of cols with the column ``trial`` (a number for every row,
    or one for all; -1 / <NA> for none)."""
    n = len(cols["position"])
    trial = np.broadcast_to(np.asarray(trial, np.int32), (n,)).copy()
    if as_frame:
        import pandas as pd
        cols["trial"] = pd.arrays.IntegerArray(trial, trial < 0)
        return pd.DataFrame(cols, copy=False)
    cols["trial"] = trial
    return _table(cols, False)


def trial_samples(recording, trial, columns, raw, as_frame, options):
    """trial.samples() with analysis options: the rows of the recording's
    table (same options, with trial numbers) that lie in the trial."""
    keep = options.get("trial_column", False)
    wanted = dict(options, trial_column=True)
    key = ("analysis", None if columns is None else tuple([columns] if isinstance(columns, str) else columns),
           raw, as_frame, tuple(sorted((k, repr(v)) for k, v in wanted.items())))
    whole = recording._cached(key, lambda: recording.samples(columns, raw, as_frame, **wanted))
    if as_frame:
        part = whole[(whole["trial"] == trial.number).fillna(False).to_numpy(bool)].reset_index(drop=True)
        return part if keep else part.drop(columns="trial")
    part = whole[whole["trial"] == trial.number]
    if keep:
        return part
    names = [n for n in part.dtype.names if n != "trial"]
    return _table({n: part[n] for n in names}, False)
