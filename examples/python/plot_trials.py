#!/usr/bin/env python3
"""Loads a recording, splits it into trials and plots, for the first trials,
the gaze position and the gaze speed of each eye over time, with the
fixations and saccades the tracker detected shaded in, into a PNG.

    /usr/bin/python3 examples/python/plot_trials.py RECORDING.vok [OUT.png]

Needs the vokapi package (python/ on PYTHONPATH, the library found through
VOKAPI_LIBRARY, the package folder or the system) and matplotlib.  A
recording to try: ``vokgen demo demo.vok``.
"""

import sys

import matplotlib

matplotlib.use("Agg")  # files only, no window
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vokapi  # noqa: E402


def main(path, out="trials.png", trials_shown=3):
    # %% Open the recording: consistency=2 also repairs gaps and blinks.
    with vokapi.open(path, consistency=2) as rec:
        print(f"{path}: {len(rec)} items, revision {rec.revision}, {len(rec.blocks)} block(s)")
        for block in rec.blocks:
            print(f"  block {block['start_time']}..{block['end_time']} ms, {block['sample_rate']:g} Hz, "
                  f"{block['eye']} eye(s)")

        # %% Trials from the trial messages; the samples come as a DataFrame
        # with NaN for every missing value (blinks, absent eyes).
        trials = rec.trials(start="TRIAL_START", end="TRIAL_END")
        trials = [t for t in trials if not t.messages(as_frame=True).empty] or trials
        shown = trials[:trials_shown]
        data = []
        for t in shown:
            s = t.samples(as_frame=True)
            ev = t.events(as_frame=True)
            title = ev.loc[ev["type"] == "message", "text"]
            data.append((t, s, ev, title.iloc[0] if len(title) else f"trial {t.number + 1}"))
    # The recording is closed here; the tables stay valid.

    # %% Gaze position and speed (the length of the gaze velocity, deg/s).
    fig, axes = plt.subplots(2, len(data), figsize=(5 * len(data), 6), squeeze=False, sharey="row")
    for col, (trial, s, ev, title) in enumerate(data):
        t = (s["time"] - s["time"].iloc[0]) / 1000.0
        top, bottom = axes[0][col], axes[1][col]
        for eye, style in (("left", "-"), ("right", "--")):
            top.plot(t, s[f"{eye}_gaze_x"], style, lw=0.8, label=f"{eye} x")
            top.plot(t, s[f"{eye}_gaze_y"], style, lw=0.8, label=f"{eye} y")
            speed = np.hypot(s[f"{eye}_gaze_vel_x"], s[f"{eye}_gaze_vel_y"])
            bottom.plot(t, speed, style, lw=0.8, label=eye)
        start = s["time"].iloc[0]
        for _, e in ev[ev["type"].isin(["fixation", "saccade"]) & (ev["eye"] == "left")].iterrows():
            if np.isnan(e["end_time"]):
                continue
            color = "tab:green" if e["type"] == "fixation" else "tab:red"
            for ax in (top, bottom):
                ax.axvspan((e["start_time"] - start) / 1000.0, (e["end_time"] - start) / 1000.0,
                           color=color, alpha=0.08, lw=0)
        top.set_title(f"{title} ({trial.header.duration} ms)")
        top.set_ylabel("gaze (pixels)")
        bottom.set_ylabel("gaze speed (deg/s)")
        bottom.set_xlabel("time in trial (s)")
        top.legend(fontsize="small", ncol=2)
        bottom.legend(fontsize="small")
    fig.suptitle(f"{path}: fixations green, saccades red (left eye)")
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    print(f"wrote {out}")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(*sys.argv[1:3])
