"""The Python package's benchmarks, written as a section of docs/benchmarks.md.

    bench_python.py BUILD_DIR REPORT.md [--quick]

Overhead: the package's Stream.process on 4096-frame blocks against a C++
host feeding the same chain the same blocks through dspSendFloat (compiled
here against the static library and the tool's effect table): the least
thread CPU time of several alternating passes. Batch: the same files through the thread pool
with 1 and 2 jobs and through a LocalCluster of 2 worker processes.
"""

import os
import platform
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np
import soundfile as sf

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BEGIN, END = "<!-- python benchmarks: begin -->", "<!-- python benchmarks: end -->"

FAMILIES = ["resample:rate=48000", "hqups", "eq:high=-6", "geq:g1k=6,g4k=3", "lowpass:freq=3000",
            "highpass:freq=300", "fade:in=1,out=1", "stretch:ratio=1.5", "pitch:cents=300", "chorus"]
RATE, BLOCK = 44100, 4096


def signal(seconds, channels=2, seed=3):
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * RATE)) / RATE
    x = 0.2 * rng.standard_normal((channels, t.size)) + 0.3 * np.sin(2 * np.pi * 330 * t)
    return x.astype(np.float32)


def build_timer(build, out):
    cmd = ["g++", "-O2", "-std=c++20", "-I", os.path.join(ROOT, "tools/dspfx"), "-I", os.path.join(ROOT, "include"),
           os.path.join(HERE, "chain_timer.cpp"), os.path.join(build, "tools/dspfx/libdspfx_effect_table.a"),
           os.path.join(build, "libdspfx.a"), "-o", out]
    subprocess.run(cmd, check=True)


def python_pass(dspfx, chain_text, x):
    """CPU seconds of this thread for the blocks of x through Stream.process
    (the library runs in the calling thread). x is (channels,
    frames) planar, or the transpose of interleaved frames."""
    s = dspfx.Chain.parse(chain_text).stream(RATE, x.shape[0], total_frames=x.shape[1], block=BLOCK)
    blocks = [x[:, a:a + BLOCK] for a in range(0, x.shape[1] - BLOCK + 1, BLOCK)]
    t0 = time.thread_time()
    for b in blocks:
        s.process(b)
    t = time.thread_time() - t0
    s.close()
    return t


def overhead_rows(dspfx, timer, tmp, passes):
    x = signal(10)
    raw = os.path.join(tmp, "signal.f32")
    np.ascontiguousarray(x.T).tofile(raw)
    frames_first = np.ascontiguousarray(x.T).T
    rows = []
    for chain_text in FAMILIES:
        c_best = py_best = ff_best = float("inf")
        for _ in range(passes):
            out = subprocess.run([timer, raw, "2", str(RATE), str(BLOCK), "1", *chain_text.split()],
                                 capture_output=True, text=True, check=True).stdout
            c_best = min(c_best, float(out))
            py_best = min(py_best, python_pass(dspfx, chain_text, x))
            ff_best = min(ff_best, python_pass(dspfx, chain_text, frames_first))
        us = 1e6 / (x.shape[1] // BLOCK)
        rows.append((chain_text, c_best * us, py_best * us, py_best / c_best - 1, ff_best * us, ff_best / c_best - 1))
    return rows


def threads_ratio(dspfx, passes):
    x = signal(4)
    chain = dspfx.Chain.parse("eq:high=-6,bands=512 pitch:cents=300")

    def job():
        chain(x, RATE)

    def wall(n):
        ts = [threading.Thread(target=job) for _ in range(n)]
        t0 = time.perf_counter()
        for t in ts:
            t.start()
        for t in ts:
            t.join()
        return time.perf_counter() - t0

    return min(wall(1) for _ in range(passes)), min(wall(2) for _ in range(passes))


def batch_rows(tmp, passes):
    from dspfx import batch
    src = os.path.join(tmp, "in")
    os.makedirs(src)
    for i in range(16):
        sf.write(os.path.join(src, f"f{i}.wav"), signal(10, seed=i).T, RATE, subtype="PCM_16")
    effects = ["pitch:cents=300", "eq:high=-6"]

    def best(**kw):
        times = []
        for p in range(passes):
            tasks = batch.folder_tasks(src, os.path.join(tmp, f"out{len(times)}{p}"), effects)
            report = batch.run_batch(tasks, progress=False, **kw)
            assert len(report["done"]) == 16, report["failed"]
            times.append((report["wall_seconds"], report["realtime"]))
        return min(times)

    one, two = best(jobs=1), best(jobs=2)
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster):
        warm = best(scheduler=cluster.scheduler_address)
    t0 = time.perf_counter()
    batch.run_batch(batch.folder_tasks(src, os.path.join(tmp, "cold"), effects), scheduler="local:2",
                    progress=False)
    cold = time.perf_counter() - t0
    return one, two, warm, cold


def section(rows, threads, batches, quick):
    one, two, warm, cold = batches
    load = ", ".join(f"{v:.2f}" for v in os.getloadavg())
    lines = [BEGIN, "## Python package", "",
             "Generated by `python/bench/bench_python.py` (`make bench-python`, also run by `make bench-report`).",
             "",
             f"- Date: {time.strftime('%Y-%m-%dT%H:%M:%S%z')}; Python {platform.python_version()}, "
             f"NumPy {np.__version__}; {os.cpu_count()} logical cores",
             f"- Load average when the run ended: {load}" + (" (a shared machine: timings are noisy)"
                                                             if os.getloadavg()[0] > 1.5 else ""),
             f"- {'Quick run: ' if quick else ''}best of {PASSES} alternating passes per row", "",
             "### Overhead over the C library, 4096-frame blocks", "",
             "10 s of stereo 44100 Hz float audio in 4096-frame blocks, CPU time of the processing thread. *C* is a C++ host calling `dspSendFloat` on "
             "interleaved blocks; *Python* is `Stream.process` on (2, 4096) float32 arrays: planar ones (interleaved "
             "by a copy), and frames-first ones (the transpose of interleaved memory, as soundfile reads them: "
             "passed in place). Both copy the output once. Target: overhead at most 5 %.", "",
             "| effect | C µs/block | Python µs/block | overhead | frames-first µs/block | overhead | target met |",
             "|---|---:|---:|---:|---:|---:|---|"]
    for chain_text, c_us, py_us, over, ff_us, ff_over in rows:
        lines.append(f"| `{chain_text}` | {c_us:.1f} | {py_us:.1f} | {over * 100:+.1f} % | {ff_us:.1f} | "
                     f"{ff_over * 100:+.1f} % | {'yes' if min(over, ff_over) <= 0.05 else 'no'} |")
    met = sum(1 for r in rows if min(r[3], r[5]) <= 0.05)
    lines += ["", f"{met} of {len(rows)} families within 5 %.", "",
              "### Threads and batch", "",
              "| measurement | value | target | met |", "|---|---:|---:|---|",
              f"| one chain call on 4 s, 2 threads / 1 thread wall time | {threads[1] / threads[0]:.2f} | about 1 | "
              f"{'yes' if threads[1] / threads[0] < 1.3 else 'no'} |",
              f"| batch, 16 files x 10 s: thread pool, 1 job | {one[0]:.2f} s ({one[1]:.0f}x real time) | | |",
              f"| batch: thread pool, 2 jobs | {two[0]:.2f} s ({two[1]:.0f}x real time); {one[0] / two[0]:.2f}x one job "
              f"| >= 1.8x | {'yes' if one[0] / two[0] >= 1.8 else 'no'} |",
              f"| batch: LocalCluster, 2 worker processes (started beforehand) | {warm[0]:.2f} s; "
              f"{warm[0] / two[0]:.2f}x the thread pool's time | <= 1.15x | {'yes' if warm[0] / two[0] <= 1.15 else 'no'} |",
              f"| batch: `--scheduler local:2` including the cluster's start | {cold:.2f} s | | |",
              "", END, ""]
    return "\n".join(lines)


def splice(path, text):
    old = open(path).read() if os.path.exists(path) else ""
    if BEGIN in old and END in old:
        new = old[:old.index(BEGIN)] + text + old[old.index(END) + len(END):].lstrip("\n")
    else:
        new = old.rstrip("\n") + "\n\n" + text
    with open(path, "w") as f:
        f.write(new)


PASSES = 5


def main(argv):
    global PASSES
    if len(argv) < 3:
        print(__doc__)
        return 2
    build, report = argv[1], argv[2]
    quick = "--quick" in argv
    PASSES = 2 if quick else 5
    os.environ.setdefault("DSPFX_LIBRARY", os.path.join(build, "libdspfx.so"))
    sys.path.insert(0, os.path.dirname(HERE))
    import dspfx
    with tempfile.TemporaryDirectory() as tmp:
        timer = os.path.join(tmp, "chain_timer")
        build_timer(build, timer)
        rows = overhead_rows(dspfx, timer, tmp, PASSES)
        for r in rows:
            print(f"{r[0]:24s} C {r[1]:8.1f} us  Python {r[2]:8.1f} us  {r[3] * 100:+6.1f} %  "
                  f"frames-first {r[4]:8.1f} us {r[5] * 100:+6.1f} %")
        threads = threads_ratio(dspfx, PASSES)
        batches = batch_rows(tmp, 2 if quick else 3)
    text = section(rows, threads, batches, quick)
    splice(report, text)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
