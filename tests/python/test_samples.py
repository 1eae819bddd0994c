"""Samples through the bulk path against the per-item cursor path (iterating
the recording): the same records, the same NaN columns, on writer-made
recordings of several kinds and at every consistency level."""

import math

import numpy as np
import pytest

import vokapi

MISSING = np.float32(1e8)
ABSENT = np.float32(-32768.0)

VARIANTS = {
    "binocular": ("--seed", "1", "--duration-ms", "3000", "--blocks", "2"),
    "gaps-2000hz": ("--seed", "2", "--duration-ms", "2000", "--rate", "2000", "--gaps"),
    "right-eye": ("--seed", "3", "--duration-ms", "2000", "--eyes", "right", "--head-data", "--errors"),
    "near-2-31": ("--seed", "4", "--duration-ms", "2000", "--near-2-31"),
    "compressed": ("--seed", "5", "--duration-ms", "2000", "--compressed"),
}


def per_item_samples(rec):
    return [item.record for item in rec if item.kind == "sample"]


def expected_value(record, column):
    """What a NaN column holds for a record, by the rules of the package
    docs, worked out from the record alone."""
    member, index, _, kind = vokapi.SAMPLE_COLUMNS[column]
    flags = record.flags
    if kind == "t":
        return record.time + (0.5 if flags & vokapi.SAMPLE_HALFMS else 0.0)
    value = getattr(record, member)
    value = value[index] if index is not None else value
    if kind != "f":
        return value
    value = np.float32(value)
    if "_vel_" in column:
        return math.nan if value == MISSING else value
    group = {"gaze": vokapi.SAMPLE_GAZE, "pupil": vokapi.SAMPLE_PUPILXY, "headref": vokapi.SAMPLE_HEADREF,
             "resolution": vokapi.SAMPLE_RESOLUTION}
    if column.endswith("pupil_size"):
        need = vokapi.SAMPLE_PUPILSIZE
    else:
        need = next(bit for word, bit in group.items() if word in column)
    if index is not None:
        need |= vokapi.SAMPLE_LEFT if index == 0 else vokapi.SAMPLE_RIGHT
    if (flags & need) != need or value in (MISSING, ABSENT):
        return math.nan
    return value


def same(a, b):
    return (isinstance(a, float) and math.isnan(a) and math.isnan(b)) or a == b


@pytest.mark.parametrize("variant", sorted(VARIANTS))
@pytest.mark.parametrize("consistency", [0, 1, 2])
def test_bulk_samples_are_the_cursor_samples(recordings, variant, consistency):
    path = recordings.generate(variant, *VARIANTS[variant])
    with vokapi.open(path, consistency=consistency) as rec:
        records = per_item_samples(rec)
        raw = rec.samples(raw=True)
        table = rec.samples(columns="all")
        frame = rec.samples(columns="all", as_frame=True)
    assert len(raw) == len(records) == len(table) == len(frame) > 0
    as_bytes = np.frombuffer(b"".join(bytes(r) for r in records), dtype=vokapi.SAMPLE_DTYPE)
    for name in vokapi.SAMPLE_DTYPE.names:
        assert np.array_equal(raw[name], as_bytes[name], equal_nan=True), name
    for i in range(0, len(records), 37):
        for column in vokapi.SAMPLE_COLUMNS:
            if column == "position":
                continue
            want = expected_value(records[i], column)
            assert same(float(want) if isinstance(want, np.floating) else want, table[column][i]), (i, column)
    for column in vokapi.SAMPLE_COLUMNS:
        if table.dtype[column].kind == "f":
            assert np.array_equal(frame[column].to_numpy(), table[column], equal_nan=True), column


def test_missing_values_are_nan_and_markers_never_leak(recordings):
    path = recordings.generate("gaps-2000hz", *VARIANTS["gaps-2000hz"])
    with vokapi.open(path, consistency=2) as rec:
        s = rec.samples(columns="all")
        raw = rec.samples(raw=True)
        frame = rec.samples(as_frame=True)
    floats = [n for n in s.dtype.names if s.dtype[n].kind == "f"]
    for name in floats:
        assert not np.isin(s[name], [MISSING, ABSENT]).any(), name
    # Placeholder samples of the repaired gaps have no gaze at all; the raw
    # records keep the library's marker for them.
    placeholders = np.isnan(s["left_gaze_x"])
    assert placeholders.any()
    assert np.isin(raw["gazeX"][placeholders, 0], [MISSING, ABSENT]).all()
    # The second sample of each millisecond has a time ending in .5.
    assert (s["time"] % 1 == 0.5).sum() > len(s) // 3
    assert frame["left_gaze_vel_x"].isna().any() and frame["left_gaze_vel_x"].notna().any()
    assert str(frame["input"].dtype) == "UInt16"


def test_one_eye_leaves_the_other_eye_empty(recordings):
    path = recordings.generate("right-eye", *VARIANTS["right-eye"])
    with vokapi.open(path) as rec:
        s = rec.samples(columns=["left_gaze_x", "right_gaze_x", "left_pupil_size", "head_data_type"],
                        as_frame=True)
    assert s["left_gaze_x"].isna().all() and s["left_pupil_size"].isna().all()
    assert s["right_gaze_x"].notna().mean() > 0.9
    assert s["head_data_type"].notna().all()


def test_raw_frame_keeps_the_markers(recordings):
    path = recordings.generate("right-eye", *VARIANTS["right-eye"])
    with vokapi.open(path) as rec:
        f = rec.samples(columns=["time", "left_gaze_x", "input"], raw=True, as_frame=True)
    assert f["time"].dtype == np.uint32
    assert (f["left_gaze_x"] == ABSENT).all()


def test_column_names_are_checked():
    with pytest.raises(ValueError, match="unknown sample column"):
        vokapi._recording._column_names(["time", "gaze"])


def test_absent_words_are_na_in_frames_without_the_flags_column(recordings):
    path = recordings.generate("binocular", *VARIANTS["binocular"])
    with vokapi.open(path) as rec:
        f = rec.samples(columns=["time", "errors", "head_data_0", "input"], as_frame=True)
        trial = rec.trials()[0].samples(columns=["errors", "input"], as_frame=True)
    assert list(f.columns) == ["time", "errors", "head_data_0", "input"]
    # The recording carries neither the error word nor head data, but inputs.
    assert f["errors"].isna().all() and f["head_data_0"].isna().all()
    assert f["input"].notna().all()
    assert trial["errors"].isna().all() and list(trial.columns) == ["errors", "input"]


def test_head_data_words_beyond_the_type_count_are_na(recordings):
    # Head data type 4: four words per sample.
    path = recordings.generate("right-eye", *VARIANTS["right-eye"])
    with vokapi.open(path) as rec:
        f = rec.samples(columns=["head_data_0", "head_data_3", "head_data_4", "head_data_7"], as_frame=True)
        raw = rec.samples(raw=True)
    assert (raw["headDataType"] & 15 == 4).all()
    assert f["head_data_0"].notna().all() and f["head_data_3"].notna().all()
    assert f["head_data_4"].isna().all() and f["head_data_7"].isna().all()
    assert (f["head_data_3"].to_numpy() == raw["headData"][:, 3]).all()
