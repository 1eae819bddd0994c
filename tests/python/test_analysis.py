"""The analysis options of samples(): the regular grid, blinks, degrees and
trial numbers, and trials with their variables, against values worked out
by hand from the vokgen case recordings (500 Hz, blocks 1000-3000 and
4000-6000 ms; see `vokgen cases --help`)."""

import logging
import math
import os

import numpy as np
import pandas as pd
import pytest

import vokapi


def case(recordings, name):
    return next(p for p in recordings.cases() if os.path.basename(p) == name)


def at(table, time):
    """The row of the given time."""
    k = int(np.searchsorted(table["time"], time))
    assert table["time"][k] == time
    return table[k]


def test_regular_and_continuous_grids(recordings):
    with vokapi.open(case(recordings, "gap-in-block.vok")) as rec:
        plain = rec.samples(columns="all")
        grid = rec.samples(columns="all", grid="regular")
        frame = rec.samples(grid="regular", columns=["time", "left_gaze_x", "buttons", "flags", "position"],
                            as_frame=True)
        joined = rec.samples(grid="continuous", columns=["time", "left_gaze_x"])
    # 1000 rows per block; the 20 samples of 2100-2138 are empty rows.
    assert len(grid) == 2000 and len(plain) == 1980
    assert grid["time"][0] == 1000.0 and grid["time"][999] == 2998.0 and grid["time"][1000] == 4000.0
    assert np.all(np.diff(grid["time"][:1000]) == 2.0)
    empty = ~grid["valid"]
    assert grid["time"][empty].tolist() == list(np.arange(2100.0, 2140.0, 2.0))
    # Every real sample on its own row with its own values; empty rows NaN, never 0.
    for name in plain.dtype.names:
        assert np.array_equal(grid[name][grid["valid"]], plain[name], equal_nan=True), name
    assert np.isnan(grid["left_gaze_x"][empty]).all() and np.isnan(grid["right_pupil_size"][empty]).all()
    assert (grid["flags"][empty] == 0).all() and (grid["input"][empty] == 0x8000).all()
    gap = frame[~frame["valid"]]
    assert gap["buttons"].isna().all() and gap["position"].isna().all() and (gap["flags"] == 0).all()
    assert frame["buttons"][frame["valid"]].notna().all()
    # Continuous: the 500 rows of 3000-3998 between the blocks too.
    assert len(joined) == 2500 and (~joined["valid"]).sum() == 520
    assert at(joined, 3500.0)["valid"] == False and math.isnan(at(joined, 3500.0)["left_gaze_x"])  # noqa: E712


def test_grid_at_2000_hz_and_samples_on_no_row(recordings, caplog):
    path = recordings.generate("gaps-2000", "--seed", "2", "--duration-ms", "1000", "--rate", "2000", "--gaps")
    with vokapi.open(path) as rec:
        grid = rec.samples(grid="regular", columns=["time", "left_gaze_x"])
        plain = rec.samples(columns=["time", "left_gaze_x"])
    assert len(grid) == 2000 and len(plain) < 2000
    assert grid["time"][1] - grid["time"][0] == 0.5 and np.all(np.diff(grid["time"]) == 0.5)
    assert np.array_equal(grid["time"][grid["valid"]], plain["time"])
    # Two samples after block 1's end lie in no block: the regular grid leaves
    # them out with a warning, the continuous one gives them rows.
    with vokapi.open(case(recordings, "samples-between-blocks.vok"), consistency=0) as rec:
        with caplog.at_level(logging.WARNING, logger="vokapi"):
            caplog.clear()
            assert len(rec.samples(grid="regular")) == 2000
            assert any("2 sample(s) landed on no row" in r.getMessage() for r in caplog.records)
        assert rec.samples(grid="continuous")["valid"].sum() == 2002


def test_placeholder_samples_are_not_valid(recordings):
    with vokapi.open(case(recordings, "gap-in-block.vok"), consistency=2) as rec:
        grid = rec.samples(grid="regular", columns=["time", "left_gaze_x"])
    assert len(grid) == 2000 and (~grid["valid"]).sum() == 20


def test_blinks_blank_each_eye_with_padding(recordings):
    names = ["time", "left_gaze_x", "right_gaze_x", "left_gaze_vel_x", "right_pupil_size"]
    with vokapi.open(case(recordings, "experiment-messages.vok")) as rec:
        grid = rec.samples(grid="regular", blinks="nan", columns=names)
        plain = rec.samples(blinks="nan", columns=names)
        tight = rec.samples(grid="regular", blinks="nan", blink_padding=(0, 0), columns=names)
        frame = rec.samples(grid="regular", blinks="nan", blink_padding=(10, 20), as_frame=True, columns=names)
    # Both eyes blink 1820-1958: blank from 1770 to 2008 with 50 ms each side.
    for t in (1770.0, 1900.0, 2008.0):
        row = at(grid, t)
        assert row["in_blink"] and math.isnan(row["left_gaze_x"]) and math.isnan(row["right_gaze_x"])
        assert math.isnan(row["left_gaze_vel_x"]) and math.isnan(row["right_pupil_size"])
    for t in (1768.0, 2010.0):
        assert not at(grid, t)["in_blink"] and not math.isnan(at(grid, t)["left_gaze_x"])
    # Only the right eye blinks 2614-2738: the left eye's values stay.
    for t in (2564.0, 2700.0, 2788.0):
        row = at(grid, t)
        assert row["in_blink"] and math.isnan(row["right_gaze_x"]) and not math.isnan(row["left_gaze_x"])
    assert not math.isnan(at(grid, 2562.0)["right_gaze_x"]) and not math.isnan(at(grid, 2790.0)["right_gaze_x"])
    assert not at(tight, 1818.0)["in_blink"] and at(tight, 1820.0)["in_blink"] and not at(tight, 1960.0)["in_blink"]
    shown = frame.set_index("time")["in_blink"]
    assert not shown[1808.0] and shown[1810.0] and shown[1978.0] and not shown[1980.0]
    # Without a grid the same rows.
    for name in plain.dtype.names:
        assert np.array_equal(plain[name], grid[name][grid["valid"]], equal_nan=True), name


def test_degrees_from_resolution_and_from_the_display(recordings):
    display = vokapi.Display(distance=600, width=530, height=300, pixels=(1920, 1080))
    with vokapi.open(case(recordings, "experiment-messages.vok")) as rec:
        px = rec.samples(columns=["time", "left_gaze_x", "left_gaze_y"])
        deg = rec.samples(units="deg", columns=["time", "left_gaze_x", "left_gaze_y"])
        geo = rec.samples(units="deg", deg_source="display", display=display, grid="regular",
                          columns=["time", "left_gaze_x"])
    block1 = px["time"] < 3000
    # Block 1 writes 37.6 and 37.2 pixels per degree; the display centre is
    # (959.5, 539.5) by its DISPLAY_COORDS message.  Block 2 has no resolution.
    assert np.allclose(deg["left_gaze_x"][block1] * 37.6 + 959.5, px["left_gaze_x"][block1], atol=1e-3,
                       equal_nan=True)
    assert np.allclose(deg["left_gaze_y"][block1] * 37.2 + 539.5, px["left_gaze_y"][block1], atol=1e-3,
                       equal_nan=True)
    assert np.isnan(deg["left_gaze_x"][~block1]).all()
    # The geometry: close to the visual angle atan(mm / 600) of each point;
    # block 2 has no head-referenced positions for the library's calls.
    g = geo[geo["valid"]]
    mm = (px["left_gaze_x"] - 959.5) * 530 / 1919
    angle = np.degrees(np.arctan(mm / 600))
    ok = block1 & ~np.isnan(angle)
    assert np.nanmax(np.abs(g["left_gaze_x"][ok] - angle[ok])) < 0.25
    assert np.isnan(g["left_gaze_x"][~block1]).all()


def test_bad_options_name_the_argument(recordings):
    with vokapi.open(case(recordings, "sound.vok")) as rec:
        for kwargs, word in [({"blink_padding": (-1, 50)}, "blink_padding"), ({"blinks": "zero"}, "blinks"),
                             ({"units": "mm"}, "units"), ({"grid": "weekly"}, "grid"),
                             ({"units": "deg"}, "DISPLAY_COORDS"), ({"units": "deg", "deg_source": "display"},
                                                                   "display"),
                             ({"units": "deg", "display": "big"}, "display"),
                             ({"grid": "regular", "raw": True}, "raw")]:
            with pytest.raises(ValueError, match=word):
                rec.samples(**kwargs)
    with pytest.raises(ValueError, match="distance"):
        vokapi.Display(distance=-600, width=530, height=300, pixels=(1920, 1080))
    with pytest.raises(ValueError, match="pixels"):
        vokapi.Display(distance=600, width=530, height=300, pixels=1920)


def test_trials_with_variables(recordings):
    with vokapi.open(case(recordings, "experiment-messages.vok")) as rec:
        trials = rec.trials(start="TRIAL_START", end="TRIAL_END", variables="VAR")
        table = rec.trial_table()
        grid = rec.samples(grid="continuous", trial_column=True, as_frame=True, columns=["time", "left_gaze_x"])
        events = rec.events(trial_column=True, as_frame=True)
        first = [t for t in trials if t.identifier == "TRIAL_START 1"][0]
        part = first.samples(grid="regular", blinks="nan", columns=["time", "left_gaze_x"])
    marked = [t for t in trials if t.identifier]
    assert [t.identifier for t in marked] == ["TRIAL_START 1", "TRIAL_START 2"]
    assert marked[0].variables == {"condition": 3, "side": "left", "delay": 12.5}
    assert marked[1].variables == {"condition": 5, "side": "right", "delay": "n/a", "practice": 1}
    rows = table[table["identifier"].notna()].reset_index(drop=True)
    assert rows["start_time"].tolist() == [1020.0, 4020.0] and rows["end_time"].tolist() == [2998.0, 5998.0]
    assert rows["duration"].tolist() == [1978.0, 1978.0]
    assert str(rows["condition"].dtype) == "Int64" and rows["condition"].tolist() == [3, 5]
    assert rows["delay"].tolist() == [12.5, "n/a"] and rows["practice"].isna().tolist() == [True, False]
    assert table["number"].tolist() == [t.number for t in trials]
    # Rows between the blocks lie in no trial; each trial's rows are its own.
    mine = grid[grid["trial"] == first.number]
    assert mine["time"].min() == 1020.0 and mine["time"].max() == 2998.0 and len(mine) == 990
    assert grid.loc[grid["time"].between(3000, 3998), "trial"].isna().all()
    assert part["time"].tolist() == mine["time"].tolist()
    var = events[events["text"] == "VAR condition 3 side left"]
    assert var["trial"].tolist() == [first.number]
