"""Whole streams the way the dspfx tool runs them.

Each effect runs in a chain of its own. Its delay is taken off the start of
what it gives and its tail pushed out with silence at the end, so every step
yields the ideal length of its input (x rate ratio, x stretch ratio, plus a
chorus's echoes) and the output lines up with the input. Each step runs what
reaches it at once, in pieces of at most ``block`` frames, so the pieces, and
with them the output, are the tool's bit for bit.
"""

import math

import numpy as np

from .effects import BLOCK, Chain, Effect, Fade, Stream, ToolStep, parse_effect

_CLICK_AT, _CLICK_LENGTH = 1024, 1024 + 16384


def _llround(x):
    r = math.floor(x)
    return int(r + 1 if x - r >= 0.5 else r)


def _latency(effect, rate, channels, block, ratio):
    """The effect's delay in output frames: where a click comes out of a twin
    of it, against where it went in (scaled to the output rate)."""
    fam = effect.family
    if fam == "eq":
        n = 1
        while n < effect.bands:
            n <<= 1
        return 2 * n - 1
    if fam not in ("resample", "hqups"):
        return 0
    click = np.zeros((channels, _CLICK_LENGTH), dtype=np.float32)
    click[:, _CLICK_AT] = 0.5
    twin = _Step(effect, rate, channels, None, block, measure=False)
    out = np.concatenate([y for a in range(0, _CLICK_LENGTH, block) for y in twin.run(click[:, a:a + block])],
                         axis=1)
    twin.close()
    mags = np.abs(out[0])
    peak_at = int(np.argmax(mags)) if mags.size and mags.max() > 0 else 0
    expected = _llround(_CLICK_AT * ratio)
    return peak_at - expected if peak_at > expected else 0


def _tail(effect, rate):
    if effect.family == "chorus":
        return int(math.ceil((effect.delay + effect.depth) / 1000.0 * rate))
    return 0


class _Step:
    def __init__(self, effect, rate, channels, frames, block, measure=True):
        self.block = block
        # A stream of unknown length is taken as endless.
        total = frames if frames is not None else int(1e9 * rate)
        self.stream = Stream(Chain([effect]), rate, channels, total_frames=total, block=block)
        self.in_channels, self.out_channels = channels, self.stream.out_channels
        self.out_rate = self.stream.out_rate
        self.ratio = effect.ratio if effect.family == "stretch" else self.out_rate / rate
        if not measure:
            return
        self.drop = _latency(effect, rate, channels, block, self.ratio)
        self.tail = _tail(effect, self.out_rate)
        self.fed = self.emitted = 0
        self.limit = self.ideal(frames) if frames is not None else None

    def ideal(self, frames):
        return _llround(frames * self.ratio) + self.tail

    def run(self, x):
        """Runs (channels, n) frames at once in pieces of at most a block; the
        output of each piece."""
        s = self.stream
        frames = np.ascontiguousarray(x.T)
        return [s._run(min(self.block, frames.shape[0] - at), frames[at:].ctypes.data)
                for at in range(0, frames.shape[0], self.block)]

    def _emit(self, y):
        skip = min(y.shape[1], self.drop)
        self.drop -= skip
        n = y.shape[1] - skip
        if self.limit is not None:
            n = min(n, max(self.limit - self.emitted, 0))
        self.emitted += n
        return y[:, skip:skip + n]

    def put(self, x):
        """What the next step receives: one piece per piece run."""
        self.fed += x.shape[1]
        return [y for y in map(self._emit, self.run(x)) if y.shape[1]]

    def finish(self):
        self.limit = self.ideal(self.fed)
        silence = np.zeros((self.in_channels, self.block), dtype=np.float32)
        wanted = max(self.limit - self.emitted, 0) + self.drop
        most = wanted / max(self.ratio, 1e-6) + 4.0 * self.block + 65536
        out, fed = [], 0
        while self.emitted < self.limit and fed < most:
            out.extend(y for y in map(self._emit, self.run(silence)) if y.shape[1])
            fed += self.block
        # Whatever a short-changing effect still owes is silence.
        while self.emitted < self.limit:
            n = min(self.block, self.limit - self.emitted)
            out.append(np.zeros((self.out_channels, n), dtype=np.float32))
            self.emitted += n
        return out

    def close(self):
        self.stream.close()


class _FadeEdges:
    """Multiplies the fader's dB ramps by straight ramps from zero, so the
    first and last samples are digital silence."""

    def __init__(self, total, fade_in, fade_out):
        self.total, self.fade_in, self.fade_out, self.pos = total, fade_in, fade_out, 0

    def put(self, x):
        n = x.shape[1]
        pos = np.arange(self.pos, self.pos + n, dtype=np.float64)
        self.pos += n
        g = np.ones(n)
        if self.fade_in:
            g = np.where(pos < self.fade_in, pos / self.fade_in, g)
        if self.fade_out:
            left = np.where(pos < self.total, self.total - 1 - pos, 0)
            g = np.where(left < self.fade_out, g * (left / self.fade_out), g)
        return [x * g.astype(np.float32)]

    def finish(self):
        return []


_SPOOL_BLOCK = 16384


class _Basic:
    """The tool's own steps on float frames."""

    def __init__(self, effect, rate, channels, frames):
        self.kind, self.channels = effect.family, channels
        self.out_rate, self.out_channels, self.limit = rate, channels, frames
        if self.kind == "gain":
            self.factor = np.float32(10.0 ** (effect.db / 20))
        elif self.kind == "norm":
            self.target, self.peak, self.held = 10.0 ** (effect.level / 20), 0.0, []
        elif self.kind == "reverse":
            self.held = []
        elif self.kind == "trim":
            self.first = _llround(effect.start * rate)
            length = _llround(effect.length * rate)
            self.end = self.first + length if length else None
            self.pos = 0
            if frames is not None:
                if self.first >= frames > 0:
                    raise ValueError(f"trim: start={effect.start:g} s is past the end of the stream")
                end = frames if self.end is None else min(frames, self.end)
                self.limit = end - min(frames, self.first)
        elif self.kind == "channels":
            self.out_channels = int(effect.count)
            if self.out_channels == 2 and channels > 2:
                raise ValueError(f"channels: {channels} channels have no one way to become stereo")

    def put(self, x):
        k = self.kind
        if k == "gain":
            return [x * self.factor]
        if k == "norm":
            if x.size:
                self.peak = max(self.peak, float(np.abs(x.astype(np.float64)).max()))
            self.held.append(x.copy())  # the caller may reuse its buffer
            return []
        if k == "reverse":
            self.held.append(x.copy())
            return []
        if k == "trim":
            n = x.shape[1]
            lo = max(self.pos, self.first)
            hi = self.pos + n if self.end is None else min(self.pos + n, self.end)
            self.pos += n
            return [x[:, lo - (self.pos - n):hi - (self.pos - n)]] if hi > lo else []
        if self.out_channels == 1:
            return [(x.astype(np.float64).sum(axis=0) / x.shape[0]).astype(np.float32)[np.newaxis, :]]
        return [np.repeat(x, 2, axis=0) if x.shape[0] == 1 else x]

    def finish(self):
        if self.kind not in ("norm", "reverse"):
            return []
        whole = np.concatenate(self.held, axis=1) if self.held else np.zeros((self.channels, 0), np.float32)
        self.held = []
        if self.kind == "norm":
            # Silence stays silence rather than becoming an infinite gain.
            factor = np.float32(self.target / self.peak if self.peak > 0 else 1.0)
            return [whole[:, a:a + _SPOOL_BLOCK] * factor for a in range(0, whole.shape[1], _SPOOL_BLOCK)]
        n = whole.shape[1]
        return [whole[:, max(end - _SPOOL_BLOCK, 0):end][:, ::-1] for end in range(n, 0, -_SPOOL_BLOCK)]


class Pipeline:
    """Effects over a whole stream as ``dspfx process`` runs them: output
    aligned with the input and of its ideal length, equal to the tool's.

    ``Pipeline(["resample:rate=44100", "pitch:cents=300"])`` or a list of
    effects. Call it on an array, or feed it with put() and end with
    finish(); the length of the input must be known for a fade-out.
    """

    def __init__(self, effects, block=BLOCK):
        if isinstance(effects, str):
            effects = effects.split()
        self.effects = [e if isinstance(e, Effect) else parse_effect(e) for e in effects]
        self.block = block

    def start(self, sample_rate, channels, total_frames=None):
        """A running pipeline for one stream: put(block) and finish() give the
        output as (channels, frames) arrays."""
        return _Run(self.effects, sample_rate, channels, total_frames, self.block)

    def __call__(self, audio, sample_rate):
        from .effects import _as_planar
        x, flat = _as_planar(audio)
        run = self.start(sample_rate, x.shape[0], x.shape[1])
        parts = [run.put(x[:, a:a + self.block]) for a in range(0, x.shape[1], self.block)]
        parts.append(run.finish())
        run.close()
        out = np.concatenate([p.T for p in parts], axis=0).T
        return out[0] if flat and out.shape[0] == 1 else out


class _Run:
    def __init__(self, effects, rate, channels, frames, block):
        self.steps = []
        try:
            for e in effects:
                if isinstance(e, ToolStep):
                    step = _Basic(e, rate, channels, frames)
                    self.steps.append(step)
                    rate, channels, frames = step.out_rate, step.out_channels, step.limit
                    continue
                if isinstance(e, Fade) and e.out > 0 and frames is None:
                    raise ValueError("fade: out= needs the length of the stream (total_frames)")
                step = _Step(e, rate, channels, frames, block)
                self.steps.append(step)
                if isinstance(e, Fade):
                    self.steps.append(_FadeEdges(frames if frames is not None else 1 << 62,
                                                 _llround(e.in_ * rate), _llround(e.out * rate)))
                rate, channels, frames = step.out_rate, step.out_channels, step.limit
        except BaseException:
            self.close()
            raise
        self.sample_rate, self.channels = rate, channels

    def _through(self, i, pieces):
        for step in self.steps[i:]:
            pieces = [y for x in pieces for y in step.put(x)]
        return pieces

    def _joined(self, pieces):
        if not pieces:
            return np.zeros((self.channels, 0), dtype=np.float32)
        return pieces[0] if len(pieces) == 1 else np.concatenate([p.T for p in pieces], axis=0).T

    def put(self, x):
        """Output for one block of input, (channels, frames)."""
        return self._joined(self._through(0, [np.asarray(x, dtype=np.float32)]))

    def finish(self):
        """The rest of the output: what the effects still hold, their tails."""
        out = []
        for i, step in enumerate(self.steps):
            out.extend(self._through(i + 1, step.finish()))
        return self._joined(out)

    def close(self):
        for s in self.steps:
            if isinstance(s, _Step):
                s.close()
        self.steps = []
