"""Pictures of a recording with matplotlib: a trial's gaze over time, its
scanpath, and the fixation density over the display.

    import vokapi, vokapi.plot
    with vokapi.open("rec.vok") as rec:
        rec.trials(start="TRIAL_START", end="TRIAL_END")
        vokapi.plot.plot_trial(rec, 1).savefig("trial.png")
        vokapi.plot.plot_scanpath(rec, 1, background="stimulus.png").savefig("scanpath.png")
        vokapi.plot.plot_heatmap(rec).savefig("heatmap.png")

Each function returns a matplotlib ``Figure`` (made without pyplot, so no
window opens; ``fig.savefig()`` writes it).  ``trial`` is a trial number (of
``rec.trials()``, the identifiers set last), a ``Trial``, or None for the
whole recording.  The display's pixel rectangle comes from ``display`` (a
``vokapi.Display``) when given, else from the recording's "DISPLAY_COORDS"
message, else it is the smallest common display size (1024 x 768 up to
3840 x 2160) that holds the gaze.  Times are seconds from the
trial's start, positions display pixels.
"""

import os

import numpy as np

from . import _analysis

_COLOURS = {"fixation": "tab:green", "saccade": "tab:red", "blink": "tab:gray"}


def _figure(**kw):
    try:
        from matplotlib.figure import Figure
    except ImportError as e:  # the package itself works without matplotlib
        raise ImportError("vokapi.plot needs matplotlib (on Debian: python3-matplotlib)") from e
    return Figure(**kw)


class _Part:
    """The stretch of the recording a picture shows: its samples (on the
    regular grid), events, start and end time (ms) and a title."""

    def __init__(self, rec, trial, eye, columns=("time",)):
        from ._recording import Trial
        self.eye = _eye(rec, eye)
        names = list(dict.fromkeys(list(columns) + [f"{self.eye}_gaze_x", f"{self.eye}_gaze_y"]))
        name = os.path.basename(rec.path)
        if trial is None:
            self.samples = rec.samples(columns=names, grid="regular")
            self.events = rec.events()
            times = self.samples["time"]
            self.start = float(times[0]) if len(times) else 0.0
            self.end = float(times[-1]) if len(times) else 1.0
            self.title = f"{name}: whole recording"
        else:
            if not isinstance(trial, Trial):
                trials = rec.trials()
                if isinstance(trial, bool) or not isinstance(trial, (int, np.integer)) \
                        or not 0 <= trial < len(trials):
                    raise ValueError(f"trial must be a trial number 0 .. {len(trials) - 1}, a Trial or None, "
                                     f"not {trial!r}")
                trial = trials[int(trial)]
            self.samples = trial.samples(columns=names, grid="regular")
            self.events = trial.events()
            start, end = _analysis.trial_times(rec, [trial])
            self.start, self.end = float(start[0]), float(end[0])
            label = trial.identifier
            self.title = f"{name}: trial {trial.number}" + (f" ({label})" if label else "")
        if self.end <= self.start:
            self.end = self.start + 1.0
        ev = self.events
        self.eye_events = ev[np.isin(ev["type"], list(_COLOURS)) & (ev["eye"] == self.eye)]


def _eye(rec, eye):
    if eye in ("left", "right"):
        return eye
    if eye is not None:
        raise ValueError(f"eye must be 'left', 'right' or None, not {eye!r}")
    eyes = {b["eye"] for b in rec.blocks}
    return "right" if eyes == {"right"} else "left"


def _display(rec, display, part=None):
    """(left, top, right, bottom) of the display in pixels."""
    if display is not None:
        return display.rect
    rect = _analysis.display_rect(rec)
    if rect is not None:
        return rect
    # Else the smallest common display that holds the gaze.
    x = part.samples[f"{part.eye}_gaze_x"] if part is not None else np.empty(0)
    y = part.samples[f"{part.eye}_gaze_y"] if part is not None else np.empty(0)
    far_x = float(np.nanmax(x)) if np.isfinite(x).any() else 0.0
    far_y = float(np.nanmax(y)) if np.isfinite(y).any() else 0.0
    for w, h in _COMMON_DISPLAYS:
        if far_x < w and far_y < h:
            return (0.0, 0.0, w - 1.0, h - 1.0)
    return (0.0, 0.0, float(np.ceil(far_x)), float(np.ceil(far_y)))


_COMMON_DISPLAYS = ((1024, 768), (1280, 1024), (1920, 1080), (1920, 1200), (2560, 1440), (3840, 2160))


def plot_trial(rec, trial=None, *, eye=None, display=None):
    """Gaze x and y of one eye over time (two panels), the eye's fixations,
    saccades and blinks shaded (one span each), the messages as marks."""
    part = _Part(rec, trial, eye)
    left, top, right, bottom = _display(rec, display, part)
    fig = _figure(figsize=(11, 6), layout="constrained")
    ax_x, ax_y = fig.subplots(2, 1, sharex=True)
    s = part.samples
    t = (s["time"] - part.start) / 1000.0
    gx, gy = s[f"{part.eye}_gaze_x"], s[f"{part.eye}_gaze_y"]
    # No line across the time between two blocks' grids.
    steps = np.diff(t)
    if len(steps):
        jumps = np.flatnonzero(steps > 1.5 * np.median(steps)) + 1
        t, gx, gy = (np.insert(np.asarray(a, np.float64), jumps, np.nan) for a in (t, gx, gy))
    ax_x.plot(t, gx, lw=0.8, color="tab:blue")
    ax_y.plot(t, gy, lw=0.8, color="tab:purple")
    ev = part.eye_events
    for kind, colour in _COLOURS.items():
        pick = (ev["type"] == kind) & np.isfinite(ev["end_time"])
        spans = [((a - part.start) / 1000.0, max(b - a, 1.0) / 1000.0)
                 for a, b in zip(ev["start_time"][pick].tolist(), ev["end_time"][pick].tolist())]
        for ax in (ax_x, ax_y):
            ax.broken_barh(spans, (0, 1), transform=ax.get_xaxis_transform(), color=colour, alpha=0.18, lw=0,
                           label=f"{kind}s ({len(spans)})" if ax is ax_y else None)
    messages = part.events[part.events["type"] == "message"]
    at = (messages["start_time"] - part.start) / 1000.0
    for ax in (ax_x, ax_y):
        ax.vlines(at, 0, 1, transform=ax.get_xaxis_transform(), color="black", lw=0.6, alpha=0.6)
    if len(at) <= 30:
        for x, text in zip(at.tolist(), messages["text"].tolist()):
            ax_x.text(x, 1.0, f" {text[:24]}", transform=ax_x.get_xaxis_transform(), rotation=90, va="top",
                      fontsize=7, clip_on=True)
    ax_x.set_xlim(0.0, (part.end - part.start) / 1000.0)
    ax_x.set_ylim(left, right)
    ax_y.set_ylim(bottom, top)  # downwards, as on the display
    ax_x.set_ylabel(f"{part.eye} gaze x (pixels)")
    ax_y.set_ylabel(f"{part.eye} gaze y (pixels)")
    ax_y.set_xlabel("time from start (s)")
    ax_y.legend(loc="lower right", fontsize="small", ncol=3)
    ax_x.set_title(part.title)
    return fig


def plot_scanpath(rec, trial=None, *, eye=None, background=None, display=None):
    """Fixations on the display as circles (area by duration) and saccades
    as arrows, over an optional background image (a file name or an image
    array, stretched over the display)."""
    part = _Part(rec, trial, eye)
    left, top, right, bottom = _display(rec, display, part)
    fig = _figure(figsize=(9, 9 * (bottom - top + 1) / (right - left + 1) + 0.6), layout="constrained")
    ax = fig.subplots()
    _background(ax, background, (left, top, right, bottom))
    ev = part.eye_events
    fix = ev[(ev["type"] == "fixation") & np.isfinite(ev["avg_gaze_x"]) & np.isfinite(ev["avg_gaze_y"])]
    duration = np.nan_to_num(fix["duration"], nan=0.0)
    ax.plot(fix["avg_gaze_x"], fix["avg_gaze_y"], color="tab:blue", lw=0.6, alpha=0.5)
    ax.scatter(fix["avg_gaze_x"], fix["avg_gaze_y"], s=np.maximum(duration, 20.0) * 0.8, color="tab:blue",
               alpha=0.45, edgecolors="navy", linewidths=0.8, label=f"fixations ({len(fix)}), area by duration")
    sac = ev[(ev["type"] == "saccade") & np.isfinite(ev["start_gaze_x"]) & np.isfinite(ev["end_gaze_x"])
             & np.isfinite(ev["start_gaze_y"]) & np.isfinite(ev["end_gaze_y"])]
    ax.quiver(sac["start_gaze_x"], sac["start_gaze_y"], sac["end_gaze_x"] - sac["start_gaze_x"],
              sac["end_gaze_y"] - sac["start_gaze_y"], angles="xy", scale_units="xy", scale=1.0,
              color="tab:red", width=0.003, alpha=0.8, label=f"saccades ({len(sac)})")
    ax.set_xlim(left, right)
    ax.set_ylim(bottom, top)
    ax.set_aspect("equal")
    ax.set_xlabel("x (pixels)")
    ax.set_ylabel("y (pixels)")
    ax.legend(loc="upper right", fontsize="small")
    ax.set_title(f"{part.title}, {part.eye} eye")
    return fig


def plot_heatmap(rec, trial=None, *, eye=None, display=None, bin_px=20, sigma_px=30.0, background=None):
    """Fixation density over the display: each fixation's duration put at
    its average position in bins of ``bin_px`` pixels, smoothed with a
    Gaussian of ``sigma_px`` pixels, in ms of fixation per bin."""
    if not (isinstance(bin_px, (int, float)) and bin_px > 0):
        raise ValueError(f"bin_px must be a number above 0, not {bin_px!r}")
    if not (isinstance(sigma_px, (int, float)) and sigma_px >= 0):
        raise ValueError(f"sigma_px must be a number of 0 or more, not {sigma_px!r}")
    part = _Part(rec, trial, eye)
    left, top, right, bottom = _display(rec, display, part)
    ev = part.eye_events
    fix = ev[(ev["type"] == "fixation") & np.isfinite(ev["avg_gaze_x"]) & np.isfinite(ev["avg_gaze_y"])]
    nx = max(int(np.ceil((right - left + 1) / bin_px)), 1)
    ny = max(int(np.ceil((bottom - top + 1) / bin_px)), 1)
    density, _, _ = np.histogram2d(fix["avg_gaze_y"], fix["avg_gaze_x"], bins=(ny, nx),
                                   range=((top, bottom + 1), (left, right + 1)),
                                   weights=np.nan_to_num(fix["duration"], nan=0.0))
    density = _smooth(density, sigma_px / bin_px)
    fig = _figure(figsize=(10, 10 * (bottom - top + 1) / (right - left + 1) + 0.6), layout="constrained")
    ax = fig.subplots()
    _background(ax, background, (left, top, right, bottom))
    shown = ax.imshow(density, extent=(left, right, bottom, top), origin="upper", aspect="auto", cmap="inferno",
                      alpha=0.75 if background is not None else 1.0)
    fig.colorbar(shown, ax=ax, label="fixation time (ms per bin)", shrink=0.8)
    ax.set_xlim(left, right)
    ax.set_ylim(bottom, top)
    ax.set_aspect("equal")
    ax.set_xlabel("x (pixels)")
    ax.set_ylabel("y (pixels)")
    ax.set_title(f"{part.title}, {part.eye} eye, {len(fix)} fixations")
    return fig


def _background(ax, background, rect):
    """An image (file name or array) stretched over the display."""
    if background is None:
        return
    if isinstance(background, (str, os.PathLike)):
        import matplotlib.image
        background = matplotlib.image.imread(os.fspath(background))
    left, top, right, bottom = rect
    ax.imshow(background, extent=(left, right, bottom, top), origin="upper", aspect="auto")


def _smooth(a, sigma):
    """a blurred by a Gaussian of sigma bins (separable, edges as zero)."""
    if sigma <= 0:
        return a
    radius = max(int(np.ceil(3 * sigma)), 1)
    k = np.exp(-0.5 * (np.arange(-radius, radius + 1) / sigma) ** 2)
    k /= k.sum()
    def along(v):
        return np.convolve(v, k)[radius:radius + len(v)]
    return np.apply_along_axis(along, 1, np.apply_along_axis(along, 0, a))
