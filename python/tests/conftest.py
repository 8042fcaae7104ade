import os
import shutil
import subprocess

import sys

import pytest

# The package under test is the source tree beside these tests.
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

np = pytest.importorskip("numpy", reason="numpy is missing (Debian: python3-numpy); the package needs it")
pytest.importorskip("soundfile", reason="soundfile is missing (Debian: python3-soundfile)")


@pytest.fixture(scope="session")
def tool():
    """The dspfx command-line tool built beside the library under test."""
    path = os.environ.get("DSPFX_TOOL") or shutil.which("dspfx")
    if not path or not os.path.exists(path):
        pytest.skip("the dspfx tool is not available (set DSPFX_TOOL)")
    return path


def run_tool(tool, *args):
    done = subprocess.run([tool, *args, "--quiet"], capture_output=True, text=True)
    assert done.returncode == 0, f"dspfx {' '.join(args)} failed: {done.stderr}"
    return done.stdout


def noise(channels, frames, seed=1, level=0.25):
    """Band-limited-ish test signal: noise plus a sine, deterministic."""
    rng = np.random.default_rng(seed)
    t = np.arange(frames) / 48000.0
    x = level * rng.standard_normal((channels, frames)) * 0.5 + level * np.sin(2 * np.pi * 440 * t)
    return x.astype(np.float32)
