import json
import subprocess

import numpy as np
import pytest
import soundfile as sf

import dspfx
from conftest import noise


def sine(freq, frames, rate=48000, amp=1.0):
    return (amp * np.sin(2 * np.pi * freq * np.arange(frames) / rate)).astype(np.float32)


def test_spectrum_peaks_on_the_sine_bin():
    n, k = 2048, 100
    x = sine(k * 48000 / n, n, amp=0.999)
    db = dspfx.spectrum(x, fft_size=n, channels="left")
    assert db.shape == (n // 2,) and int(np.argmax(db)) == k
    # Full scale on a bin reads about 20 log10(N/4) dB (window gain 1/2).
    assert db[k] == pytest.approx(20 * np.log10(n / 4), abs=0.5)
    both = dspfx.spectrum(np.stack([x, 0.5 * x]), fft_size=n, channels="both")
    assert both.shape == (2, n // 2)
    assert both[0, k] - both[1, k] == pytest.approx(20 * np.log10(2), abs=0.05)
    with pytest.raises(ValueError):
        dspfx.spectrum(x, fft_size=1000)


def test_spectrum_frames_follow_a_tone_that_starts_late():
    x = np.zeros(48000, dtype=np.float32)
    x[24000:] = sine(3000, 24000)
    s = dspfx.spectrum_frames(x, 48000, fft_size=1024)
    assert s.db.shape == (1, 48000 // 256 + (48000 % 256 > 0), 512)
    k = int(round(3000 / s.frequencies[1]))
    quiet, loud = s.db[0, s.times < 0.45, k], s.db[0, s.times > 0.55, k]
    assert quiet.max() < loud.min() - 60


def test_envelope_settles_on_the_amplitude():
    x = np.stack([sine(1000, 24000, amp=0.5), sine(1000, 24000, amp=0.25)])
    env = dspfx.envelope(x, 48000)
    assert env.shape == x.shape
    # 1 ms peak hold over a 1 kHz sine: the peak, smoothed; 16-bit steps.
    assert env[0, 12000:].mean() == pytest.approx(0.5, abs=0.01)
    assert env[1, 12000:].mean() == pytest.approx(0.25, abs=0.01)


def bursts(rate=48000):
    x = np.zeros(rate * 2, dtype=np.float32)
    starts = (0.2, 0.8, 1.4)
    for s in starts:
        a = int(s * rate)
        x[a:a + rate // 5] = noise(1, rate // 5, seed=int(s * 10), level=0.6)[0]
    return x, starts


def test_slices_open_at_the_attacks():
    x, starts = bursts()
    found = dspfx.slices(x, 48000)
    assert len(found) == 3
    for s, want in zip(found, starts):
        assert s.start == pytest.approx(want, abs=0.005) and s.end > s.start
    with pytest.raises(ValueError):
        dspfx.slices(x, 48000, rise=150)


def test_slices_equal_the_tools(tool, tmp_path):
    x, _ = bursts()
    path = str(tmp_path / "bursts.wav")
    sf.write(path, x, 48000, subtype="PCM_16")
    pcm, rate = dspfx.read_wav(path, dtype="int16")
    out = subprocess.run([tool, "slices", path, "--json", "--quiet", "--open", "-30", "--close", "-45", "--rise", "10",
                          "--min", "0.05"], capture_output=True, text=True, check=True)
    theirs = [(round(s["start"], 6), round(s["end"], 6)) for s in json.loads(out.stdout)["slices"]]
    ours = [(round(s.start, 6), round(s.end, 6)) for s in dspfx.slices(pcm, rate)]
    assert ours == theirs and len(ours) == 3


def test_files_read_and_write_exactly(tmp_path):
    x = noise(2, 5000)
    path = str(tmp_path / "a.wav")
    dspfx.write(path, x, 44100)
    pcm, rate = dspfx.read_wav(path, dtype="int16")
    assert rate == 44100 and pcm.shape == (2, 5000)
    # Nearest 16-bit step of full scale 32768, as the tool quantises.
    assert np.array_equal(pcm, np.floor(x.astype(np.float64) * 32768 + 0.5).astype(np.int16))
    a, _ = dspfx.read(path)
    b, _ = dspfx.read_wav(path)
    assert np.array_equal(a, b)
    # Beyond full scale saturates and is counted.
    data, clipped = dspfx.io.encode(np.array([[1.5, -1.5, 0.5]], dtype=np.float32), "PCM_16")
    assert data[:, 0].tolist() == [32767, -32768, 16384] and clipped == 2
    sf.write(str(tmp_path / "b.wav"), x.T, 44100, subtype="PCM_24")
    with pytest.raises(ValueError, match="16-bit"):
        dspfx.read_wav(str(tmp_path / "b.wav"))
    with pytest.raises(ValueError):
        dspfx.read_wav(str(tmp_path / "missing.wav"))
    assert not [p for p in tmp_path.iterdir() if p.name.startswith(".")], "no temporary file left"
