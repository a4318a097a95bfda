"""Checks quantize on real BMP files: a picture made here (smooth gradients and hard edges),
reduced to 256, 16 and 2 colours with and without dithering, each result read back by Pillow
(indexed, as many colours as asked at most, the same size, close to the original); the progress
bar, absent when standard error is not a terminal and present when it is; and the one-line
errors with a non-zero status, naming the file and the library's reason, for a missing file, a
file that is no picture and a bad number of colours.

usage: check_quantize.py QUANTIZE WORK_FOLDER
"""
import os
import pty
import subprocess
import sys

from PIL import Image, ImageChops, ImageStat


def run(command, **options):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=120,
                          **options)


def make_picture(path, width, height):
    picture = Image.new("RGB", (width, height))
    picture.putdata([((x * 255) // width, (y * 255) // height, 255 if (x // 16 + y // 16) % 2
                      else 40) for y in range(height) for x in range(width)])
    picture.save(path, "BMP")
    return picture


def mean_error(a, b):
    return sum(ImageStat.Stat(ImageChops.difference(a, b.convert("RGB"))).mean) / 3


def check_reductions(program, folder):
    source = os.path.join(folder, "source.bmp")
    picture = make_picture(source, 120, 90)
    # Colours, the worst mean error per channel allowed, and the bits per pixel of the file.
    for colours, worst, bits in ((256, 12, 8), (16, 30, 4), (2, 110, 1)):
        for dither in (False, True):
            out = os.path.join(folder, f"out{colours}{'d' if dither else ''}.bmp")
            command = [program, "-c", str(colours)] + (["-d"] if dither else []) + [source, out]
            result = run(command)
            what = " ".join(command[1:])
            if result.returncode != 0 or result.stderr:
                sys.exit(f"{what}: status {result.returncode}, {result.stderr!r}")
            with open(out, "rb") as f:
                header = f.read(30)
            if header[28] != bits:
                sys.exit(f"{what}: {header[28]} bits per pixel, not {bits}")
            with Image.open(out) as written:
                written.load()
                if written.size != picture.size or written.mode not in ("P", "1"):
                    sys.exit(f"{what}: Pillow reads {written.mode} {written.size}")
                used = len(written.getcolors(colours + 1) or [])
                if used == 0 or used > colours:
                    sys.exit(f"{what}: {used} colours used")
                error = mean_error(picture, written)
                if error > worst:
                    sys.exit(f"{what}: mean error {error:.1f} above {worst}")


def check_progress(program, folder):
    large = os.path.join(folder, "large.bmp")
    make_picture(large, 1100, 1000)  # 1.1 million pixels
    out = os.path.join(folder, "large_out.bmp")
    result = run([program, "-c", "16", large, out])
    if result.returncode != 0 or result.stderr:
        sys.exit(f"not a terminal: status {result.returncode}, standard error {result.stderr!r}")
    # Standard error on a pseudo-terminal: the bar is drawn there.
    master, slave = pty.openpty()
    process = subprocess.Popen([program, "-c", "16", large, out], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    shown = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
    status = process.wait(timeout=120)
    os.close(master)
    if status != 0 or b"100%" not in shown or b"[" not in shown:
        sys.exit(f"on a terminal: status {status}, standard error {shown!r}")
    # A small picture shows no bar even on a terminal.
    master, slave = pty.openpty()
    small = os.path.join(folder, "source.bmp")
    process = subprocess.Popen([program, small, out], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    status = process.wait(timeout=120)
    os.set_blocking(master, False)
    try:
        shown = os.read(master, 4096)
    except OSError:
        shown = b""
    os.close(master)
    if status != 0 or shown:
        sys.exit(f"small picture on a terminal: status {status}, standard error {shown!r}")


def check_errors(program, folder):
    text = os.path.join(folder, "not_a_picture.bmp")
    with open(text, "w") as f:
        f.write("just some words, no picture\n")
    source = os.path.join(folder, "source.bmp")
    out = os.path.join(folder, "error_out.bmp")
    cases = (
        ([os.path.join(folder, "missing.bmp"), out], "missing.bmp: no such file"),
        ([text, out], "not_a_picture.bmp: not a picture"),
        (["-c", "7", source, out], "7"),
        ([source, os.path.join(folder, "no_such_folder", "out.bmp")], "out.bmp: no such file"),
    )
    for arguments, named in cases:
        result = run([program] + arguments)
        message = result.stderr.decode()
        if result.returncode == 0 or message.count("\n") != 1 or named not in message:
            sys.exit(f"{arguments}: status {result.returncode}, message {message!r}")
        if not message.startswith("quantize: "):
            sys.exit(f"{arguments}: message {message!r} does not name the program")


def main():
    program, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    check_reductions(program, folder)
    check_errors(program, folder)
    check_progress(program, folder)


main()
