"""One chain over many files: a local thread pool or a Dask cluster.

Each file is one task: read, process, write under a temporary name, rename.
A task that fails (a bad file) reports its reason and the batch goes on. On
a cluster a task whose worker dies is run again elsewhere; whatever a killed
task left half-written carries the batch's tag and is removed at the end.
"""

import argparse
import csv
import fnmatch
import glob
import os
import sys
import time
import traceback
import uuid
from concurrent.futures import ThreadPoolExecutor, as_completed

from .effects import BLOCK, parse_effect
from .io import PART_TAG, process_file


class BatchError(ValueError):
    """A batch that cannot start: bad arguments or manifest."""


def run_task(task, tag):
    """Processes one file; returns a result record and never raises for a
    file's own faults, so that a cluster does not retry a bad file."""
    start, cpu = time.perf_counter(), time.thread_time()
    result = {"src": task["src"], "dst": task["dst"], "ok": False, "error": None, "seconds": 0.0}
    try:
        effects = [parse_effect(e) for e in task["effects"]]
        for key, value in task.get("overrides", {}).items():
            family, _, param = key.partition(".")
            target = next((e for e in effects if e.family == family), None)
            if target is None:
                raise ValueError(f"{key}: the chain has no {family} effect")
            setattr(target, param, value)
        os.makedirs(os.path.dirname(os.path.abspath(task["dst"])), exist_ok=True)
        seconds, clipped = process_file(task["src"], task["dst"], effects, block=task.get("block", BLOCK),
                                  subtype=task.get("subtype"), part_tag=tag)
        result.update(ok=True, seconds=seconds, clipped=clipped)
    except Exception as e:  # a bad file is reported, not fatal
        result["error"] = f"{type(e).__name__}: {e}"
    result["wall"] = time.perf_counter() - start
    result["cpu"] = time.thread_time() - cpu
    return result


def folder_tasks(src_dir, out_dir, effects, pattern="*.wav", recursive=False):
    src_dir, out_dir = os.path.abspath(src_dir), os.path.abspath(out_dir)
    if src_dir == out_dir:
        raise BatchError("the output folder must not be the input folder")
    names = glob.glob(os.path.join(src_dir, "**" if recursive else "", "*"), recursive=recursive)
    files = sorted(p for p in names if os.path.isfile(p) and fnmatch.fnmatch(os.path.basename(p), pattern)
                   and not os.path.commonpath([p, out_dir]) == out_dir)
    return [{"src": p, "dst": os.path.join(out_dir, os.path.relpath(p, src_dir)), "effects": list(effects)}
            for p in files]


def manifest_tasks(path, out_dir, effects):
    """Rows of a CSV with the columns input, output and optionally effects
    (a chain in the tool's syntax, replacing the command line's) and
    family.parameter columns (pitch.cents) that set one parameter for that
    row. Relative inputs are relative to the manifest, relative outputs to
    out_dir (default: the manifest's folder)."""
    base = os.path.dirname(os.path.abspath(path))
    out_base = os.path.abspath(out_dir) if out_dir else base
    tasks = []
    with open(path, newline="") as f:
        reader = csv.DictReader(f)
        cols = reader.fieldnames or []
        if "input" not in cols or "output" not in cols:
            raise BatchError(f"{path}: a manifest needs the columns input and output")
        params = [c for c in cols if "." in c]
        for c in params:
            family = c.partition(".")[0]
            parse_effect(family)  # unknown families are refused before anything runs
        for line, row in enumerate(reader, start=2):
            if not (row.get("input") or "").strip():
                continue
            chain = (row.get("effects") or "").split() or list(effects)
            if not chain:
                raise BatchError(f"{path}:{line}: no effects (give them on the command line or in 'effects')")
            overrides = {}
            for c in params:
                v = (row.get(c) or "").strip()
                if v:
                    try:
                        overrides[c] = float(v)
                    except ValueError:
                        raise BatchError(f"{path}:{line}: {c} = {v!r} is not a number") from None
            tasks.append({"src": os.path.join(base, row["input"].strip()),
                          "dst": os.path.join(out_base, row["output"].strip()),
                          "effects": chain, "overrides": overrides})
    return tasks


class Progress:
    """A one-line bar on a stream, redrawn as files finish."""

    def __init__(self, total, stream=None, enabled=True):
        self.total, self.stream, self.enabled, self.done, self.failed = total, stream, enabled, 0, 0

    def update(self, ok):
        self.done += 1
        self.failed += 0 if ok else 1
        if not self.enabled or not self.total:
            return
        width = 40
        filled = self.done * width // self.total
        bad = f", {self.failed} failed" if self.failed else ""
        self.stream.write(f"\rbatch [{'#' * filled}{' ' * (width - filled)}] {self.done}/{self.total}{bad}")
        self.stream.flush()

    def close(self):
        if self.enabled and self.total:
            self.stream.write("\n")
            self.stream.flush()


def _sweep_parts(tasks, tag):
    """Removes files a killed task left under its temporary name."""
    removed = 0
    for d in {os.path.dirname(os.path.abspath(t["dst"])) for t in tasks}:
        for p in glob.glob(os.path.join(glob.escape(d), f".*{PART_TAG}{tag}*")):
            try:
                os.remove(p)
                removed += 1
            except FileNotFoundError:
                pass
    return removed


def run_local(tasks, tag, jobs, on_result):
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(run_task, t, tag) for t in tasks]
        for fut in as_completed(futures):
            on_result(fut.result())


def run_dask(tasks, tag, scheduler, on_result, cluster_options=None):
    try:
        from distributed import Client, LocalCluster
        from distributed import as_completed as dask_completed
    except ImportError as e:
        raise BatchError("--scheduler needs dask.distributed (Debian: python3-distributed)") from e
    cluster = None
    if scheduler.startswith("local:"):
        try:
            n = int(scheduler[len("local:"):])
        except ValueError:
            n = 0
        if n < 1:
            raise BatchError("--scheduler local:N needs a number of workers N >= 1")
        options = {"n_workers": n, "threads_per_worker": 1, "processes": True, "dashboard_address": None}
        options.update(cluster_options or {})
        cluster = LocalCluster(**options)
        client = Client(cluster)
    else:
        client = Client(scheduler)
    try:
        # Distinct keys: the same file twice in one batch is two tasks.
        futures = client.map(run_task, tasks, tag=tag, pure=False)
        by_future = dict(zip(futures, tasks))
        for fut in dask_completed(futures):
            try:
                on_result(fut.result())
            except Exception as e:  # the task could not run at all (every retry's worker died)
                t = by_future[fut]
                on_result({"src": t["src"], "dst": t["dst"], "ok": False, "seconds": 0.0, "wall": 0.0,
                           "error": f"{type(e).__name__}: {e}"})
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def run_batch(tasks, jobs=None, scheduler=None, progress=True, stream=None, cluster_options=None):
    """Runs every task; returns the report: done and failed records, the
    seconds of audio processed, the wall time and the real-time factor."""
    tag = uuid.uuid4().hex[:12]
    results = []
    bar = Progress(len(tasks), stream or sys.stderr, progress)

    def on_result(r):
        results.append(r)
        bar.update(r["ok"])

    start = time.perf_counter()
    try:
        if scheduler:
            run_dask(tasks, tag, scheduler, on_result, cluster_options)
        else:
            run_local(tasks, tag, jobs or os.cpu_count() or 1, on_result)
    finally:
        bar.close()
        _sweep_parts(tasks, tag)
    wall = time.perf_counter() - start
    audio = sum(r["seconds"] for r in results if r["ok"])
    return {"done": [r for r in results if r["ok"]], "failed": [r for r in results if not r["ok"]],
            "audio_seconds": audio, "wall_seconds": wall, "realtime": audio / wall if wall > 0 else 0.0}


def format_report(report):
    clipped = sum(r.get("clipped", 0) for r in report["done"])
    lines = [f"{len(report['done'])} files done, {len(report['failed'])} failed; "
             f"{report['audio_seconds']:.1f} s of audio in {report['wall_seconds']:.2f} s "
             f"({report['realtime']:.1f}x real time)" + (f"; {clipped} samples clipped" if clipped else "")]
    for r in sorted(report["failed"], key=lambda r: r["src"]):
        lines.append(f"  failed: {r['src']}: {r['error']}")
    return "\n".join(lines)


def main(argv=None):
    p = argparse.ArgumentParser(
        prog="python -m dspfx batch",
        description="Apply a chain of effects (the dspfx tool's syntax, e.g. pitch:cents=300) to every file "
                    "of a folder or of a CSV manifest (columns input, output, optionally effects and "
                    "family.parameter).")
    p.add_argument("input", help="a folder, or a .csv manifest")
    p.add_argument("effects", nargs="*", help="effects in order, as for 'dspfx process'")
    p.add_argument("--out", "-o", help="output folder (required for a folder input)")
    p.add_argument("--pattern", default="*.wav", help="file names to take from a folder (default *.wav)")
    p.add_argument("--recursive", "-r", action="store_true", help="also take files from subfolders")
    p.add_argument("--jobs", "-j", type=int, help="threads of the local executor (default: all cores)")
    p.add_argument("--scheduler", help="ADDRESS of a dask.distributed scheduler, or local:N for a "
                                       "LocalCluster of N worker processes on this machine")
    p.add_argument("--block", type=int, default=BLOCK, help="frames per block (default 4096, as the tool)")
    p.add_argument("--subtype", help="output sample format as soundfile names it (default: the input's)")
    p.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    a = p.parse_args(argv)
    try:
        if a.jobs is not None and a.jobs < 1:
            raise BatchError("--jobs must be at least 1")
        if a.jobs is not None and a.scheduler:
            raise BatchError("--jobs and --scheduler exclude each other")
        for e in a.effects:
            parse_effect(e)
        if os.path.isdir(a.input):
            if not a.out:
                raise BatchError("--out is required for a folder input")
            if not a.effects:
                raise BatchError("no effects given")
            tasks = folder_tasks(a.input, a.out, a.effects, a.pattern, a.recursive)
        elif a.input.lower().endswith(".csv") and os.path.isfile(a.input):
            tasks = manifest_tasks(a.input, a.out, a.effects)
        else:
            raise BatchError(f"{a.input}: neither a folder nor a .csv manifest")
        for t in tasks:
            t["block"] = a.block
            t["subtype"] = a.subtype
        report = run_batch(tasks, jobs=a.jobs, scheduler=a.scheduler, progress=not a.quiet)
    except (BatchError, ValueError) as e:
        print(f"dspfx batch: {e}", file=sys.stderr)
        return 2
    except Exception:
        traceback.print_exc()
        return 1
    print(format_report(report))
    return 1 if report["failed"] else 0
