"""Trials: headers, and rows that are the recording's rows inside each trial."""

import numpy as np

import vokapi


def test_trials_by_messages(recordings):
    path = recordings.generate("trials", "--seed", "8", "--duration-ms", "6000", "--blocks", "2",
                               "--trials-per-block", "3")
    with vokapi.open(path) as rec:
        trials = rec.trials(start="TRIAL_START", end="TRIAL_END")
        whole = rec.samples(columns=["time", "position", "left_gaze_x"])
        events = rec.events()
        # Each block start also opens a short trial before its first start message.
        assert len(trials) == 8
        total = 0
        by_messages = [t for t in trials if t.messages(as_frame=True)["text"].str.startswith("TRIAL_START").any()]
        assert len(by_messages) == 6
        for k, t in enumerate(by_messages):
            assert t.header.duration == t.header.end_time - t.header.start_time > 0
            assert t.header.block is not None and t.header.block["sampleRate"] == 1000.0
            s = t.samples(columns=["time", "position", "left_gaze_x"])
            inside = whole[(whole["position"] >= t.first) & (whole["position"] < t.end)]
            for name in s.dtype.names:
                assert np.array_equal(s[name], inside[name], equal_nan=True), name
            total += len(s)
            ev = t.events(as_frame=True)
            msgs = ev[ev["type"] == "message"]["text"].tolist()
            assert msgs[0] == f"TRIAL_START {k + 1}"
            assert msgs[-1].startswith("TRIAL_END")
            # Events are joined within the trial: every row's record lies inside it.
            assert ev["position"].between(t.first, t.end - 1).all()
            assert set(ev.loc[ev["pair"] == "complete", "position"]) <= set(events["position"])
            assert t.samples(as_frame=True)["time"].between(s["time"][0], s["time"][-1]).all()
        assert 0 < total < len(whole)


def test_trials_are_blocks_without_identifiers(recordings):
    path = recordings.generate("trials", "--seed", "8", "--duration-ms", "6000", "--blocks", "2",
                               "--trials-per-block", "3")
    with vokapi.open(path) as rec:
        trials = rec.trials()
        blocks = rec.blocks
        raw_all = rec.samples(raw=True)
        raw_trial = trials[1].samples(raw=True)
    assert len(trials) == 2
    assert [t.header.start_time for t in trials] == [b["start_time"] for b in blocks]
    # Sample records of a trial are the recording's, velocities included.
    start = np.searchsorted(raw_all["time"], raw_trial["time"][0])
    assert raw_all[start:start + len(raw_trial)].tobytes() == raw_trial.tobytes()
