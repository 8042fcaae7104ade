"""Effects as objects, chains of them, and streams that run a chain block by
block through the library.

An effect or chain holds parameters only; the library objects are made for
the format of each stream (as the command-line tool makes them), so one
Chain may be called from several threads at once.
"""

import math
import threading

import numpy as np

from . import _lib
from ._lib import lib
from ._table import BY_NAME, FAMILIES, TOOL_ONLY

BLOCK = 4096
_UINT32_MAX = 0xFFFFFFFF
# Keywords that Python reserves are also accepted with a trailing underscore.
_ALIASES = {"in_": "in"}


def _f32(x):
    return float(np.float32(x))


class _Format:
    __slots__ = ("frames", "channels", "rate", "seconds")

    def __init__(self, frames, channels, rate, seconds):
        self.frames, self.channels, self.rate, self.seconds = frames, channels, rate, seconds


class Effect:
    """One effect family with its parameters (see ``dspfx help effects``).

    Parameters are keywords in the tool's units; each is checked against the
    tool's range (``ValueError``) and may be read or changed as an attribute.
    Calling the effect on an array runs it as a one-effect :class:`Chain`.
    """

    family = None

    def __init__(self, **params):
        info = BY_NAME[self.family]
        object.__setattr__(self, "_values", {p.name: float(p.default) for p in info.params})
        object.__setattr__(self, "_chain", None)
        for key, value in params.items():
            setattr(self, key, value)

    @classmethod
    def info(cls):
        """The family's table entry: name, summary and parameters."""
        return BY_NAME[cls.family]

    def __getattr__(self, key):
        values = self.__dict__.get("_values", {})
        name = _ALIASES.get(key, key)
        if name in values:
            return values[name]
        raise AttributeError(f"{type(self).__name__} has no parameter {key!r}")

    def __setattr__(self, key, value):
        name = _ALIASES.get(key, key)
        param = next((p for p in self.info().params if p.name == name), None)
        if param is None:
            known = ", ".join(p.name for p in self.info().params)
            raise TypeError(f"{self.family}: unknown parameter {key!r} (known: {known})")
        try:
            v = float(value)
        except (TypeError, ValueError):
            raise ValueError(f"{self.family}.{name}: {value!r} is not a number") from None
        if not math.isfinite(v) or v < param.min or v > param.max:
            raise ValueError(f"{self.family}.{name} = {value!r} is outside "
                             f"{param.min:g} ... {param.max:g} {param.unit}".rstrip())
        self._values[name] = v

    @property
    def params(self):
        """The parameter values by name, a copy."""
        return dict(self._values)

    def __repr__(self):
        args = ", ".join(f"{_py_name(k)}={v:g}" for k, v in self._values.items())
        return f"{type(self).__name__}({args})"

    def __eq__(self, other):
        return type(self) is type(other) and self._values == other._values

    def to_arg(self):
        """The effect in the tool's syntax, name:key=value,... (exact values)."""
        return self.family + ":" + ",".join(f"{k}={v!r}" for k, v in self._values.items())

    def __call__(self, audio, sample_rate, block=BLOCK):
        return Chain([self])(audio, sample_rate, block=block)

    # Streaming through a chain of this effect alone.
    def process(self, block, sample_rate, total_frames=None):
        """Streams one block; see :meth:`Chain.process`."""
        if self._chain is None:
            object.__setattr__(self, "_chain", Chain([self]))
        return self._chain.process(block, sample_rate, total_frames=total_frames)

    def flush(self):
        """Runs what :meth:`process` still holds and ends the stream."""
        return self._chain.flush() if self._chain is not None else None

    def reset(self):
        if self._chain is not None:
            self._chain.reset()

    # Library objects, made the way the tool makes them.
    def _make(self, fmt):
        raise NotImplementedError

    def _schedule(self, handle, fmt):
        pass

    def _refuse(self, why):
        raise ValueError(f"{self.family}: {why}")

    def _apply(self, handle, param, setter, term):
        """Hands an extension parameter to the library after init; the
        object is freed and the effect refused when it does not take it."""
        if handle and param in self._values:
            if not _lib.has(setter) or getattr(lib, setter)(handle, int(self._values[param])) != 1:
                _lib._TERM[term](handle)
                self._refuse(f"this library build does not take {param}={self._values[param]:g}")
        return handle


def _py_name(key):
    return key + "_" if key in ("in",) else key


def _power_of_two_at_least(v):
    n = 1
    while n < v:
        n <<= 1
    return n


class Resample(Effect):
    family = "resample"

    def _make(self, f):
        a = self._values
        e = lib.initResampler(f.frames, f.channels, f.channels, f.rate, int(a["rate"]), int(a["cubic"]),
                              a["stopband"], a["slope"], int(a["antialias"]) & 0xFF)
        return self._apply(e, "quality", "setResamplerQuality", "Resampler")


class Hqups(Effect):
    family = "hqups"

    def _make(self, f):
        a = self._values
        e = lib.initHqupsBySrcsize(f.frames, f.channels, f.channels, f.rate, a["harmonics"], a["mix"],
                                   int(a["highpass"]), 1, 60.0, 60.0, int(a["adaptive"]), 1)
        return self._apply(e, "quality", "setHqupsQuality", "Hqups")


class EQ(Effect):
    family = "eq"

    def check(self):
        """The rules between parameters: ValueError when one is broken."""
        a = self._values
        if a["bands"] != 2.0 ** round(math.log2(a["bands"])):
            self._refuse(f"bands must be a power of two (16, 32, ... 1024), not {int(a['bands'])}")
        if a["lowfreq"] > a["highfreq"]:
            self._refuse("lowfreq must not lie above highfreq")

    def _make(self, f):
        self.check()
        a = self._values
        n = _power_of_two_at_least(a["bands"])
        gains = np.empty(n, dtype=np.float32)
        for i in range(n):
            centre = (i + 0.5) * f.rate / 2.0 / n
            gains[i] = a["low"] if centre < a["lowfreq"] else a["mid"] if centre < a["highfreq"] else a["high"]
        e = lib.initShelvingEQ(f.frames, f.channels, f.rate, n, gains.ctypes.data, a["level"])
        return self._apply(e, "mode", "setShelvingEQMode", "ShelvingEQ")


GEQ_CENTRES = (31.25, 62.5, 125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0, 16000.0)
_GEQ_KEYS = ("g31", "g62", "g125", "g250", "g500", "g1k", "g2k", "g4k", "g8k", "g16k")


class GraphicEQ(Effect):
    family = "geq"

    def bands(self, rate):
        """The library bands for a stream at rate Hz: a pass-through band for
        the dry signal and one resonance per boosted octave, whose level at
        its centre makes the sum reach the asked gain there."""
        out = [(1000.0, 0.0, 0.5, 0.5)]
        for key, centre in zip(_GEQ_KEYS, GEQ_CENTRES):
            g = _f32(self._values[key])
            if g <= 0.0 or centre >= np.float32(0.45) * np.float32(rate):
                continue
            pole = math.exp(-math.pi * 0.35 * centre / rate)
            added = math.pow(10.0, g / 20.0) - 1.0
            out.append((centre, _f32(20 * math.log10(added)), 0.0, _f32(pole)))
        return out

    def _make(self, f):
        bands = self.bands(f.rate)
        arr = (_lib.GraphicEqBand * len(bands))(*[_lib.GraphicEqBand(*b) for b in bands])
        return lib.initGraphicEQ(f.frames, f.channels, f.rate, len(bands), arr, self._values["master"])


class _Iir(Effect):
    kind = 0

    def _make(self, f):
        a = self._values
        if a["freq"] >= f.rate / 2.0:
            self._refuse(f"freq must be below half the sample rate ({f.rate // 2} Hz)")
        return lib.initIirFilter(f.frames, f.channels, f.rate, int(a["order"]), a["freq"], self.kind)


class Lowpass(_Iir):
    family = "lowpass"


class Highpass(_Iir):
    family = "highpass"
    kind = 1


class Fade(Effect):
    """Fade in at the start, out at the end. The fade-in length is the
    parameter ``in`` (``in_`` from Python). Fading out needs the stream's
    length: a stream gets it as ``total_frames``."""

    family = "fade"

    def _make(self, f):
        a = self._values
        if a["out"] > 0 and f.seconds is None:
            self._refuse("fading out needs the stream's length (total_frames)")
        if f.seconds is not None and a["in"] + a["out"] > f.seconds + 1e-9:
            self._refuse("fade-in and fade-out are longer than the stream")
        return lib.initFader(f.frames, f.channels, f.rate, 1.0, a["floor"] if a["in"] > 0 else 0.0, 0.0)

    def _schedule(self, handle, f):
        a = self._values
        floor_db = _f32(a["floor"])
        # An action must start after the current frame: the fade-in starts at
        # the first frame the timeline can still schedule.
        tick = _f32(np.float32(1.5) / np.float32(f.rate))
        seconds = f.seconds if f.seconds is not None else 1e9
        if a["in"] > 0:
            lib.setFaderAction(handle, 0, tick, a["in"], 0.0)
            # A finished ramp holds the level of its last frame, one step
            # short of 0 dB; a flat stretch at 0 dB right after it sets unity.
            flat_end = a["in"] + 3.0 / f.rate
            if flat_end <= seconds - a["out"]:
                lib.setFaderAction(handle, 0, a["in"], flat_end, 0.0)
        if a["out"] > 0:
            lib.setFaderAction(handle, 0, f.seconds - a["out"], f.seconds, floor_db)


class Stretch(Effect):
    family = "stretch"

    def _make(self, f):
        a = self._values
        scale = -1000.0 * math.log2(a["ratio"])
        e = lib.initStretch(f.frames, f.channels, f.rate, scale, a["level"], a["grain"], a["hop"])
        return self._apply(e, "mode", "setStretchMode", "Stretch")


class Pitch(Effect):
    family = "pitch"

    def _make(self, f):
        a = self._values
        cents = a["cents"] + 100 * a["semitones"]
        if cents < -1200 or cents > 1200:
            self._refuse("the shift must stay within one octave either way")
        e = lib.initPitchShift(f.frames, f.channels, f.rate, cents, a["level"], a["grain"], a["hop"],
                               int(a["cubic"]), int(a["antialias"]))
        return self._apply(e, "mode", "setPitchShiftMode", "PitchShift")


class Chorus(Effect):
    family = "chorus"

    def _make(self, f):
        a = self._values
        return lib.initChorus(f.frames, f.channels, f.rate, int(a["voices"]), a["delay"], a["depth"],
                              a["period"], a["mix"], a["dry"])


class ToolStep(Effect):
    """A step the dspfx tool runs itself, with no library object: it runs in
    a :class:`~dspfx.Pipeline` (and so in process_file and batch), not in a
    Chain."""

    def __call__(self, audio, sample_rate, block=BLOCK):
        from .pipeline import Pipeline
        return Pipeline([self], block=block)(audio, sample_rate)

    def process(self, block, sample_rate, total_frames=None):
        raise TypeError(f"{self.family} runs over a whole stream: use dspfx.Pipeline")

    def _make(self, f):
        raise TypeError(f"{self.family} has no library object: use dspfx.Pipeline")


class Gain(ToolStep):
    family = "gain"


class Norm(ToolStep):
    family = "norm"


class Trim(ToolStep):
    family = "trim"


class Channels(ToolStep):
    family = "channels"


class Reverse(ToolStep):
    family = "reverse"


TOOL_STEPS = {cls.family: cls for cls in (Gain, Norm, Trim, Channels, Reverse)}
assert set(TOOL_STEPS) == set(TOOL_ONLY)

# Which term call frees an object of each family that never reached a chain.
_TERM_OF = {"resample": "Resampler", "hqups": "Hqups", "eq": "ShelvingEQ", "geq": "GraphicEQ",
            "lowpass": "IirFilter", "highpass": "IirFilter", "fade": "Fader", "stretch": "Stretch",
            "pitch": "PitchShift", "chorus": "Chorus"}

EFFECTS = {cls.family: cls for cls in (Resample, Hqups, EQ, GraphicEQ, Lowpass, Highpass, Fade, Stretch,
                                        Pitch, Chorus)}
assert set(EFFECTS) == {f.name for f in FAMILIES} - set(TOOL_ONLY), "every library family has a class"


def parse_effect(text):
    """An effect from the tool's syntax: name or name:key=value,key=value."""
    name, _, rest = text.strip().partition(":")
    cls = EFFECTS.get(name) or TOOL_STEPS.get(name)
    if cls is None:
        raise ValueError(f"unknown effect {name!r} (known: {', '.join(list(EFFECTS) + list(TOOL_STEPS))})")
    params = {}
    for item in rest.split(","):
        if not item:
            continue
        key, eq, value = item.partition("=")
        if not eq:
            raise ValueError(f"{name}: {item!r} should be key=value")
        try:
            params[key.strip()] = float(value)
        except ValueError:
            raise ValueError(f"{name}.{key}: {value!r} is not a number") from None
    try:
        return cls(**params)
    except TypeError as e:
        raise ValueError(str(e)) from None


def _as_planar(audio, channels=None):
    """(channels, frames) float32 view or copy of audio, and whether it came
    as a 1-D array."""
    a = np.asarray(audio)
    if a.dtype.kind != "f":
        raise TypeError(f"audio must be a floating-point array (full scale +-1.0), not {a.dtype}")
    if a.dtype != np.float32:
        a = a.astype(np.float32)
    flat = a.ndim == 1
    if flat:
        a = a[np.newaxis, :]
    if a.ndim != 2:
        raise ValueError(f"audio must have shape (channels, frames) or (frames,), not {a.shape}")
    if a.shape[0] not in (1, 2):
        hint = " (pass audio.T for frames-first arrays)" if a.shape[1] in (1, 2) else ""
        raise ValueError(f"audio must have 1 or 2 channels on its first axis, not shape {a.shape}{hint}")
    if channels is not None and a.shape[0] != channels:
        raise ValueError(f"this stream takes {channels} channel(s), not {a.shape[0]}")
    return a, flat


class Stream:
    """A chain set up in the library for one stream format.

    process() takes blocks of any length and runs the library on whole
    blocks of ``block`` frames, keeping the rest for the next call, so the
    output does not depend on how the input was cut; flush() runs what is
    left as a last, shorter block, as the tool does at the end of a file.
    One stream is used by one thread at a time.
    """

    def __init__(self, chain, sample_rate, channels, total_frames=None, block=BLOCK):
        if int(sample_rate) != sample_rate or not 1 <= sample_rate <= _UINT32_MAX:
            raise ValueError(f"sample_rate must be a whole number of Hz, not {sample_rate!r}")
        if channels not in (1, 2):
            raise ValueError(f"channels must be 1 or 2, not {channels!r}")
        if int(block) != block or not 16 <= block <= 1048576:
            raise ValueError("block must be a whole number of frames, 16 ... 1048576")
        self.sample_rate, self.channels, self.block = int(sample_rate), channels, int(block)
        self._busy = threading.Lock()
        self._handle = lib.dspCreate(self.block, channels, self.sample_rate)
        if not self._handle:
            raise MemoryError("dspfx: no memory for a chain")
        try:
            self._build(list(chain.effects), total_frames)
        except BaseException:
            self.close()
            raise
        self._in = np.zeros(self.block * channels, dtype=np.float32)
        self._fill = 0
        # Room for the largest block any effect may produce, with margin for
        # the rounding of length-changing effects.
        self._out = np.zeros((lib.dspGetDstSize(self._handle, self.block) * 2 + 64) * self.out_channels,
                             dtype=np.float32)
        self._in_addr, self._out_addr = self._in.ctypes.data, self._out.ctypes.data

    def _build(self, effects, total_frames):
        h = self._handle
        seconds = None if total_frames is None else total_frames / self.sample_rate
        f = _Format(self.block, self.channels, self.sample_rate, seconds)
        total = None if total_frames is None else min(int(total_frames), _UINT32_MAX)
        for i, e in enumerate(effects):
            handle = e._make(f)
            if not handle:
                e._refuse(f"the library refused these parameters for a {f.rate} Hz stream")
            if lib.dspAdd(h, handle, i) != i + 1:
                _lib._TERM[_TERM_OF[e.family]](handle)
                raise RuntimeError(f"{e.family}: could not be added to the chain")
            e._schedule(handle, f)
            f.frames = lib.dspGetDstSize(h, self.block)
            f.channels = lib.dspGetDstChannels(h)
            f.rate = lib.dspGetDstRate(h)
            if total is not None:
                f.seconds = lib.dspGetDstSize(h, total) / f.rate
        self.out_channels = 2 if lib.dspGetDstChannels(h) == 2 else 1
        self.out_rate = lib.dspGetDstRate(h)

    def close(self):
        """Frees the library objects now rather than at garbage collection."""
        h, self._handle = getattr(self, "_handle", None), None
        if h:
            lib.dspDestroy(h)

    __del__ = close

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _run(self, frames, src=None):
        # 0 frames out is no error: a short block may legitimately give
        # nothing (a shortening stretch, a converter's first block).
        produced = lib.dspSendFloat(self._handle, self._in_addr if src is None else src, self._out_addr, frames)
        # A plain copy of the interleaved frames, handed out transposed:
        # cheaper than de-interleaving, and the same (channels, frames) array.
        return self._out[:produced * self.out_channels].reshape(produced, self.out_channels).copy().T

    def process(self, block):
        """Output for one block of input of any length: (channels, frames)
        float32 (an empty array while fewer than ``block`` frames wait)."""
        x, _ = _as_planar(block, self.channels)
        if not self._busy.acquire(blocking=False):
            raise RuntimeError("dspfx: a stream is used by one thread at a time")
        try:
            if self._handle is None:
                raise ValueError("dspfx: the stream is closed")
            return self._process(x)
        finally:
            self._busy.release()

    def _put(self, at, x):
        # One strided write per channel: numpy copies a whole transposed
        # block several times slower.
        ch = self.channels
        for c in range(ch):
            self._in[at * ch + c:(at + x.shape[1]) * ch:ch] = x[c]

    def _process(self, x):
        B, n, pos, pieces = self.block, x.shape[1], 0, []
        if self._fill:
            take = min(B - self._fill, n)
            self._put(self._fill, x[:, :take])
            self._fill += take
            pos = take
            if self._fill == B:
                pieces.append(self._run(B))
                self._fill = 0
        # Frames-first memory (mono, or the transpose of a soundfile array)
        # is already interleaved: the library reads it in place.
        direct = x.T.flags.c_contiguous
        step = x.strides[1]
        while n - pos >= B:
            if direct:
                pieces.append(self._run(B, x.ctypes.data + pos * step))
            else:
                self._put(0, x[:, pos:pos + B])
                pieces.append(self._run(B))
            pos += B
        if pos < n:
            self._put(0, x[:, pos:])
            self._fill = n - pos
        if len(pieces) == 1:
            return pieces[0]
        if not pieces:
            return np.zeros((self.out_channels, 0), dtype=np.float32)
        return np.concatenate([p.T for p in pieces], axis=0).T

    def flush(self):
        """Runs the frames still waiting as one last block; returns its output."""
        if not self._busy.acquire(blocking=False):
            raise RuntimeError("dspfx: a stream is used by one thread at a time")
        try:
            if self._handle is None:
                raise ValueError("dspfx: the stream is closed")
            fill, self._fill = self._fill, 0
            if not fill:
                return np.zeros((self.out_channels, 0), dtype=np.float32)
            return self._run(fill)
        finally:
            self._busy.release()


class Chain:
    """Effects run one after another by the library's processing chain.

    ``Chain([Resample(rate=44100), Pitch(cents=300)])``; or from the tool's
    syntax: ``Chain.parse("resample:rate=44100 pitch:cents=300")``.
    """

    def __init__(self, effects=()):
        self.effects = list(effects)
        for e in self.effects:
            if not isinstance(e, Effect):
                raise TypeError(f"a chain holds dspfx effects, not {type(e).__name__}")
            if isinstance(e, ToolStep):
                raise TypeError(f"{e.family} has no library object and cannot join a chain: use dspfx.Pipeline")
        self._stream = None

    @classmethod
    def parse(cls, spec):
        """A chain from the tool's effect arguments: a list of them or one
        string with them separated by spaces."""
        items = spec.split() if isinstance(spec, str) else list(spec)
        return cls([parse_effect(s) for s in items])

    def to_args(self):
        return [e.to_arg() for e in self.effects]

    def __repr__(self):
        return f"Chain({self.effects!r})"

    def __len__(self):
        return len(self.effects)

    def __iter__(self):
        return iter(self.effects)

    def stream(self, sample_rate, channels, total_frames=None, block=BLOCK):
        """A new :class:`Stream` of this chain. total_frames (the length of
        the whole input) is needed only by a fade-out."""
        return Stream(self, sample_rate, channels, total_frames=total_frames, block=block)

    def __call__(self, audio, sample_rate, block=BLOCK):
        """The processed array, in the layout audio came in: (channels,
        frames) or (frames,). The whole input is one stream, processed in
        blocks of block frames as the tool processes a file."""
        x, flat = _as_planar(audio)
        with Stream(self, sample_rate, x.shape[0], total_frames=x.shape[1], block=block) as s:
            head = s._process(x)
            tail = s.flush()
        out = np.concatenate([head.T, tail.T], axis=0).T if tail.shape[1] else head
        return out[0] if flat and out.shape[0] == 1 else out

    def process(self, block, sample_rate, total_frames=None):
        """Streams one block (shape as for calling); the stream starts with the
        first call and ends with :meth:`flush`. Output may lag the input by up
        to ``BLOCK`` frames, which flush() returns."""
        x, flat = _as_planar(block)
        s = self._stream
        if s is None or s.sample_rate != sample_rate or s.channels != x.shape[0]:
            if s is not None:
                s.close()
            s = self._stream = Stream(self, sample_rate, x.shape[0], total_frames=total_frames)
            s.flat = flat
        out = s.process(x)
        return out[0] if flat and out.shape[0] == 1 else out

    def flush(self):
        """The output of what process() still holds; ends the stream."""
        s, self._stream = self._stream, None
        if s is None:
            return None
        try:
            out = s.flush()
        finally:
            s.close()
        return out[0] if s.flat and out.shape[0] == 1 else out

    def reset(self):
        """Drops a stream in progress without running what it holds."""
        s, self._stream = self._stream, None
        if s is not None:
            s.close()
