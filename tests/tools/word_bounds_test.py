#!/usr/bin/env python3
"""The driver's free-text rows against a reference written apart from it.

The reference finds addresses with regular expressions and look-around and
reads them with the standard library's ipaddress; it shares nothing with the
driver's scanners. Three checks:
  - generated lines: a candidate of either family between every class of
    neighbour (digit, dot-digit, dot-letter, letter, slash, colon, bracket,
    blank, line end), on one and two threads, and in lines far longer than
    a block, whose pieces cut candidates and their neighbours;
  - the kinds of lines where pieces of longer names were taken as clients,
    each with the rows it must give, with and without --first;
  - logs in the shape of web, mail, DNS and firewall logs, whose clients the
    test knows, among version strings, serials and reverse-DNS names.

Usage: word_bounds_test.py DRIVER DATA_DIR
"""

import ipaddress
import os
import random
import re
import subprocess
import sys
import tempfile

DRIVER, DATA_DIR = sys.argv[1], sys.argv[2]
FAILURES = []

WORD = "0-9A-Za-z_"
IPV4 = re.compile(
    rf"(?<![{WORD}])(?<![{WORD}]\.)"
    r"([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})"
    rf"(?![{WORD}])(?!\.[{WORD}])"
)
HEX_RUN = re.compile(r"[0-9A-Fa-f:]+")


def is_word(c):
    return c is not None and re.fullmatch(f"[{WORD}]", c) is not None


def ipv6_value(text):
    if len(text) > 39 or not re.search("[0-9A-Fa-f]", text):
        return None
    try:
        return ipaddress.IPv6Address(text)
    except ValueError:
        return None


def reference(line):
    """(start, text) of every address of the line that stands alone."""
    found = []
    for m in IPV4.finditer(line):
        if all(int(octet) <= 255 for octet in m.groups()):
            found.append((m.start(), m.group()))
    for m in HEX_RUN.finditer(line):
        start, end, run = m.start(), m.end(), m.group()
        before = line[start - 1] if start > 0 else None
        two_before = line[start - 2] if start > 1 else None
        after = line[end] if end < len(line) else None
        two_after = line[end + 1] if end + 1 < len(line) else None
        if len(run) > 40:
            continue
        if before is not None and (is_word(before) or before in "%]"):
            continue
        if before == "." and is_word(two_before):
            continue
        if is_word(after) or (after == "." and is_word(two_after)):
            continue
        text = run
        if ipv6_value(text) is None and text.endswith(":"):
            text = text[:-1]
        if ipv6_value(text) is None:
            continue
        found.append((start, text))
    return [text for _, text in sorted(found)]


def driver_rows(text, *options):
    """The ip column of the driver's rows (every address, with --all)."""
    with tempfile.NamedTemporaryFile("w", suffix=".log", delete=False) as f:
        f.write(text)
        path = f.name
    try:
        out = subprocess.run(
            [DRIVER, "unformatted", "--all", "--data-dir", DATA_DIR, *options, path],
            capture_output=True, text=True, timeout=300)
    finally:
        os.unlink(path)
    if out.returncode != 0:
        FAILURES.append(f"driver {options} ended with {out.returncode}: {out.stderr}")
        return []
    return [row.split("\t")[0] for row in out.stdout.splitlines()]


def expect(name, got, want):
    if got != want:
        first = next((i for i, (g, w) in enumerate(zip(got, want)) if g != w),
                     min(len(got), len(want)))
        FAILURES.append(f"{name}: {len(got)} rows, {len(want)} expected; first difference at "
                        f"row {first}: {got[first:first + 3]} against {want[first:first + 3]}")


# Every neighbour class, before and after a candidate.
BEFORE = ["", " ", "7", "3.", "x.", "x", "/", ":", "[", "]", "-", "=", "(", "\t", "%",
          "9.8.", "abc-", "ü", "_"]
AFTER = ["", " ", "7", ".5", ".x", "x", "/", ":", "]", "[", "-", ",", ")", "\t", ". ",
         ".", ":80", ":443x", ":abc", "::", ".in-addr.arpa", "ü", "_"]
IPV4_CANDIDATES = ["1.2.3.4", "8.8.8.8", "203.0.113.9", "255.255.255.255", "256.1.2.3",
                   "01.02.03.004", "10.0.0.1", "192.168.1.300", "1.2.3", "0.0.0.0"]
IPV6_CANDIDATES = ["2001:db8::1", "2a00:1450:4001:81b::200e", "::1", "2600::", "fe80::1",
                   "2001:4860:4860::8888", "1:2:3:4:5:6:7:8", "abcd::", "::ffff:c000:201"]


def generated_lines(rng, count):
    lines = []
    for _ in range(count):
        parts = []
        for _ in range(rng.randint(1, 4)):
            pool = IPV4_CANDIDATES if rng.random() < 0.6 else IPV6_CANDIDATES
            parts.append(rng.choice(BEFORE) + rng.choice(pool) + rng.choice(AFTER))
            parts.append(rng.choice(["", " ", " from ", " x ", "\t"]))
        lines.append("".join(parts))
    return lines


def check_generated():
    rng = random.Random(31)
    # Every pair of neighbours around every candidate, one line each.
    lines = [b + c + a for c in IPV4_CANDIDATES + IPV6_CANDIDATES for b in BEFORE for a in AFTER]
    lines += generated_lines(rng, 4000)
    want = [text for line in lines for text in reference(line)]
    text = "\n".join(lines) + "\n"
    for threads in ("1", "2"):
        expect(f"generated lines, {threads} thread(s)",
               driver_rows(text, "--threads", threads), want)
    # Long lines: the reader hands them on in pieces, cut anywhere.
    long_lines = [" ".join(generated_lines(rng, 30000)) for _ in range(3)]
    want = [text for line in long_lines for text in reference(line)]
    expect("lines longer than a block", driver_rows("\n".join(long_lines) + "\n"), want)


# The kinds of lines that gave rows for pieces of longer names, and what each
# must give: the rows by default, and the first of them with --first.
KINDS = [
    ("accept-language weights", 'GET / "q=0.96405.30.17.0.1" from 198.51.100.7', ["198.51.100.7"]),
    ("serial numbers", "disk serial 123456789.1.2.3 seen", []),
    ("version strings", "GSA/3.2.1.25875 Mobile Safari 203.0.113.5", ["203.0.113.5"]),
    ("host names holding an address", "dsl-static-059.45.101.203.example.net connected", []),
    ("reverse-DNS names", "query 112.31.87.10.in-addr.arpa PTR from 192.0.2.44",
     ["192.0.2.44"]),
    ("digits running on", "id 9999.1.1.1 and 1.1.1.9999", []),
    ("letters glued", "v1.2.3.4 abc8.8.8.8 8.8.8.8x", []),
    ("a longer dotted number", "build 1.2.3.4.5 released", []),
    ("the client, a port and a sentence's end",
     "Dec 8 sshd[1]: from 203.0.113.9:52811. Then 198.51.100.1.",
     ["203.0.113.9", "198.51.100.1"]),
    ("IPv6 glued to hex or colons", "id x2001:db8::1 2001:db8::1:: 2001:db8::1.5 [2001:db8::2]:443",
     ["2001:db8::2"]),
    ("addresses in other addresses' company",
     "::ffff:192.0.2.1 (1.2.3.4) [10.0.0.1] <fe80::1%eth0> 8.8.4.4/24",
     ["192.0.2.1", "1.2.3.4", "10.0.0.1", "fe80::1", "8.8.4.4"]),
]


def check_kinds():
    for name, line, want in KINDS:
        expect(name, driver_rows(line + "\n"), want)
        expect(name + ", --first", driver_rows(line + "\n", "--first"), want[:1])
        expect(name + ", the reference", reference(line), want)


def shaped_logs(rng):
    """Lines in the shape of four kinds of logs, each with its one client."""
    lines, clients = [], []

    def client():
        return ".".join(str(rng.randint(1, 223)) for _ in range(4)) if rng.random() < 0.85 \
            else f"2001:db8:{rng.randint(0, 0xffff):x}::{rng.randint(1, 0xffff):x}"

    def noise():
        a = [str(rng.randint(0, 255)) for _ in range(4)]
        return rng.choice([
            f"{'.'.join(reversed(a))}.in-addr.arpa",
            f"host-{'-'.join(a)}.example.net",
            f"dsl-{a[0]}.{a[1]}.{a[2]}.{a[3]}.pool.example",
            f"Chrome/{a[0]}.0.{rng.randint(1000, 9999)}.{a[3]}",
            f"serial {rng.randint(10**6, 10**9)}.{a[1]}.{a[2]}.{a[3]}",
            f"q=0.9{a[0]}.{a[1]}.{a[2]}.{a[3]}",
        ])

    for i in range(3000):
        ip = client()
        clients.append(ip)
        kind = i % 4
        if kind == 0:  # web
            lines.append(f'{ip} - - [08/Dec/2026:10:00:{i % 60:02}] "GET /?r={noise()} HTTP/1.1" '
                         f'200 512 "-" "Mozilla/5.0 {noise()}"')
        elif kind == 1:  # mail
            shown = f"[{ip}]"
            lines.append(f"Dec  8 10:00:00 mx postfix/smtpd[4{i}]: connect from "
                         f"{noise().replace(' ', '-')}{shown}")
        elif kind == 2:  # DNS
            lines.append(f"08-Dec-2026 10:00:00.123 client {ip}#5353 ({noise()}): "
                         f"query: {noise()} IN PTR +E(0)")
        else:  # firewall
            lines.append(f"Dec  8 kernel: [UFW BLOCK] IN=eth0 OUT= SRC={ip} DST=10.0.0.1 "
                         f"LEN=60 ID={noise()}")
    return lines, clients


def check_shaped_logs():
    lines, clients = shaped_logs(random.Random(8))
    text = "\n".join(lines) + "\n"
    expect("shaped logs, --first", driver_rows(text, "--first"), clients)
    expect("shaped logs against the reference", driver_rows(text),
           [t for line in lines for t in reference(line)])


check_generated()
check_kinds()
check_shaped_logs()
for failure in FAILURES:
    print("FAIL:", failure)
print("ok" if not FAILURES else f"{len(FAILURES)} failures")
sys.exit(1 if FAILURES else 0)
