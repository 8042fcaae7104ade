"""Reads the tool's help for the plugins' control ports.

  check_ports.py EFFECT LV2INFO.txt HELP.txt  lv2info shows each control port
      with the range and default the tool's help prints for that parameter
  check_ports.py --values HELP.txt k=v,...    every parameter's value in table
      order (the given ones, else the tool's default), for hosts that take
      control values by position
"""
import re
import sys


def numbers_after_name(line):
    values = []
    for token in line.split()[1:]:
        try:
            values.append(float(token))
        except ValueError:
            continue
        if len(values) == 3:
            break
    return values


def main(effect, info_path, help_path):
    ports = {}
    symbol = None
    for line in open(info_path):
        m = re.match(r"\s*(Symbol|Minimum|Maximum|Default):\s+(\S+)", line)
        if not m:
            continue
        if m.group(1) == "Symbol":
            symbol = m.group(2)
            ports[symbol] = {}
        else:
            ports[symbol][m.group(1)] = float(m.group(2))
    failures = 0
    params = 0
    for line in open(help_path).read().splitlines()[1:]:
        if not line.startswith("  ") or not line.strip():
            continue
        name = line.split()[0]
        lo, hi, default = numbers_after_name(line)
        params += 1
        got = ports.get(name)
        want = {"Minimum": lo, "Maximum": hi, "Default": default}
        if got is None or any(abs(got.get(k, float("nan")) - v) > 1e-6 * max(1.0, abs(v)) for k, v in want.items()):
            print(f"{effect}.{name}: lv2info shows {got}, the tool's help says {want}")
            failures += 1
    if params == 0:
        print(f"{effect}: no parameters read from the help text")
        return 1
    print(f"{effect}: {params} control ports match the tool's help")
    return 1 if failures else 0


def help_params(help_path):
    for line in open(help_path).read().splitlines()[1:]:
        if line.startswith("  ") and line.strip():
            yield line.split()[0], numbers_after_name(line)


def values(help_path, given):
    asked = dict(kv.split("=") for kv in given.split(",") if kv)
    print(" ".join(asked.get(name, "%.9g" % nums[2]) for name, nums in help_params(help_path)))
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "--values":
        sys.exit(values(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else ""))
    sys.exit(main(*sys.argv[1:4]))
