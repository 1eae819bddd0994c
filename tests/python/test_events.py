"""Events through the bulk path against the per-item path, and the joined
events table."""

import numpy as np
import pytest

import vokapi

EVENT_TYPES = {vokapi.SFIX, vokapi.EFIX, vokapi.SSACC, vokapi.ESACC, vokapi.SBLINK, vokapi.EBLINK}


def per_item_events(rec):
    return [(item.record, item.text) for item in rec if item.kind == "event"]


@pytest.mark.parametrize("consistency", [0, 2])
def test_raw_events_are_the_cursor_events(recordings, consistency):
    path = recordings.generate("events", "--seed", "7", "--duration-ms", "4000", "--blocks", "2",
                               "--trials-per-block", "2")
    with vokapi.open(path, consistency=consistency) as rec:
        items = per_item_events(rec)
        raw = rec.events(raw=True)
    assert len(raw) == len(items) > 0
    for row, (record, text) in zip(raw, items):
        for name, _ in vokapi._lib.Event._fields_:
            if name == "message":
                continue
            assert row[name] == getattr(record, name), name
        assert row["text"] == text


def test_joined_events_pair_starts_with_ends(recordings):
    path = recordings.generate("events", "--seed", "7", "--duration-ms", "4000", "--blocks", "2",
                               "--trials-per-block", "2")
    with vokapi.open(path) as rec:
        raw = rec.events(raw=True)
        ev = rec.events(as_frame=True)
    ends = raw[np.isin(raw["type"], [vokapi.EFIX, vokapi.ESACC, vokapi.EBLINK])]
    eye_rows = ev[ev["type"].isin(["fixation", "saccade", "blink"])]
    # One row per end record, plus a row for each start that no end followed.
    assert (eye_rows["pair"] != "start-only").sum() == len(ends)
    complete = eye_rows[eye_rows["pair"] == "complete"]
    assert len(complete) > 0.9 * len(ends)
    assert (complete["duration"] >= 0).all()
    assert complete["end_time"].notna().all()
    fix = complete[complete["type"] == "fixation"]
    assert fix["avg_gaze_x"].notna().all()
    assert not fix[["avg_gaze_x", "avg_gaze_y", "avg_pupil_size"]].isin([1e8, -32768.0]).any().any()
    # End records carry the end values: they equal the raw end records'.
    end_fix = raw[raw["type"] == vokapi.EFIX]
    assert np.array_equal(np.sort(fix["end_time"].to_numpy()), np.sort(end_fix["endTime"].astype(float)))
    messages = ev[ev["type"] == "message"]
    assert messages["text"].str.startswith("TRIAL_START").sum() == 4
    assert messages["eye"].isna().all() and messages["end_time"].isna().all()
    buttons = ev[ev["type"] == "button"]
    assert (buttons["buttons"] >= 0).all()


def test_messages_table(recordings):
    path = recordings.demo()
    with vokapi.open(path) as rec:
        m = rec.messages(as_frame=True)
        items = [(item.record.startTime, item.text) for item in rec if item.type == vokapi.MESSAGEEVENT]
    assert list(zip(m["time"].astype(int), m["text"])) == items
    assert any(t.startswith("TRIAL_START") for t in m["text"])


def test_blocks(recordings):
    path = recordings.generate("events", "--seed", "7", "--duration-ms", "4000", "--blocks", "2",
                               "--trials-per-block", "2")
    with vokapi.open(path) as rec:
        blocks = rec.blocks
        starts = [item.record.time for item in rec if item.kind == "recording" and item.record.state]
    assert len(blocks) == 2
    assert [b["start_time"] for b in blocks] == sorted(set(starts))
    for b in blocks:
        assert b["end_time"] > b["start_time"]
        assert b["sample_rate"] == 1000.0 and b["eye"] == "both" and b["records"] == "both"


def test_extra_messages_are_merged(recordings, tmp_path):
    path = recordings.generate("events", "--seed", "7", "--duration-ms", "4000", "--blocks", "2",
                               "--trials-per-block", "2")
    log = tmp_path / "extra.log"
    with vokapi.open(path, events=True) as rec:
        start = rec.blocks[0]["start_time"]
    log.write_text(f"100 TRACKER_TIME 0 {start}\n350 stimulus on\n900 stimulus off\n1000 Quit logger\n")
    with vokapi.open(path, extra_messages=str(log)) as rec:
        m = rec.messages(as_frame=True)
        walked = [i.text for i in rec if i.type == vokapi.MESSAGEEVENT]
    extra = m[m["extra"]]
    assert len(extra) == 2
    assert extra["text"].str.contains("stimulus on").any()
    assert list(m["text"]) == walked


def test_pairing_edge_cases():
    from vokapi._recording import EVENT_DTYPE, RECORDING_DTYPE, _EventRecords
    v = vokapi
    # (type, eye, position, extra); recording records at 5 (state 0) and 7 (a block start).
    items = [(v.SFIX, 0, 0, 0), (v.SFIX, 0, 1, 0), (v.EFIX, 0, 2, 0), (v.EBLINK, 1, 3, 0), (v.SSACC, 2, 4, 0),
             (v.SBLINK, 1, 6, 0), (v.MESSAGEEVENT, 0, 7, 1), (v.BUTTONEVENT, 0, 8, 0), (v.ESACC, 2, 9, 0),
             (v.SFIX, 1, 10, 0)]
    events = np.zeros(len(items), dtype=EVENT_DTYPE)
    events["type"], events["eye"] = [i[0] for i in items], [i[1] for i in items]
    recordings = np.zeros(2, dtype=RECORDING_DTYPE)
    recordings["state"] = [0, 1]
    records = _EventRecords(events, np.array([i[2] for i in items], dtype=np.uint32),
                            np.array([i[3] for i in items], dtype=np.uint8), [None] * len(items), recordings,
                            np.array([5, 7], dtype=np.uint32), 0)
    # The repeated start is left start-only, the end after it pairs with the
    # second; the extra message at the block start's position comes before
    # it; the block start closes the left saccade (eye 2) before the right
    # blink, so the saccade's end is lone; the end closes the last fixation.
    assert [tuple(r) for r in np.asarray(records.joined()).tolist()] == [
        (0, -1, -1), (1, 2, -1), (-1, 3, -1), (-1, -1, 6), (4, -1, -1), (5, -1, -1), (-1, -1, 7), (-1, 8, -1),
        (9, -1, -1)]
