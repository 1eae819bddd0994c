"""BIDS datasets: `vok bids` (through vokapi.bids.write) checked by the
independent checker and Debian's bids_validator, and read back with
vokapi.bids.read against what the library walks.  Grouped by rule: naming,
samples, events, metadata, failures."""

import gzip
import os
import shutil
import subprocess

import numpy as np
import pytest

import vokapi
import vokapi.bids as bids
from bids_checker import check_dataset, validator_verdicts

DISPLAY = {"ScreenSize": [0.53, 0.30], "ScreenDistance": 0.6, "ScreenOrigin": ["top", "left"],
           "ScreenResolution": [1920, 1080]}
EYE_KINDS = ("fixation", "saccade", "blink")


@pytest.fixture(scope="module", autouse=True)
def tool():
    if not os.environ.get("VOKAPI_TOOL"):
        pytest.skip("VOKAPI_TOOL does not name the built vok program")
    return os.environ["VOKAPI_TOOL"]


@pytest.fixture(scope="module")
def fixtures(tmp_path_factory):
    program = os.environ.get("VOKAPI_TEST_BIDS_FIXTURES")
    if not program:
        pytest.skip("VOKAPI_TEST_BIDS_FIXTURES does not name the fixture writer")
    folder = tmp_path_factory.mktemp("bids-fixtures")
    subprocess.run([program, str(folder)], check=True)
    return folder


def run_tool(*args):
    return subprocess.run([os.environ["VOKAPI_TOOL"], "bids", "--no-progress", *map(str, args)],
                          capture_output=True, text=True)


def only_run(dataset):
    ds = bids.read(dataset)
    assert len(ds.runs) == 1
    return ds.runs[0]


# --------------------------------------------------------------------------
# Round trip: what the dataset holds equals what the library walks

def assert_round_trip(path, run, consistency=1, tolerant=False, trial_start=None, trial_end=None,
                      extra_messages=False):
    columns = ["time"] + [f"{e}_{c}" for e in ("left", "right") for c in ("gaze_x", "gaze_y", "pupil_size")]
    with vokapi.open(path, consistency=consistency, tolerant=tolerant, extra_messages=extra_messages) as rec:
        lib = rec.samples(columns=columns, as_frame=True)
        events = rec.events(as_frame=True)
        trials = rec.trials(start=trial_start, end=trial_end)
    times = lib["time"].to_numpy()
    assert len(times) > 0
    for eye in ("left", "right"):
        got = run.samples(eye)
        values = lib[[f"{eye}_gaze_x", f"{eye}_gaze_y", f"{eye}_pupil_size"]].to_numpy(np.float32)
        if got.empty:
            assert np.isnan(values).all(), f"{eye} eye recorded but not written"
            continue
        table = got.set_index("timestamp")
        assert table.index.is_unique
        rows = table.loc[times, ["x_coordinate", "y_coordinate", "pupil_size"]].to_numpy().astype(np.float32)
        np.testing.assert_array_equal(rows, values)  # NaN where n/a, equal elsewhere
        others = table.drop(index=times)
        assert others[["x_coordinate", "y_coordinate", "pupil_size"]].isna().all().all()

        written = run.events(eye)
        mine = events[(events["eye"] == eye) & events["type"].isin(EYE_KINDS)]
        expected = sorted(zip(mine["type"], mine["start_time"], mine["duration"].fillna(-1)))
        eye_rows = written[written["trial_type"].isin(EYE_KINDS)]
        assert sorted(zip(eye_rows["trial_type"], eye_rows["onset"], eye_rows["duration"].fillna(-1))) == expected
        for kind, column, value in (("message", "text", "message"), ("button", "buttons", "value"),
                                    ("input", "input", "value")):
            lib_rows = events[events["type"] == kind].copy()
            # A line of the extra message file is its text after the time.
            lib_rows.loc[lib_rows["extra"], "text"] = lib_rows.loc[lib_rows["extra"], "text"].str.strip()
            bids_rows = written[written["trial_type"] == kind]
            expect = sorted(zip(lib_rows["start_time"], lib_rows[column].astype(str)))
            got_rows = bids_rows[value].astype(float).astype(int).astype(str) if value == "value" else bids_rows[value]
            assert sorted(zip(bids_rows["onset"], got_rows)) == expect, kind

    lists = events[~events["extra"]]
    texts = dict(zip(lists["position"], lists["text"]))
    assert list(run.trials["trial"]) == list(range(1, len(trials) + 1))
    starts = np.array([t.header.start_time for t in trials], dtype=float)
    onsets = run.trials["onset"].to_numpy() * 1000
    np.testing.assert_allclose(onsets - onsets[0], starts - starts[0], atol=1e-6)
    np.testing.assert_allclose(run.trials["duration"].to_numpy() * 1000, [t.header.duration for t in trials])
    for t, message in zip(trials, run.trials["message"]):
        expected = texts.get(t.first)
        assert (message if isinstance(message, str) else None) == expected


VARIANTS = {
    "binocular-1000": ("--seed", "11", "--duration-ms", "4000", "--blocks", "3", "--pause-ms", "700"),
    "left-250-gaps": ("--seed", "12", "--duration-ms", "6000", "--rate", "250", "--eyes", "left", "--gaps",
                      "--blocks", "2"),
    "right-2000-gaps": ("--seed", "13", "--duration-ms", "2500", "--rate", "2000", "--eyes", "right", "--gaps",
                        "--blocks", "2"),
    "binocular-500-compressed": ("--seed", "14", "--duration-ms", "3000", "--rate", "500", "--compressed",
                                 "--blocks", "2"),
}


@pytest.mark.parametrize("variant", sorted(VARIANTS))
def test_samples_events_and_trials_round_trip(recordings, tmp_path, variant):
    path = recordings.generate(variant, *VARIANTS[variant])
    consistency = 2 if "gaps" in variant else 1  # placeholders fill the gaps at level 2
    bids.write(path, tmp_path, task="T", display=DISPLAY, consistency=consistency)
    assert check_dataset(tmp_path) == []
    assert_round_trip(path, only_run(tmp_path), consistency=consistency)


def test_damaged_recording_in_tolerant_mode_round_trips(recordings, vokgen, tmp_path):
    whole = recordings.generate("whole", "--seed", "15", "--duration-ms", "3000", "--blocks", "2")
    cut = str(tmp_path / "cut.vok")
    subprocess.run([vokgen, "generate", cut, "--seed", "15", "--duration-ms", "3000", "--blocks", "2", "--cut",
                    str(os.path.getsize(whole) * 2 // 3)], check=True, capture_output=True)
    bids.write(cut, tmp_path / "ds", task="T", display=DISPLAY, tolerant=True)
    assert check_dataset(tmp_path / "ds") == []
    assert_round_trip(cut, only_run(tmp_path / "ds"), tolerant=True)


def test_blocks_at_two_rates_are_separate_recordings(fixtures, tmp_path):
    path = fixtures / "multirate.vok"
    bids.write(path, tmp_path, task="T", display=DISPLAY, trial_start="TRIAL_START", trial_end="TRIAL_END")
    assert check_dataset(tmp_path) == []
    run = only_run(tmp_path)
    meta = {label: (r.metadata["SamplingFrequency"], r.metadata["RecordedEye"], r.metadata["StartTime"])
            for label, r in run.recordings.items()}
    assert meta == {"eye1": (500, "left", 0), "eye2": (500, "right", 0),
                    "eye1seg2": (1000, "left", 2.0), "eye2seg2": (1000, "right", 2.0)}
    # The second part runs from 3000 to 5499 ms: the time between its blocks
    # and the blocks of the other eye are n/a rows.
    left = run.recordings["eye1seg2"].samples
    assert len(left) == 2500 and left["timestamp"].iloc[-1] == 5499
    assert left.loc[left["timestamp"] >= 4000, "x_coordinate"].isna().all()
    assert_round_trip(str(path), run, trial_start="TRIAL_START", trial_end="TRIAL_END")


def test_half_milliseconds_and_missing_values_are_written_to_the_letter(recordings, tmp_path):
    path = recordings.generate("half", "--seed", "16", "--duration-ms", "1000", "--rate", "2000", "--gaps")
    bids.write(path, tmp_path, task="T", display=DISPLAY, consistency=2)
    name = next(p for p in (tmp_path / "sub-half" / "beh").iterdir() if p.name.endswith("eye1_physio.tsv.gz"))
    lines = gzip.decompress(name.read_bytes()).decode().splitlines()
    stamps = [line.split("\t")[0] for line in lines[:4]]
    assert stamps[1] == stamps[0] + ".5" and stamps[2] == str(int(stamps[0]) + 1)
    missing = [line for line in lines if "n/a" in line]
    assert missing and all(line.split("\t")[1:] == ["n/a"] * 3 for line in missing)


# --------------------------------------------------------------------------
# Naming

def test_subjects_from_stem_pattern_and_map(recordings, tmp_path):
    src = tmp_path / "src"
    src.mkdir()
    for name in ("P-01_reading_2.vok", "P-02_reading_1.vok"):
        shutil.copy(recordings.generate("small", "--seed", "17", "--duration-ms", "500"), src / name)

    bids.write(src, tmp_path / "stem", task="free", display=DISPLAY)
    assert sorted(r.entities["sub"] for r in bids.read(tmp_path / "stem").runs) == ["P01reading2", "P02reading1"]

    bids.write(src, tmp_path / "pattern", pattern="{sub}_{task}_{run}.vok", session="a", display=DISPLAY)
    entities = sorted(tuple(sorted(r.entities.items())) for r in bids.read(tmp_path / "pattern").runs)
    assert entities == [(("run", "1"), ("ses", "a"), ("sub", "P02"), ("task", "reading")),
                        (("run", "2"), ("ses", "a"), ("sub", "P01"), ("task", "reading"))]
    assert (tmp_path / "pattern" / "sub-P01" / "ses-a" / "beh" /
            "sub-P01_ses-a_task-reading_run-2_events.tsv").exists()

    table = tmp_path / "map.tsv"
    table.write_text("path\tsub\tses\ttask\trun\n"
                     "src/P-01_reading_2.vok\t07\t1\tvisual\tn/a\n"
                     "P-02_reading_1.vok\t08\tn/a\tvisual\t3\n")
    bids.write(src, tmp_path / "map", map=table, display=DISPLAY)
    ds = bids.read(tmp_path / "map")
    assert sorted(r.prefix for r in ds.runs) == ["sub-07_ses-1_task-visual", "sub-08_task-visual_run-3"]
    assert list(ds.participants["participant_id"]) == ["sub-07", "sub-08"]
    for folder in ("stem", "pattern", "map"):
        assert check_dataset(tmp_path / folder) == []

    # Debian's validator predates the eye-tracking event files: it judges
    # every other name and accepts them; the physioevents names are the ones
    # it cannot judge.
    accepted, rejected = validator_verdicts(tmp_path / "map")
    assert rejected and all("_physioevents." in name for name in rejected)
    assert any(name.endswith("_physio.tsv.gz") for name in accepted)


def test_two_recordings_with_one_name_stop_before_anything_is_written(recordings, tmp_path):
    a, b = tmp_path / "a", tmp_path / "b"
    a.mkdir()
    b.mkdir()
    path = recordings.generate("same", "--seed", "18", "--duration-ms", "500")
    shutil.copy(path, a / "s1.vok")
    shutil.copy(path, b / "s-1.vok")
    done = run_tool("-o", tmp_path / "ds", "--task", "T", "--display", write_display(tmp_path), a, b)
    assert done.returncode == 2
    assert str(a / "s1.vok") in done.stderr and str(b / "s-1.vok") in done.stderr
    assert not (tmp_path / "ds").exists()
    no_task = run_tool("-o", tmp_path / "ds", "--display", write_display(tmp_path), a)
    assert no_task.returncode == 2 and "--task" in no_task.stderr


def write_display(folder, values=None):
    import json
    path = folder / "display.json"
    path.write_text(json.dumps(DISPLAY if values is None else values))
    return path


# --------------------------------------------------------------------------
# Events

def test_messages_buttons_and_inputs_in_both_eyes_files(fixtures, tmp_path):
    bids.write(fixtures / "multirate.vok", tmp_path, task="T", display=DISPLAY, trial_start="TRIAL_START",
               trial_end="TRIAL_END")
    run = only_run(tmp_path)
    for label in ("eye1", "eye2"):
        ev = run.recordings[label].events
        messages = list(ev.loc[ev["trial_type"] == "message", "message"])
        assert messages == ["DISPLAY_COORDS 0 0 1279 1023", "TRIAL_START 1", 'text with\ta tab and "quotes"', "n/a",
                            "TRIAL_END 1"]
        assert list(ev.loc[ev["trial_type"] == "button", "value"]) == [0x0101]
    raw = gzip.decompress((tmp_path / "sub-multirate" / "beh" /
                           "sub-multirate_task-T_recording-eye1_physioevents.tsv.gz").read_bytes()).decode()
    assert '\t"text with\ta tab and ""quotes"""\t' in raw and '\t"n/a"\t' in raw
    assert list(run.recordings["eye1seg2"].events["trial_type"]) == ["message", "input", "fixation", "message"]
    # Block starts before a start message begin short trials of their own
    # (the library's trial rules): those have no message.
    assert [m for m in run.trials["message"] if isinstance(m, str)] == ["TRIAL_START 1", "TRIAL_START 2"]


def test_extra_messages_are_merged_into_the_events(recordings, tmp_path):
    path = recordings.generate("extra", "--seed", "25", "--duration-ms", "2000")
    with vokapi.open(path) as rec:
        start = rec.blocks[0]["start_time"]
    log = tmp_path / "extra.log"
    log.write_text(f"100 TRACKER_TIME 0 {start}\n350 stimulus on\n900 stimulus off\n1000 Quit logger\n")
    bids.write(path, tmp_path / "ds", task="T", display=DISPLAY, extra_messages=log)
    run = only_run(tmp_path / "ds")
    ev = run.events("left")
    assert {"stimulus on", "stimulus off"} <= set(ev["message"].dropna())
    assert_round_trip(path, run, extra_messages=str(log))


# --------------------------------------------------------------------------
# Metadata

def test_metadata_comes_from_the_recording_and_nothing_is_invented(recordings, fixtures, tmp_path):
    plain = recordings.generate("plain", "--seed", "19", "--duration-ms", "500", "--tracker-revision", "1",
                                "--revision", "0")
    bids.write(plain, tmp_path / "plain", task="T", display=DISPLAY, velocities=True)
    meta = next(iter(only_run(tmp_path / "plain").recordings.values())).metadata
    assert not {"Manufacturer", "ManufacturersModelName", "SoftwareVersions"} & set(meta)
    assert meta["Columns"] == ["timestamp", "x_coordinate", "y_coordinate", "pupil_size", "x_velocity",
                               "y_velocity"]

    # Display from the file, overridden by an option; the resolution from
    # the recording's DISPLAY_COORDS when the user gives none.
    display = write_display(tmp_path, {k: v for k, v in DISPLAY.items() if k != "ScreenResolution"})
    done = run_tool("-o", tmp_path / "multi", "--task", "T", "--display", display, "--screen-distance", "0.7",
                    fixtures / "multirate.vok")
    assert done.returncode == 0, done.stderr
    run = only_run(tmp_path / "multi")
    assert run.task_metadata["StimulusPresentation"] == {"ScreenDistance": 0.7, "ScreenOrigin": ["top", "left"],
                                                         "ScreenResolution": [1280, 1024],
                                                         "ScreenSize": [0.53, 0.3]}
    first, second = run.recordings["eye1"].metadata, run.recordings["eye1seg2"].metadata
    assert (first["Manufacturer"], first["ManufacturersModelName"], first["SoftwareVersions"]) == (
        "TARNVIK", "TARNVIK RX", "TARNVIK MK 5.0")
    assert "area" in first["pupil_size"]["Description"] and "diameter" in second["pupil_size"]["Description"]

    # The user's resolution wins over the recording's, with a warning.
    done = run_tool("-o", tmp_path / "multi", "--task", "T", "--display", write_display(tmp_path), "--overwrite",
                    fixtures / "multirate.vok")
    assert done.returncode == 0 and "1280x1024" in done.stderr and "1920x1080" in done.stderr
    assert only_run(tmp_path / "multi").task_metadata["StimulusPresentation"]["ScreenResolution"] == [1920, 1080]


def test_reruns_give_the_same_bytes(recordings, tmp_path):
    path = recordings.generate("again", "--seed", "20", "--duration-ms", "800", "--blocks", "2")
    for out in ("one", "two"):
        bids.write(path, tmp_path / out, task="T", display=DISPLAY)
    files = sorted(p.relative_to(tmp_path / "one") for p in (tmp_path / "one").rglob("*") if p.is_file())
    assert files
    for f in files:
        if f.name != "dataset_description.json":  # names its folder
            assert (tmp_path / "one" / f).read_bytes() == (tmp_path / "two" / f).read_bytes(), f


# --------------------------------------------------------------------------
# Failures

def test_a_damaged_recording_fails_alone(recordings, vokgen, tmp_path):
    good = recordings.generate("good", "--seed", "21", "--duration-ms", "800")
    bad = tmp_path / "bad.vok"
    subprocess.run([vokgen, "generate", str(bad), "--seed", "21", "--duration-ms", "800", "--cut", "3000"],
                   check=True, capture_output=True)
    with pytest.raises(bids.BidsWriteError) as err:
        bids.write([bad, good], tmp_path / "ds", task="T", display=DISPLAY, jobs=2)
    assert err.value.returncode == 1 and str(bad) in err.value.stderr and "damaged" in err.value.stderr
    assert err.value.converted == [good]
    assert [r.entities["sub"] for r in bids.read(tmp_path / "ds").runs] == ["good"]
    assert not (tmp_path / "ds" / "sub-bad").exists() or not any((tmp_path / "ds" / "sub-bad").rglob("*.*"))
    assert check_dataset(tmp_path / "ds") == []


def test_unknown_display_values_are_named(recordings, tmp_path):
    path = recordings.generate("nodisplay", "--seed", "22", "--duration-ms", "500")
    done = run_tool("-o", tmp_path / "ds", "--task", "T", "--screen-size", "0.5,0.3", path)
    assert done.returncode == 2 and "ScreenDistance" in done.stderr and "ScreenOrigin" in done.stderr
    assert "ScreenSize" not in done.stderr.split("missing:")[1].split("give")[0]
    assert not (tmp_path / "ds").exists()
    # The generated recording has no DISPLAY_COORDS: the resolution is unknown.
    partial = {k: v for k, v in DISPLAY.items() if k != "ScreenResolution"}
    with pytest.raises(bids.BidsWriteError) as err:
        bids.write(path, tmp_path / "ds", task="T", display=partial)
    assert "ScreenResolution" in err.value.stderr and "--screen-resolution" in err.value.stderr
    bids.write(path, tmp_path / "custom", task="T", custom_coordinates=True)
    run = only_run(tmp_path / "custom")
    assert run.recordings["eye1"].metadata["SampleCoordinateSystem"] == "custom"
    assert check_dataset(tmp_path / "custom") == []


def test_existing_files_are_replaced_only_when_asked_and_others_kept(recordings, tmp_path):
    path = recordings.generate("keep", "--seed", "23", "--duration-ms", "500")
    ds = tmp_path / "ds"
    (ds / "sub-other" / "beh").mkdir(parents=True)
    (ds / "README").write_text("our study\n")
    (ds / "participants.tsv").write_text("participant_id\tage\nsub-other\t31\n")
    (ds / "sub-other" / "beh" / "notes.txt").write_text("kept\n")
    bids.write(path, ds, task="T", display=DISPLAY)
    assert (ds / "participants.tsv").read_text() == "participant_id\tage\nsub-keep\tn/a\nsub-other\t31\n"
    with pytest.raises(bids.BidsWriteError) as err:
        bids.write(path, ds, task="T", display=DISPLAY)
    assert "--overwrite" in err.value.stderr
    bids.write(path, ds, task="T", display=DISPLAY, overwrite=True)
    assert (ds / "README").read_text() == "our study\n"
    assert (ds / "sub-other" / "beh" / "notes.txt").exists()
    assert not [p for p in ds.rglob(".*")]  # no temporary file stays behind


def test_the_checker_finds_broken_rules(recordings, tmp_path):
    path = recordings.generate("broken", "--seed", "24", "--duration-ms", "500")
    bids.write(path, tmp_path, task="T", display=DISPLAY)
    beh = tmp_path / "sub-broken" / "beh"
    physio = beh / "sub-broken_task-T_recording-eye1_physio.tsv.gz"
    lines = gzip.decompress(physio.read_bytes()).decode().splitlines(keepends=True)
    lines[5] = lines[5].split("\t")[0] + "\t0\t0\t0\n"  # a missing value as 0
    del lines[9]  # a hole in the grid
    physio.write_bytes(gzip.compress(("timestamp\tx_coordinate\ty_coordinate\tpupil_size\n" + "".join(lines))
                                     .encode(), mtime=0))
    (beh / "sub-broken_task-T_events.json").write_text('{"TaskName": "T", "StimulusPresentation": {}}')
    (tmp_path / "participants.tsv").write_text("participant_id\nsub-someone\n")
    text = "\n".join(check_dataset(tmp_path))
    for rule in ("no header row", "StimulusPresentation lacks", "participants.tsv lists"):
        assert rule in text
    physio.write_bytes(gzip.compress("".join(lines).encode(), mtime=0))
    text = "\n".join(check_dataset(tmp_path))
    assert "all 0" in text and "off the regular grid" in text
