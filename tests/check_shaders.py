#!/usr/bin/env python3
"""Validates every ".glsl" program as GLSL ES 1.00, both stages.

Each stage is given to glslangValidator exactly as the program loader builds it with no
defines and no extra lines: a comment naming the file, the stage define, three empty lines,
then the file text. No version line is added, so the text is read as ES 1.00, which needs a
default float precision in the fragment stage and accepts no desktop-only constructs.
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
import skipping  # noqa: E402

STAGES = (("VERTEX_SHADER", ".vert"), ("FRAGMENT_SHADER", ".frag"))


def stage_text(name, stage, text):
    return "// " + name + "\n\n#define " + stage + "\n\n" + "\n" + "\n" + text


def check(path, validator):
    name = os.path.basename(path)
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    ok = True
    with tempfile.TemporaryDirectory() as folder:
        for stage, extension in STAGES:
            source = os.path.join(folder, os.path.splitext(name)[0] + extension)
            with open(source, "w", encoding="utf-8", newline="") as f:
                f.write(stage_text(name, stage, text))
            result = subprocess.run([validator, source], capture_output=True, text=True)
            if result.returncode != 0:
                ok = False
                print("FAIL: %s (%s)" % (name, stage))
                print(result.stdout + result.stderr)
            else:
                print("ok: %s (%s)" % (name, stage))
    return ok


def main():
    if len(sys.argv) != 2:
        print("usage: check_shaders.py <shader folder>")
        return 2
    folder = sys.argv[1]
    validator = os.environ.get("GLSLANG_VALIDATOR", "glslangValidator")
    skipping.require_programs(validator)
    names = sorted(n for n in os.listdir(folder) if n.endswith(".glsl"))
    if not names:
        print("no .glsl files in " + folder)
        return 1
    failures = [n for n in names if not check(os.path.join(folder, n), validator)]
    if failures:
        print("%d of %d programs fail: %s" % (len(failures), len(names), ", ".join(failures)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
