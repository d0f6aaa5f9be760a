#!/usr/bin/env python3
"""-n and -H: each row's file and line against what the test wrote.

The test writes logs whose every address it places itself, on a line it
numbers itself as grep -n numbers lines (LF and CRLF line ends), so that the
file, line and address of every row are known without any scanner. The logs
put addresses across the reader's block and window borders (every MiB), in a
line longer than a block and on a last line without a line end; one is read
plain (in place), one through gzip, one through xz and one from standard
input. Every format, on one and two threads, is held to them:
  - the rows lead with the file (as given, "(standard input)" for -) and the
    line, tsv first as grep prints file:line:, csv File and Line, json file
    and line, and with these taken off are the rows of a run without them;
  - several files without -H give no file, as before;
  - find - numbers the lines of standard input, and an address typed on the
    command line has neither;
  - stats reads rows with them as it reads rows without.

Usage: line_places_test.py DRIVER DATA_DIR
"""

import csv
import gzip
import io
import json
import lzma
import os
import random
import subprocess
import sys
import tempfile

DRIVER, DATA_DIR = sys.argv[1], sys.argv[2]
FAILURES = []
MIB = 1 << 20
STDIN_NAME = "(standard input)"


def fail(message):
    FAILURES.append(message)


def address(rng):
    kind = rng.random()
    if kind < 0.6:
        return "%d.%d.%d.%d" % (rng.randrange(1, 224), rng.randrange(256), rng.randrange(256),
                                rng.randrange(1, 255)), ""
    if kind < 0.75:
        return "%d.%d.%d.%d" % (rng.randrange(1, 224), rng.randrange(256), rng.randrange(256),
                                rng.randrange(1, 255)), ":%d" % rng.randrange(1, 65536)
    if kind < 0.9:
        return "2001:%x:%x::%x" % (rng.randrange(0x200, 0x4000), rng.randrange(65536),
                                   rng.randrange(1, 65536)), ""
    return "10.%d.%d.%d" % (rng.randrange(256), rng.randrange(256), rng.randrange(1, 255)), ""


def filler(rng, size):
    """Words without digits: no address can be read in them."""
    words = []
    while size > 0:
        word = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz-[]\"=/") for _ in
                       range(rng.randrange(1, 9)))
        words.append(word)
        size -= len(word) + 1
    return " ".join(words)


class Log:
    """Text written line by line, with the addresses each line holds."""

    def __init__(self):
        self.parts = []
        self.size = 0
        self.lines = 0
        self.rows = []  # (line, address, port)

    def line(self, *segments, end="\n"):
        """A line of `segments`: texts, and (address, port) pairs between blanks."""
        self.lines += 1
        text = ""
        for segment in segments:
            if isinstance(segment, str):
                text += segment
            else:
                ip, port = segment
                text += " " + ip + port + " "
                self.rows.append((self.lines, ip, port))
        text += end
        self.parts.append(text)
        self.size += len(text.encode())

    def text(self):
        return "".join(self.parts)


def make_log(rng, size, long_line=False):
    """About `size` bytes of lines; an address across every MiB border, a
    line longer than a block if asked, and a last line without a line end."""
    log = Log()
    border = MIB
    while log.size < size:
        ip, port = address(rng)
        if log.size + 400 > border:
            # The address placed so that the border falls inside it.
            before = border - log.size - 1 - len(ip) // 2
            if before >= 0:
                log.line(filler(rng, before)[:before].ljust(before, "x"), (ip, port),
                         filler(rng, 20))
            border += MIB
            continue
        if long_line and log.lines == 500:
            # Longer than a block: read in pieces, one line all the same.
            log.line(filler(rng, 10), address(rng), filler(rng, int(1.6 * MIB)), address(rng))
            continue
        end = "\r\n" if rng.random() < 0.2 else "\n"
        found = [address(rng) for _ in range(rng.choice([0, 1, 1, 1, 2, 3]))]
        log.line(filler(rng, rng.randrange(5, 120)), *found, filler(rng, rng.randrange(0, 60)),
                 end=end)
    log.line("last", address(rng), end="")
    return log


def run(args, stdin=b""):
    out = subprocess.run([DRIVER, *args, "--data-dir", DATA_DIR], input=stdin,
                         capture_output=True, timeout=300)
    return out.returncode, out.stdout.decode(), out.stderr.decode()


def parse(fmt, text):
    """Rows as lists of fields (tsv, csv) or objects (json); csv's header apart."""
    if fmt == "tsv":
        return None, [line.split("\t") for line in text.splitlines()]
    if fmt == "csv":
        rows = list(csv.reader(io.StringIO(text, newline="")))
        return rows[0], rows[1:]
    return None, [json.loads(line) for line in text.splitlines()]


def leading(fmt, row, file, line):
    """The row's (file, line) as the options show them, and the rest of it."""
    if fmt == "json":
        keys = list(row)
        want = (["file"] if file else []) + (["line"] if line else [])
        if keys[:len(want)] != want:
            fail(f"json keys {keys} do not begin with {want}")
        got = (row.get("file"), row.get("line"))
        rest = {k: v for k, v in row.items() if k not in ("file", "line")}
        return got, rest
    lead = int(file) + int(line)
    got = [None, None]
    if file:
        got[0] = row[0]
    if line:
        got[1] = int(row[lead - 1]) if row[lead - 1] else None
    return tuple(got), row[lead:]


def check_analyses(tmp):
    rng = random.Random(31)
    plain = make_log(rng, int(2.6 * MIB), long_line=True)
    packed_gz = make_log(rng, int(1.1 * MIB))
    packed_xz = make_log(rng, int(1.05 * MIB))
    standard = make_log(rng, int(0.3 * MIB))
    paths = [os.path.join(tmp, "a plain.log"), os.path.join(tmp, "b.log.gz"),
             os.path.join(tmp, "c.log.xz")]
    with open(paths[0], "w", newline="") as f:
        f.write(plain.text())
    with gzip.open(paths[1], "wt", newline="") as f:
        f.write(packed_gz.text())
    with lzma.open(paths[2], "wt", newline="") as f:
        f.write(packed_xz.text())
    stdin = standard.text().encode()
    inputs = [(paths[0], plain), (paths[1], packed_gz), (paths[2], packed_xz),
              (STDIN_NAME, standard)]
    want = [(name, line, ip, port) for name, log in inputs for line, ip, port in log.rows]
    for fmt in ["tsv", "csv", "json"]:
        for threads in ["1", "2"]:
            base = ["unformatted", "--all", "--format", fmt, "--threads", threads]
            code, before, err = run(base + paths + ["-"], stdin)
            if code != 0:
                fail(f"{fmt} {threads} threads: status {code}: {err}")
                continue
            plain_header, plain_rows = parse(fmt, before)
            for file, line in [(False, True), (True, False), (True, True)]:
                options = (["-H"] if file else []) + (["--line-number"] if line else [])
                name = f"{fmt}, {threads} threads, {' '.join(options)}"
                code, text, err = run(base + options + paths + ["-"], stdin)
                if code != 0:
                    fail(f"{name}: status {code}: {err}")
                    continue
                header, rows = parse(fmt, text)
                if fmt == "csv":
                    lead = (["File"] if file else []) + (["Line"] if line else [])
                    if header != lead + plain_header:
                        fail(f"{name}: header {header}")
                places, rests = [], []
                for row in rows:
                    place, rest = leading(fmt, row, file, line)
                    places.append(place)
                    rests.append(rest)
                if rests != plain_rows:
                    fail(f"{name}: the rows without their places differ from a run without -n/-H")
                got = [(p[0], p[1], r) for p, r in zip(places, rests)]
                expected = [(n if file else None, ln if line else None, ip)
                            for n, ln, ip, _ in want]
                got_ips = [(f, ln, r["ip"] if fmt == "json" else r[0]) for f, ln, r in got]
                if got_ips != expected:
                    first = next((i for i, (g, w) in enumerate(zip(got_ips, expected)) if g != w),
                                 min(len(got_ips), len(expected)))
                    fail(f"{name}: {len(got_ips)} rows, {len(expected)} expected; first "
                         f"difference at row {first}: {got_ips[first:first + 2]} against "
                         f"{expected[first:first + 2]}")
            if threads == "1":
                check_stats(tmp, fmt, base, paths, stdin)


def check_stats(tmp, fmt, base, paths, stdin):
    """stats reads rows led by their file and line as it reads the plain ones."""
    outputs = []
    # tsv tells the columns apart by their number (and a five-column row by
    # its second field: a line number, or a port).
    shapes = [["-n"], ["-H"], ["-H", "--asn"]] if fmt == "tsv" else []
    for options in [[], ["-n", "-H"], ["-n", "-H", "--asn"]] + shapes:
        code, text, err = run(base + options + ["--stats"] + paths + ["-"], stdin)
        path = os.path.join(tmp, f"rows-{len(outputs)}.{fmt}")
        with open(path, "w", newline="") as f:
            f.write(text)
        code, merged, err = run(["stats", "--format", "tsv", path])
        if code != 0:
            fail(f"stats of {fmt} rows with {options}: status {code}: {err}")
        # The time of the run is its own.
        outputs.append([line for line in merged.splitlines() if "took" not in line])
    for options, output in zip(["-n -H", "-n -H --asn", "-n", "-H", "-H --asn"], outputs[1:]):
        if output != outputs[0]:
            fail(f"stats of {fmt} rows with {options} differ from those without")


def check_find(tmp):
    rng = random.Random(32)
    lines = []
    for i in range(110000):
        k = rng.random()
        if k < 0.85:
            lines.append(address(rng)[0])
        elif k < 0.9:
            lines.append("  " + address(rng)[0] + "\t")
        elif k < 0.95:
            lines.append("")
        else:
            lines.append(filler(rng, 8))
    lines.insert(70000, "x" * 5000)  # longer than a line of find: shown empty
    lines.insert(90000, "x" * int(1.2 * MIB))  # longer than a block: read in pieces
    stdin = ("\n".join(lines)).encode()  # the last line without a line end
    for fmt in ["tsv", "csv", "json"]:
        for threads in ["1", "2"]:
            name = f"find - {fmt} {threads} threads"
            code, text, err = run(["find", "-n", "-H", "--format", fmt, "--threads", threads,
                                   "8.8.8.8", "-"], stdin)
            if code != 1:  # wrong lines were told of
                fail(f"{name}: status {code}")
            header, rows = parse(fmt, text)
            if fmt == "csv" and header[:3] != ["File", "Line", "IP"]:
                fail(f"{name}: header {header}")
            got = []
            for row in rows:
                (file, line), rest = leading(fmt, row, True, True)
                got.append((file, line, rest["ip"] if fmt == "json" else rest[0]))
            typed = (None, None, "8.8.8.8") if fmt == "json" else ("", None, "8.8.8.8")
            want = [typed] + [(STDIN_NAME, i + 1, "" if len(t) > 4096 else t.strip(" \t"))
                              for i, t in enumerate(lines)]
            if got != want:
                first = next((i for i, (g, w) in enumerate(zip(got, want)) if g != w),
                             min(len(got), len(want)))
                fail(f"{name}: {len(got)} rows, {len(want)} expected; first difference at "
                     f"row {first}: {got[first:first + 2]} against {want[first:first + 2]}")


def check_formatted(tmp):
    """The formatted list numbers its lines as the free text does."""
    rng = random.Random(33)
    lines, want = [], []
    for i in range(40000):
        if rng.random() < 0.9:
            ip, port = address(rng)
            # A list's IPv4 address has its port.
            lines.append(ip + (port or (":80" if "." in ip else "")))
            want.append((i + 1, ip))
        else:
            lines.append("")
    path = os.path.join(tmp, "list.txt")
    with open(path, "w") as f:
        f.write("\r\n".join(lines))
    for threads in ["1", "2"]:
        code, text, err = run(["formatted", "--all", "-n", "--threads", threads, path])
        got = [(int(r[0]), r[1]) for r in parse("tsv", text)[1]]
        if got != want:
            fail(f"formatted, {threads} threads: {len(got)} rows, {len(want)} expected")


with tempfile.TemporaryDirectory() as tmp:
    check_analyses(tmp)
    check_find(tmp)
    check_formatted(tmp)
for failure in FAILURES:
    print("FAIL:", failure)
print("ok" if not FAILURES else f"{len(FAILURES)} failures")
sys.exit(1 if FAILURES else 0)
