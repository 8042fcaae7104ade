"""Runs the package's tests for ctest: exit 77 (reported as skipped) with the
reason when numpy, soundfile or pytest is missing, else pytest's own code."""

import os
import sys


def main():
    missing = []
    for module, package in (("numpy", "python3-numpy"), ("soundfile", "python3-soundfile"),
                            ("pytest", "python3-pytest")):
        try:
            __import__(module)
        except ImportError:
            missing.append(f"{module} (Debian: {package})")
    if missing:
        print("python tests skipped: " + ", ".join(missing) + " missing for " + sys.executable)
        return 77
    import pytest
    here = os.path.dirname(os.path.abspath(__file__))
    return pytest.main(["-q", "-rs", "-p", "no:cacheprovider", here, *sys.argv[1:]])


# Worker processes that a test's cluster spawns import this file again.
if __name__ == "__main__":
    sys.exit(main())
