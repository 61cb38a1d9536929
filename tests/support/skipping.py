"""What a test script does when something it needs is missing: it prints SKIPPED and the reason,
then exits 77, which CTest reports as skipped rather than passed. With CI set in the
environment it fails instead: there, everything a test needs must be installed."""

import os
import shutil
import sys

SKIP_CODE = 77


def skip(reason):
    print("SKIPPED: " + reason, flush=True)
    if os.environ.get("CI"):
        print("CI is set: a missing requirement fails the test", flush=True)
        sys.exit(1)
    sys.exit(SKIP_CODE)


def require_programs(*names):
    missing = [name for name in names if shutil.which(name) is None]
    if missing:
        skip("not installed: " + ", ".join(missing))
