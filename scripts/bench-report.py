#!/usr/bin/env python3
"""Writes docs/benchmarks.md from one run of dspfx_bench and, when present,
the whole-program timings of scripts/compare-sox.sh.

    bench-report.py BENCH.json SOX_DIR OUT.md
    bench-report.py --sox-table SOX_DIR      (prints the sox table alone)

Rows are named work/case/impl (bench/bench_rows.h): impl "dspfx" or
"dspfx-<variant>" is the library, anything else a peer. Each library row is
compared with every peer row of the same work and case; the time ratio is
library CPU time over peer CPU time per iteration, both from the same run.
The targets live here and nowhere else.
"""
import glob
import json
import re
import os
import statistics
import sys

# (work, peer) -> largest time ratio dspfx / peer that meets the target.
RATIO_TARGETS = {
    ("doFft", "fftw"): 1.2,
    ("realFft", "fftw"): 1.5,
    ("realFft", "kissfft"): 0.3,
    ("doResampler", "libsamplerate-linear"): 0.7,
    ("doResampler", "soxr-quick"): 1.0,
    ("doResampler", "soxr-low"): 1.0,
    ("doResampler", "libsamplerate-sinc-fastest"): 0.5,
    ("doStretch", "soundtouch"): 0.5,
    ("doPitchShift", "soundtouch"): 0.7,
    ("wavefile", "libsndfile"): 1.0,
    ("pcm16ToFloat", "sse2-loop"): 1.2,
    ("floatToPcm16", "sse2-loop"): 1.2,
    ("doIirFilter", "biquads"): 1.5,
}

# The band-limited resampler rows are set against the band-limited peers, the
# interpolating ones against the interpolating peers.
BAND_LIMITED_RATE_IMPLS = {"dspfx-q2", "dspfx-q2-float"}
BAND_LIMITED_RATE_PEERS = {"libsamplerate-sinc-fastest", "soxr-low", "speexdsp-q4"}

# (work, case, impl, other library impl) -> largest time ratio impl / other.
LIBRARY_TARGETS = {
    ("doResampler", "44100-48000", "dspfx-q1", "dspfx-cubic"): 1.1,
}

# Rows of this work carry measured quality figures (counters q/...) rather
# than times; (case, impl) -> {counter: (comparison, bound)}.
QUALITY_WORK = "rateQuality"
QUALITY_TARGETS = {
    ("44100-48000", "dspfx-q2"): {"q/snr": (">=", 95.0), "q/sweepAvg": ("<=", -88.0)},
    ("44100-48000", "dspfx-q2-float"): {"q/snr": (">=", 95.0), "q/sweepAvg": ("<=", -88.0)},
}
QUALITY_LABELS = {"q/snr": "SNR", "q/spur": "spur", "q/level": "level", "q/sweepAvg": "sweep average",
                  "q/sweepWorst": "sweep worst"}
QUALITY_COLUMNS = [("q/snr", "SNR dB"), ("q/spur", "spur dB"), ("q/level", "level dBFS"),
                   ("q/sweepAvg", "sweep average dB"), ("q/sweepWorst", "sweep worst dB")]


def paired(work, impl, peer):
    if work != "doResampler":
        return True
    return (impl in BAND_LIMITED_RATE_IMPLS) == (peer in BAND_LIMITED_RATE_PEERS)


# (work, library variant, peer) -> the same, where a variant has its own.
VARIANT_RATIO_TARGETS = {
    ("doStretch", "dspfx-aligned", "soundtouch"): 0.5,
    ("doPitchShift", "dspfx-aligned", "soundtouch"): 0.5,
}

# Steady-tone quality of the library's aligned time stretch and pitch shift
# (rows pitchtimeQuality/<case>-<signal>/<impl>, bench/pitchtime_quality.h).
PT_QUALITY_WORK = "pitchtimeQuality"
PT_QUALITY_IMPL = "dspfx"
PT_QUALITY_TARGETS = {
    "worst |cents|": 1.0,
    "median off-partial dB": -45.0,
    "worst off-partial dB": -30.0,
    "worst |level| dB": 1.0,
    "worst |length| %": 0.1,
}

# (work, case) -> smallest x real time (stereo) that meets the target, for
# rows without a peer.
SPEED_TARGETS = {
    ("doShelvingEQ", "16bands"): 500,
    ("doGraphicEQ", "10bands"): 500,
    ("doChorus", "3voices"): 500,
    ("doCrossFade", "stereo"): 500,
    ("doHqups", "44100-48000"): 500,
    ("doEnvAnalyze", "stereo"): 500,
    ("doWaveSlice", "stereo"): 500,
}

# Whole-program runs against sox: largest CPU time ratio dspfx / sox.
SOX_TARGET = 1.0

TIME_UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def is_library(impl):
    return impl == "dspfx" or impl.startswith("dspfx-")


def seconds_text(s):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9), ("ps", 1e-12)):
        if s >= scale:
            return f"{s / scale:.3g} {unit}"
    return f"{s:.3g} s"


class Row:
    def __init__(self, name):
        self.name = name
        self.work, self.case, self.impl = name.split("/", 2)
        # Rows run a fixed number of times carry it in their name.
        self.impl = self.impl.split("/", 1)[0]
        self.cpu = None  # seconds per iteration
        self.counters = {}
        self.error = None
        self.repetitions = 0

    def speed(self):
        """x real time when the row reports it, else its cost counter."""
        if "xRealTime" in self.counters:
            return f"{self.counters['xRealTime']:,.0f} x"
        for key, value in self.counters.items():
            if key.startswith("s/"):
                return f"{seconds_text(value)}/{key[2:]}"
        return seconds_text(self.cpu) + "/iter"

    def cost(self):
        for key, value in self.counters.items():
            if key.startswith("s/"):
                return f"{seconds_text(value)}/{key[2:]}"
        return ""


def load_rows(path):
    with open(path) as f:
        data = json.load(f)
    rows = {}
    iterations = {}
    for b in data["benchmarks"]:
        # A row that fixes its iteration count carries it in its name.
        base = re.sub(r"/iterations:\d+$", "", b.get("run_name", b["name"]))
        if base.count("/") < 2:
            continue
        row = rows.setdefault(base, Row(base))
        if b.get("error_occurred"):
            row.error = b.get("error_message", "skipped")
            continue
        counters = {k: v for k, v in b.items()
                    if k == "xRealTime" or k.startswith("s/") or k.startswith("q/") or k.startswith("q_")}
        cpu = b["cpu_time"] * TIME_UNITS[b.get("time_unit", "ns")]
        if b.get("run_type") == "aggregate":
            name = b.get("aggregate_name")
            if name == "median":
                row.cpu, row.counters = cpu, counters
                row.repetitions = b.get("repetitions", 0)
        else:
            iterations.setdefault(base, []).append((cpu, counters))
    # Runs without repetitions report their iterations only.
    for base, runs in iterations.items():
        row = rows[base]
        if row.cpu is None and not row.error:
            runs.sort(key=lambda r: r[0])
            row.cpu, row.counters = runs[len(runs) // 2]
            row.repetitions = len(runs)
    return data.get("context", {}), list(rows.values())


def met(ok):
    return "yes" if ok else "**no**"


def comparison_table(rows, tally):
    out = [
        "| work | case | dspfx | speed | peer | speed | time dspfx/peer | target | met |",
        "|---|---|---|---:|---|---:|---:|---:|---|",
    ]
    by_key = {}
    for r in rows:
        if r.work != QUALITY_WORK:
            by_key.setdefault((r.work, r.case), []).append(r)
    for (work, case), group in by_key.items():
        libs = [r for r in group if is_library(r.impl)]
        peers = [r for r in group if not is_library(r.impl)]
        if not peers:
            continue
        for lib in libs:
            for peer in peers:
                if not paired(work, lib.impl, peer.impl):
                    continue
                target = VARIANT_RATIO_TARGETS.get((work, lib.impl, peer.impl),
                                                   RATIO_TARGETS.get((work, peer.impl)))
                target_text = f"<= {target}" if target is not None else "—"
                if lib.error or peer.error:
                    lib_speed = f"skipped: {lib.error}" if lib.error else lib.speed()
                    peer_speed = f"skipped: {peer.error}" if peer.error else peer.speed()
                    out.append(f"| {work} | {case} | {lib.impl} | {lib_speed} | {peer.impl} | {peer_speed} "
                               f"| — | {target_text} | — |")
                    if target is not None:
                        tally["skipped"] += 1
                    continue
                ratio = lib.cpu / peer.cpu
                verdict = "—"
                if target is not None:
                    ok = ratio <= target
                    tally["met" if ok else "missed"] += 1
                    verdict = met(ok)
                out.append(
                    f"| {work} | {case} | {lib.impl} | {lib.speed()} | {peer.impl} | {peer.speed()} "
                    f"| {ratio:.2f} | {target_text} | {verdict} |"
                )
    return out


def standalone_table(rows, tally):
    out = [
        "| work | case | dspfx | x real time | cost | target | met |",
        "|---|---|---|---:|---:|---:|---|",
    ]
    with_peer = {(r.work, r.case) for r in rows if not is_library(r.impl)}
    for r in rows:
        if not is_library(r.impl) or (r.work, r.case) in with_peer or r.work == QUALITY_WORK:
            continue
        target = SPEED_TARGETS.get((r.work, r.case))
        target_text = f">= {target} x" if target is not None else "—"
        if r.error:
            out.append(f"| {r.work} | {r.case} | {r.impl} | skipped: {r.error} | | {target_text} | — |")
            if target is not None:
                tally["skipped"] += 1
            continue
        speed = r.counters.get("xRealTime")
        verdict = "—"
        if target is not None:
            ok = speed is not None and speed >= target
            tally["met" if ok else "missed"] += 1
            verdict = met(ok)
        speed_text = f"{speed:,.0f} x" if speed is not None else ""
        out.append(f"| {r.work} | {r.case} | {r.impl} | {speed_text} | {r.cost()} | {target_text} | {verdict} |")
    return out


def library_table(rows, tally):
    out = [
        "| work | case | dspfx | speed | against | speed | time ratio | target | met |",
        "|---|---|---|---:|---|---:|---:|---:|---|",
    ]
    by_name = {(r.work, r.case, r.impl): r for r in rows}
    for (work, case, impl, base), target in LIBRARY_TARGETS.items():
        a, b = by_name.get((work, case, impl)), by_name.get((work, case, base))
        if not a or not b or a.error or b.error:
            out.append(f"| {work} | {case} | {impl} | | {base} | | — | <= {target} | — |")
            tally["skipped"] += 1
            continue
        ratio = a.cpu / b.cpu
        ok = ratio <= target
        tally["met" if ok else "missed"] += 1
        out.append(f"| {work} | {case} | {impl} | {a.speed()} | {base} | {b.speed()} | {ratio:.2f} "
                   f"| <= {target} | {met(ok)} |")
    return out


def quality_table(rows, tally):
    heads = " | ".join(title for _, title in QUALITY_COLUMNS)
    out = [f"| case | converter | {heads} | target | met |",
           "|---|---|" + "---:|" * len(QUALITY_COLUMNS) + "---|---|"]
    for r in sorted(rows, key=lambda r: (r.case, not is_library(r.impl), r.impl)):
        if r.work != QUALITY_WORK:
            continue
        targets = QUALITY_TARGETS.get((r.case, r.impl), {})
        target_text = ", ".join(f"{QUALITY_LABELS[k]} {op} {bound:g}" for k, (op, bound) in targets.items()) or "—"
        if r.error:
            out.append(f"| {r.case} | {r.impl} | skipped: {r.error} |" + " |" * (len(QUALITY_COLUMNS) - 1)
                       + f" {target_text} | — |")
            if targets:
                tally["skipped"] += 1
            continue
        cells = " | ".join(f"{r.counters[k]:.1f}" if k in r.counters else "" for k, _ in QUALITY_COLUMNS)
        verdict = "—"
        if targets:
            missed = [QUALITY_LABELS[k] for k, (op, bound) in targets.items()
                      if k not in r.counters or not (r.counters[k] >= bound if op == ">=" else r.counters[k] <= bound)]
            tally["met" if not missed else "missed"] += 1
            verdict = "yes" if not missed else f"**no** ({', '.join(missed)})"
        out.append(f"| {r.case} | {r.impl} | {cells} | {target_text} | {verdict} |")
    return out


def quality_tables(rows, tally):
    """The summary per implementation (targets on the library's) and the
    figures of every case."""
    rows = [r for r in rows if r.work == PT_QUALITY_WORK]
    if not rows:
        return [], []
    impls = []
    for r in rows:
        if r.impl not in impls:
            impls.append(r.impl)
    summary = [
        "| implementation | worst \\|cents\\| | median off-partial dB | worst off-partial dB "
        "| worst \\|level\\| dB | worst \\|length\\| % | CPU / SoundTouch | cases |",
        "|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    st_cpu = sum(r.counters.get("q_cpu", 0.0) for r in rows if r.impl == "soundtouch" and not r.error)
    for impl in impls:
        mine = [r for r in rows if r.impl == impl and not r.error]
        if not mine:
            summary.append(f"| {impl} | skipped: {rows[0].error if rows[0].error else 'no rows'} |||||||")
            continue
        offs = sorted(r.counters["q_offDb"] for r in mine)
        figures = {
            "worst |cents|": max(abs(r.counters["q_cents"]) for r in mine),
            "median off-partial dB": offs[len(offs) // 2],
            "worst off-partial dB": offs[-1],
            "worst |level| dB": max(abs(r.counters["q_levelDb"]) for r in mine),
            "worst |length| %": max(abs(r.counters["q_lengthPct"]) for r in mine),
        }
        cells = []
        for key, value in figures.items():
            text = f"{value:.2f}" if "cents" in key or "level" in key else (
                f"{value:.3f}" if "length" in key else f"{value:.1f}")
            if impl == PT_QUALITY_IMPL:
                ok = value <= PT_QUALITY_TARGETS[key]
                tally["met" if ok else "missed"] += 1
                text += f" ({'met' if ok else '**missed**'})"
            cells.append(text)
        cpu = sum(r.counters.get("q_cpu", 0.0) for r in mine)
        ratio = f"{cpu / st_cpu:.2f}" if st_cpu > 0 else "—"
        summary.append(f"| {impl} | " + " | ".join(cells) + f" | {ratio} | {len(mine)} |")
    detail = ["| case | " + " | ".join(impls) + " |", "|---|" + "---:|" * len(impls)]
    by_case = {}
    for r in rows:
        by_case.setdefault(r.case, {})[r.impl] = r
    for case, group in by_case.items():
        cells = []
        for impl in impls:
            r = group.get(impl)
            if r is None or r.error:
                cells.append("—")
            else:
                c = r.counters
                cells.append(f"{c['q_cents']:+.2f} ¢, {c['q_offDb']:.1f} dB, {c['q_levelDb']:+.2f} dB")
        detail.append(f"| {case} | " + " | ".join(cells) + " |")
    return summary, detail


def load_sox(sox_dir):
    """(comparison name, dspfx times, sox times) in run order; times hold
    every run's CPU ("cpu", user + system) and wall ("wall") seconds."""
    entries = []
    for path in sorted(glob.glob(os.path.join(sox_dir, "*.json"))):
        with open(path) as f:
            data = json.load(f)
        results = data.get("results", {})
        if not isinstance(results, dict) or "dspfx" not in results or "sox" not in results:
            continue
        entries.append((data.get("name", ""), results["dspfx"], results["sox"]))
    return entries


def sox_runs(sox_dir):
    counts = {len(r.get("cpu", [])) for _, ours, theirs in load_sox(sox_dir) for r in (ours, theirs)}
    return "/".join(str(c) for c in sorted(counts))


def read_text(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return ""


def sox_table(sox_dir, tally):
    entries = load_sox(sox_dir)
    if not entries:
        return []
    commands = {}
    for line in read_text(os.path.join(sox_dir, "commands.tsv")).splitlines():
        parts = line.split("\t")
        if len(parts) == 3:
            commands[parts[0]] = (parts[1], parts[2])
    out = [
        "| effect ~ sox | dspfx arguments | sox effects | dspfx CPU | sox CPU | CPU dspfx/sox "
        "| run pairs | wall dspfx/sox | target | met |",
        "|---|---|---|---:|---:|---:|---:|---:|---:|---|",
    ]
    for name, ours, theirs in entries:
        ours_cpu = statistics.median(ours["cpu"])
        theirs_cpu = statistics.median(theirs["cpu"])
        ratio = ours_cpu / theirs_cpu
        # Each dspfx run against the sox run right after it: the spread the
        # load on the machine leaves in a single comparison.
        pairs = [a / b for a, b in zip(ours["cpu"], theirs["cpu"])]
        wall = statistics.median(ours["wall"]) / statistics.median(theirs["wall"])
        ok = ratio <= SOX_TARGET
        tally["met" if ok else "missed"] += 1
        ours_cmd, sox_cmd = commands.get(name, ("", ""))
        out.append(
            f"| {name} | `{ours_cmd}` | `{sox_cmd.strip()}` | {ours_cpu:.3f} s | {theirs_cpu:.3f} s "
            f"| {ratio:.2f} | {min(pairs):.2f} ... {max(pairs):.2f} | {wall:.2f} | <= {SOX_TARGET} | {met(ok)} |"
        )
    return out


def machine_section(context, sox_dir):
    caches = ", ".join(f"L{c['level']} {c['type'].lower()} {c['size'] // 1024} KiB" for c in context.get("caches", []))
    lines = [
        f"- Date: {context.get('date', 'unknown')}",
        f"- Processor: {context.get('cpu_model', 'unknown')}, {context.get('num_cpus', '?')} logical cores"
        f" at {context.get('mhz_per_cpu', '?')} MHz" + (f"; caches {caches}" if caches else ""),
        f"- Load average when the run started: {', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}",
        f"- Compiler: {context.get('compiler', 'unknown')}, {context.get('build_type', '?')} build",
        f"- Flags: `{context.get('build_flags', '')}` (no `-march`: the portable x86-64 baseline)",
        f"- Library processor switches: {context.get('processor_forms', 'unknown')}",
        f"- Peers: {context.get('peers') or 'none found'}",
        f"- Benchmark arguments: `{context.get('arguments', '')}`",
    ]
    versions = read_text(os.path.join(sox_dir, "versions.txt"))
    if versions:
        lines.append(f"- Whole-program tools: {versions}")
    return lines


def write_report(bench_json, sox_dir, out_path):
    context, rows = load_rows(bench_json)
    tally = {"met": 0, "missed": 0, "skipped": 0}
    quality_summary, quality_detail = quality_tables(rows, tally)
    rows = [r for r in rows if r.work != PT_QUALITY_WORK]
    comparisons = comparison_table(rows, tally)
    standalone = standalone_table(rows, tally)
    own = library_table(rows, tally)
    quality = quality_table(rows, tally)
    sox = sox_table(sox_dir, tally)
    reps = max((r.repetitions for r in rows), default=0)

    md = [
        "# Benchmarks",
        "",
        "Generated by `make bench-report` (scripts/bench-report.py) from one run of",
        "`build/bench/bench/dspfx_bench` and, for the last table, of `scripts/compare-sox.sh`.",
        "Do not edit by hand: run `make bench-report` again.",
        "",
        "Every row works on the same deterministic signal: 60 s of stereo 44100 Hz",
        "16-bit PCM, sines plus noise, mostly in 4096-frame blocks, PCM in and PCM",
        "out. *x real time* is seconds of audio per second of CPU time. *time",
        "dspfx/peer* divides the library's CPU time per iteration by the peer's in",
        "the same run (both do the same work per iteration); below 1 the library is",
        f"faster. Each figure is the median of {reps} repetitions." if reps > 1 else
        "faster. Each figure is from a single repetition.",
        "",
        f"**Targets: {tally['met']} met, {tally['missed']} missed"
        + (f", {tally['skipped']} not measured (peer missing)" if tally["skipped"] else "")
        + ".**",
        "",
        "## Machine",
        "",
        *machine_section(context, sox_dir),
        "",
        "## Against peer libraries",
        "",
        *comparisons,
        "",
        "Notes: `realFft` times for the library include copying the frame in, since",
        "it transforms in place; the peers transform out of place and need no copy.",
        "FFTW picks its codelets when it plans, and uses AVX ones (eight floats a",
        "vector) where the processor has AVX; the library's portable build keeps to",
        "SSE2 (four), so its ratio to FFTW depends on the machine.",
        "`doFft/fftw` is the library's analyser pipeline (downmix, raised-cosine",
        "window, transform, floored dB) rebuilt around FFTW's transform and checked",
        "against doFft before it is timed; `doIirFilter/biquads` runs the library's",
        "own order-8 Chebyshev sections one after another over each block in double",
        "(the latency bound of the recursion), also checked against doIirFilter.",
        "The conversion rows stream the 60 s signal through one block of float per",
        "channel with the library's SSE form selected; `memcpy` copies the same bytes.",
        "",
        "## Without a peer",
        "",
        *standalone,
        "",
        "## Between the library's own forms",
        "",
        *own,
        "",
        "## Rate conversion quality",
        "",
        "44100 -> 48000 Hz, 16-bit mono in and out, 4096-frame blocks, processor",
        "switches on. *SNR*: a 1 kHz full-scale sine, eight 16384-sample Kaiser-windowed",
        "(beta 14) spectra averaged after the first 0.5 s; the tone (25 Hz either side",
        "of its peak) against everything else from 20 Hz up. *spur*: the strongest",
        "other line (9 bins) against the tone. *level*: the tone's level. *sweep*: a",
        "0 - 22 kHz linear sweep over 20 s at -6 dBFS, 8192-sample spectra every 4096",
        "samples; in each spectrum whose tone lies between 200 Hz and 20 kHz, the",
        "strongest line more than 250 Hz from the tone against the tone; the average",
        "(in dB) and the worst over those spectra. Two 16-bit roundings (in and out)",
        "bound the SNR near 95 dB; peers round their own float output to 16 bits.",
        "The dspfx rows run doResampler, with the library's own PCM conversions;",
        "`dspfx-q2-float` runs the same converter in a chain on floats, converted to",
        "and from 16 bits by the benchmark as the libsamplerate rows are.",
        "",
        *quality,
        "",
        "## Time stretch and pitch shift: steady tones",
        "",
        "Sines at 220, 440, 1000 and 3000 Hz (-6 dBFS) and a C-E-G chord (-12 dBFS a",
        "note), 8 s of mono 44100 Hz 16-bit PCM in 4096-frame blocks, stretched to 1.5",
        "and 0.75 of their length and shifted by +1, +5, +12 and -7 semitones: 30",
        "cases per implementation. The middle 2^17 frames of the output are measured",
        "(Blackman-Harris window): *cents* is the strongest partial against the ideal",
        "frequency, *off-partial* the energy further than 1 % from every ideal partial",
        "relative to the total, *level* the RMS against the input's, *length* the",
        "output frames against the ideal. `dspfx` is mode 1 (aligned grains, the",
        "tool's default), `dspfx-grains` mode 0 (the design's fixed grains, tool",
        "defaults 0.04 s grains every 0.01 s), `rubberband-finer` Rubber Band's R3",
        "engine in real-time mode; peers' outputs are rounded to 16 bits like the",
        "library's, and their length counts what a final flush gives. *CPU /",
        "SoundTouch* adds the processing time of all 30 cases (8 s each, one run, so",
        "first-touch costs weigh in; the doStretch and doPitchShift rows above are the",
        "speed measure).",
        "",
        *(quality_summary or ["Not measured in this run."]),
        "",
        *(["Every case (cents, off-partial, level):", "", *quality_detail, ""] if quality_detail else []),
        "## Whole program against sox",
        "",
    ]
    if sox:
        md += [
            "Every effect of `dspfx process` and the nearest `sox` effects on a 60 s WAV",
            f"file of the same signal, each run as a whole process, {sox_runs(sox_dir)} times after one",
            "warm-up, dspfx and sox alternating. CPU is user + system time of each",
            "finished process as the kernel accounts it (wait4); the table gives the",
            "median run of each side, their ratio (which the target uses), the lowest and",
            "highest ratio of a dspfx run to the sox run right after it, and the ratio",
            "of median wall times. The machine is shared with other builds, which",
            "inflates wall time much more than CPU time and both sides alike. Both",
            "programs run with their defaults (the tool's processor forms, TPDF dither",
            "of altered output on both sides). Where a sox user's usual effect does less work than the tool's",
            "(two shelving biquads against a 511-tap linear-phase equaliser), a second",
            "row runs sox on the same work (its FIR effect with the equaliser's taps).",
            "",
            *sox,
        ]
    else:
        md.append("Not measured in this run (sox or hyperfine missing, or compare-sox.sh not run).")
    md.append("")
    with open(out_path, "w") as f:
        f.write("\n".join(md))
    print(f"bench-report: wrote {out_path}: {tally['met']} targets met, {tally['missed']} missed, "
          f"{tally['skipped']} not measured")


def main(argv):
    if len(argv) == 3 and argv[1] == "--sox-table":
        lines = sox_table(argv[2], {"met": 0, "missed": 0, "skipped": 0})
        print("\n".join(lines) if lines else "no sox comparisons found")
        return 0
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    write_report(argv[1], argv[2], argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
