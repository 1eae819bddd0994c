"""Pictures, rendered with Agg: what must be in them (axes limits, one shaded
span per event, marks, a picture that is not blank), and the command."""

import io
import os
import subprocess
import sys

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.image  # noqa: E402
from matplotlib.collections import BrokenBarHCollection, LineCollection  # noqa: E402
from matplotlib.quiver import Quiver  # noqa: E402

import vokapi  # noqa: E402
import vokapi.plot  # noqa: E402


def pixels(fig):
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=50)
    buf.seek(0)
    return matplotlib.image.imread(buf)


def experiment(recordings):
    return next(p for p in recordings.cases() if p.endswith("experiment-messages.vok"))


def test_trial_picture(recordings):
    with vokapi.open(experiment(recordings)) as rec:
        trial = [t for t in rec.trials(start="TRIAL_START", end="TRIAL_END") if t.identifier][0]
        fig = vokapi.plot.plot_trial(rec, trial.number)
        ev = trial.events()
    ax_x, ax_y = fig.axes[:2]
    # 1020 .. 2998 ms; the display of the DISPLAY_COORDS message, y downwards.
    assert ax_x.get_xlim() == (0.0, 1.978)
    assert ax_x.get_ylim() == (0.0, 1919.0) and ax_y.get_ylim() == (1079.0, 0.0)
    assert "pixels" in ax_x.get_ylabel() and "(s)" in ax_y.get_xlabel()
    left = ev[(ev["eye"] == "left") & np.isin(ev["type"], ["fixation", "saccade", "blink"])]
    for ax in (ax_x, ax_y):
        spans = sum(len(c.get_paths()) for c in ax.collections if isinstance(c, BrokenBarHCollection))
        assert spans == len(left) == 10
    marks = [c for c in ax_x.collections if isinstance(c, LineCollection) and not isinstance(c, BrokenBarHCollection)]
    assert sum(len(c.get_segments()) for c in marks) == (ev["type"] == "message").sum() == 5
    image = pixels(fig)
    assert image[..., :3].std() > 0.05


def test_scanpath_and_heatmap(recordings):
    background = np.zeros((108, 192, 3), np.float32)
    background[:, :96] = 1.0
    with vokapi.open(experiment(recordings)) as rec:
        rec.trials()
        scan = vokapi.plot.plot_scanpath(rec, 0, background=background)
        heat = vokapi.plot.plot_heatmap(rec)
        ev = rec.trials()[0].events()
    ax = scan.axes[0]
    assert ax.get_xlim() == (0.0, 1919.0) and ax.get_ylim() == (1079.0, 0.0)
    left = ev[ev["eye"] == "left"]
    arrows = [c for c in ax.get_children() if isinstance(c, Quiver)][0]
    assert arrows.N == ((left["type"] == "saccade") & np.isfinite(left["end_gaze_x"])).sum() == 4
    assert len(ax.collections[0].get_offsets()) == (left["type"] == "fixation").sum() == 5
    assert len(ax.images) == 1
    density = heat.axes[0].images[0].get_array()
    assert density.max() > 0 and (density == 0).mean() > 0.5
    assert pixels(heat)[..., :3].std() > 0.05


def test_command_and_missing_matplotlib(recordings, tmp_path):
    env = dict(os.environ, MPLBACKEND="Agg")
    out = tmp_path / "demo.png"
    done = subprocess.run([sys.executable, "-m", "vokapi", "plot", recordings.demo(), "-o", str(out)],
                          capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    assert f"wrote {out}" in done.stdout
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    bad = subprocess.run([sys.executable, "-m", "vokapi", "plot", recordings.demo(), "--trial", "7"],
                         capture_output=True, text=True, env=env, cwd=tmp_path)
    assert bad.returncode == 1 and "trial must be a trial number 0 .. 1" in bad.stderr
    # Without matplotlib the package loads; the pictures say what they need.
    code = ("import sys; sys.modules['matplotlib'] = None; import vokapi, vokapi.plot\n"
            f"rec = vokapi.open({recordings.demo()!r}); len(rec.samples())\n"
            "try:\n    vokapi.plot.plot_trial(rec)\nexcept ImportError as e:\n    print(e)\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    assert "needs matplotlib" in done.stdout
