"""Errors become Python exceptions with the library's text; its log lines go
to the logger "vokapi"; closing releases the handle and arrays stay valid."""

import logging

import numpy as np
import pytest

import vokapi


def test_missing_file_raises_file_not_found_with_the_library_text(tmp_path):
    with pytest.raises(FileNotFoundError) as e:
        vokapi.open(tmp_path / "nothing.vok")
    assert "could not be opened" in str(e.value).lower() or "open" in str(e.value).lower()
    assert e.value.filename.endswith("nothing.vok")


def test_not_a_recording_raises_os_error_naming_the_magic(tmp_path, caplog):
    bad = tmp_path / "bad.vok"
    bad.write_bytes(b"NOT A RECORDING\n")
    with caplog.at_level(logging.WARNING, logger="vokapi"):
        with pytest.raises(OSError, match="(?i)magic"):
            vokapi.open(bad)
    assert any("magic" in r.getMessage().lower() for r in caplog.records)


def test_cut_recording_fails_strictly_and_opens_tolerantly(recordings):
    cut = [p for p in recordings.cases() if "truncated" in p]
    assert cut
    with pytest.raises(OSError):
        vokapi.open(cut[0], consistency=0)
    with vokapi.open(cut[0], consistency=0, tolerant=True) as rec:
        assert len(rec.samples()) > 0


@pytest.mark.parametrize("kwargs", [{"consistency": 4}, {"consistency": "2"}, {"resolution": (1,)},
                                    {"resolution": "xy"}])
def test_bad_arguments_raise_value_error(recordings, kwargs):
    with pytest.raises(ValueError):
        vokapi.open(recordings.demo(), **kwargs)


def test_close_releases_and_arrays_stay_valid(recordings):
    rec = vokapi.open(recordings.demo())
    with rec:
        s = rec.samples()
        raw = rec.samples(raw=True)
        trial = rec.trials()[0]
    assert rec.closed
    rec.close()  # twice is fine
    assert len(s) > 100 and np.isfinite(s["left_gaze_x"]).sum() > 100
    assert raw["time"][0] > 0
    for call in (rec.samples, rec.events, lambda: len(rec), trial.samples, lambda: list(rec)):
        with pytest.raises(ValueError, match="closed"):
            call()


def test_preamble_and_revisions(recordings):
    with vokapi.open(recordings.demo()) as rec:
        assert rec.revision == 4 and rec.tracker_revision == 2
        assert rec.preamble and not any(line.startswith("** ") for line in rec.preamble)
        assert rec.preamble_text.startswith("** ")
    assert vokapi.library_version()


def test_log_lines_go_to_logging(recordings, caplog):
    case = [p for p in recordings.cases() if "orphan-blink" in p or "events-after" in p]
    assert case
    with caplog.at_level(logging.DEBUG, logger="vokapi"):
        with vokapi.open(case[0], consistency=2) as rec:
            rec.samples()
    assert any(r.name == "vokapi" for r in caplog.records)
    # The progress lines printed on opening are logged at DEBUG, not printed.
    assert any(r.levelno == logging.DEBUG and "loadEvents" in r.getMessage() for r in caplog.records)


def test_items_follow_the_cursor(recordings):
    with vokapi.open(recordings.demo()) as rec:
        items = list(rec)
        assert len(items) == len(rec)
    kinds = {i.kind for i in items}
    assert kinds == {"sample", "event", "recording"}
    assert items[0].type == vokapi.RECORDING_INFO
    sample = next(i for i in items if i.kind == "sample")
    assert sample.time == sample.record.time and len(sample.gazeX) == 2
    assert "sample" in repr(sample)
