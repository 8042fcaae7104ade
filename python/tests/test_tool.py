"""The package and the command-line tool give the same file for the same
effects: same library objects, same pieces, same delay compensation and
the same quantisation (the tool's dither is off: it is the tool's own
noise, not the library's)."""

import numpy as np
import pytest
import soundfile as sf

import dspfx
from conftest import noise, run_tool

SPECS = [
    "resample:rate=44100", "resample:rate=96000,cubic=0,quality=1", "resample:rate=22050,quality=0",
    "hqups:harmonics=0.5,mix=60", "hqups:quality=1", "eq:low=6,high=-9,bands=256",
    "geq:g125=6,g4k=9,master=-3", "lowpass:freq=3000,order=6", "highpass:freq=300", "fade:in=0.3,out=0.5",
    "stretch:ratio=1.7", "stretch:ratio=0.6,grain=0.03,mode=0", "pitch:cents=-350,semitones=2",
    "pitch:cents=500,mode=0", "chorus:voices=4,mix=40",
    "resample:rate=32000 pitch:cents=700 eq:high=-12,mode=0 fade:in=0.2,out=0.2",
    "stretch:ratio=1.3 resample:rate=22050 chorus",
    "gain:db=-4.5 trim:start=0.25,length=0.5 pitch:cents=100", "norm:level=-1 reverse eq:low=-6",
    "channels:count=1 lowpass:freq=5000 channels:count=2",
]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    d = tmp_path_factory.mktemp("tool")
    files = {}
    for ch in (1, 2):
        # Not a whole number of blocks, and loud enough to clip in places.
        x = noise(ch, 48000 + 4096 + 777, seed=ch, level=0.45)
        files[ch] = str(d / f"in{ch}.wav")
        sf.write(files[ch], x.T, 48000, subtype="PCM_16")
    return d, files


@pytest.mark.parametrize("spec", SPECS)
@pytest.mark.parametrize("channels", [1, 2])
def test_same_output_as_dspfx_process(tool, inputs, spec, channels):
    d, files = inputs
    theirs, ours = str(d / "tool.wav"), str(d / "package.wav")
    run_tool(tool, "process", files[channels], theirs, *spec.split(), "--no-dither")
    dspfx.process_file(files[channels], ours, spec)
    a, rate_a = sf.read(theirs, dtype="int16", always_2d=True)
    b, rate_b = sf.read(ours, dtype="int16", always_2d=True)
    assert (rate_a, a.shape) == (rate_b, b.shape)
    diff = np.flatnonzero((a != b).any(axis=1))
    assert diff.size == 0, (f"{spec}: {diff.size} of {a.shape[0]} frames differ, first at {diff[0]}: "
                            f"tool {a[diff[0]]}, package {b[diff[0]]}")
    # The same pipeline on an array in memory.
    x, rate = dspfx.read(files[channels])
    assert np.array_equal(dspfx.encode(dspfx.Pipeline(spec)(x, rate), "PCM_16")[0], b)
