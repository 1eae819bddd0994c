"""Recordings as NumPy arrays and pandas tables."""

import ctypes
import errno
import os
from ctypes import byref, c_float, c_int, c_uint32, c_void_p

import numpy as np

from . import _lib as L

# --------------------------------------------------------------------------
# NumPy forms of the C records


def _numpy_dtype(struct):
    """The NumPy dtype with the names, offsets and size of a ctypes record."""
    names, formats, offsets = [], [], []
    simple = {
        ctypes.c_float: "<f4", ctypes.c_double: "<f8", ctypes.c_uint8: "u1", ctypes.c_int16: "<i2",
        ctypes.c_uint16: "<u2", ctypes.c_int32: "<i4", ctypes.c_uint32: "<u4", ctypes.c_uint64: "<u8",
        ctypes.c_int64: "<i8",
    }
    for name, ctype in struct._fields_:
        offset = getattr(struct, name).offset
        if isinstance(ctype, type) and issubclass(ctype, ctypes.Array):
            fmt = (np.dtype(simple[ctype._type_]), (ctype._length_,))
        elif ctype in simple:
            fmt = np.dtype(simple[ctype])
        else:  # pointers: an address
            fmt = np.dtype(np.uintp)
        names.append(name)
        formats.append(fmt)
        offsets.append(offset)
    return np.dtype({"names": names, "formats": formats, "offsets": offsets, "itemsize": ctypes.sizeof(struct)})


SAMPLE_DTYPE = _numpy_dtype(L.Sample)
EVENT_DTYPE = _numpy_dtype(L.Event)
RECORDING_DTYPE = _numpy_dtype(L.RecordingInfo)

# --------------------------------------------------------------------------
# Sample columns: name -> (member of VOKEXT_SampleColumns, eye or word index, dtype, kind)
# kind: "f" a measured or computed float, "w" a word with an absent marker.

_EYES = (("left", 0), ("right", 1))
SAMPLE_COLUMNS = {}
SAMPLE_COLUMNS["time"] = ("timeMs", None, "<f8", "t")
SAMPLE_COLUMNS["flags"] = ("flags", None, "<u2", "i")
SAMPLE_COLUMNS["position"] = ("position", None, "<u4", "i")
for _group, _member in (("gaze", "gaze"), ("pupil", "pupil"), ("headref", "headRef")):
    for _eye, _k in _EYES:
        SAMPLE_COLUMNS[f"{_eye}_{_group}_x"] = (f"{_member}X", _k, "<f4", "f")
        SAMPLE_COLUMNS[f"{_eye}_{_group}_y"] = (f"{_member}Y", _k, "<f4", "f")
for _eye, _k in _EYES:
    SAMPLE_COLUMNS[f"{_eye}_pupil_size"] = ("pupilSize", _k, "<f4", "f")
SAMPLE_COLUMNS["resolution_x"] = ("resolutionX", None, "<f4", "f")
SAMPLE_COLUMNS["resolution_y"] = ("resolutionY", None, "<f4", "f")
for _prefix, _member in (("", ""), ("fast_", "fast")):
    for _group, _name in (("gaze", "GazeVel"), ("headref", "HeadRefVel"), ("pupil", "PupilVel")):
        base = (_member + _name) if _member else (_name[0].lower() + _name[1:])
        for _eye, _k in _EYES:
            SAMPLE_COLUMNS[f"{_eye}_{_prefix}{_group}_vel_x"] = (base + "X", _k, "<f4", "f")
            SAMPLE_COLUMNS[f"{_eye}_{_prefix}{_group}_vel_y"] = (base + "Y", _k, "<f4", "f")
SAMPLE_COLUMNS["input"] = ("input", None, "<u2", "w")
SAMPLE_COLUMNS["buttons"] = ("buttons", None, "<u2", "w")
SAMPLE_COLUMNS["errors"] = ("errors", None, "<u2", "w")
SAMPLE_COLUMNS["head_data_type"] = ("headDataType", None, "<i2", "w")
for _k in range(8):
    SAMPLE_COLUMNS[f"head_data_{_k}"] = ("headData", _k, "<i2", "w")

#: The columns rec.samples() gives unless others are named.
DEFAULT_SAMPLE_COLUMNS = (
    "time", "left_gaze_x", "left_gaze_y", "right_gaze_x", "right_gaze_y", "left_pupil_size", "right_pupil_size",
    "resolution_x", "resolution_y", "left_gaze_vel_x", "left_gaze_vel_y", "right_gaze_vel_x", "right_gaze_vel_y",
    "input", "buttons", "flags",
)


def _column_names(columns):
    if columns is None:
        return list(DEFAULT_SAMPLE_COLUMNS)
    if isinstance(columns, str):
        if columns == "all":
            return list(SAMPLE_COLUMNS)
        columns = [columns]
    names = list(columns)
    unknown = [n for n in names if n not in SAMPLE_COLUMNS]
    if unknown:
        raise ValueError(f"unknown sample column(s) {', '.join(map(repr, unknown))}; "
                         f"known: {', '.join(SAMPLE_COLUMNS)}")
    if len(set(names)) != len(names):
        raise ValueError("a sample column is named twice")
    return names


def _with_flags(names, raw):
    """The names, with "flags" (and "head_data_type" for head data words)
    added when word columns need them for their <NA> marks."""
    if raw:
        return names
    extra = []
    if "flags" not in names and any(SAMPLE_COLUMNS[n][3] == "w" for n in names):
        extra.append("flags")
    if "head_data_type" not in names and any(n.startswith("head_data_") and n != "head_data_type" for n in names):
        extra.append("head_data_type")
    return names + extra


def _column_dtype(name, raw):
    member, _, dtype, kind = SAMPLE_COLUMNS[name]
    if kind == "t" and raw:
        return "<u4"
    return dtype


def _set_column(cols, name, address, raw):
    member, index, _, kind = SAMPLE_COLUMNS[name]
    if kind == "t" and raw:
        member = "time"
    if index is None:
        setattr(cols, member, address)
    else:
        getattr(cols, member)[index] = address


def _word_mask(name, values, flags, head_data_type=None):
    """True where a word column holds no value (NaN mode of the tables)."""
    if name == "input":
        return ((flags & L.SAMPLE_INPUT) == 0) | (values == L.ABSENT_WORD)
    if name == "errors":
        return ((flags & L.SAMPLE_ERRORS) == 0) | (values == L.ABSENT_WORD)
    if name == "buttons":
        return (flags & L.SAMPLE_BUTTONS) == 0
    if name == "head_data_type":
        return ((flags & L.SAMPLE_HEADDATA) == 0) | (values == -32768)
    # head_data_k: absent without head data and beyond the type's word count
    mask = (flags & L.SAMPLE_HEADDATA) == 0
    if head_data_type is not None:
        words = np.where(head_data_type < 0, 0, head_data_type & 15)
        mask |= int(name.rsplit("_", 1)[1]) >= words
    return mask


# --------------------------------------------------------------------------
# Event tables

_KIND = {L.SFIX: "fixation", L.EFIX: "fixation", L.SSACC: "saccade", L.ESACC: "saccade",
         L.SBLINK: "blink", L.EBLINK: "blink"}
_STARTS = (L.SFIX, L.SSACC, L.SBLINK)
_POINTS = {L.MESSAGEEVENT: "message", L.BUTTONEVENT: "button", L.INPUTEVENT: "input"}
# Event type -> how it pairs: the place of its kind in the order open starts
# close at a boundary (blink, fixation, saccade), plus 3 for a start; 6 for
# a point event; -1 for the rest.
_PAIRING = np.full(1 << 16, -1, dtype=np.int8)
for _code, _name in _KIND.items():
    _PAIRING[_code] = sorted(set(_KIND.values())).index(_name) + (3 if _code in _STARTS else 0)
_PAIRING[list(_POINTS)] = 6

_R = {"START_TIME": 0x0001, "END_VALUES": 0x0002, "AVG_VALUES": 0x0004, "START_POS": 0x0008,
      "END_POS": 0x0010, "AVG_POS": 0x0020, "PUPILSIZE": 0x0080, "VELOCITY": 0x0100, "RESOLUTION": 0x0200,
      "PLAIN_POS": 0x0400, "HEADREF_POS": 0x0800, "GAZE_POS": 0x1000}


# Joined event columns: name -> (record member, rule).  A position needs its
# place bit and a gaze/head-referenced (or plain) bit; pupil sizes,
# velocities and resolutions need their group bit and their place bit and
# read as absent when exactly 0 (the record format shares those bits).
_EVENT_VALUES = {}
for _place, _bit in (("start", "START_POS"), ("end", "END_POS"), ("avg", "AVG_POS")):
    for _kind, _member in (("gaze", "Gaze"), ("headref", "HeadRef")):
        _both = _R[_bit], _R["GAZE_POS" if _kind == "gaze" else "HEADREF_POS"] | _R["PLAIN_POS"]
        _EVENT_VALUES[f"{_place}_{_kind}_x"] = (f"{_place}{_member}X", "pos", _both)
        _EVENT_VALUES[f"{_place}_{_kind}_y"] = (f"{_place}{_member}Y", "pos", _both)
_EVENT_VALUES["start_pupil_size"] = ("startPupilSize", "carried", (_R["PUPILSIZE"], _R["START_TIME"]))
_EVENT_VALUES["end_pupil_size"] = ("endPupilSize", "carried", (_R["PUPILSIZE"], _R["END_VALUES"]))
_EVENT_VALUES["avg_pupil_size"] = ("avgPupilSize", "carried", (_R["PUPILSIZE"], _R["AVG_VALUES"]))
_EVENT_VALUES["avg_velocity"] = ("avgVelocity", "carried", (_R["VELOCITY"], _R["AVG_VALUES"]))
_EVENT_VALUES["peak_velocity"] = ("peakVelocity", "carried", (_R["VELOCITY"], _R["AVG_VALUES"]))
_EVENT_VALUES["start_velocity"] = ("startVelocity", "carried", (_R["VELOCITY"], _R["START_TIME"]))
_EVENT_VALUES["end_velocity"] = ("endVelocity", "carried", (_R["VELOCITY"], _R["END_VALUES"]))
_EVENT_VALUES["start_resolution_x"] = ("startResolutionX", "carried", (_R["RESOLUTION"], _R["START_TIME"]))
_EVENT_VALUES["start_resolution_y"] = ("startResolutionY", "carried", (_R["RESOLUTION"], _R["START_TIME"]))
_EVENT_VALUES["end_resolution_x"] = ("endResolutionX", "carried", (_R["RESOLUTION"], _R["END_VALUES"]))
_EVENT_VALUES["end_resolution_y"] = ("endResolutionY", "carried", (_R["RESOLUTION"], _R["END_VALUES"]))


def _decode_text(raw, encoding):
    if encoding is not None:
        return raw.decode(encoding, "replace")
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp1252", "replace")


class _EventRecords:
    """Event items of a walk in stream order: the records, their positions,
    texts and the recording-block records between them."""

    def __init__(self, events, positions, extra, texts, recordings, recording_positions, unreadable):
        self.events = events
        self.positions = positions
        self.extra = extra
        self.texts = texts
        self.recordings = recordings
        self.recording_positions = recording_positions
        self.unreadable = unreadable

    def order_keys(self):
        return self.positions.astype(np.int64) * 2 + np.where(self.extra != 0, 0, 1)

    def slice(self, first, end):
        """The items of list positions first .. end-1."""
        keep = (self.positions >= first) & (self.positions < end)
        keep_r = (self.recording_positions >= first) & (self.recording_positions < end)
        return _EventRecords(self.events[keep], self.positions[keep], self.extra[keep],
                             [t for t, k in zip(self.texts, keep) if k], self.recordings[keep_r],
                             self.recording_positions[keep_r], 0)

    def joined(self):
        """Rows of the events table, an (n, 3) array of record indices (start,
        end, point event; -1 where a row has none): start and end records of
        fixations, saccades and blinks paired per eye and kind, and the
        messages, buttons and inputs; in the order the rows complete.

        A block start (recording record with state != 0) closes the starts
        still open, in the order of their (eye, kind), before the event that
        follows it; so does the end of the items.  A start while one of its
        eye and kind is open leaves that one start-only."""
        what = _PAIRING[np.ascontiguousarray(self.events["type"]).view(np.uint16)]
        # Block of each event: the block starts the walk has passed on
        # reaching it (never fewer than for the event before).
        starts_at = self.recording_positions[self.recordings["state"] != 0].astype(np.int64) * 2 + 1
        block = np.maximum.accumulate(np.searchsorted(starts_at, self.order_keys()))

        # Eye events by group (eye: 1 right, anything else left; kind),
        # numbered in the order open starts close; in stream order within
        # each group, so by block.
        index = np.flatnonzero((what >= 0) & (what < 6))
        g = what[index] % 3 + 3 * (self.events["eye"][index] == 1).astype(np.int8)
        order = np.argsort(g, kind="stable")
        index, g = index[order], g[order]
        is_start, in_block = what[index] >= 3, block[index]
        follows = np.zeros(len(index), dtype=bool)  # the next is of its group and block
        follows[:-1] = (g[1:] == g[:-1]) & (in_block[1:] == in_block[:-1])
        after = np.full(len(index), -1, dtype=np.int64)
        after[:-1] = index[1:]
        ended = is_start & follows
        ended[:-1] &= ~is_start[1:]  # the start the next end pairs with
        lone_end = ~is_start
        lone_end[1:] &= ~ended[:-1]

        # A row completes at an event i (sort key 8 * i + 7), or, for a start
        # still open at a block start or the end, at the boundary before the
        # next block's first event i (8 * i + group).
        starts, ends, points = index[is_start], index[lone_end], np.flatnonzero(what == 6)
        start_after = after[is_start]
        done_start = 8 * start_after + 7
        left_open = ~follows[is_start]
        done_start[left_open] = 8 * np.searchsorted(block, block[starts[left_open]], side="right") + \
            g[is_start][left_open]
        rows = np.full((len(starts) + len(ends) + len(points), 3), -1, dtype=np.int64)
        a, b = len(starts), len(starts) + len(ends)
        rows[:a, 0] = starts
        rows[:a, 1] = np.where(ended[is_start], start_after, -1)
        rows[a:b, 1] = ends
        rows[b:, 2] = points
        return rows[np.argsort(np.concatenate([done_start, 8 * ends + 7, 8 * points + 7]), kind="stable")]


def _event_table(records, rows):
    """Columns of the events table from the paired rows."""
    ev = records.events
    n = len(rows)
    idx = np.asarray(rows, dtype=np.int64).reshape(n, 3)
    start, end, point = idx[:, 0], idx[:, 1], idx[:, 2]
    has_start, has_end, is_point = start >= 0, end >= 0, point >= 0
    # The record a row is known by: its end, else its start, else the point event.
    first = np.where(has_end, end, np.where(has_start, start, point))
    si, ei = np.maximum(start, 0), np.maximum(end, 0)
    read = ev["read"].astype(np.int64)
    types = ev["type"][first]

    out = {}
    kinds = np.empty(n, dtype=object)
    for code, name in list(_KIND.items()) + list(_POINTS.items()):
        kinds[types == code] = name
    out["type"] = kinds
    eye = np.where(ev["eye"][first] == 1, "right", "left").astype(object)
    eye[is_point] = None
    out["eye"] = eye

    end_has_start_time = has_end & ((read[ei] & _R["START_TIME"]) != 0)
    use_start_record = has_start & ~end_has_start_time
    out["start_time"] = np.where(use_start_record, ev["startTime"][si], ev["startTime"][first]).astype(np.float64)
    out["end_time"] = np.where(has_end, ev["endTime"][ei].astype(np.float64), np.nan)
    out["duration"] = out["end_time"] - out["start_time"]

    rs, re_ = read[si], read[ei]
    for name, (field, rule, bits) in _EVENT_VALUES.items():
        vs, ve = ev[field][si], ev[field][ei]
        if rule == "pos":
            place, group = bits
            ok_s = ((rs & place) != 0) & ((rs & group) != 0)
            ok_e = ((re_ & place) != 0) & ((re_ & group) != 0)
        else:
            group, place = bits
            ok_s = ((rs & group) != 0) & ((rs & place) != 0) & (vs != 0)
            ok_e = ((re_ & group) != 0) & ((re_ & place) != 0) & (ve != 0)
        ok_s &= has_start
        ok_e &= has_end
        chosen = np.where(ok_e, ve, np.where(ok_s, vs, np.float32(L.MISSING_VALUE))).astype(np.float32)
        chosen[(chosen == np.float32(L.MISSING_VALUE)) | (chosen == np.float32(L.ABSENT_VALUE))] = np.nan
        out[name] = chosen
    pair = np.where(has_start & has_end, "complete", np.where(has_start, "start-only", "end-only")).astype(object)
    pair[is_point] = None
    out["pair"] = pair
    out["parsed_by"] = ev["parsedBy"][first].astype(np.uint16)
    texts = np.empty(n, dtype=object)
    for k, p in enumerate(point.tolist()):
        if p >= 0:
            texts[k] = records.texts[p]
    out["text"] = texts
    is_button, is_input = types == L.BUTTONEVENT, types == L.INPUTEVENT
    out["buttons"] = np.where(is_button, ev["buttons"][first], -1).astype(np.int32)
    out["input"] = np.where(is_input, ev["input"][first], -1).astype(np.int32)
    out["position"] = records.positions[first]
    out["extra"] = records.extra[first] != 0
    return out


def _table(columns, as_frame):
    if as_frame:
        import pandas as pd
        return pd.DataFrame(columns, copy=False)
    names = list(columns)
    dtype = np.dtype([(name, columns[name].dtype) for name in names], align=True)
    n = len(columns[names[0]]) if names else 0
    out = np.empty(n, dtype=dtype)
    for name in names:
        out[name] = columns[name]
    return out


# --------------------------------------------------------------------------
# Items


class Item:
    """One item of the stream, as the C cursor serves it.

    ``type`` is the item type code (``vokapi.SAMPLE_TYPE``, ``vokapi.SFIX``,
    ``vokapi.MESSAGEEVENT``, ``vokapi.RECORDING_INFO`` ...), ``kind`` one of
    "sample", "event", "recording"; ``record`` a copy of the C record
    (``Sample``, ``Event`` or ``RecordingInfo``, values exactly as served,
    markers included) whose members can also be read from the item itself
    (``item.time``, ``item.gazeX[0]``); ``text`` the text of a message
    (None for other items).
    """

    __slots__ = ("type", "kind", "record", "text")

    def __init__(self, type_, kind, record, text):
        self.type, self.kind, self.record, self.text = type_, kind, record, text

    def __getattr__(self, name):
        return getattr(self.record, name)

    def __repr__(self):
        t = f" {self.text!r}" if self.text is not None else ""
        time = self.record.startTime if self.kind == "event" else self.record.time
        return f"<vokapi.Item {self.kind} type={self.type} time={time}{t}>"


# --------------------------------------------------------------------------
# Trials


class TrialHeader:
    """A trial's header: ``start_time``, ``end_time`` and ``duration`` in ms
    of the tracker clock (before any time offset fixup), and ``block``, the
    recording block the trial lies in (a dict of the RecordingInfo members, or
    None)."""

    def __init__(self, t):
        self.start_time = int(t.startTime)
        self.end_time = int(t.endTime)
        self.duration = int(t.duration)
        self.block = None
        if t.recording:
            r = t.recording.contents
            self.block = {name: getattr(r, name) for name, _ in L.RecordingInfo._fields_}

    def __repr__(self):
        return f"<vokapi.TrialHeader {self.start_time}..{self.end_time} ({self.duration} ms)>"


class Trial:
    """One trial: a stretch of the item stream (``first`` .. ``end`` - 1, item
    positions).  ``samples()`` and ``events()`` take the same arguments as the
    recording's and give the rows of the items inside the stretch; with the
    analysis options of ``Recording.samples()`` (grid, blinks, units ...)
    they are the rows of the recording's table whose ``trial`` is this
    trial's number.  ``identifier`` is the text of the message that began the
    trial (None when a block start began it); ``variables`` the ``name
    value`` pairs of its messages that begin with the ``variables`` prefix
    given to ``Recording.trials()`` (numbers parsed)."""

    def __init__(self, recording, number, header, first, end):
        self._recording = recording
        self.number = number
        self.header = header
        self.first = first
        self.end = end
        self.identifier = None
        self.variables = {}

    def samples(self, columns=None, raw=False, as_frame=False, **options):
        if options:
            from ._analysis import trial_samples
            return trial_samples(self._recording, self, columns, raw, as_frame, options)
        return self._recording._trial_samples(self, columns, raw, as_frame)

    def events(self, raw=False, as_frame=False, trial_column=False):
        return self._recording._trial_events(self, raw, as_frame, trial_column)

    def messages(self, as_frame=False):
        return _messages_of(self.events(as_frame=False), as_frame)

    def __repr__(self):
        return f"<vokapi.Trial {self.number} {self.header.start_time}..{self.header.end_time}>"


def _messages_of(events, as_frame):
    keep = events["type"] == "message"
    cols = {"time": events["start_time"][keep], "text": events["text"][keep],
            "extra": events["extra"][keep], "position": events["position"][keep]}
    return _table(cols, as_frame)


# --------------------------------------------------------------------------
# The recording


class Recording:
    """An open recording.  Made by ``vokapi.open()``; use it in a ``with``
    block or call ``close()``.  Every array it hands out is a copy that stays
    valid after closing.

    Attributes: ``path`` (None for a recording opened from memory);
    ``preamble`` (the header lines, without their
    "** " prefix); ``revision`` (recording software revision, 0 when
    absent); ``tracker_revision``; ``blocks`` (the recording blocks, list of
    dicts); ``len(rec)`` the number of items.
    """

    def __init__(self, handle, path, text_encoding, source=None):
        self._handle = handle
        self._source = source  # the bytes a recording in memory is read from, kept while open
        self.path = path
        self._encoding = text_encoding
        self._identifiers = None
        self._variables = None
        self._cache = {}
        self._blocks = None
        with L.collected_log():
            n = L.lib.vok_get_preamble_text_length(handle)
            buf = ctypes.create_string_buffer(max(n, 1))
            L.lib.vok_get_preamble_text(handle, buf, max(n, 1))
        self.preamble_text = _decode_text(buf.value, text_encoding)
        self.preamble = [line[3:] if line.startswith("** ") else line
                         for line in self.preamble_text.splitlines()]
        self.revision = int(L.lib.vok_get_revision(handle))
        self.tracker_revision = int(L.lib.vok_get_tarnvik_revision(handle))

    # ---- lifetime ----
    def close(self):
        """Releases the handle (and the library's memory for it).  Safe to
        call twice."""
        if self._handle:
            L.lib.vok_close_file(self._handle)
            self._handle = None
        self._source = None
        self._cache.clear()

    @property
    def closed(self):
        return not self._handle

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def _h(self):
        if not self._handle:
            raise ValueError(f"the recording {self.path!r} is closed")
        return self._handle

    def __len__(self):
        return int(L.lib.vok_get_element_count(self._h()))

    def __repr__(self):
        state = "closed" if self.closed else f"{len(self)} items"
        return f"<vokapi.Recording {self.path!r} {state}>"

    # ---- the bulk walk ----
    def _walk(self, batch, refill):
        """Rewinds and runs vokext_read_batch until the items end; refill(batch)
        makes room when a call stops for it."""
        h = self._h()
        with L.collected_log() as logged:
            L.lib.vokext_rewind(h)
            while True:
                result = L.lib.vokext_read_batch(h, byref(batch))
                if result < 0:
                    raise ValueError(logged.text("the library refused the bulk read"))
                if result == 0:
                    return
                refill(batch)

    def _read_samples(self, names, raw, layout):
        """Reads every sample.  layout: "struct" (one structured array),
        "columns" (dict of arrays) or "records" (the C records).  Returns
        (result, positions or None)."""
        capacity = max(len(self), 1)
        batch = L.Batch()
        batch.kinds = L.VOKEXT_SAMPLES
        batch.options = 0 if raw else L.VOKEXT_MISSING_AS_NAN
        batch.sampleCapacity = capacity
        cols = batch.samples
        positions = None
        if layout == "records":
            result = np.empty(capacity, SAMPLE_DTYPE)
            cols.records = result.ctypes.data
            positions = np.empty(capacity, np.uint32)
            cols.position = positions.ctypes.data
        elif layout == "struct":
            # Aligned members: the library writes them a good deal faster.
            dtype = np.dtype([(n, _column_dtype(n, raw)) for n in names], align=True)
            result = np.empty(capacity, dtype)
            cols.stride = dtype.itemsize
            base = result.ctypes.data
            for n in names:
                _set_column(cols, n, base + dtype.fields[n][1], raw)
        else:
            result = {n: np.empty(capacity, _column_dtype(n, raw)) for n in names}
            for n, a in result.items():
                _set_column(cols, n, a.ctypes.data, raw)

        def full(b):  # cannot happen: no more samples than items
            raise ValueError("more samples than items")

        self._walk(batch, full)
        count = batch.sampleCount
        if batch.unreadable:
            L.log.warning("%s: %d sample(s) could not be read and were left out", self.path, batch.unreadable)
        if isinstance(result, dict):
            result = {n: a[:count] for n, a in result.items()}
        else:
            result = result[:count]
        if positions is not None:
            positions = positions[:count]
        return result, positions

    def _read_events(self):
        rows = 65536
        events = np.empty(rows, EVENT_DTYPE)
        positions = np.empty(rows, np.uint32)
        extra = np.empty(rows, np.uint8)
        text_at = np.empty(rows, np.uint32)
        text = np.empty(1 << 20, np.uint8)
        recordings = np.empty(rows, RECORDING_DTYPE)
        recording_positions = np.empty(rows, np.uint32)
        parts, rparts, texts = [], [], []
        batch = L.Batch()
        batch.kinds = L.VOKEXT_EVENTS | L.VOKEXT_RECORDINGS
        batch.eventCapacity = batch.recordingCapacity = rows
        batch.events, batch.eventPosition = events.ctypes.data, positions.ctypes.data
        batch.eventExtra, batch.eventText = extra.ctypes.data, text_at.ctypes.data
        batch.text, batch.textCapacity = text.ctypes.data, len(text)
        batch.recordings, batch.recordingPosition = recordings.ctypes.data, recording_positions.ctypes.data

        def take(b):
            n, r = b.eventCount, b.recordingCount
            parts.append((events[:n].copy(), positions[:n].copy(), extra[:n].copy()))
            raw_text = text[:b.textUsed].tobytes()
            for off in text_at[:n].tolist():
                if off == L.NO_TEXT:
                    texts.append(None)
                else:
                    texts.append(_decode_text(raw_text[off:raw_text.index(b"\0", off)], self._encoding))
            rparts.append((recordings[:r].copy(), recording_positions[:r].copy()))
            b.eventCount = b.recordingCount = b.textUsed = 0

        self._walk(batch, take)
        take(batch)
        if batch.unreadable:
            L.log.warning("%s: %d item(s) could not be read and were left out", self.path, batch.unreadable)
        return _EventRecords(np.concatenate([p[0] for p in parts]), np.concatenate([p[1] for p in parts]),
                             np.concatenate([p[2] for p in parts]), texts,
                             np.concatenate([p[0] for p in rparts]), np.concatenate([p[1] for p in rparts]),
                             batch.unreadable)

    # ---- samples ----
    def samples(self, columns=None, raw=False, as_frame=False, *, grid=None, blinks=None, blink_padding=(50, 50),
                units="px", deg_source="resolution", display=None, trial_column=False):
        """All samples of the recording, in stream order.

        columns: names of the columns (default ``DEFAULT_SAMPLE_COLUMNS``;
            "all" for every one; see ``vokapi.SAMPLE_COLUMNS``): ``time`` (ms,
            float, .5 for the second sample of a millisecond), gaze, pupil and
            head-referenced positions per eye (``left_gaze_x`` ...), pupil
            sizes, ``resolution_x/_y`` (pixels per degree), velocities in
            deg/s (``left_gaze_vel_x`` ..., ``*_fast_*``), the words
            ``input``, ``buttons``, ``errors``, ``flags``, ``head_data_*`` and
            ``position`` (the item position).
        raw: False gives NaN for every missing value in the float columns
            (1e8 and -32768 never appear) and, in a DataFrame, <NA> for
            absent words.  True gives the values exactly as the library serves
            them: without ``as_frame`` the whole C ``Sample`` records (dtype
            ``vokapi.SAMPLE_DTYPE``, the input of ``vokapi.ppd`` and
            ``Recording.raw_values``); with ``as_frame`` the named columns
            with their markers and ``time`` as the integer ms.
        as_frame: a pandas DataFrame instead of a NumPy structured array.

        Analysis options (each needs raw=False):

        grid: None (default) one row per sample, as served.  "regular": one
            row per step of the block's rate from each block's first sample
            to its last (time = first + k / rate, exact: .5 ms at 2000 Hz),
            the rows of missing samples empty; "continuous": consecutive
            blocks at one rate also joined by the empty rows between them.
            Empty rows: NaN in the float columns, <NA> in the word columns
            and ``position`` of a DataFrame (in a NumPy array the words hold
            0x8000 and ``position`` 0xFFFFFFFF), ``flags`` 0.  A boolean
            column ``valid`` (added with any analysis option) is True on the
            rows that hold a recorded sample (False on empty rows and on the
            placeholder samples that consistency=2 fills gaps with).  Samples that land on no row (outside
            every block in the "regular" grid, or two in one step) are left
            out with a warning on the "vokapi" logger.
        blinks: "nan" sets each eye's gaze, pupil, head-referenced and
            velocity columns to NaN inside that eye's blinks (the blink
            events of the recording, start and end joined as in
            ``events()``) widened by ``blink_padding`` = (before_ms,
            after_ms), default (50, 50); the column ``in_blink`` is True on
            the rows blanked for either eye.  A blink without an end ends at
            its start.
        units: "px" (default) or "deg": gaze (``*_gaze_x/_y``) in degrees of
            visual angle from the display centre, x to the right and y
            downwards as the pixels, by ``deg_source``:
            "resolution" (default): each sample's own resolution fields
            (pixels per degree as the tracker wrote them), the default
            because the tracker works them out for every sample from its
            calibration and the eye's position, with nothing to measure;
            "display": the geometry of ``display`` (a ``vokapi.Display``)
            through the library's physical setup and pixels-per-degree
            calls (process-wide state, reset by this call), for recordings
            without resolution fields; it needs head-referenced positions in
            the samples.  A sample with no resolution gives NaN.  The
            display centre comes from ``display`` when given, else from the
            recording's "DISPLAY_COORDS" message.
        trial_column: adds ``trial``, the number of the trial (of the last
            ``trials()`` call) each row lies in (<NA> / -1 outside every
            trial; an empty grid row by its time).
        """
        from ._analysis import _Options, samples as analysed
        options = _Options(self, raw, grid, blinks, blink_padding, units, deg_source, display, trial_column)
        if not options.plain:
            return analysed(self, columns, as_frame, options)
        if raw and not as_frame:
            if columns is not None:
                raise ValueError("raw=True without as_frame gives the whole Sample records; leave columns out")
            return self._read_samples(None, True, "records")[0]
        names = _column_names(columns)
        if as_frame:
            read = _with_flags(names, raw)
            cols, _ = self._read_samples(read, raw, "columns")
            return _frame_of_samples({n: cols[n] for n in names}, raw, cols.get("flags"),
                                     cols.get("head_data_type"))
        return self._read_samples(names, raw, "struct")[0]

    # ---- events ----
    def events(self, raw=False, as_frame=False, trial_column=False):
        """Fixations, saccades and blinks (start and end records joined, one
        row per eye), messages, buttons and inputs, as one table.

        Columns: ``type`` ("fixation", "saccade", "blink", "message",
        "button", "input"), ``eye`` ("left"/"right"; None for the others),
        ``start_time``, ``end_time``, ``duration`` (ms, NaN when there is no
        end), start/end/average gaze and head-referenced positions, pupil
        sizes, velocities and resolutions (NaN when the records do not carry
        them; start values from the end record when it carries them, else
        from the start record), ``pair`` ("complete", "start-only",
        "end-only"), ``parsed_by``, ``text`` (messages), ``buttons`` and
        ``input`` (-1 on other rows), ``position`` and ``extra`` (merged from
        the extra message file).  Rows come in the order the events complete.

        raw=True gives the event records as the library serves them instead
        (every event item, in stream order, unjoined: dtype
        ``vokapi.EVENT_DTYPE`` plus ``text`` and ``position``).

        trial_column=True adds ``trial``, the number of the trial (of the last
        ``trials()`` call) each row lies in (<NA> / -1 outside every trial).
        """
        records = self._read_events()
        if trial_column:
            from ._analysis import events_with_trials
            return events_with_trials(self, records, raw, as_frame)
        return _events_output(records, raw, as_frame)

    def messages(self, as_frame=False):
        """The messages: ``time`` (ms), ``text``, ``extra``, ``position``."""
        return _messages_of(self.events(), as_frame)

    # ---- blocks ----
    @property
    def blocks(self):
        """The recording blocks: a list of dicts with ``start_time``,
        ``end_time`` (None when the block has no end), ``sample_rate``,
        ``eye`` ("left", "right", "both"), ``records`` ("samples", "events",
        "both"), ``filter``, ``mode``, ``pupil_type``, ``sample_flags``,
        ``event_flags``, ``start_position``, ``end_position``."""
        if self._blocks is None:
            self._blocks = _blocks_of(self._read_events())
        return [dict(b) for b in self._blocks]

    # ---- items ----
    def __iter__(self):
        """Walks every item from the first, as vok_get_next_data() and
        vok_get_float_data() serve them (see ``Item``).  Items whose record
        cannot be read are left out (the reason is logged)."""
        h = self._h()
        L.lib.vokext_rewind(h)
        while True:
            h = self._h()
            code = L.lib.vok_get_next_data(h)
            if code == 0:
                return
            data = L.lib.vok_get_float_data(h)
            if not data:
                continue
            d = data.contents
            text = None
            if code == L.SAMPLE_TYPE:
                kind, record = "sample", L.Sample.from_buffer_copy(d.sample)
            elif code == L.RECORDING_INFO:
                kind, record = "recording", L.RecordingInfo.from_buffer_copy(d.recording)
            else:
                kind, record = "event", L.Event.from_buffer_copy(d.event)
                if d.event.message:
                    m = d.event.message.contents
                    length = max(int(m.length), 0)
                    raw = ctypes.string_at(ctypes.addressof(m) + L.LString.c.offset, length)
                    text = _decode_text(raw.split(b"\0", 1)[0], self._encoding)
                record.message = None
            yield Item(code, kind, record, text)

    # ---- trials ----
    def trials(self, start=None, end=None, variables=None):
        """Splits the recording into trials and returns them (list of
        ``Trial``).  A trial runs from a message containing ``start`` to one
        containing ``end``; a start of "inPut_type_N" splits by input values
        (see the C header).  Without arguments the identifiers set by an
        earlier call stay; with none ever set each recording block is a
        trial.  A block start can also begin a short trial of the items before
        the block's first start message, as the library's trial rules have it.  Trials keep the recording's rows: ``trial.samples()`` is
        the part of ``rec.samples()`` inside the trial.

        variables: a message prefix such as "VAR": the messages of a trial
        that begin with it carry ``name value`` pairs ("VAR condition 3 side
        left"), found in ``trial.variables`` and ``trial_table()``; kept for
        later calls like the identifiers."""
        h = self._h()
        if variables is not None:
            if not isinstance(variables, str) or not variables.strip():
                raise ValueError(f"variables must be a message prefix such as 'VAR', not {variables!r}")
            self._variables = variables
        with L.collected_log(), L.quiet_stdout():
            if start is not None or end is not None:
                # The library keeps the texts by pointer: they live with the recording.
                self._identifiers = (None if start is None else str(start).encode("utf-8"),
                                     None if end is None else str(end).encode("utf-8"))
                L.lib.vok_set_trial_identifier(h, *self._identifiers)
            count = L.lib.vok_get_trial_count(h)
            result = []
            for k in range(count):
                if L.lib.vok_jump_to_trial(h, k) != 0:
                    break
                header = L.Trial()
                L.lib.vok_get_trial_header(h, byref(header))
                first, stop = c_uint32(), c_uint32()
                L.lib.vokext_get_trial_range(h, k, byref(first), byref(stop))
                result.append(Trial(self, k, TrialHeader(header), first.value, stop.value))
        self._cache = {}
        from ._analysis import trial_info
        for t in result:
            t.identifier, t.variables = trial_info(self, t, self._variables)
        return result

    def trial_table(self, start=None, end=None, variables=None):
        """One row per trial (a DataFrame): ``number``, ``start_time``,
        ``end_time``, ``duration`` (ms), ``identifier`` (the text of the
        message that began it, None for a block start) and one column per
        variable (see ``trials()``), a number where the value is one, <NA> /
        NaN / None in trials without it.  Arguments as ``trials()``."""
        from ._analysis import trial_table
        return trial_table(self, self.trials(start, end, variables), self._variables)

    def _cached(self, key, make):
        if key not in self._cache:
            self._cache[key] = make()
        return self._cache[key]

    def _trial_samples(self, trial, columns, raw, as_frame):
        self._h()
        if raw and not as_frame:
            if columns is not None:
                raise ValueError("raw=True without as_frame gives the whole Sample records; leave columns out")
            records, positions = self._cached(("records",), lambda: self._read_samples(None, True, "records"))
            lo, hi = np.searchsorted(positions, [trial.first, trial.end])
            # A byte copy: the records stay exactly as served, padding included.
            return np.frombuffer(bytearray(records[lo:hi].tobytes()), SAMPLE_DTYPE)
        names = _column_names(columns)
        wanted = list(dict.fromkeys(_with_flags(names, raw) + ["position"]))
        cols, _ = self._cached(("columns", tuple(wanted), raw),
                               lambda: self._read_samples(wanted, raw, "columns"))
        lo, hi = np.searchsorted(cols["position"], [trial.first, trial.end])
        part = {n: cols[n][lo:hi].copy() for n in names}
        if as_frame:
            def part_of(name):
                return cols[name][lo:hi] if name in cols else None
            return _frame_of_samples(part, raw, part_of("flags"), part_of("head_data_type"))
        return _table(part, False)

    def _trial_events(self, trial, raw, as_frame, trial_column=False):
        self._h()
        records = self._cached(("events",), self._read_events).slice(trial.first, trial.end)
        if trial_column:
            from ._analysis import with_trial_number
            return with_trial_number(_event_columns(records, raw), trial.number, as_frame)
        return _events_output(records, raw, as_frame)

    # ---- derived measures ----
    def raw_values(self, records, eye, raw=False):
        """The uncorrected pupil and corneal-reflection (CR) values of each
        sample for one eye (0 left, 1 right), from the records of
        ``samples(raw=True)``: a structured array with ``pupil_area``,
        ``pupil_x``, ``pupil_y``, ``cr_area``, ``cr_x``, ``cr_y``,
        ``pupil_width``, ``pupil_height``, ``cr_width``, ``cr_height``,
        ``window_x``, ``window_y`` (camera window centre), ``pupil_cr_x``,
        ``pupil_cr_y`` (pupil minus 1.02 x CR), ``cr2_area``, ``cr2_x``,
        ``cr2_y``.  Missing positions and dimensions are NaN (raw=True keeps
        the library's 1e8 / 100000000); missing areas are 0."""
        records = _sample_records(records)
        eye = _eye(eye)
        n = len(records)
        ints = {k: np.zeros(n, np.int32) for k in ("pupilArea", "crArea", "cr2Area")}
        pairs_f = {k: np.zeros((n, 2), np.float32) for k in ("rawPupil", "rawCr", "pupilCr", "rawCr2")}
        pairs_i = {k: np.zeros((n, 2), np.int32) for k in ("pupilDimension", "crDimension", "windowPosition")}
        out = L.RawColumns()
        for k, a in list(ints.items()) + list(pairs_f.items()) + list(pairs_i.items()):
            setattr(out, k, a.ctypes.data)
        with L.collected_log(), L.quiet_stdout():
            if L.lib.vokext_raw_values(self._h(), records.ctypes.data, n, eye, byref(out)) != 0:
                raise ValueError("the library refused the samples")

        def f(a):
            return a if raw else _nan_where(a.astype(np.float32), a == np.float32(L.MISSING_VALUE))

        def i(a):
            return a if raw else _nan_where(a.astype(np.float64), a == 100000000)

        cols = {"pupil_area": ints["pupilArea"]}
        cols["pupil_x"], cols["pupil_y"] = f(pairs_f["rawPupil"][:, 0]), f(pairs_f["rawPupil"][:, 1])
        cols["cr_area"] = ints["crArea"]
        cols["cr_x"], cols["cr_y"] = f(pairs_f["rawCr"][:, 0]), f(pairs_f["rawCr"][:, 1])
        cols["pupil_width"], cols["pupil_height"] = i(pairs_i["pupilDimension"][:, 0]), i(pairs_i["pupilDimension"][:, 1])
        cols["cr_width"], cols["cr_height"] = i(pairs_i["crDimension"][:, 0]), i(pairs_i["crDimension"][:, 1])
        cols["window_x"], cols["window_y"] = i(pairs_i["windowPosition"][:, 0]), i(pairs_i["windowPosition"][:, 1])
        cols["pupil_cr_x"], cols["pupil_cr_y"] = f(pairs_f["pupilCr"][:, 0]), f(pairs_f["pupilCr"][:, 1])
        cols["cr2_area"] = ints["cr2Area"]
        cols["cr2_x"], cols["cr2_y"] = f(pairs_f["rawCr2"][:, 0]), f(pairs_f["rawCr2"][:, 1])
        return _table(cols, False)


def _nan_where(values, mask):
    values = np.array(values, copy=True)
    values[mask] = np.nan
    return values


def _eye(eye):
    if eye in (0, 1):
        return int(eye)
    if eye in ("left", "right"):
        return 0 if eye == "left" else 1
    raise ValueError(f"eye must be 0 / 'left' or 1 / 'right', not {eye!r}")


def _sample_records(records):
    if not isinstance(records, np.ndarray) or records.dtype != SAMPLE_DTYPE:
        raise ValueError("the derived measures take the Sample records of samples(raw=True) "
                         "(a structured array of dtype vokapi.SAMPLE_DTYPE)")
    return np.ascontiguousarray(records)


def _frame_of_samples(cols, raw, flags=None, head_data_type=None):
    """A DataFrame of sample columns; in NaN mode the words become nullable
    integers, <NA> where the sample's flags say they are absent."""
    import pandas as pd
    data = {}
    if flags is None:
        flags = cols.get("flags")
    if head_data_type is None:
        head_data_type = cols.get("head_data_type")
    for name, values in cols.items():
        kind = SAMPLE_COLUMNS[name][3]
        if kind == "w" and not raw and flags is not None:
            mask = _word_mask(name, values, flags, head_data_type)
            data[name] = pd.arrays.IntegerArray(values.astype(values.dtype.newbyteorder("=")), mask)
        else:
            data[name] = values
    return pd.DataFrame(data, copy=False)


def _event_columns(records, raw):
    if raw:
        cols = {name: records.events[name] for name in EVENT_DTYPE.names if name != "message"}
        cols["text"] = np.array(records.texts, dtype=object)
        cols["position"] = records.positions
        cols["extra"] = records.extra != 0
        return cols
    return _event_table(records, records.joined())


def _events_output(records, raw, as_frame):
    return _table(_event_columns(records, raw), as_frame)


_EYE_NAMES = {1: "left", 2: "right", 3: "both"}
_RECORD_NAMES = {1: "samples", 2: "events", 3: "both"}


def _blocks_of(records):
    blocks = []
    current = None
    for r, p in zip(records.recordings.tolist(), records.recording_positions.tolist()):
        info = dict(zip(RECORDING_DTYPE.names, r))
        if info["state"] != 0:
            # The samples and events starts of one block can come as two records.
            if current is not None and current["end_time"] is None and (current["_type"] & info["recordType"] & 3) == 0:
                current["_type"] |= info["recordType"]
                current["records"] = _RECORD_NAMES.get(current["_type"], "none")
                continue
            current = {"start_time": int(info["time"]), "end_time": None,
                       "sample_rate": float(info["sampleRate"]), "eye": _EYE_NAMES.get(info["eye"], "none"),
                       "records": _RECORD_NAMES.get(info["recordType"], "none"), "filter": int(info["filterType"]),
                       "mode": int(info["recordingMode"]), "pupil_type": int(info["pupilType"]),
                       "sample_flags": int(info["sampleFlags"]), "event_flags": int(info["eventFlags"]),
                       "start_position": int(p), "end_position": None, "_type": int(info["recordType"])}
            blocks.append(current)
        elif current is not None and current["end_time"] is None:
            current["end_time"] = int(info["time"])
            current["end_position"] = int(p)
    for b in blocks:
        del b["_type"]
    return blocks


# --------------------------------------------------------------------------
# Opening


def open(path, consistency=1, *, tolerant=False, time_fixup=True, message_time_offsets=False, events=True,
         samples=True, extra_messages=False, resolution=None, text_encoding=None):
    """Opens a recording and returns a ``Recording`` (use it with ``with``).

    path: the recording's file name, or the recording itself: ``bytes``,
        ``bytearray``, ``memoryview`` or a binary file object (read whole).
        Bytes are read where they are (a bytearray cannot be resized while
        the recording is open) and kept alive by the ``Recording``.

    consistency: 0 no checks; 1 (default) check (events between blocks
        moved to the block edges, samples outside blocks dropped, unpaired
        blinks reported; no value changed); 2 check and repair (gaps filled
        with placeholder samples whose values are all missing, blinks joined
        and paired, samples inside blinks marked missing); 3 as 1.
    tolerant: read the records before a damaged or cut-off part instead of
        failing.
    time_fixup: False keeps the tracker's times; by default recordings whose
        times pass 2^30 ms are shifted to start near 0.
    message_time_offsets: a signed number that begins a message is a time
        offset in ms (subtracted from its time, taken off its text).
    events / samples: False loads no events (besides sample-block
        boundaries) / no samples.
    extra_messages: True merges "mb_messages.log" beside the recording into
        the stream by time; a path merges that file instead (a recording in
        memory has nothing beside it: give the path).
    resolution: (x, y) pixels per degree that the velocities use instead of
        the samples' own resolution (shared by all open recordings; not for
        a recording in memory).
    text_encoding: how message and preamble bytes are decoded; None: UTF-8,
        or Windows-1252 for texts that are not UTF-8.

    Raises OSError (FileNotFoundError for a missing file) when the file (or
    the recording in memory) cannot be opened or read, with the library's diagnostic as the message (all the
    lines it logged are in the exception's ``library_log``), and ValueError
    for bad arguments.
    """
    source = _memory_source(path)
    fspath = None
    if source is None:
        fspath = os.fspath(path)
        if isinstance(fspath, bytes):
            fspath = os.fsdecode(fspath)
    elif extra_messages is True:
        raise ValueError("extra_messages=True looks beside the recording's file; give the log's path instead")
    elif resolution is not None:
        raise ValueError("resolution is not available for a recording opened from memory")
    if not isinstance(consistency, int) or isinstance(consistency, bool) or not 0 <= consistency <= 3:
        raise ValueError(f"consistency must be 0, 1, 2 or 3, not {consistency!r}")
    flags = consistency
    if tolerant:
        flags |= L.TOLERANT_READING
    if not time_fixup:
        flags |= L.NO_TIME_FIXUP
    if message_time_offsets:
        flags |= L.MESSAGE_TIME_OFFSETS
    load_events = 1 if events else 0
    if extra_messages:
        load_events |= 2
    res = None
    if resolution is not None:
        try:
            rx, ry = (float(v) for v in resolution)
        except (TypeError, ValueError):
            raise ValueError(f"resolution must be a pair of numbers (x, y), not {resolution!r}") from None
        res = (c_float * 2)(rx, ry)
    if text_encoding is not None:
        "".encode(text_encoding)  # LookupError for an unknown encoding
    err = c_int(0)
    with L.collected_log() as logged, L.quiet_stdout():
        if extra_messages:
            name = None if extra_messages is True else os.fsencode(os.fspath(extra_messages))
            L.lib.vok_set_extra_message_file(name)
        if source is None:
            handle = L.lib.vok_open_file_ex(os.fsencode(fspath), flags, load_events, 1 if samples else 0, res,
                                            byref(err))
        else:
            buffer, size = source
            handle = L.lib.vokext_open_memory(buffer, size, flags, load_events, 1 if samples else 0, byref(err))
    if not handle and source is not None:
        error = OSError(errno.EIO, logged.text("the library could not read the recording"))
        error.library_log = list(logged.lines)
        raise error
    if not handle:
        reason = logged.text("the library could not open the file")
        if not os.path.exists(fspath):
            error = FileNotFoundError(errno.ENOENT, reason, fspath)
        elif os.path.isdir(fspath):
            error = IsADirectoryError(errno.EISDIR, reason, fspath)
        else:
            error = OSError(errno.EIO, reason, fspath)
        error.library_log = list(logged.lines)  # every line the library logged while opening
        raise error
    return Recording(handle, fspath, text_encoding, source)


def _memory_source(recording):
    """(pointer, size) over the bytes of a recording given as bytes, a
    buffer or a binary file object, holding what keeps them alive; None for a
    path."""
    if hasattr(recording, "read") and not isinstance(recording, (str, bytes, os.PathLike)):
        recording = recording.read()
        if not isinstance(recording, (bytes, bytearray)):
            raise ValueError("the file object must be opened in binary mode")
    if isinstance(recording, memoryview):
        view = recording.cast("B") if recording.contiguous else None
        recording = bytearray(recording) if view is None or view.readonly else view
    if isinstance(recording, bytes):
        keep = ctypes.c_char_p(recording)  # points into the bytes object itself
        return _Source(ctypes.cast(keep, c_void_p), len(recording), (recording, keep))
    if isinstance(recording, (bytearray, memoryview)):
        size = len(recording)
        if size == 0:
            return _Source(None, 0, recording)
        array = (ctypes.c_char * size).from_buffer(recording)
        return _Source(ctypes.cast(array, c_void_p), size, array)
    return None


class _Source(tuple):
    """A recording's bytes in memory: (pointer, size), and what keeps them."""

    def __new__(cls, pointer, size, keep):
        self = super().__new__(cls, (pointer, size))
        self.keep = keep
        return self


# --------------------------------------------------------------------------
# Pixels per degree


def physical_setup(distance, display_physical, display_pixels, distance_bottom=None):
    """Describes the experiment's geometry for ``ppd()`` (process-wide, as
    vok_compute_physical_setup()).

    distance: eye to display (with ``distance_bottom``: eye to the display's
        top edge), in the unit of ``display_physical``.
    display_physical: (left, top, right, bottom) of the display in physical
        units, e.g. mm around the display centre.
    display_pixels: the same rectangle in pixels, e.g. (0, 0, 1919, 1079).
    """
    phys = [float(v) for v in display_physical]
    pix = [float(v) for v in display_pixels]
    if len(phys) != 4 or len(pix) != 4:
        raise ValueError("display_physical and display_pixels are (left, top, right, bottom)")
    bottom = L.MISSING_VALUE if distance_bottom is None else float(distance_bottom)
    L.lib.vok_compute_physical_setup(float(distance), bottom, *phys, *pix)


def ppd(records, eye, x_extent, y_extent, raw=False):
    """Pixels per degree at each sample's gaze position for one eye, after
    ``physical_setup()``: returns (ppd_x, ppd_y), float64 arrays.  Each value
    is smoothed over that eye's last ten good results, in sample order, as
    vok_calculate_ppd() does (the history is process-wide).  records: the
    Sample records of ``samples(raw=True)``; x_extent, y_extent: the display
    size in pixels minus one (the probe steps are (extent + 1) / 50 pixels).
    No result is NaN (raw=True keeps 1e8)."""
    records = _sample_records(records)
    eye = _eye(eye)
    n = len(records)
    x = np.empty(n, np.float64)
    y = np.empty(n, np.float64)
    if L.lib.vokext_calculate_ppd(float(x_extent), float(y_extent), records.ctypes.data, n, eye,
                                  x.ctypes.data, y.ctypes.data) != 0:
        raise ValueError("the library refused the samples")
    if not raw:
        x[x == L.MISSING_VALUE] = np.nan
        y[y == L.MISSING_VALUE] = np.nan
    return x, y
