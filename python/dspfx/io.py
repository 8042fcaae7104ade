"""Audio files: soundfile for reading and writing any format it knows, the
library's own reader for 16-bit PCM WAV, and whole-file processing.

Every file written here appears complete or not at all: it is written under
a temporary name beside its final one and renamed into place.
"""

import os
import uuid

import numpy as np

from ._lib import lib
from .effects import BLOCK, Chain, Effect, _as_planar
from .pipeline import Pipeline

# The name of a file being written contains this tag; a batch sweeps up what
# a killed writer left behind by it.
PART_TAG = ".dspfx-part-"


def part_path(path, tag=None):
    """The temporary name under which path is written."""
    d, base = os.path.split(os.path.abspath(path))
    return os.path.join(d, f".{base}{PART_TAG}{tag or ''}{os.getpid()}-{uuid.uuid4().hex[:8]}")


def _soundfile():
    try:
        import soundfile
    except ImportError as e:  # pragma: no cover - Debian's python3-soundfile is a dependency
        raise ImportError("dspfx: reading and writing files needs soundfile (Debian: python3-soundfile)") from e
    return soundfile


def read(path):
    """(audio, sample_rate): audio float32 (channels, frames), full scale +-1.0."""
    sf = _soundfile()
    data, rate = sf.read(path, dtype="float32", always_2d=True)
    return np.ascontiguousarray(data.T), rate


def write(path, audio, sample_rate, subtype=None, format=None, part_tag=None):
    """Writes (channels, frames) or (frames,) float audio; the format follows
    the file name unless given, subtype as soundfile names it (default: its
    default for the format, PCM_16 for WAV), quantised as :func:`encode`
    does."""
    sf = _soundfile()
    x, _ = _as_planar(audio)
    if format is None:
        format = os.path.splitext(path)[1].lstrip(".").upper() or "WAV"
    subtype = subtype or sf.default_subtype(format)
    tmp = part_path(path, part_tag)
    try:
        sf.write(tmp, encode(x, subtype)[0], int(sample_rate), subtype=subtype, format=format)
        os.replace(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise


_PCM_BITS = {"PCM_S8": 8, "PCM_U8": 8, "PCM_16": 16, "PCM_24": 24, "PCM_32": 32}
_FLOAT_SUBTYPES = ("FLOAT", "DOUBLE")


def encode(audio, subtype):
    """(frames, channels) samples for soundfile to store exactly as subtype,
    and the number of samples clipped. Integer formats are rounded to the
    nearest step of full scale 2^(bits-1) and saturate (libsndfile's own
    float conversion scales by 2^(bits-1) - 1 and does not clip); float
    formats keep the values; other encodings clip to +-1.0."""
    x = np.asarray(audio, dtype=np.float32)
    x = x[np.newaxis, :] if x.ndim == 1 else x
    bits = _PCM_BITS.get(subtype)
    if bits == 16:
        # In float32 the scaling is exact and x + 0.5 only rounds where the
        # value saturates anyway, so this equals the double-precision form.
        q = x.T * np.float32(32768.0)
        np.add(q, np.float32(0.5), out=q)
        np.floor(q, out=q)
        over = int(np.count_nonzero(q > 32767.0)) + int(np.count_nonzero(q < -32768.0))
        np.clip(q, -32768.0, 32767.0, out=q)
        q[np.isnan(q)] = 0
        return q.astype(np.int16), over
    if bits:
        scale = float(1 << (bits - 1))
        r = np.floor(x.T.astype(np.float64) * scale + 0.5)
        over = (r > scale - 1) | (r < -scale)
        r = np.nan_to_num(np.clip(r, -scale, scale - 1), nan=0.0)
        # Left-aligned in 32 bits: libsndfile keeps the top bits exactly.
        return (r.astype(np.int64) << (32 - bits)).astype(np.int32), int(over.sum())
    if subtype in _FLOAT_SUBTYPES:
        return np.ascontiguousarray(x.T), 0
    over = (x > 1.0) | (x < -1.0)
    return np.ascontiguousarray(np.clip(x, -1.0, 1.0).T), int(over.sum())


def read_wav(path, dtype="float32", block=BLOCK):
    """A 16-bit PCM WAV file through the library's own reader: (audio,
    sample_rate), audio (channels, frames). dtype "int16" gives the samples
    as stored; "float32" divides them by 32768, as soundfile does."""
    if dtype not in ("float32", "int16"):
        raise ValueError("dtype must be 'float32' or 'int16'")
    reader = lib.initWavefileIn(os.fsencode(path), block)
    if not reader:
        raise ValueError(f"{path}: not a readable WAV file")
    try:
        fmt = lib.getFormatWavefileIn(reader).contents
        header = lib.getHeaderWavefileIn(reader).contents
        if fmt.formatTag != 1 or fmt.bitsPerSample != 16 or fmt.channels not in (1, 2):
            raise ValueError(f"{path}: only 16-bit PCM with 1 or 2 channels is read here "
                             f"(format {fmt.formatTag}, {fmt.bitsPerSample} bits, {fmt.channels} channels)")
        ch, frame_bytes = fmt.channels, 2 * fmt.channels
        total = header.dataBytes // frame_bytes
        pcm = np.zeros((total, ch), dtype=np.int16)
        done = 0
        while done < total:
            want = min(block, total - done)
            got = lib.readWavefileIn(reader, pcm[done:].ctypes.data, want)
            if got < 0:
                raise OSError(f"{path}: read error")
            if got == 0:
                break
            done += got // frame_bytes
        if done < total:
            raise ValueError(f"{path}: the file ends {total - done} frames before its data chunk says")
        rate = fmt.samplesPerSec
    finally:
        lib.termWavefileIn(reader)
    out = np.ascontiguousarray(pcm.T)
    if dtype == "int16":
        return out, rate
    return out.astype(np.float32) / np.float32(32768.0), rate


def process_file(src, dst, chain, block=BLOCK, subtype=None, part_tag=None):
    """Runs effects (a Pipeline, Chain, effect, or the tool's effect
    arguments) over the file src and writes dst as ``dspfx process`` does
    (see :class:`Pipeline`), in blocks of block frames; the
    output keeps the input's subtype unless one is given and is quantised
    as :func:`encode` does. Returns (seconds of input, samples clipped)."""
    sf = _soundfile()
    if isinstance(chain, Chain):
        chain = chain.effects
    elif isinstance(chain, Effect):
        chain = [chain]
    pipeline = chain if isinstance(chain, Pipeline) else Pipeline(chain, block=block)
    info = sf.info(src)
    if info.channels not in (1, 2):
        raise ValueError(f"{src}: {info.channels} channels; the effects take 1 or 2")
    subtype = subtype or info.subtype
    clipped = 0
    tmp = part_path(dst, part_tag)
    try:
        with sf.SoundFile(src) as fin:
            s = pipeline.start(fin.samplerate, fin.channels, total_frames=fin.frames)
            out_format = os.path.splitext(dst)[1].lstrip(".").upper() or info.format
            with sf.SoundFile(tmp, "w", samplerate=s.sample_rate, channels=s.channels,
                              subtype=subtype, format=out_format) as fout:
                buf = np.empty((block, fin.channels), dtype=np.float32)
                while True:
                    piece = fin.read(block, dtype="float32", always_2d=True, out=buf)
                    if not len(piece):
                        break
                    clipped += _write(fout, s.put(piece.T), subtype)
                clipped += _write(fout, s.finish(), subtype)
                s.close()
            frames = fin.frames
        os.replace(tmp, dst)
    except BaseException:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise
    return frames / info.samplerate, clipped


def _write(fout, y, subtype):
    if not y.shape[1]:
        return 0
    data, clipped = encode(y, subtype)
    fout.write(data)
    return clipped


__all__ = ["read", "write", "encode", "read_wav", "process_file", "part_path", "PART_TAG"]
