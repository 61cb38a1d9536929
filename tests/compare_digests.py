#!/usr/bin/env python3
"""Runs two builds of the digest program and requires the same digests from both.

usage: compare_digests.py BASELINE OTHER [ARGUMENTS...]
The other build is a command: a program of another architecture may come after its emulator.

Exit 0 when they agree, 1 when they differ or one fails, 77 (skipped) when the second cannot
run on this processor; with CI set in the environment a skip is a failure.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from skipping import SKIP_CODE, skip  # noqa: E402


def run(command):
    result = subprocess.run(command, capture_output=True, text=True, timeout=240)
    return result.returncode, result.stdout, result.stderr


def main():
    baseline, other = sys.argv[1], sys.argv[2:]
    code, base_out, base_err = run([baseline])
    if code != 0:
        print(f"{baseline} failed with {code}:\n{base_out}{base_err}")
        return 1
    code, other_out, other_err = run(other)
    if code == SKIP_CODE:
        skip(other_out.strip())
    if code != 0:
        print(f"{' '.join(other)} failed with {code}:\n{other_out}{other_err}")
        return 1
    base_lines, other_lines = base_out.splitlines(), other_out.splitlines()
    print(base_out, end="")
    if base_lines == other_lines:
        print(f"{len(base_lines)} digests agree")
        return 0
    for a, b in zip(base_lines, other_lines):
        if a != b:
            print(f"differs: {a}  vs  {b}")
    if len(base_lines) != len(other_lines):
        print(f"{len(base_lines)} digests against {len(other_lines)}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
