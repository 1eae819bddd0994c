"""Datasets on Dask: one partition per recording, equal row for row to
Recording.samples() / events() of each file, on the local scheduler and on a
dask.distributed cluster of two worker processes; fsspec URLs; failures."""

import os
import shutil
import subprocess
import sys

import pytest

import vokapi

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
fsspec = pytest.importorskip("fsspec")
import pandas as pd  # noqa: E402


@pytest.fixture(scope="module")
def folder(recordings, tmp_path_factory):
    """Three recordings of different sizes, rates and blocks."""
    d = tmp_path_factory.mktemp("dataset")
    specs = [("a", "--seed", "1", "--duration-ms", "3000"),
             ("b", "--seed", "2", "--duration-ms", "1500", "--rate", "500", "--blocks", "2"),
             ("c", "--seed", "3", "--duration-ms", "2500", "--gaps")]
    for name, *options in specs:
        shutil.copy(recordings.generate("ds-" + name, *options), d / f"{name}.vok")
    return d


def expected(path, table, **options):
    with vokapi.open(path, consistency=2) as rec:
        frame = getattr(rec, table)(as_frame=True, **options)
    frame.insert(0, "recording", str(path))
    return frame


def assert_partitions_equal(frame, paths, table, **options):
    assert frame.npartitions == len(paths)
    got = frame.compute()
    assert list(got.columns) == list(frame._meta.columns), "meta names the columns the data has"
    assert (got.dtypes == frame._meta.dtypes).all(), "and their dtypes"
    want = pd.concat([expected(p, table, **options) for p in paths])
    pd.testing.assert_frame_equal(got.reset_index(drop=True), want.reset_index(drop=True))


def test_samples_and_events_equal_each_recording(folder):
    ds = vokapi.dataset(str(folder / "*.vok"), consistency=2)
    paths = [str(folder / f"{n}.vok") for n in "abc"]
    assert ds.paths == paths
    assert_partitions_equal(ds.samples(), paths, "samples")
    # Options of Recording.samples pass through.
    assert_partitions_equal(ds.samples(columns=["time", "left_gaze_x", "right_pupil_size"], raw=True), paths,
                            "samples", columns=["time", "left_gaze_x", "right_pupil_size"], raw=True)
    assert_partitions_equal(ds.events(), paths, "events")
    trials = ds.trials().compute()
    assert trials.groupby("recording").size().to_dict() == {paths[0]: 1, paths[1]: 2, paths[2]: 1}
    assert (trials.duration == trials.end_time - trials.start_time).all()


def test_meta_comes_from_one_recording(folder, monkeypatch):
    opened = []
    real = vokapi._recording.open

    def counting(path, *args, **kwargs):
        opened.append(path)
        return real(path, *args, **kwargs)

    monkeypatch.setattr(vokapi._recording, "open", counting)
    frame = vokapi.dataset([str(folder), str(folder / "a.vok")]).samples(columns="all")
    assert opened == [str(folder / "b.vok")], "only the smallest file is read for the meta"
    assert frame.npartitions == 4
    assert "left_gaze_vel_x" in frame.columns and frame.columns[0] == "recording"


def test_failures_name_the_path_or_are_skipped(folder, tmp_path):
    bad = tmp_path / "bad.vok"
    bad.write_bytes(b"NOT A RECORDING\n")
    good = str(folder / "a.vok")
    ds = vokapi.dataset([good, str(bad)])
    with pytest.raises(vokapi.RecordingError) as e:
        ds.events().compute()
    assert e.value.path == str(bad) and "Bad magic" in e.value.reason and str(bad) in str(e.value)
    skipped = vokapi.dataset([good, str(bad), str(tmp_path / "missing.vok")], on_error="skip")
    assert skipped.paths == [good]
    assert [p for p, _ in skipped.errors] == [str(bad), str(tmp_path / "missing.vok")]
    assert all(reason for _, reason in skipped.errors)
    assert skipped.events().npartitions == 1
    with pytest.raises(TypeError):
        vokapi.dataset(good, consistancy=2)
    with pytest.raises(ValueError):
        vokapi.dataset(str(tmp_path / "none-*.vok"))


def test_memory_urls_are_copied_and_the_copies_removed(folder, tmp_path, monkeypatch):
    fs = fsspec.filesystem("memory")
    for n in "ab":
        fs.pipe(f"/vokdata/{n}.vok", (folder / f"{n}.vok").read_bytes())
    monkeypatch.setattr("tempfile.tempdir", str(tmp_path))
    ds = vokapi.dataset("memory://vokdata/*.vok", consistency=2)
    assert [p.endswith(f"{n}.vok") for p, n in zip(ds.paths, "ab")] == [True, True]
    got = ds.events().compute(scheduler="sync")
    want = pd.concat([expected(folder / f"{n}.vok", "events") for n in "ab"])
    want["recording"] = [ds.paths[0]] * len(expected(folder / "a.vok", "events")) + \
                        [ds.paths[1]] * len(expected(folder / "b.vok", "events"))
    pd.testing.assert_frame_equal(got.reset_index(drop=True), want.reset_index(drop=True))
    assert not any(f.startswith("vokapi-") for f in os.listdir(tmp_path)), "local copies are removed"


def test_a_local_cluster_of_two_processes(folder):
    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        ds = vokapi.dataset(str(folder / "*.vok"), consistency=2)
        paths = ds.paths
        got = client.compute(ds.samples()).result()
        want = pd.concat([expected(p, "samples") for p in paths])
        pd.testing.assert_frame_equal(got.reset_index(drop=True), want.reset_index(drop=True))
        mean = ds.events().groupby("recording").duration.mean().compute()
        assert sorted(mean.index) == paths
        bad = vokapi.dataset([paths[0], str(folder / "gone.vok")])
        with pytest.raises(vokapi.RecordingError, match="gone.vok"):
            client.compute(bad.events()).result()


def test_without_dask_the_package_works_and_says_what_is_missing(folder, tmp_path):
    # A fresh interpreter in which the Dask modules cannot be imported.
    blocker = tmp_path / "dask.py"
    blocker.write_text("raise ImportError('no dask here')\n")
    code = ("import vokapi\n"
            f"with vokapi.open({str(folder / 'a.vok')!r}) as r: assert len(r.samples()) > 0\n"
            "try:\n    vokapi.dataset('x/*.vok')\nexcept ImportError as e:\n    print(e)\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path), os.path.join(
        os.path.dirname(__file__), "..", "..", "python")]))
    run = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "python3-dask" in run.stdout
