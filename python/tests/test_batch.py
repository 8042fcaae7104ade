import glob
import os
import signal
import threading
import time

import pytest
import soundfile as sf

import dspfx
from dspfx import batch
from dspfx.io import PART_TAG
from conftest import noise

CHAIN = ["pitch:cents=300", "eq:high=-6", "gain:db=-3"]


def make_inputs(d, count, seconds=1.0):
    d.mkdir()
    for i in range(count):
        x = noise(2, int(48000 * seconds) + 100 * i, seed=i)
        sf.write(str(d / f"f{i}.wav"), x.T, 48000, subtype="PCM_16")
    (d / "bad.wav").write_bytes(b"RIFF\x10\x00\x00\x00WAVEfmt nothing useful")
    return sorted(str(p) for p in d.glob("f*.wav"))


def contents(folder):
    return {os.path.basename(p): open(p, "rb").read() for p in glob.glob(os.path.join(folder, "*"))}


def leftovers(folder):
    return [p for p in os.listdir(folder) if PART_TAG in p]


def test_folder_on_threads(tmp_path, capsys):
    srcs = make_inputs(tmp_path / "in", 4)
    out = tmp_path / "out"
    code = batch.main([str(tmp_path / "in"), *CHAIN, "--out", str(out), "--jobs", "2"])
    report = capsys.readouterr()
    assert code == 1, "a failed file makes the exit code 1"
    assert "4 files done, 1 failed" in report.out and "bad.wav" in report.out
    assert "[####" in report.err, "a progress bar on stderr"
    assert sorted(contents(out)) == [f"f{i}.wav" for i in range(4)] and not leftovers(out)
    # The same bytes as the files processed one at a time.
    for src in srcs:
        one = str(tmp_path / "one.wav")
        dspfx.process_file(src, one, CHAIN)
        assert open(one, "rb").read() == contents(out)[os.path.basename(src)]


def test_manifest_with_per_file_parameters(tmp_path):
    srcs = make_inputs(tmp_path / "in", 2)
    manifest = tmp_path / "list.csv"
    manifest.write_text("input,output,pitch.cents,effects\n"
                        f"{srcs[0]},a/up.wav,700,\n"
                        f"{srcs[1]},b/down.wav,,pitch:cents=-500 lowpass:freq=2000\n"
                        f"{srcs[1]},c/same.wav,,\n")
    tasks = batch.manifest_tasks(str(manifest), str(tmp_path / "out"), CHAIN)
    report = batch.run_batch(tasks, jobs=2, progress=False)
    assert len(report["done"]) == 3 and not report["failed"]
    expect = [(srcs[0], "a/up.wav", ["pitch:cents=700", "eq:high=-6", "gain:db=-3"]),
              (srcs[1], "b/down.wav", ["pitch:cents=-500", "lowpass:freq=2000"]),
              (srcs[1], "c/same.wav", CHAIN)]
    for src, dst, chain in expect:
        one = str(tmp_path / "one.wav")
        dspfx.process_file(src, one, chain)
        assert open(one, "rb").read() == open(tmp_path / "out" / dst, "rb").read(), dst
    manifest.write_text("input,output,nosuch.x\na.wav,b.wav,1\n")
    with pytest.raises(ValueError):
        batch.manifest_tasks(str(manifest), None, CHAIN)


def test_cluster_worker_killed_mid_file(tmp_path):
    pytest.importorskip("distributed", reason="dask.distributed is missing (Debian: python3-distributed)")
    make_inputs(tmp_path / "in", 5, seconds=2.0)
    local, remote = tmp_path / "local", tmp_path / "cluster"
    heavy = ["eq:high=-6,bands=512", "pitch:cents=300"]
    batch.run_batch(batch.folder_tasks(str(tmp_path / "in"), str(local), heavy), jobs=2, progress=False)

    killed = []

    def killer():
        # A part file names the pid of the worker writing it: kill that one
        # while it writes, so its file is lost halfway.
        deadline = time.time() + 60
        while time.time() < deadline and not killed:
            for name in leftovers(remote) if remote.exists() else []:
                pid = int(name.rsplit(PART_TAG, 1)[1].split("-")[0][12:])
                if pid != os.getpid():
                    os.kill(pid, signal.SIGKILL)
                    killed.append(name)
                    return
            time.sleep(0.005)

    watcher = threading.Thread(target=killer)
    watcher.start()
    tasks = batch.folder_tasks(str(tmp_path / "in"), str(remote), heavy)
    report = batch.run_batch(tasks, scheduler="local:2", progress=False)
    watcher.join()
    assert killed, "no worker was caught writing"
    assert len(report["done"]) == 5 and [os.path.basename(r["src"]) for r in report["failed"]] == ["bad.wav"]
    assert contents(remote) == contents(local), "every file, identical to the local executor's"
    assert not leftovers(remote)
