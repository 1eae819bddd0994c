"""vokapi: eye-tracker recordings (".vok") as NumPy arrays and pandas tables.

    import vokapi
    with vokapi.open("rec.vok", consistency=2) as rec:
        rec.preamble, rec.revision, rec.blocks
        s = rec.samples()                    # NumPy structured array, NaN for missing values
        df = rec.samples(as_frame=True)      # the same as a pandas DataFrame
        df = rec.samples(as_frame=True, grid="regular", blinks="nan", units="deg")  # ready for analysis
        ev = rec.events(as_frame=True)       # fixations, saccades, blinks, messages, buttons, inputs
        for trial in rec.trials(start="TRIAL_START", end="TRIAL_END", variables="VAR"):
            trial.header, trial.samples(), trial.events(), trial.variables
        rec.trial_table()                    # one row per trial, its variables as columns
        vokapi.plot.plot_trial(rec, 0).savefig("trial.png")   # pictures (matplotlib)
        for item in rec:                     # the item stream, as the C cursor serves it
            ...

    ds = vokapi.dataset("data/*.vok")        # many recordings as Dask frames (needs python3-dask)
    ds.events().groupby("recording").duration.mean().compute()

The package calls the vokapi shared library through ctypes: no compiler is
needed.  The library is taken from the file named by the environment variable
VOKAPI_LIBRARY, else from this package's folder, else from the system's
library search path.  Its diagnostics go to the logger "vokapi" (warnings;
its progress lines at DEBUG).  Times are milliseconds of the tracker clock.
``vokapi.plot`` (pictures) is imported on first use and needs matplotlib;
``python3 -m vokapi plot REC.vok -o out.png`` writes one from the shell.
"""

from ._lib import (ABSENT_VALUE, ABSENT_WORD, BUTTONEVENT, EBLINK, EFIX, EMARK, ENDEVENTS, ENDSAMPLES, ESACC,
                   INPUTEVENT, MARKA, MARKB, MESSAGEEVENT, MISSING_VALUE, RECORDING_INFO, SAMPLE_BUTTONS,
                   SAMPLE_ERRORS, SAMPLE_FULLTIME, SAMPLE_GAZE, SAMPLE_HALFMS, SAMPLE_HEADDATA, SAMPLE_HEADREF,
                   SAMPLE_INPUT, SAMPLE_LEFT, SAMPLE_PUPILSIZE, SAMPLE_PUPILXY, SAMPLE_RESOLUTION, SAMPLE_RIGHT,
                   SAMPLE_TYPE, SBLINK, SFIX, SMARK, SSACC, STARTEVENTS, STARTSAMPLES, library_path, lib)
from ._analysis import Display
from ._dataset import Dataset, RecordingError, dataset
from ._recording import (DEFAULT_SAMPLE_COLUMNS, EVENT_DTYPE, RECORDING_DTYPE, SAMPLE_COLUMNS, SAMPLE_DTYPE, Item,
                         Recording, Trial, TrialHeader, open, physical_setup, ppd)

__all__ = [
    "open", "Recording", "Trial", "TrialHeader", "Item", "Display", "physical_setup", "ppd", "library_version",
    "dataset", "Dataset", "RecordingError",
    "SAMPLE_COLUMNS", "DEFAULT_SAMPLE_COLUMNS", "SAMPLE_DTYPE", "EVENT_DTYPE", "RECORDING_DTYPE",
]


def library_version():
    """The version text of the vokapi library in use."""
    return lib.vok_get_version().decode("ascii", "replace")


def __getattr__(name):
    # The pictures need matplotlib: imported only when asked for.
    if name == "plot":
        import importlib
        return importlib.import_module(".plot", __name__)
    raise AttributeError(f"module 'vokapi' has no attribute {name!r}")
