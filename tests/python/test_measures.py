"""The vectorised derived measures give the single-call values."""

import ctypes

import numpy as np
import pytest

import vokapi
from vokapi import _lib


def records_of(raw):
    return [_lib.Sample.from_buffer_copy(raw[i:i + 1].tobytes()) for i in range(len(raw))]


def test_ppd_is_the_single_call_in_order(recordings):
    with vokapi.open(recordings.demo()) as rec:
        raw = rec.samples(raw=True)[:400]
    setup = dict(distance=600, display_physical=(-265, 150, 265, -150), display_pixels=(0, 0, 1919, 1079))
    vokapi.physical_setup(**setup)
    x, y = vokapi.ppd(raw, "left", 1919, 1079)
    vokapi.physical_setup(**setup)
    for i, s in enumerate(records_of(raw)):
        px, py = ctypes.c_double(), ctypes.c_double()
        _lib.lib.vok_calculate_ppd(1919, 1079, ctypes.byref(s), 0, ctypes.byref(px), ctypes.byref(py))
        want = (np.nan if px.value == 1e8 else px.value, np.nan if py.value == 1e8 else py.value)
        assert np.array_equal((x[i], y[i]), want, equal_nan=True), i
    assert np.isfinite(x).mean() > 0.5 and np.nanmin(x) >= 1.0


def test_raw_values_are_the_single_calls(recordings):
    path = recordings.generate("head", "--seed", "9", "--duration-ms", "1000", "--head-data")
    with vokapi.open(path) as rec:
        raw = rec.samples(raw=True)
        table = rec.raw_values(raw, 1)
        table_raw = rec.raw_values(raw, 1, raw=True)
        h = rec._h()
        for i, s in enumerate(records_of(raw)):
            if i % 11:
                continue
            assert table["pupil_area"][i] == _lib.lib.vok_get_uncorrected_pupil_area(h, ctypes.byref(s), 1)
            xy = (ctypes.c_float * 2)()
            _lib.lib.vok_get_uncorrected_raw_pupil(h, ctypes.byref(s), 1, xy)
            assert (table_raw["pupil_x"][i], table_raw["pupil_y"][i]) == (xy[0], xy[1])
            _lib.lib.vok_get_pupil_cr(h, ctypes.byref(s), 1, xy)
            assert np.array_equal((table_raw["pupil_cr_x"][i], table_raw["pupil_cr_y"][i]), (xy[0], xy[1]),
                                  equal_nan=True)
    assert not np.isin(table["pupil_x"], [np.float32(1e8)]).any()
    assert not (table["cr_width"] == 1e8).any()


def test_measures_want_sample_records(recordings):
    with vokapi.open(recordings.demo()) as rec:
        s = rec.samples()
        with pytest.raises(ValueError, match="raw=True"):
            rec.raw_values(s, 0)
        with pytest.raises(ValueError, match="eye"):
            rec.raw_values(rec.samples(raw=True), 2)
    with pytest.raises(ValueError):
        vokapi.ppd(s, 0, 1919, 1079)
