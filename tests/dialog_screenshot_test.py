#!/usr/bin/env python3
"""The screenshot dialog_win_test saves with EP_DIALOG_SCREENSHOT set, as
docs/settings-dialog.png is made (or another test's, named by the optional
arguments: progress_test's with EP_PROGRESS_SCREENSHOT, for
docs/progress-window.png): run under Wine (in Xvfb), the file must be a
whole PNG: the signature, every chunk's CRC, an IHDR for 8-bit RGB, image
data that inflates to one filtered row per line of the window, and pixels
of more than one colour (a capture, not an empty bitmap).

usage: dialog_screenshot_test.py LOADER TEST_EXE [GTEST_FILTER VARIABLE]
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib


def chunks(data):
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        if zlib.crc32(kind + body) != crc:
            raise ValueError("chunk %r has a wrong CRC" % kind)
        yield kind, body
        at += 12 + length


def check(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG signature")
    found = list(chunks(data))
    kinds = [kind for kind, _ in found]
    if kinds[0] != b"IHDR" or kinds[-1] != b"IEND" or b"IDAT" not in kinds:
        raise ValueError("chunks out of order: %r" % kinds)
    width, height, depth, colour = struct.unpack(">IIBB", found[0][1][:10])
    if width < 100 or height < 50 or depth != 8 or colour not in (2, 6):
        raise ValueError("unexpected header %dx%d depth %d colour %d" %
                         (width, height, depth, colour))
    pixels = zlib.decompress(b"".join(body for kind, body in found if kind == b"IDAT"))
    row = 1 + width * (3 if colour == 2 else 4)
    if len(pixels) != row * height:
        raise ValueError("%d bytes of image data, not %d" % (len(pixels), row * height))
    if any(pixels[y * row] > 4 for y in range(height)):
        raise ValueError("a row with an unknown filter")
    if len(set(pixels[y * row + 1:(y + 1) * row] for y in range(height))) < 3:
        raise ValueError("the image is nearly blank")
    return width, height


def main():
    loader, program = sys.argv[1], sys.argv[2]
    case, variable = "SettingsDialog.ShowsTheFileValues*", "EP_DIALOG_SCREENSHOT"
    if len(sys.argv) > 4:
        case, variable = sys.argv[3], sys.argv[4]
    with tempfile.TemporaryDirectory(prefix="ep-screenshot-") as directory:
        path = os.path.join(directory, "dialog.png")
        env = dict(os.environ, **{variable: "Z:" + path.replace("/", "\\")})
        run = subprocess.run(
            [loader, program, "--gtest_filter=" + case],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=100)
        output = run.stdout.decode(errors="replace")
        if run.returncode != 0 or "PASSED  ] 1 test" not in output:
            print(output)
            print("%s did not pass %s" % (os.path.basename(program), case))
            return 1
        if not os.path.exists(path):
            print("no screenshot was saved")
            return 1
        with open(path, "rb") as image:
            data = image.read()
        try:
            width, height = check(data)
        except ValueError as error:
            print("the screenshot is not a valid PNG: %s" % error)
            return 1
        print("screenshot %dx%d, %d bytes" % (width, height, len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
