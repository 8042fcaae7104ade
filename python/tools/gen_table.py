"""Writes dspfx/_table.py from the tool's own description of its effects.

    gen_table.py PATH/TO/dspfx

Run it after the tool's effects change; tests/test_effects.py fails until
the package's table is the tool's again.
"""

import os
import re
import subprocess
import sys

FAMILY = re.compile(r"^(\w+): (.*)$")
LINE = re.compile(r"^  (\S+)\s+(.*?)\s+(\S+) \.\.\. (\S+)\s+default (\S+)\s+(.*)$")
HEAD = '''"""The effects a chain can hold and their parameters: names, units, ranges
and defaults exactly as the command-line tool states them, so an effect
written for one works unchanged in the other. Written by tools/gen_table.py
from `dspfx help effects`; tests compare it with the tool's help text."""

from collections import namedtuple

Param = namedtuple("Param", "name unit min max default help")
Family = namedtuple("Family", "name summary params")

'''


def parse(text):
    families = []
    for line in text.splitlines():
        if not line.strip():
            continue
        if not line.startswith(" "):
            m = FAMILY.match(line)
            if m:  # anything else is an introduction
                families.append((m.group(1), m.group(2), []))
            continue
        m = LINE.match(line)
        if not m:
            raise ValueError(f"unparsed help line: {line!r}")
        families[-1][2].append(m.groups())
    return families


def number(text):
    v = float(text)
    return repr(int(v)) if v == int(v) and abs(v) < 1e15 else repr(v)


def main(argv):
    if len(argv) != 2:
        print(__doc__)
        return 2
    text = subprocess.run([argv[1], "help", "effects"], capture_output=True, text=True, check=True).stdout
    out = [HEAD, "FAMILIES = ("]
    for name, summary, params in parse(text):
        out.append(f"    Family({name!r}, {summary!r}, (")
        for p in params:
            out.append(f"        Param({p[0]!r}, {p[1]!r}, {number(p[2])}, {number(p[3])}, {number(p[4])}, {p[5]!r}),")
        out.append("    )),")
    out += [")", "", "BY_NAME = {f.name: f for f in FAMILIES}",
            "# Steps the tool runs itself, with no library object behind them.",
            'TOOL_ONLY = ("gain", "norm", "trim", "channels", "reverse")', ""]
    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "dspfx", "_table.py")
    with open(path, "w") as f:
        f.write("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
