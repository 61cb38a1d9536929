#!/usr/bin/env python3
"""The particle scenes' fill: how many fragments each scene draws per frame, how many of them
change nothing in an 8-bit picture, and how far the frames have moved from an earlier build's.

Fragments: the show is rendered with every particle program's colour replaced by a count (the
same vertex programs, so the same points of the same sizes): red counts a fragment, green one
that adds at least half a level to some channel of the pixel, i.e. one that changes it. So
that no pixel's count runs past 255, the points are split into PASSES groups by a hash of
their position and each group is counted in a render of its own; the counts are exact. Sprites and overlays
draw nothing in this pass.

Bound (with --before): frames every STEP seconds over the whole show from both builds, all
with --portable at SIZE; for each, the share of pixels whose channels all lie within 1 level
of the earlier build's. It passes when every frame keeps at least 99.9 % of its pixels.

usage: fill_bench.py CAPTURE CONTENT_DIR [--before CAPTURE CONTENT_DIR] [--size WxH]
                     [--step S] [--no-count]
CONTENT_DIR holds demo.dat and assets/ (a build folder). Needs ImageMagick's convert."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Scene windows (ms, end exclusive), as the timeline places them.
SCENES = ((1, 0, 106905), (2, 106905, 141813), (3, 141813, 176721), (4, 176721, 194175),
          (5, 194175, 216000))
PASSES = 6
STEP_S = 5.0

COUNT_OUTPUT = """
    vec4 fillShown = %s;
    float fillChanges = step(0.5, max(fillShown.r, max(fillShown.g, fillShown.b)) * 255.0);
    float fillSampled = fillPick >= %.8f && fillPick < %.8f ? 1.0 : 0.0;
    gl_FragColor = vec4(fillSampled, fillSampled * fillChanges, 0.0, 0.0) / 255.0;
"""


def scene_of(t):
    for number, start, end in SCENES:
        if start <= t < end:
            return number
    return SCENES[-1][0]


def counting_assets(content, folder, group):
    """A copy of the content's assets whose particle programs count the fragments of one
    group of points."""
    assets = os.path.join(folder, "assets")
    shutil.copytree(os.path.join(content, "assets"), assets)
    for name in sorted(os.listdir(assets)):
        path = os.path.join(assets, name)
        if not name.endswith(".glsl"):
            continue
        with open(path) as f:
            source = f.read()
        head, fragment = source.split("#ifdef FRAGMENT_SHADER", 1)
        if name.startswith("particle"):
            outputs = list(re.finditer(r"gl_FragColor\s*=\s*([^;]*);", fragment))
            if len(outputs) != 1:
                raise RuntimeError("%s: expected one gl_FragColor" % name)
            found = outputs[0]
            # The vertex program picks the points to count.
            end = head.rindex("}")
            head = (head[:end] + "    fillPick = fract(sin(dot(gl_Position, vec4(12.9898, 78.233, "
                    "37.719, 4.581))) * 43758.5453);\n" + head[end:])
            head = head.replace("#ifdef VERTEX_SHADER\n",
                                "#ifdef VERTEX_SHADER\nvarying float fillPick;\n", 1)
            fragment = (fragment[:found.start()] +
                        COUNT_OUTPUT % (found.group(1), group / PASSES, (group + 1) / PASSES) + fragment[found.end():])
            fragment = fragment.replace("precision mediump float;\n",
                                        "precision mediump float;\nvarying float fillPick;\n", 1)
        elif name != "progressBar.glsl":
            # sprites and overlays leave the counts alone
            fragment = re.sub(r"void main\(\)\s*\{", "void main() {\n    discard;", fragment, 1)
        with open(path, "w") as f:
            f.write(head + "#ifdef FRAGMENT_SHADER" + fragment)
    return folder


def render(capture, data, size, times, out):
    args = [capture, "--portable", "--size", size, "--data", data, "--png", out]
    for t in times:
        args += ["--at", str(t)]
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="")
    subprocess.run(args, check=True, capture_output=True, env=env)
    return {t: os.path.join(out, "at_%06d.png" % t) for t in times}


def raw_rgb(path):
    return subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                          capture_output=True).stdout


def largest_channel_difference(a, b):
    """Per pixel, the largest difference of the two pictures over the colour channels."""
    return subprocess.run(
        ["convert", a, b, "-compose", "difference", "-composite", "-separate",
         "-evaluate-sequence", "max", "-depth", "8", "gray:-"],
        check=True, capture_output=True).stdout


def count_fragments(capture, content, size, times, work):
    per_frame = {t: [0, 0] for t in times}
    saturated = 0
    for group in range(PASSES):
        data = counting_assets(content, os.path.join(work, "counting%d" % group), group)
        frames = render(capture, data, size, times, os.path.join(work, "counts%d" % group))
        for t, path in frames.items():
            rgb = raw_rgb(path)
            red, green = rgb[0::3], rgb[1::3]
            saturated += red.count(255)
            per_frame[t][0] += sum(red)
            per_frame[t][1] += sum(green)
    per_scene = {}
    for t, counts in per_frame.items():
        per_scene.setdefault(scene_of(t), []).append(counts)
    print("fragments per frame at %s, mean of frames every %g s:" % (size, STEP_S))
    print("%-6s %7s %14s %14s %9s" % ("scene", "frames", "fragments", "changing", "no change"))
    for scene in sorted(per_scene):
        rows = per_scene[scene]
        drawn = sum(r[0] for r in rows) / len(rows)
        changing = sum(r[1] for r in rows) / len(rows)
        print("%-6d %7d %14.0f %14.0f %8.1f%%" %
              (scene, len(rows), drawn, changing, 100.0 * (1 - changing / max(drawn, 1))))
    if saturated:
        print("warning: %d pixels reached 255 in the count; raise PASSES" % saturated)


def check_bound(capture, content, before, size, times, work):
    now = render(capture, os.path.join(content), size, times, os.path.join(work, "now"))
    then = render(before[0], before[1], size, times, os.path.join(work, "before"))
    results = []
    for t in times:
        difference = largest_channel_difference(now[t], then[t])
        within = difference.count(0) + difference.count(1)
        results.append((within / len(difference), max(difference), t))
    results.sort()
    print("worst frames (share of pixels within 1 level, largest difference):")
    for share, largest, t in results[:8]:
        print("  %6d ms  %8.4f %%  %3d" % (t, 100.0 * share, largest))
    failing = [t for share, _, t in results if share < 0.999]
    print("bound: %s (%d frames, %d below 99.9 %%)" %
          ("pass" if not failing else "FAIL", len(results), len(failing)))
    return not failing


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("capture")
    parser.add_argument("content")
    parser.add_argument("--before", nargs=2, metavar=("CAPTURE", "CONTENT_DIR"))
    parser.add_argument("--size", default="1280x720")
    parser.add_argument("--step", type=float, default=5.0)
    parser.add_argument("--no-count", action="store_true")
    args = parser.parse_args()
    global STEP_S
    STEP_S = args.step
    step = int(args.step * 1000)
    times = list(range(step // 2, 216000, step))
    with tempfile.TemporaryDirectory(prefix="lumenfall-fill-") as work:
        if not args.no_count:
            count_fragments(os.path.abspath(args.capture), os.path.abspath(args.content),
                            args.size, times, work)
        if args.before:
            before = (os.path.abspath(args.before[0]), os.path.abspath(args.before[1]))
            if not check_bound(os.path.abspath(args.capture), os.path.abspath(args.content),
                               before, args.size, times, work):
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
