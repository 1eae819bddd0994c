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


def test_fixation_durations_per_recording(recordings, tmp_path):
    pytest = __import__("pytest")
    pytest.importorskip("distributed")
    import shutil
    for name, seed in (("one", "4"), ("two", "5")):
        shutil.copy(recordings.generate("example-" + name, "--seed", seed, "--duration-ms", "4000"),
                    tmp_path / f"{name}.vok")
    script = os.path.join(HERE, "..", "..", "examples", "python", "fixation_durations.py")
    done = subprocess.run([sys.executable, script, str(tmp_path)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert len(lines) == 3 and lines[1].split()[0].endswith("one.vok") and lines[2].split()[0].endswith("two.vok")
    count, mean = int(lines[1].split()[1]), float(lines[1].split()[2])
    assert count > 0 and 50 < mean < 2000
