"""Compares plugin output with the tool's.

  compare_wav.py tofloat IN.wav OUT.wav   16-bit input as the library reads it
      (sample / 32767), written as 32-bit float
  compare_wav.py LIST                     one comparison per line:
    float TOOL.wav PLUGIN.wav   plugin output in float, quantised as the
        library's scalar form does (clamp, times 32767 in double, truncate);
        must equal the tool's 16-bit samples exactly
    lsb A.wav B.wav LIMIT       two 16-bit files at most LIMIT steps apart
"""
import sys

import numpy as np
import soundfile as sf


def compare(mode, a_path, b_path, limit="0"):
    a, rate_a = sf.read(a_path, dtype="int16", always_2d=True)
    if mode == "float":
        y, rate_b = sf.read(b_path, dtype="float32", always_2d=True)
        b = np.trunc(np.clip(y.astype(np.float64), -1.0, 1.0) * 32767.0).astype(np.int64)
    else:
        b, rate_b = sf.read(b_path, dtype="int16", always_2d=True)
    if a.shape != b.shape or rate_a != rate_b:
        print(f"{b_path}: {b.shape} at {rate_b} Hz, expected {a.shape} at {rate_a} Hz")
        return 1
    d = np.abs(a.astype(np.int64) - b)
    worst = int(d.max()) if d.size else 0
    print(f"{b_path}: max difference {worst} LSB, {100.0 * np.mean(d == 0):.2f}% of samples equal")
    return 0 if worst <= int(limit) else 1


def main(args):
    if args[0] == "tofloat":
        x, rate = sf.read(args[1], dtype="int16", always_2d=True)
        sf.write(args[2], (x.astype(np.float64) * (1.0 / 32767.0)).astype(np.float32), rate, subtype="FLOAT")
        return 0
    failed = 0
    for line in open(args[0]):
        if line.split():
            if compare(*line.split()):
                print("FAILED: " + line.strip())
                failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
