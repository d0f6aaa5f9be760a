#!/usr/bin/env python3
"""The report as a person sees it: headless Chromium loads the page of a
small log and takes a picture; inside Germany (counted) the picture must
have Germany's shade, inside France (not counted) the shade of no
addresses, at Singapore's marker Singapore's shade, and the page's script
must have run without an error.

usage: report_browser_test.py DRIVER WORLD_MAP.txt
Exits 77 (skipped) when Chromium is not installed.
"""
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

WINDOW = (1200, 1000)


def natural_earth(lon, lat):
    """The Natural Earth projection, as its authors publish it."""
    l, p = math.radians(lon), math.radians(lat)
    p2 = p * p
    x = l * (0.870700 - 0.131979 * p2 - 0.013791 * p2**2 + 0.003971 * p2**5 - 0.001529 * p2**6)
    y = p * (1.007226 + 0.015085 * p2 - 0.044475 * p2**3 + 0.028874 * p2**4 - 0.005916 * p2**5)
    return x, y


def read_png(path):
    """Width, height and a function (x, y) -> (r, g, b) for an 8-bit,
    non-interlaced RGB or RGBA PNG, as Chromium writes them."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG kind"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1 : start + 1 + stride])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        previous = line
    return width, height, lambda x, y: tuple(rows[y][x * channels : x * channels + 3])


def chromium_command():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def run_chromium(browser, profile, *arguments):
    command = [
        browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--hide-scrollbars", "--force-device-scale-factor=1", "--enable-logging=stderr", "--v=0",
        f"--user-data-dir={profile}", f"--window-size={WINDOW[0]},{WINDOW[1]}", *arguments,
    ]
    return subprocess.run(command, capture_output=True, text=True, timeout=120)


def main(driver, world_map):
    browser = chromium_command()
    if browser is None:
        print("SKIP: chromium is not installed (scripts/install-deps installs it)")
        return 77
    failures = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what)
        if not condition:
            failures.append(what)

    with tempfile.TemporaryDirectory(prefix="ipcountry-report-") as work:
        data = os.path.join(work, "data")
        os.mkdir(data)
        with open(os.path.join(data, "Country.dbf"), "wb") as f:
            f.write(b"DEGermany\r\nFRFrance\r\nSGSingapore\r\nBRBrazil\r\n")
        with open(os.path.join(data, "IP_db.dbf"), "wb") as f:
            f.write(b"00000000ZZ\r\n0A000000DE\r\n0B000000SG\r\n0C000000BR\r\n0D000000ZZ\r\n")
        shutil.copy(world_map, os.path.join(data, "world_map.txt"))
        log = os.path.join(work, "access.log")
        with open(log, "w") as f:
            # Germany 12 %, Brazil 85 %, Singapore 3 %: three shades.
            for i in range(100):
                first = 10 if i < 12 else 12 if i < 97 else 11
                f.write(f"Jan 12 03:14:07 host sshd: Failed password from {first}.0.{i}.1 port 22\n")
        page = os.path.join(work, "report.html")
        result = subprocess.run(
            [driver, "--data-dir", data, "report", "-o", page, "unformatted", log],
            capture_output=True, text=True,
        )
        check(result.returncode == 0, f"the driver made the page ({result.stderr.strip()})")
        if result.returncode != 0:
            return 1
        html = open(page, encoding="utf-8").read()

        fills = dict(re.findall(r"\.(s\d)\{fill:(#[0-9a-f]{6})", html))
        shade = {
            code: fills[cls]
            for cls, code in re.findall(r'<(?:path|circle) class="(s\d)" data-code="(\w\w)"', html)
        }
        check(shade.get("DE") not in (None, fills.get("s0")), "Germany has a shade of its own")
        check(len({shade.get(c) for c in ("DE", "BR", "SG")}) == 3, "three shares, three shades")
        check(shade.get("FR") == fills.get("s0"), "France has the shade of no addresses")

        dom = run_chromium(browser, os.path.join(work, "profile1"), "--dump-dom", "file://" + page)
        check('data-script="ran"' in dom.stdout, "the page's script ran")
        errors = [l for l in dom.stderr.splitlines() if "CONSOLE" in l or "Uncaught" in l]
        check(not errors, "no errors in the console: " + " | ".join(errors))
        box = re.search(r'data-map-box="([-\d.]+) ([-\d.]+) ([-\d.]+) ([-\d.]+)"', dom.stdout)
        check(box is not None, "the map is on the page")
        if box is None:
            return 1
        left, top, width, height = map(float, box.groups())

        shot = os.path.join(work, "report.png")
        run_chromium(browser, os.path.join(work, "profile2"), f"--screenshot={shot}", "file://" + page)
        check(os.path.exists(shot), "Chromium took the picture")
        if not os.path.exists(shot):
            return 1
        png_width, png_height, pixel = read_png(shot)
        check((png_width, png_height) == WINDOW, f"the picture is {png_width} x {png_height}")

        header = {}
        for line in open(world_map, encoding="ascii"):
            word, _, rest = line.rstrip("\n").partition(" ")
            if word in ("map", "projection"):
                header[word] = rest.split()
        view_width = float(header["map"][0])
        scale, x0, y0 = map(float, header["projection"][1:4])
        per_unit = width / view_width

        def on_screen(units_x, units_y):
            return round(left + units_x * per_unit), round(top + units_y * per_unit)

        def place(lon, lat):
            x, y = natural_earth(lon, lat)
            return on_screen(x0 + scale * x, y0 - scale * y)

        def colour(hex_text):
            return tuple(int(hex_text[i : i + 2], 16) for i in (1, 3, 5))

        def near(a, b):
            return all(abs(p - q) <= 3 for p, q in zip(a, b))

        marker = re.search(r"^SG\t(\d+),(\d+)\t", open(world_map, encoding="ascii").read(), re.M)
        for what, point, expected in [
            ("inside Germany", place(10.4, 51.1), shade.get("DE")),
            ("inside Brazil", place(-52.0, -10.0), shade.get("BR")),
            ("inside France", place(2.5, 46.8), fills.get("s0")),
            ("in the Atlantic", place(-30.0, 10.0), re.search(r"--sea:(#[0-9a-f]{6})", html).group(1)),
            ("at Singapore's marker", on_screen(int(marker.group(1)), int(marker.group(2))),
             shade.get("SG")),
        ]:
            x, y = point
            seen = pixel(x, y) if 0 <= x < png_width and 0 <= y < png_height else None
            check(expected is not None and seen is not None and near(seen, colour(expected)),
                  f"{what} at ({x}, {y}) the picture shows {seen}, the page says {expected}")
        check(top + height <= png_height, "the whole map is in the picture")
    if failures:
        print(f"{len(failures)} checks failed")
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
