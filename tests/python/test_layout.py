"""The ctypes records have the sizes and member offsets of the compiled C
headers (printed by a C program built from them)."""

import ctypes
import json
import subprocess

import vokapi
from vokapi import _lib


def test_every_record_matches_the_compiled_header(layout_dump):
    compiled = json.loads(subprocess.run([layout_dump], check=True, capture_output=True, text=True).stdout)
    assert set(compiled) == set(_lib.RECORDS)
    for name, record in _lib.RECORDS.items():
        c = compiled[name]
        assert ctypes.sizeof(record) == c["size"], name
        declared = [field for field, _ in record._fields_]
        assert declared == list(c["offsets"]), f"{name}: members differ from the header"
        for field, offset in c["offsets"].items():
            assert getattr(record, field).offset == offset, f"{name}.{field}"


def test_numpy_records_have_the_c_layout():
    assert vokapi.SAMPLE_DTYPE.itemsize == ctypes.sizeof(_lib.Sample)
    assert vokapi.EVENT_DTYPE.itemsize == ctypes.sizeof(_lib.Event)
    assert vokapi.RECORDING_DTYPE.itemsize == ctypes.sizeof(_lib.RecordingInfo)
    for name, _ in _lib.Sample._fields_:
        assert vokapi.SAMPLE_DTYPE.fields[name][1] == getattr(_lib.Sample, name).offset, name
    for name, _ in _lib.Event._fields_:
        assert vokapi.EVENT_DTYPE.fields[name][1] == getattr(_lib.Event, name).offset, name
