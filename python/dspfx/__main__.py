"""python -m dspfx batch ...  |  python -m dspfx effects"""

import sys

USAGE = """usage: python -m dspfx COMMAND ...

commands:
  batch INPUT EFFECT... --out DIR [--jobs N | --scheduler ADDRESS|local:N]
                         run a chain over a folder or a CSV manifest (see: batch --help)
  effects                the effects and their parameters
"""


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] in ("-h", "--help", "help"):
        sys.stdout.write(USAGE)
        return 0 if argv else 2
    if argv[0] == "batch":
        from .batch import main as batch_main
        return batch_main(argv[1:])
    if argv[0] == "effects":
        from ._table import FAMILIES
        for f in FAMILIES:
            print(f"{f.name}: {f.summary}")
            for p in f.params:
                print(f"  {p.name:<10} {p.unit:<8} {p.min:8g} ... {p.max:<8g} default {p.default:<8g} {p.help}")
            print()
        return 0
    sys.stderr.write(f"dspfx: unknown command {argv[0]!r}\n" + USAGE)
    return 2


if __name__ == "__main__":
    sys.exit(main())
