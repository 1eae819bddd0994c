"""An independent reader of the rules for eye-tracking data in BIDS, as our
reference page states them: it reads a written dataset and lists every
rule it breaks.  It knows nothing of how the dataset was written.

    problems = check_dataset(path)   # [] when every rule holds
"""

import csv
import gzip
import io
import json
import math
import os
import re

LABEL = r"[A-Za-z0-9]+"
NAME = re.compile(rf"^sub-(?P<sub>{LABEL})(_ses-(?P<ses>{LABEL}))?_task-(?P<task>{LABEL})(_run-(?P<run>[0-9]+))?"
                  rf"_(?:(?P<events>events\.(?:tsv|json))|recording-(?P<label>{LABEL})_"
                  rf"(?P<suffix>physio|physioevents)\.(?P<ext>tsv\.gz|json))$")
EYES = ("left", "right", "cyclopean")
SYSTEMS = ("gaze-on-screen", "eye-in-head", "gaze-in-world", "custom")
ORIGIN_WORDS = ("top", "bottom", "left", "right", "center")


def _number(text):
    try:
        v = float(text)
    except ValueError:
        return None
    return v if math.isfinite(v) else None


def _rows(data, where, problems):
    """Tab-separated rows; a field with a tab or a quote must be quoted with
    inner quotes doubled."""
    text = data.decode("utf-8")
    try:
        rows = list(csv.reader(io.StringIO(text, newline=""), delimiter="\t", quotechar='"', doublequote=True,
                               strict=True))
    except csv.Error as e:
        problems.append(f"{where}: malformed quoting ({e})")
        return []
    lines = iter(text.split("\n"))
    for k, row in enumerate(rows):
        raw = next(lines, "")
        while raw.count('"') % 2 == 1:  # a quoted line end
            raw += "\n" + next(lines, "")
        for field in row:
            if ("\t" in field or '"' in field) and '"' + field.replace('"', '""') + '"' not in raw:
                problems.append(f"{where}: row {k + 1}: {field!r} is not quoted as the rules require")
    return rows


def _gzip_rows(path, where, problems):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"\x1f\x8b":
        problems.append(f"{where}: not gzip-compressed")
        return []
    flags = data[3]
    if flags & 0x08:
        problems.append(f"{where}: the gzip header holds a file name (output differs between runs)")
    if data[4:8] != b"\0\0\0\0":
        problems.append(f"{where}: the gzip header holds a time (output differs between runs)")
    return _rows(gzip.decompress(data), where, problems)


def _check_fields(rows, width, where, problems):
    for k, row in enumerate(rows):
        if len(row) != width:
            problems.append(f"{where}: row {k + 1} has {len(row)} fields, Columns names {width}")
            return
        if any(field == "" for field in row):
            problems.append(f"{where}: row {k + 1} has an empty field (missing values are n/a)")
            return


def _json(path, where, problems):
    try:
        with open(path, encoding="utf-8") as f:
            value = json.load(f)
    except (OSError, ValueError) as e:
        problems.append(f"{where}: not readable JSON ({e})")
        return None
    if not isinstance(value, dict):
        problems.append(f"{where}: not a JSON object")
        return None
    return value


def check_physio(stem, where, problems):
    """The physio pair; returns (timestamps, step, Columns) for the events check."""
    meta = _json(stem + "_physio.json", where + "_physio.json", problems)
    if meta is None:
        return None
    for field in ("SamplingFrequency", "StartTime", "Columns", "PhysioType", "RecordedEye",
                  "SampleCoordinateSystem"):
        if field not in meta:
            problems.append(f"{where}_physio.json: required field {field} is missing")
    if meta.get("PhysioType") != "eyetrack":
        problems.append(f"{where}_physio.json: PhysioType is not \"eyetrack\"")
    if meta.get("RecordedEye") not in EYES:
        problems.append(f"{where}_physio.json: RecordedEye {meta.get('RecordedEye')!r}")
    if meta.get("SampleCoordinateSystem") not in SYSTEMS:
        problems.append(f"{where}_physio.json: SampleCoordinateSystem {meta.get('SampleCoordinateSystem')!r}")
    columns = meta.get("Columns") or []
    if columns[:3] != ["timestamp", "x_coordinate", "y_coordinate"]:
        problems.append(f"{where}_physio.json: Columns begin {columns[:3]}, not timestamp, x_coordinate, y_coordinate")
    if "pupil_size" in columns and columns.index("pupil_size") != 3:
        problems.append(f"{where}_physio.json: pupil_size is not the fourth column")
    if len(set(columns)) != len(columns):
        problems.append(f"{where}_physio.json: a column is named twice")
    for column in ("x_coordinate", "y_coordinate"):
        if "Units" not in (meta.get(column) or {}):
            problems.append(f"{where}_physio.json: {column} has no Units")
    if (meta.get("timestamp") or {}).get("Units") != "ms":
        problems.append(f"{where}_physio.json: timestamp Units are not ms")
    if "pupil_size" in columns:
        text = str((meta.get("pupil_size") or {}).get("Description", "")).lower()
        if "area" not in text and "diameter" not in text:
            problems.append(f"{where}_physio.json: pupil_size Description says neither area nor diameter")
    rate = meta.get("SamplingFrequency")
    if not isinstance(rate, (int, float)) or rate <= 0:
        problems.append(f"{where}_physio.json: SamplingFrequency {rate!r}")
        return None

    rows = _gzip_rows(stem + "_physio.tsv.gz", where + "_physio.tsv.gz", problems)
    if not rows:
        problems.append(f"{where}_physio.tsv.gz: no rows")
        return None
    if _number(rows[0][0]) is None:
        problems.append(f"{where}_physio.tsv.gz: the first row is not data (no header row allowed)")
        return None
    _check_fields(rows, len(columns), where + "_physio.tsv.gz", problems)
    step = 1000.0 / rate
    times = []
    for k, row in enumerate(rows):
        t = _number(row[0])
        if t is None:
            problems.append(f"{where}_physio.tsv.gz: row {k + 1} has no timestamp")
            return None
        times.append(t)
        for field in row[1:]:
            if field != "n/a" and _number(field) is None:
                problems.append(f"{where}_physio.tsv.gz: row {k + 1}: {field!r} is neither a number nor n/a")
                return None
        if len(row) >= 3 and all(field == "0" for field in row[1:]):
            problems.append(f"{where}_physio.tsv.gz: row {k + 1} is all 0 (missing values are n/a)")
    first = times[0]
    for k, t in enumerate(times):
        if abs(t - (first + k * step)) > 1e-6:
            problems.append(f"{where}_physio.tsv.gz: row {k + 1} at {t} ms is off the regular grid "
                            f"({first} + {k} x {step})")
            break
    return {"first": first, "last": times[-1], "step": step, "columns": columns, "meta": meta}


def check_physioevents(stem, where, physio, neighbours, problems):
    """neighbours: (last timestamp of the part before, first of the part after)."""
    meta = _json(stem + "_physioevents.json", where + "_physioevents.json", problems)
    if meta is None or physio is None:
        return
    columns = meta.get("Columns") or []
    if not columns or columns[0] != "onset":
        problems.append(f"{where}_physioevents.json: Columns do not begin with onset")
    known = [c for c in ("onset", "duration", "trial_type", "message") if c in columns]
    if columns[:len(known)] != known:
        problems.append(f"{where}_physioevents.json: Columns {columns} are not onset, duration, trial_type, "
                        f"message (those present) then the others")
    source = meta.get("OnsetSource")
    if source is None:
        problems.append(f"{where}_physioevents.json: required field OnsetSource is missing")
    elif source not in physio["columns"]:
        problems.append(f"{where}_physioevents.json: OnsetSource {source!r} is not a column of the physio file")
    for column in ("onset", "duration"):
        if column in columns and (meta.get(column) or {}).get("Units") != "ms":
            problems.append(f"{where}_physioevents.json: {column} Units are not ms")
    rows = _gzip_rows(stem + "_physioevents.tsv.gz", where + "_physioevents.tsv.gz", problems)
    if rows and _number(rows[0][0]) is None:
        problems.append(f"{where}_physioevents.tsv.gz: the first row is not data (no header row allowed)")
        return
    _check_fields(rows, len(columns), where + "_physioevents.tsv.gz", problems)
    col = {name: k for k, name in enumerate(columns)}
    before, after = neighbours
    last_onset = -math.inf
    for k, row in enumerate(rows):
        if len(row) != len(columns):
            return
        onset = _number(row[0])
        if onset is None:
            problems.append(f"{where}_physioevents.tsv.gz: row {k + 1}: onset {row[0]!r}")
            return
        if onset < last_onset:
            problems.append(f"{where}_physioevents.tsv.gz: row {k + 1}: onsets are not in order")
        last_onset = onset
        kind = row[col["trial_type"]] if "trial_type" in col else "n/a"
        duration = _number(row[col["duration"]]) if "duration" in col else 0
        if kind in ("fixation", "saccade", "blink"):
            # Eye events lie inside the samples of their recording.
            end = onset + (duration or 0)
            if onset < physio["first"] - physio["step"] or end > physio["last"] + physio["step"]:
                problems.append(f"{where}_physioevents.tsv.gz: row {k + 1}: {kind} {onset}..{end} ms outside "
                                f"the recording {physio['first']}..{physio['last']}")
        elif not (before < onset < after):
            # Messages, buttons and inputs recorded between samples of other
            # parts belong to those parts.
            problems.append(f"{where}_physioevents.tsv.gz: row {k + 1}: {kind} at {onset} ms belongs to "
                            f"another recording")


def check_task_events(stem, where, gaze_on_screen, problems):
    try:
        with open(stem + "_events.tsv", "rb") as f:
            rows = _rows(f.read(), where + "_events.tsv", problems)
    except OSError:
        problems.append(f"{where}_events.tsv is missing")
        return
    if not rows or rows[0][:2] != ["onset", "duration"]:
        problems.append(f"{where}_events.tsv: the header row does not begin with onset, duration")
        return
    _check_fields(rows[1:], len(rows[0]), where + "_events.tsv", problems)
    for k, row in enumerate(rows[1:]):
        for field in row[:2]:
            if field != "n/a" and _number(field) is None:
                problems.append(f"{where}_events.tsv: row {k + 2}: {field!r} is not a number of seconds")
    meta = _json(stem + "_events.json", where + "_events.json", problems)
    if meta is None:
        return
    if not meta.get("TaskName"):
        problems.append(f"{where}_events.json: TaskName is missing")
    for column in rows[0]:
        if column not in meta:
            problems.append(f"{where}_events.json: column {column} is not described")
    if gaze_on_screen:
        sp = meta.get("StimulusPresentation") or {}
        missing = [f for f in ("ScreenDistance", "ScreenOrigin", "ScreenResolution", "ScreenSize") if f not in sp]
        if missing:
            problems.append(f"{where}_events.json: StimulusPresentation lacks {', '.join(missing)}")
        pairs = {"ScreenSize": (int, float), "ScreenResolution": (int,)}
        for field, types in pairs.items():
            v = sp.get(field)
            if v is not None and not (isinstance(v, list) and len(v) == 2 and
                                      all(isinstance(x, types) and x > 0 for x in v)):
                problems.append(f"{where}_events.json: {field} is not two positive numbers")
        origin = sp.get("ScreenOrigin")
        if origin is not None and not (isinstance(origin, list) and len(origin) == 2 and
                                       all(o in ORIGIN_WORDS for o in origin)):
            problems.append(f"{where}_events.json: ScreenOrigin {origin!r}")
        distance = sp.get("ScreenDistance")
        if distance is not None and not (isinstance(distance, (int, float)) and distance > 0):
            problems.append(f"{where}_events.json: ScreenDistance {distance!r}")


def check_dataset(root):
    problems = []
    description = _json(os.path.join(root, "dataset_description.json"), "dataset_description.json", problems)
    if description is not None:
        for field, value in (("BIDSVersion", "1.11.0"), ("DatasetType", "raw")):
            if description.get(field) != value:
                problems.append(f"dataset_description.json: {field} is {description.get(field)!r}")
        if not description.get("Name"):
            problems.append("dataset_description.json: Name is missing")

    subjects = sorted(d for d in os.listdir(root) if d.startswith("sub-") and os.path.isdir(os.path.join(root, d)))
    try:
        with open(os.path.join(root, "participants.tsv"), "rb") as f:
            rows = _rows(f.read(), "participants.tsv", problems)
        if not rows or rows[0][0] != "participant_id":
            problems.append("participants.tsv: the first column is not participant_id")
        else:
            _check_fields(rows[1:], len(rows[0]), "participants.tsv", problems)
            listed = sorted(r[0] for r in rows[1:])
            if listed != subjects:
                problems.append(f"participants.tsv lists {listed}, the dataset holds {subjects}")
    except OSError:
        problems.append("participants.tsv is missing")

    runs = {}
    for sub in subjects:
        for folder, _, files in os.walk(os.path.join(root, sub)):
            rel = os.path.relpath(folder, root).replace(os.sep, "/")
            for name in files:
                where = f"{rel}/{name}"
                if name.startswith("."):
                    problems.append(f"{where}: a left-over file")
                    continue
                m = NAME.match(name)
                if not m:
                    problems.append(f"{where}: not a name of this kind of dataset")
                    continue
                expected = f"sub-{m['sub']}" + (f"/ses-{m['ses']}" if m["ses"] else "") + "/beh"
                if rel != expected or not rel.startswith(sub):
                    problems.append(f"{where}: belongs in {expected}")
                    continue
                prefix = name[:m.start("events") - 1 if m["events"] else name.index("_recording-")]
                run = runs.setdefault((folder, prefix), {"events": set(), "recordings": {}})
                if m["events"]:
                    run["events"].add(m["events"])
                else:
                    run["recordings"].setdefault(m["label"], set()).add(f"{m['suffix']}.{m['ext']}")

    for (folder, prefix), run in sorted(runs.items()):
        where = os.path.relpath(os.path.join(folder, prefix), root).replace(os.sep, "/")
        stem = os.path.join(folder, prefix)
        physio = {}
        for label, kinds in sorted(run["recordings"].items()):
            need = {"physio.tsv.gz", "physio.json", "physioevents.tsv.gz", "physioevents.json"}
            if kinds != need:
                problems.append(f"{where}_recording-{label}: lacks {sorted(need - kinds)}")
                continue
            physio[label] = check_physio(f"{stem}_recording-{label}", f"{where}_recording-{label}", problems)
        # Parts of one eye follow one another in time.
        by_eye = {}
        for label, p in physio.items():
            if p is not None:
                by_eye.setdefault(p["meta"].get("RecordedEye"), []).append((p["first"], label, p))
        for eye, parts in by_eye.items():
            parts.sort()
            for k, (_, label, p) in enumerate(parts):
                before = parts[k - 1][2]["last"] if k > 0 else -math.inf
                after = parts[k + 1][2]["first"] if k + 1 < len(parts) else math.inf
                check_physioevents(f"{stem}_recording-{label}", f"{where}_recording-{label}", p, (before, after),
                                   problems)
        if not physio:
            problems.append(f"{where}: no eye-tracking recording")
        on_screen = any(p and p["meta"].get("SampleCoordinateSystem") == "gaze-on-screen" for p in physio.values())
        if run["events"] != {"events.tsv", "events.json"}:
            problems.append(f"{where}: the task events lack {sorted({'events.tsv', 'events.json'} - run['events'])}")
        else:
            check_task_events(stem, where, on_screen, problems)
    return problems


def validator_verdicts(root):
    """Debian's bids_validator path check on every file: (names it accepts,
    names it rejects)."""
    from bids_validator import BIDSValidator
    validator = BIDSValidator()
    accepted, rejected = [], []
    for folder, _, files in os.walk(root):
        for name in files:
            rel = "/" + os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            (accepted if validator.is_bids(rel) else rejected).append(rel)
    return sorted(accepted), sorted(rejected)
