"""The shared library, its records and functions, declared once for ctypes.

The records mirror ``include/vokapi.h`` and ``include/vokapi_ext.h`` field for
field; ctypes lays them out with the C compiler's natural alignment, and the
test suite checks every size and offset against the compiled headers.
"""

import ctypes
import ctypes.util
import logging
import os
import sys
import threading
from ctypes import (CFUNCTYPE, POINTER, Structure, c_char, c_char_p, c_double, c_float, c_int, c_int16,
                    c_int64, c_size_t, c_uint, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p)

log = logging.getLogger("vokapi")

# --------------------------------------------------------------------------
# Records of vokapi.h

SAMPLE_LEFT = 0x8000
SAMPLE_RIGHT = 0x4000
SAMPLE_FULLTIME = 0x2000
SAMPLE_PUPILXY = 0x1000
SAMPLE_HEADREF = 0x0800
SAMPLE_GAZE = 0x0400
SAMPLE_RESOLUTION = 0x0200
SAMPLE_PUPILSIZE = 0x0100
SAMPLE_ERRORS = 0x0080
SAMPLE_INPUT = 0x0040
SAMPLE_BUTTONS = 0x0020
SAMPLE_HEADDATA = 0x0010
SAMPLE_HALFMS = 0x0002

MISSING_VALUE = 100000000.0
ABSENT_VALUE = -32768.0
ABSENT_WORD = 0x8000

CONSISTENCY_LEVEL_MASK = 0x03
TOLERANT_READING = 0x04
NO_TIME_FIXUP = 0x08
MESSAGE_TIME_OFFSETS = 0x10

# Item type codes (ItemType).
SMARK, EMARK, SBLINK, EBLINK, SSACC, ESACC, SFIX, EFIX, MARKA, MARKB = range(1, 11)
STARTSAMPLES, ENDSAMPLES, STARTEVENTS, ENDEVENTS = 15, 16, 17, 18
MESSAGEEVENT, BUTTONEVENT, INPUTEVENT = 24, 25, 28
RECORDING_INFO = 30
SAMPLE_TYPE = 200

_pair = c_float * 2


class Sample(Structure):
    _fields_ = [
        ("time", c_uint32),
        ("pupilX", _pair), ("pupilY", _pair),
        ("headRefX", _pair), ("headRefY", _pair),
        ("pupilSize", _pair),
        ("gazeX", _pair), ("gazeY", _pair),
        ("resolutionX", c_float), ("resolutionY", c_float),
        ("gazeVelX", _pair), ("gazeVelY", _pair),
        ("headRefVelX", _pair), ("headRefVelY", _pair),
        ("pupilVelX", _pair), ("pupilVelY", _pair),
        ("fastGazeVelX", _pair), ("fastGazeVelY", _pair),
        ("fastHeadRefVelX", _pair), ("fastHeadRefVelY", _pair),
        ("fastPupilVelX", _pair), ("fastPupilVelY", _pair),
        ("headData", c_int16 * 8),
        ("flags", c_uint16),
        ("input", c_uint16),
        ("buttons", c_uint16),
        ("headDataType", c_int16),
        ("errors", c_uint16),
        ("timeHalfMs", c_uint64),
    ]


class LString(Structure):
    _fields_ = [("length", c_int16), ("c", c_char * 1)]


class Event(Structure):
    _fields_ = [
        ("time", c_uint32),
        ("type", c_int16),
        ("read", c_uint16),
        ("startTime", c_uint32),
        ("endTime", c_uint32),
        ("startHeadRefX", c_float), ("startHeadRefY", c_float),
        ("startGazeX", c_float), ("startGazeY", c_float),
        ("startPupilSize", c_float),
        ("endHeadRefX", c_float), ("endHeadRefY", c_float),
        ("endGazeX", c_float), ("endGazeY", c_float),
        ("endPupilSize", c_float),
        ("avgHeadRefX", c_float), ("avgHeadRefY", c_float),
        ("avgGazeX", c_float), ("avgGazeY", c_float),
        ("avgPupilSize", c_float),
        ("avgVelocity", c_float), ("peakVelocity", c_float),
        ("startVelocity", c_float), ("endVelocity", c_float),
        ("startResolutionX", c_float), ("endResolutionX", c_float),
        ("startResolutionY", c_float), ("endResolutionY", c_float),
        ("eye", c_int16),
        ("status", c_uint16),
        ("flags", c_uint16),
        ("input", c_uint16),
        ("buttons", c_uint16),
        ("parsedBy", c_uint16),
        ("message", POINTER(LString)),
    ]


class RecordingInfo(Structure):
    _fields_ = [
        ("time", c_uint32),
        ("sampleRate", c_float),
        ("eventFlags", c_uint16),
        ("sampleFlags", c_uint16),
        ("state", c_uint8),
        ("recordType", c_uint8),
        ("pupilType", c_uint8),
        ("recordingMode", c_uint8),
        ("filterType", c_uint8),
        ("positionType", c_uint8),
        ("eye", c_uint8),
        ("timeHalfMs", c_uint64),
        ("rawScale", c_float),
        ("windowHeight", c_uint32),
        ("windowWidth", c_uint32),
        ("merged", c_uint8),
    ]


class FloatData(ctypes.Union):
    _fields_ = [("sample", Sample), ("event", Event), ("recording", RecordingInfo)]


class Trial(Structure):
    _fields_ = [
        ("recording", POINTER(RecordingInfo)),
        ("duration", c_uint32),
        ("startTime", c_uint32),
        ("endTime", c_uint32),
    ]


class BookMark(Structure):
    _fields_ = [("id", c_uint32)]


# --------------------------------------------------------------------------
# Records of vokapi_ext.h

VOKEXT_SAMPLES = 0x01
VOKEXT_EVENTS = 0x02
VOKEXT_RECORDINGS = 0x04
VOKEXT_MISSING_AS_NAN = 0x01
VOKEXT_TEXT_ROOM = 512
NO_TEXT = 0xFFFFFFFF

_ptr2 = c_void_p * 2


class SampleColumns(Structure):
    _fields_ = [
        ("stride", c_size_t),
        ("records", c_void_p),
        ("position", c_void_p),
        ("time", c_void_p),
        ("timeMs", c_void_p),
        ("flags", c_void_p),
        ("pupilX", _ptr2), ("pupilY", _ptr2),
        ("headRefX", _ptr2), ("headRefY", _ptr2),
        ("pupilSize", _ptr2),
        ("gazeX", _ptr2), ("gazeY", _ptr2),
        ("resolutionX", c_void_p), ("resolutionY", c_void_p),
        ("gazeVelX", _ptr2), ("gazeVelY", _ptr2),
        ("headRefVelX", _ptr2), ("headRefVelY", _ptr2),
        ("pupilVelX", _ptr2), ("pupilVelY", _ptr2),
        ("fastGazeVelX", _ptr2), ("fastGazeVelY", _ptr2),
        ("fastHeadRefVelX", _ptr2), ("fastHeadRefVelY", _ptr2),
        ("fastPupilVelX", _ptr2), ("fastPupilVelY", _ptr2),
        ("headData", c_void_p * 8),
        ("input", c_void_p),
        ("buttons", c_void_p),
        ("headDataType", c_void_p),
        ("errors", c_void_p),
    ]


class Batch(Structure):
    _fields_ = [
        ("kinds", c_uint32),
        ("options", c_uint32),
        ("sampleCapacity", c_uint32),
        ("sampleCount", c_uint32),
        ("samples", SampleColumns),
        ("eventCapacity", c_uint32),
        ("eventCount", c_uint32),
        ("events", c_void_p),
        ("eventPosition", c_void_p),
        ("eventExtra", c_void_p),
        ("eventText", c_void_p),
        ("recordingCapacity", c_uint32),
        ("recordingCount", c_uint32),
        ("recordings", c_void_p),
        ("recordingPosition", c_void_p),
        ("text", c_void_p),
        ("textCapacity", c_uint32),
        ("textUsed", c_uint32),
        ("unreadable", c_uint32),
    ]


class RawColumns(Structure):
    _fields_ = [(name, c_void_p) for name in (
        "pupilArea", "rawPupil", "crArea", "rawCr", "pupilDimension", "crDimension", "windowPosition",
        "pupilCr", "cr2Area", "rawCr2")]


VOKEXT_GRID_BLOCKS = 0
VOKEXT_GRID_CONTINUOUS = 1


class GridSegment(Structure):
    _fields_ = [
        ("firstTimeMs", c_double),
        ("stepMs", c_double),
        ("firstRow", c_uint64),
        ("rows", c_uint64),
        ("firstKey", c_uint64),
        ("rate", c_float),
        ("firstBlockPosition", c_uint32),
        ("lastBlockPosition", c_uint32),
        ("firstPosition", c_uint32),
        ("endPosition", c_uint32),
        ("samples", c_uint32),
    ]


class GridCursor(Structure):
    _fields_ = [
        ("segment", c_uint32),
        ("lastPosition", c_uint32),
        ("lastRow", c_int64),
        ("unplaced", c_uint64),
        ("started", c_uint32),
    ]


# The records the layout test compares with the compiled headers.
RECORDS = {
    "Sample": Sample, "LString": LString, "Event": Event, "RecordingInfo": RecordingInfo,
    "FloatData": FloatData, "Trial": Trial, "BookMark": BookMark,
    "VOKEXT_SampleColumns": SampleColumns, "VOKEXT_Batch": Batch, "VOKEXT_RawColumns": RawColumns,
    "VOKEXT_GridSegment": GridSegment, "VOKEXT_GridCursor": GridCursor,
}

# --------------------------------------------------------------------------
# Finding and loading the library

ENVIRONMENT_VARIABLE = "VOKAPI_LIBRARY"


def _candidates():
    """Places to look for the library, in order: the environment variable
    VOKAPI_LIBRARY (a file), the package folder, then the system's search."""
    named = os.environ.get(ENVIRONMENT_VARIABLE)
    if named:
        yield named
        return
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.platform == "win32":
        names = ["vokapi.dll", "libvokapi.dll"]
    elif sys.platform == "darwin":
        names = ["libvokapi.1.dylib", "libvokapi.dylib"]
    else:
        names = ["libvokapi.so.1", "libvokapi.so"]
    for name in names:
        path = os.path.join(here, name)
        if os.path.exists(path):
            yield path
    found = ctypes.util.find_library("vokapi")
    if found:
        yield found
    yield from names


def _load():
    errors = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate), candidate
        except OSError as e:
            errors.append(f"{candidate}: {e}")
    hint = (f"set {ENVIRONMENT_VARIABLE} to the library file, put the library into "
            f"{os.path.dirname(os.path.abspath(__file__))}, or install it where the system finds it")
    raise ImportError("vokapi: the vokapi shared library was not found (" + "; ".join(errors) + "); " + hint)


lib, library_path = _load()


def _declare(name, restype, *argtypes):
    f = getattr(lib, name)
    f.restype = restype
    f.argtypes = list(argtypes)
    return f


VOKFileP = c_void_p
LogFunction = CFUNCTYPE(None, c_char_p)

_declare("vok_set_log_function", None, LogFunction)
_declare("vok_open_file_ex", VOKFileP, c_char_p, c_int, c_int, c_int, POINTER(c_float), POINTER(c_int))
_declare("vokext_open_memory", VOKFileP, c_void_p, ctypes.c_size_t, c_int, c_int, c_int, POINTER(c_int))
_declare("vok_close_file", c_int, VOKFileP)
_declare("vok_get_preamble_text", c_int, VOKFileP, c_char_p, c_int)
_declare("vok_get_preamble_text_length", c_int, VOKFileP)
_declare("vok_get_revision", c_int, VOKFileP)
_declare("vok_get_tarnvik_revision", c_int, VOKFileP)
_declare("vok_get_version", c_char_p)
_declare("vok_get_next_data", c_int, VOKFileP)
_declare("vok_get_float_data", POINTER(FloatData), VOKFileP)
_declare("vok_get_element_count", c_uint, VOKFileP)
_declare("vok_compute_physical_setup", c_int, *([c_float] * 10))
_declare("vok_calculate_ppd", None, c_float, c_float, POINTER(Sample), c_int, POINTER(c_double), POINTER(c_double))
_declare("vok_set_trial_identifier", c_int, VOKFileP, c_char_p, c_char_p)
_declare("vok_get_trial_count", c_int, VOKFileP)
_declare("vok_jump_to_trial", c_int, VOKFileP, c_int)
_declare("vok_get_trial_header", c_int, VOKFileP, POINTER(Trial))
_declare("vok_set_bookmark", c_int, VOKFileP, POINTER(BookMark))
_declare("vok_free_bookmark", c_int, VOKFileP, POINTER(BookMark))
_declare("vok_set_extra_message_file", c_int, c_char_p)
_declare("vok_get_uncorrected_pupil_area", c_int, VOKFileP, POINTER(Sample), c_int)
_declare("vok_get_uncorrected_raw_pupil", None, VOKFileP, POINTER(Sample), c_int, POINTER(c_float))
_declare("vok_get_pupil_cr", None, VOKFileP, POINTER(Sample), c_int, POINTER(c_float))
_declare("vokext_read_batch", c_int, VOKFileP, POINTER(Batch))
_declare("vokext_rewind", c_int, VOKFileP)
_declare("vokext_get_trial_range", c_int, VOKFileP, c_int, POINTER(c_uint32), POINTER(c_uint32))
_declare("vokext_calculate_ppd", c_int, c_float, c_float, c_void_p, c_uint32, c_int, c_void_p, c_void_p)
_declare("vokext_raw_values", c_int, VOKFileP, c_void_p, c_uint32, c_int, POINTER(RawColumns))
_declare("vokext_grid_plan", c_int64, VOKFileP, c_uint32, c_void_p, c_uint32)
_declare("vokext_grid_rows", c_int, VOKFileP, c_void_p, c_uint32, POINTER(GridCursor), c_void_p, c_size_t, c_void_p)

# --------------------------------------------------------------------------
# The library's diagnostics, routed to the "vokapi" logger.  While a call of
# this package runs, the lines are also collected so that an exception can
# carry them.

_capture = threading.local()


def _on_log(text):
    try:
        line = text.decode("utf-8", "replace").rstrip("\r\n\t ") if text else ""
        if not line:
            return
        lines = getattr(_capture, "lines", None)
        if lines is not None:
            lines.append(line)
        log.warning("%s", line)
    except Exception:  # never let an exception unwind into the library
        pass


_log_callback = LogFunction(_on_log)  # kept alive as long as the module
lib.vok_set_log_function(_log_callback)


class collected_log:
    """Collects the library's log lines of the calls made inside the block."""

    def __enter__(self):
        self._outer = getattr(_capture, "lines", None)
        self.lines = []
        _capture.lines = self.lines
        return self

    def __exit__(self, *exc):
        _capture.lines = self._outer
        if self._outer is not None:
            self._outer.extend(self.lines)
        return False

    def text(self, default):
        """The reason of a failure: the last line the library logged."""
        return self.lines[-1] if self.lines else default


# --------------------------------------------------------------------------
# Progress lines that the library prints straight to standard output (on
# opening and when trials are built) go to the logger at DEBUG instead, so
# that notebooks and scripts keep a clean output.

try:
    _libc = ctypes.CDLL(None) if sys.platform != "win32" else None
    if _libc is not None:
        _libc.fflush.argtypes = [c_void_p]
        _libc.fflush.restype = c_int
except OSError:
    _libc = None

_stdout_lock = threading.Lock()
_stdout_state = {"users": 0, "saved": None, "file": None}


class quiet_stdout:
    """Redirects file descriptor 1 into a temporary file for the block and
    logs what was written there at DEBUG level.  Does nothing where the C
    library's buffers cannot be flushed (Windows) or descriptor 1 is closed.
    The descriptor belongs to the process: blocks of several threads share
    one redirection, made by the first to enter and undone by the last to
    leave, so that the library calls inside them still run at once."""

    def __enter__(self):
        self._active = False
        if _libc is None or os.environ.get("VOKAPI_SHOW_STDOUT"):
            return self
        with _stdout_lock:
            if _stdout_state["users"] == 0:
                try:
                    import tempfile
                    sys.stdout.flush()
                    _libc.fflush(None)
                    temp = tempfile.TemporaryFile()
                    saved = os.dup(1)
                    os.dup2(temp.fileno(), 1)
                except (OSError, ValueError, AttributeError):
                    return self
                _stdout_state["saved"], _stdout_state["file"] = saved, temp
            _stdout_state["users"] += 1
            self._active = True
        return self

    def __exit__(self, *exc):
        if not self._active:
            return False
        with _stdout_lock:
            _stdout_state["users"] -= 1
            if _stdout_state["users"] > 0:
                return False
            saved, temp = _stdout_state["saved"], _stdout_state["file"]
            _stdout_state["saved"] = _stdout_state["file"] = None
            _libc.fflush(None)
            os.dup2(saved, 1)
            os.close(saved)
        temp.seek(0)
        for line in temp.read().decode("utf-8", "replace").splitlines():
            if line.strip():
                log.debug("%s", line.rstrip())
        temp.close()
        return False
        try:
            _libc.fflush(None)
            os.dup2(self._saved, 1)
            os.close(self._saved)
            self._file.seek(0)
            for line in self._file.read().decode("utf-8", "replace").splitlines():
                if line.strip():
                    log.debug("%s", line.rstrip())
            self._file.close()
        finally:
            _stdout_lock.release()
        return False
