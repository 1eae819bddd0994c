"""The example script runs on a writer-made recording and writes its PNG."""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "examples", "python", "plot_trials.py")


def test_plot_trials_writes_a_png(recordings, tmp_path):
    out = tmp_path / "trials.png"
    done = subprocess.run([sys.executable, SCRIPT, recordings.demo(), str(out)], capture_output=True, text=True,
                          env=dict(os.environ, MPLBACKEND="Agg"))
    assert done.returncode == 0, done.stderr
    assert "wrote" in done.stdout
    with open(out, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"
    assert out.stat().st_size > 20000
