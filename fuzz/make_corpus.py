#!/usr/bin/env python3
"""Seed corpora for the fuzz targets, made at run time from the built assets.

usage: make_corpus.py ASSET_DIR OUT_DIR

Writes OUT_DIR/{loader,sync,image,ife,music}/. ASSET_DIR is a built "assets" folder; when it is
missing, the seeds are made from the shader sources and small generated files alone.
Nothing here is committed: the corpora are rebuilt from the assets every time.
"""

import io
import os
import struct
import sys
import zipfile
import zlib

MAX_LEN = 64 * 1024
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def read_assets(asset_dir):
    files = {}
    if os.path.isdir(asset_dir):
        for name in sorted(os.listdir(asset_dir)):
            path = os.path.join(asset_dir, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    files[name] = f.read()
    shader_dir = os.path.join(SOURCE_DIR, "content", "shaders")
    for name in sorted(os.listdir(shader_dir)):
        if name not in files:
            with open(os.path.join(shader_dir, name), "rb") as f:
                files[name] = f.read()
    return files


# Small images of the kinds the decoder meets.

def tga(image_type, width, height, bits, pixels, colour_map=b"", descriptor=0x20):
    map_type = 1 if colour_map else 0
    map_entries = len(colour_map) // 3
    header = struct.pack("<BBBHHBHHHHBB", 0, map_type, image_type, 0, map_entries,
                         24 if colour_map else 0, 0, 0, width, height, bits, descriptor)
    return header + colour_map + pixels


def tga_rle(pixel, count):
    out = b""
    while count > 0:
        run = min(count, 128)
        out += bytes([0x80 | (run - 1)]) + pixel
        count -= run
    return out


def png(width, height, colour_type, channels, palette=None):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    rows = b"".join(b"\0" + bytes((x * 40 + y * 7 + c) & 0xff for x in range(width)
                                  for c in range(channels)) for y in range(height))
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8,
                                                            colour_type, 0, 0, 0))
    if palette:
        data += chunk(b"PLTE", palette)
    return data + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def bmp(width, height):
    row = bytes((x * 30) & 0xff for x in range(width * 3))
    row += b"\0" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return header + info + pixels


def generated_images():
    return {
        "rgb24.tga": tga(2, 4, 3, 24, bytes(range(36))),
        "rgba32.tga": tga(2, 3, 3, 32, bytes(range(36))),
        "rgb16.tga": tga(2, 2, 2, 16, bytes(range(8))),
        "grey.tga": tga(3, 5, 2, 8, bytes(range(10))),
        "mapped.tga": tga(1, 2, 2, 8, bytes([0, 1, 1, 0]), colour_map=bytes(range(6))),
        "rle24.tga": tga(10, 8, 8, 24, tga_rle(b"\x10\x20\x30", 64)),
        "rle32.tga": tga(10, 4, 4, 32, tga_rle(b"\x10\x20\x30\x40", 16), descriptor=0x28),
        "rlegrey.tga": tga(11, 4, 4, 8, tga_rle(b"\x55", 16)),
        "bottomup.tga": tga(2, 2, 2, 24, bytes(range(12)), descriptor=0),
        "grey.png": png(3, 3, 0, 1),
        "greyalpha.png": png(3, 2, 4, 2),
        "rgb.png": png(4, 4, 2, 3),
        "rgba.png": png(2, 5, 6, 4),
        "palette.png": png(3, 3, 3, 1, palette=bytes(i % 256 for i in range(3 * 256))),
        "rgb.bmp": bmp(3, 2),
    }


# Small sync files.

def msd(events):
    return b"".join(struct.pack("<IBBBB", tick, kind, channel, value, 0)
                    for tick, kind, channel, value in events)


def rms(samples):
    return b"".join(struct.pack("<H", s & 0xffff) for s in samples)


def sync_input(track_count, times, msd_bytes, tracks):
    data = bytes([track_count]) + b"".join(struct.pack("<I", t) for t in times)
    for piece in [msd_bytes] + tracks:
        data += struct.pack("<H", len(piece)) + piece
    return data


def small_ife():
    lines = ["# a small animation", "2", "0",
             "a.tga", "", "", "2", "1",
             "0 100 100 0 0 50 50 255 255 255 255",
             "10 300 200 1 90 100 50 128 128 128 128",
             "a.tga", "text", "text", "3", "0",
             "0 640 360 2 0 100 100 255 0 0 255",
             "0 640 360 2 0 100 100 255 0 0 255",
             "4294967295 1 1 7 1 1 1 1 1 1 1"]
    return ("\r\n".join(lines) + "\r\n").encode()


def ogg_packets(data, count):
    """The first `count` packets of an Ogg stream's first pages (one stream, in order)."""
    packets, current, at = [], b"", 0
    while at + 27 <= len(data) and len(packets) < count and data[at:at + 4] == b"OggS":
        segments = data[at + 26]
        lacing = data[at + 27:at + 27 + segments]
        body = at + 27 + segments
        for length in lacing:
            current += data[body:body + length]
            body += length
            if length < 255:
                packets.append(current)
                current = b""
        at = body
    return packets[:count]


def piece(data):
    """One piece of a fuzz input: a 16-bit little-endian length, then the bytes."""
    data = data[:0xfffe]
    return struct.pack("<H", len(data)) + data


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    asset_dir, out_dir = sys.argv[1], sys.argv[2]
    assets = read_assets(asset_dir)

    # Archive: zips of a few small assets each, stored and deflated, under "assets/".
    loader_dir = os.path.join(out_dir, "loader")
    small = [(name, data) for name, data in assets.items() if len(data) <= 16 * 1024]
    groups = [small[i:i + 4] for i in range(0, len(small), 4)]
    for index, group in enumerate(groups):
        for method, tag in ((zipfile.ZIP_DEFLATED, "deflated"), (zipfile.ZIP_STORED, "stored")):
            buffer = io.BytesIO()
            with zipfile.ZipFile(buffer, "w", method) as archive:
                for name, data in group:
                    archive.writestr("assets/" + name, data)
            if len(buffer.getvalue()) <= MAX_LEN:
                write(loader_dir, "zip-%02d-%s" % (index, tag), buffer.getvalue())
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("assets/Particle.GLSL", b"void main() {}\n")
        archive.writestr("assets/music.msd", msd([(1, 1, 2, 3)]))
        archive.writestr("other/empty.txt", b"")
        archive.writestr("assets/zeros.bin", bytes(40000))
    write(loader_dir, "zip-mixed", buffer.getvalue())

    # Sync files: the real ones cut to size, and small made-up ones.
    sync_dir = os.path.join(out_dir, "sync")
    real_msd = assets.get("music.msd", b"")[:8 * 1024]
    real_tracks = [assets.get("%02d.rms" % i, b"")[:4 * 1024] for i in range(1, 6)]
    write(sync_dir, "real", sync_input(5, [0, 61089, 106901, 215999], real_msd, real_tracks))
    write(sync_dir, "small", sync_input(
        2, [5682, 5681, 12345, 0xffffffff],
        msd([(1000, 1, 2, 7), (100, 1, 2, 9), (0, 0, 3, 1), (5, 1, 25, 255), (6, 1, 26, 4)]),
        [rms([32768, 65535, 0]), rms(range(0, 65536, 97)) + b"\x01"]))
    write(sync_dir, "none", sync_input(0, [0, 0, 0, 0], msd([(0, 1, 0, 1)]), []))

    # Images: the shipped ones that fit, and small ones of every kind the decoder knows.
    image_dir = os.path.join(out_dir, "image")
    for name, data in assets.items():
        if name.endswith((".tga", ".png")):
            write(image_dir, name, data[:MAX_LEN])
    for name, data in generated_images().items():
        write(image_dir, name, data)

    # Animations: the shipped ".ife" files and a small one that uses every easing.
    ife_dir = os.path.join(out_dir, "ife")
    for name, data in assets.items():
        if name.endswith(".ife"):
            write(ife_dir, name, data[:MAX_LEN])
    write(ife_dir, "small.ife", small_ife())

    # Music: the shipped stream's comment and setup headers and its first audio packet.
    music_dir = os.path.join(out_dir, "music")
    packets = ogg_packets(assets.get("music.ogg", b""), 4)
    if len(packets) == 4:
        write(music_dir, "real", b"".join(piece(p) for p in
                                          (packets[1][7:], packets[2][7:], packets[3])))
    write(music_dir, "empty", piece(b"\0" * 8 + b"\x01") + piece(b"") + piece(b""))

    for kind in ("loader", "sync", "image", "ife", "music"):
        folder = os.path.join(out_dir, kind)
        print("%s: %d seeds" % (kind, len(os.listdir(folder))))


if __name__ == "__main__":
    main()
