"""Compares plugin output with the tool's: one comparison per line of LIST.

  exact TOOL.wav PLUGIN.wav LIMIT DELAY  samples at most LIMIT apart (0: bit
                                         for bit)
  lsb TOOL.wav PLUGIN.wav LIMIT DELAY    16-bit files at most LIMIT steps apart

The tool takes an effect's delay out of its output and appends the tail a
delay line still holds; a plugin in a stream does neither. So the plugin's
output from frame DELAY on is compared with the tool's from frame 0, over the
plugin's length.
"""
import sys

import numpy as np
import soundfile as sf


def compare(mode, a_path, b_path, limit="0", delay="0"):
    # soundfile reads 16-bit samples as x / 32768 exactly and float32 as is.
    a, rate_a = sf.read(a_path, dtype="float64", always_2d=True)
    b, rate_b = sf.read(b_path, dtype="float64", always_2d=True)
    shift = int(delay)
    b = b[shift:]
    if a.shape[1] != b.shape[1] or a.shape[0] < b.shape[0] or rate_a != rate_b or b.shape[0] == 0:
        print(f"{b_path}: {b.shape} at {rate_b} Hz after a delay of {shift}, tool {a.shape} at {rate_a} Hz")
        return 1
    d = np.abs(a[: b.shape[0]] - b)
    if mode == "lsb":
        d = d * 32768.0
    worst = float(d.max()) if d.size else 0.0
    print(f"{b_path}: max difference {worst:g}{' LSB' if mode == 'lsb' else ''}, "
          f"{100.0 * np.mean(d == 0):.2f}% of samples equal")
    return 0 if worst <= float(limit) else 1


def main(list_path):
    failed = 0
    for line in open(list_path):
        if line.split() and compare(*line.split()):
            print("FAILED: " + line.strip())
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
