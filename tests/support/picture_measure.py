"""Measures of rendered frames that do not come from the code under test: grey values through
ImageMagick and the Pearson correlation of two pictures."""

import subprocess


def grey_bytes(path, blur_sigma=0, size=None):
    """The picture as 8-bit grey values, one per pixel, optionally scaled to size ("WxH") and
    blurred with a Gaussian of the given standard deviation in pixels."""
    command = ["convert", path, "-colorspace", "Gray"]
    if size:
        command += ["-resize", size + "!"]
    if blur_sigma:
        command += ["-gaussian-blur", "0x%g" % blur_sigma]
    command += ["-depth", "8", "gray:-"]
    return subprocess.run(command, capture_output=True, check=True).stdout


def pearson(a, b):
    """Correlation of two equally long sequences; 1 for two flat pictures alike, 0 for a flat
    one against a varied one."""
    n = len(a)
    mean_a = sum(a) / n
    mean_b = sum(b) / n
    cov = var_a = var_b = 0.0
    for x, y in zip(a, b):
        dx = x - mean_a
        dy = y - mean_b
        cov += dx * dy
        var_a += dx * dx
        var_b += dy * dy
    if var_a == 0.0 or var_b == 0.0:
        return 1.0 if var_a == var_b else 0.0
    return cov / (var_a * var_b) ** 0.5
