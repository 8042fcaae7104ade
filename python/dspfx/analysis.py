"""The analysers: spectra, envelope and attack slices of an array.

The library analyses 16-bit PCM; float input is converted by the library's
own encoder (so with the same rounding as the rest of its PCM paths).
"""

from collections import namedtuple

import numpy as np

from .effects import BLOCK, _as_planar
from ._lib import lib

Slice = namedtuple("Slice", "start end")
Slice.__doc__ = "One slice: start and end in seconds from the start of the input."
Spectrogram = namedtuple("Spectrogram", "db frequencies times")
Spectrogram.__doc__ = ("Spectra in dB: db has shape (channels, frames, bins); frequencies (Hz) of the "
                       "bins; times (s) at which each frame's newest block starts.")


def to_pcm16(audio):
    """float audio (full scale +-1.0) as interleaved int16 frames, shape
    (frames, channels), through the library's encoder: values beyond full
    scale saturate."""
    x, _ = _as_planar(audio)
    scaled = np.ascontiguousarray(x.T * np.float32(32767.0), dtype=np.float32)
    pcm = np.empty(scaled.shape, dtype=np.int16)
    if scaled.size:
        lib.dspPcmEncode(scaled.ctypes.data, pcm.ctypes.data, scaled.size)
    return pcm


def _pcm_of(audio):
    a = np.asarray(audio)
    if a.dtype == np.int16:
        pcm = a[np.newaxis, :] if a.ndim == 1 else a
        if pcm.ndim != 2 or pcm.shape[0] not in (1, 2):
            raise ValueError(f"audio must have shape (channels, frames) or (frames,), not {a.shape}")
        return np.ascontiguousarray(pcm.T)
    return to_pcm16(a)


def _blocks(pcm, size):
    for start in range(0, pcm.shape[0], size):
        block = pcm[start:start + size]
        yield start, block.shape[0], block.ctypes.data


def spectrum_frames(audio, sample_rate, fft_size=2048, hop=None):
    """Overlapping spectra over the whole input: every hop frames (default
    fft_size / 4) the spectrum of the newest fft_size frames, the history
    starting silent. audio is float (+-1.0) or int16 PCM."""
    pcm = _pcm_of(audio)
    frames, ch = pcm.shape
    hop = fft_size // 4 if hop is None else int(hop)
    handle = lib.initFftAnalyze(hop, ch, fft_size, max(fft_size, hop)) if hop >= 1 else None
    if not handle:
        raise ValueError("fft_size must be a power of two, 4 ... 32768, and hop at least 1 frame")
    bins = fft_size // 2
    count = -(-frames // hop)
    db = np.empty((ch, count, bins), dtype=np.float32)
    out = np.empty(bins * 2, dtype=np.float32)
    try:
        for i, (_, n, addr) in enumerate(_blocks(pcm, hop)):
            if not lib.doFftAnalyze(handle, addr, out.ctypes.data, n * 2 * ch):
                raise RuntimeError("dspfx: the spectrum analyser refused a block")
            db[:, i, :] = out[:ch * bins].reshape(ch, bins)
    finally:
        lib.termFft(handle)
    freqs = np.arange(bins) * (sample_rate / fft_size)
    return Spectrogram(db, freqs, np.arange(count) * (hop / sample_rate))


_SPECTRUM_CHANNELS = {"left": 0, "mix": 1, "both": 2}


def spectrum(audio, fft_size=2048, channels="mix", floor_db=120):
    """The spectrum of one block of up to fft_size frames (zero-padded), in
    dB no lower than -floor_db: shape (bins,), or (2, bins) for
    channels="both" (left, right). channels "mix" averages a stereo input,
    "left" takes the left channel."""
    if channels not in _SPECTRUM_CHANNELS:
        raise ValueError(f"channels must be one of {', '.join(_SPECTRUM_CHANNELS)}, not {channels!r}")
    pcm = _pcm_of(audio)
    if pcm.shape[0] > fft_size:
        raise ValueError(f"a block of {pcm.shape[0]} frames does not fit fft_size {fft_size}; "
                         "use spectrum_frames for longer input")
    if not 0 <= floor_db <= 0xFFFFFFFF or int(floor_db) != floor_db:
        raise ValueError("floor_db must be a whole, non-negative number of dB")
    handle = lib.initFft(fft_size, pcm.shape[1], _SPECTRUM_CHANNELS[channels], int(floor_db))
    if not handle:
        raise ValueError("fft_size must be a power of two, 4 ... 32768")
    out = np.empty(fft_size, dtype=np.float32)
    try:
        bins = lib.doFft(handle, pcm.ctypes.data if pcm.size else None, out.ctypes.data, pcm.nbytes)
    finally:
        lib.termFft(handle)
    return out.reshape(2, bins) if channels == "both" else out[:bins].copy()


def envelope(audio, sample_rate, block=BLOCK):
    """The envelope of every channel, one value per frame, full scale 1.0:
    the peak over the last millisecond smoothed by a 33 Hz low-pass.
    Shape (channels, frames)."""
    pcm = _pcm_of(audio)
    frames, ch = pcm.shape
    handle = lib.initEnvAnalyze(block, ch, int(sample_rate))
    if not handle:
        raise ValueError(f"the envelope follower refused a {sample_rate} Hz stream (it needs more than 66 Hz)")
    env = np.empty((ch, frames), dtype=np.float32)
    out = np.empty(block * 2, dtype=np.float32)
    try:
        for start, n, addr in _blocks(pcm, block):
            lib.doEnvAnalyze(handle, addr, out.ctypes.data, n * 2 * ch)
            env[:, start:start + n] = out[:ch * n].reshape(ch, n)
    finally:
        lib.termFft(handle)
    return env / np.float32(32767.0)


def slices(audio, sample_rate, open_db=-30.0, close_db=-45.0, rise=10.0, min_time=0.05, block=BLOCK):
    """Cuts the input at its attacks; a list of :class:`Slice` (seconds).

    A slice opens where the envelope, at or above open_db (dBFS), has risen
    by rise percent of full scale since the last valley, and closes when it
    falls below close_db once it is longer than min_time seconds."""
    if open_db > 0 or close_db > 0:
        raise ValueError("open_db and close_db are dBFS levels, at most 0")
    if not 0 <= rise <= 100:
        raise ValueError("rise must lie in 0 ... 100 percent")
    if not 0 <= min_time <= 3600:
        raise ValueError("min_time must lie in 0 ... 3600 seconds")
    pcm = _pcm_of(audio)
    ch = pcm.shape[1]
    handle = lib.initWaveSlice(block, ch, int(sample_rate), open_db, close_db, rise, min_time)
    if not handle:
        raise ValueError(f"the slicer refused a {sample_rate} Hz stream (it needs more than 66 Hz)")
    try:
        for _, n, addr in _blocks(pcm, block):
            lib.doWaveSlice(handle, addr, n * 2 * ch)
        count = lib.stopWaveSlice(handle)
        out = []
        for i in range(count):
            r = lib.getWaveSlice(handle, i).contents
            out.append(Slice(float(r.start), float(r.end)))
        return out
    finally:
        lib.termWaveSlice(handle)
