import os
import subprocess
import sys

import numpy as np
import pytest

import dspfx
from dspfx import _lib
from conftest import noise

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
import gen_table  # noqa: E402

def test_parameter_table_is_the_tools(tool):
    text = subprocess.run([tool, "help", "effects"], capture_output=True, text=True, check=True).stdout
    families = {name: (summary, params) for name, summary, params in gen_table.parse(text)}
    ours = {f.name: (f.summary, [(p.name, p.unit, f"{p.min:g}", f"{p.max:g}", f"{p.default:g}", p.help)
                                 for p in f.params]) for f in dspfx.FAMILIES}
    assert ours == families, "the tool's effects changed: run python/tools/gen_table.py"
    assert set(dspfx.EFFECTS) | set(dspfx.TOOL_STEPS) == set(families)


def test_parameters_are_checked_by_name_and_range():
    e = dspfx.Pitch(cents=-300, level=-6)
    assert (e.cents, e.level, e.grain) == (-300, -6, 0.04)
    for bad in ({"cents": 1201}, {"hop": 0}, {"level": float("nan")}, {"cubic": "yes"}):
        with pytest.raises(ValueError, match="pitch"):
            dspfx.Pitch(**bad)
    with pytest.raises(TypeError, match="unknown parameter 'pitch'"):
        dspfx.Pitch(pitch=3)
    with pytest.raises(ValueError, match="outside"):
        e.cents = 5000
    assert e.cents == -300, "a refused value leaves the old one"
    # "in" is a Python keyword: in_ reaches the same parameter.
    assert dspfx.Fade(in_=0.25).params == dspfx.Fade(**{"in": 0.25}).params
    assert dspfx.Fade(in_=0.25).params["in"] == 0.25


def test_tool_syntax_round_trip():
    for name, cls in dspfx.EFFECTS.items():
        info = cls.info()
        # Every parameter moved off its default, still within range.
        values = {p.name: p.min + (p.max - p.min) * 0.3 for p in info.params if p.unit != "0/1"}
        e = cls(**{k + ("_" if k == "in" else ""): v for k, v in values.items()})
        assert dspfx.parse_effect(e.to_arg()) == e
    chain = dspfx.Chain.parse("resample:rate=44100 pitch:cents=300,level=-3")
    assert [e.family for e in chain] == ["resample", "pitch"]
    assert chain.effects[1].level == -3
    for bad in ("nosuch", "pitch:cents", "pitch:cents=x", "pitch:wobble=1", "pitch:cents=9999", "gain:db=99"):
        with pytest.raises(ValueError):
            dspfx.parse_effect(bad)


def test_layouts_and_types():
    x = noise(1, 10000)
    lp = dspfx.Lowpass(freq=2000)
    flat = lp(x[0], 48000)
    assert flat.shape == (10000,) and flat.dtype == np.float32
    assert np.array_equal(lp(x, 48000)[0], flat)
    assert np.array_equal(lp(x[0].astype(np.float64), 48000), flat)
    with pytest.raises(TypeError):
        lp(np.zeros(100, dtype=np.int16), 48000)
    with pytest.raises(ValueError, match="audio.T"):
        lp(np.zeros((100, 2), dtype=np.float32), 48000)
    with pytest.raises(ValueError):
        lp(np.zeros((3, 100), dtype=np.float32), 48000)
    assert lp(np.zeros((2, 0), dtype=np.float32), 48000).shape == (2, 0)


def test_stereo_channels_stay_apart():
    # Each channel has its own filter state: a stereo run is two mono runs,
    # in the right order.
    x = noise(2, 9000)
    x[1] *= 0.3
    hp = dspfx.Highpass(freq=500, order=6)
    y = hp(x, 44100)
    assert np.array_equal(y[0], hp(x[0], 44100))
    assert np.array_equal(y[1], hp(x[1], 44100))


def test_zero_shifts_pass_input_through():
    # The fixed grains pass a zero shift through untouched; the aligned ones
    # (mode 1) run it through their engine and so delay it.
    x = noise(2, 12345)
    assert np.array_equal(dspfx.Pitch(cents=0, mode=0)(x, 48000), x)
    assert np.array_equal(dspfx.Stretch(ratio=1, mode=0)(x, 48000), x)


CHAIN = "resample:rate=44100 eq:high=-6,bands=256 stretch:ratio=1.3 pitch:cents=-200 fade:in=0.1,out=0.2 chorus"


def test_stream_output_does_not_depend_on_how_input_is_cut():
    chain = dspfx.Chain.parse(CHAIN)
    x = noise(2, 48000 + 1234)
    whole = chain(x, 48000)
    assert whole.shape[0] == 2 and abs(whole.shape[1] - 48000 * 44100 / 48000 * 1.3) < 3 * 4096
    rng = np.random.default_rng(7)
    s = chain.stream(48000, 2, total_frames=x.shape[1])
    cuts = np.sort(rng.integers(0, x.shape[1], 12))
    pieces = [s.process(x[:, a:b]) for a, b in zip(np.r_[0, cuts], np.r_[cuts, x.shape[1]])]
    pieces.append(s.flush())
    assert np.array_equal(np.concatenate(pieces, axis=1), whole)
    s.close()
    # The chain's own streaming, as a host feeding 4096-frame blocks would.
    mono = chain(x[0], 48000)
    out = [chain.process(x[0, a:a + 4096], 48000, total_frames=x.shape[1]) for a in range(0, x.shape[1], 4096)]
    out.append(chain.flush())
    assert np.array_equal(np.concatenate(out), mono)


def test_refusals_name_the_reason_and_leak_nothing():
    before = _lib.lib.fastmemGetAllocatedSize()
    x = noise(2, 4800)
    cases = [("lowpass:freq=30000", "half the sample rate"), ("fade:in=0.08,out=0.08", "longer than the stream"),
             ("pitch:cents=1000,semitones=3", "one octave"), ("eq:bands=100", "power of two"),
             ("eq:lowfreq=5000,highfreq=1000", "lowfreq")]
    for spec, why in cases:
        with pytest.raises(ValueError, match=why):
            dspfx.Chain.parse("eq:low=3 " + spec)(x, 48000)
    with pytest.raises(ValueError, match="total_frames"):
        dspfx.Chain.parse("fade:out=1").stream(48000, 2)
    dspfx.Chain.parse(CHAIN)(noise(2, 30000), 48000)
    c = dspfx.Chain.parse("pitch:cents=100")
    c.process(x, 48000)
    c.reset()
    assert _lib.lib.fastmemGetAllocatedSize() == before
