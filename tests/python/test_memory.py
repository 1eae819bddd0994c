"""A recording given as bytes, a buffer or a binary file object opens as
its file does, and its bytes live as long as the recording."""

import gc
import io

import numpy as np
import pytest

import vokapi


def assert_same_table(a, b):
    assert a.dtype == b.dtype and len(a) == len(b)
    for name in a.dtype.names:
        np.testing.assert_array_equal(a[name], b[name], err_msg=name)  # NaN equals NaN here


@pytest.mark.parametrize("compressed", [False, True])
def test_every_form_of_bytes_gives_what_the_file_gives(recordings, compressed):
    path = recordings.generate("memory" + ("-z" if compressed else ""), "--seed", "5",
                               *(["--compressed"] if compressed else []))
    with open(path, "rb") as f:
        data = f.read()
    with vokapi.open(path, consistency=2) as rec:
        samples, events = rec.samples(), rec.events()
    forms = [data, bytearray(data), memoryview(data), memoryview(bytearray(data)), io.BytesIO(data)]
    for form in forms:
        with vokapi.open(form, consistency=2) as rec:
            assert rec.path is None
            assert_same_table(rec.samples(), samples)
            assert_same_table(rec.events(), events)


def test_the_recording_keeps_its_bytes_alive(recordings):
    with open(recordings.demo(), "rb") as f:
        rec = vokapi.open(bytearray(f.read()))
    gc.collect()
    with rec:
        assert len(rec.samples()) > 100


def test_damaged_bytes_raise_os_error_and_path_only_options_value_error(recordings):
    with pytest.raises(OSError, match="(?i)magic"):
        vokapi.open(b"NOT A RECORDING\n")
    with open(recordings.demo(), "rb") as f:
        data = f.read()
    for kwargs in ({"extra_messages": True}, {"resolution": (30, 30)}):
        with pytest.raises(ValueError):
            vokapi.open(data, **kwargs)
