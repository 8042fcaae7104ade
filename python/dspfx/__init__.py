"""dspfx: the library's audio effects on NumPy arrays.

    import dspfx
    y = dspfx.Pitch(cents=300)(x, 48000)          # x: float32 (channels, frames)
    chain = dspfx.Chain([dspfx.Resample(rate=44100), dspfx.EQ(high=-6)])
    y = chain(x, 48000)
"""

from ._lib import get_simd, set_simd
from ._table import FAMILIES, Family, Param
from .effects import (BLOCK, EFFECTS, EQ, TOOL_STEPS, Chain, Channels, Chorus, Effect, Fade, Gain, GraphicEQ,
                      Highpass, Hqups, Lowpass, Norm, Pitch, Resample, Reverse, Stream, Stretch, ToolStep, Trim,
                      parse_effect)
from .analysis import Slice, Spectrogram, envelope, slices, spectrum, spectrum_frames, to_pcm16
from .io import encode, process_file, read, read_wav, write
from .pipeline import Pipeline

__all__ = [
    "BLOCK", "EFFECTS", "FAMILIES", "Family", "Param", "Effect", "Chain", "Stream", "parse_effect",
    "Resample", "Hqups", "EQ", "GraphicEQ", "Lowpass", "Highpass", "Fade", "Stretch", "Pitch", "Chorus",
    "TOOL_STEPS", "ToolStep", "Gain", "Norm", "Trim", "Channels", "Reverse",
    "Slice", "Spectrogram", "envelope", "slices", "spectrum", "spectrum_frames", "to_pcm16",
    "read", "write", "encode", "read_wav", "process_file", "Pipeline", "set_simd", "get_simd",
]
