#!/usr/bin/python3
"""The networks of `--asn` against a reference that reads the CSV files itself.

Usage: asn_reference_test.py DRIVER BUILD_DATA_ASN DATA_DIR

1. Drawn data: CSV files drawn here (nested and overlapping ranges, ranges
   that touch, names with quotes, commas and non-ASCII letters, ranges over
   special-purpose blocks) are turned into asn.bin by scripts/build-data-asn;
   `find --asn -` is asked for every range's start, end and middle, and the
   addresses either side, in both families and all three formats, and must
   give what the reference finds by looking at every range that holds the
   address (the narrowest wins; special-purpose blocks have none).
2. The shipped data: when the package the data is built from can be had
   (IPCOUNTRY_ASN_PACKAGE names its unpacked folder, or npm fetches it), the
   same for every range of both its files against data/asn.bin. Skipped
   otherwise, saying why.

Exit status 77 when nothing could be tested at all.
"""
import bisect
import csv
import html.parser
import io
import ipaddress
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

PACKAGE = "@ip-location-db/asn@2.3.2026061719"

# Blocks with no network whatever the file says: taken from the registries'
# text as a person reads it, not from the program's list.
SPECIAL = [ipaddress.ip_network(n) for n in (
    "0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "127.0.0.0/8", "169.254.0.0/16",
    "172.16.0.0/12", "192.0.2.0/24", "192.168.0.0/16", "198.18.0.0/15",
    "198.51.100.0/24", "203.0.113.0/24", "224.0.0.0/4", "240.0.0.0/4",
    "::/128", "::1/128", "fc00::/7", "fe80::/10", "2001:db8::/32", "ff00::/8")]
# Addresses near these the program may judge by finer rules (192.0.0.0/24's
# exceptions, 64:ff9b::/96, 2001::/23's globally reachable rows): not asked.
UNSURE = [ipaddress.ip_network(n) for n in (
    "192.0.0.0/24", "192.88.99.0/24", "64:ff9b::/96", "64:ff9b:1::/48", "100::/64",
    "2001::/23", "2002::/16", "3fff::/20", "5f00::/16", "::ffff:0:0/96")]


def special(address):
    return any(address in n for n in SPECIAL)


def unsure(address):
    return any(address in n for n in UNSURE)


class Reference:
    """Every range of a family as the CSV gives it; for an address, the
    narrowest range that holds it."""

    def __init__(self, ranges):
        self.ranges = sorted(ranges)
        self.starts = [r[0] for r in self.ranges]
        # The largest end among the ranges up to each one: the walk back
        # from an address stops where no earlier range can reach it.
        self.reach = []
        top = -1
        for r in self.ranges:
            top = max(top, r[1])
            self.reach.append(top)

    def find(self, value):
        i = bisect.bisect_right(self.starts, value) - 1
        best = None
        while i >= 0 and self.reach[i] >= value:
            start, end, asn, name = self.ranges[i]
            if start <= value <= end and (best is None or end - start < best[1] - best[0]):
                best = self.ranges[i]
            i -= 1
        return best


def read_csv(path, family):
    ranges = []
    with open(path, encoding="utf-8", newline="") as f:
        for row in csv.reader(f):
            start = int(ipaddress.ip_address(row[0])) if not row[0].isdigit() else int(row[0])
            end = int(ipaddress.ip_address(row[1])) if not row[1].isdigit() else int(row[1])
            ranges.append((start, end, int(row[2]), row[3]))
    return ranges


def probes(ranges, top):
    values = set()
    for start, end, _, _ in ranges:
        for v in (start - 1, start, (start + end) // 2, end, end + 1):
            if 0 <= v <= top:
                values.add(v)
    return sorted(values)


def expected(reference, value, family):
    address = ipaddress.IPv4Address(value) if family == 4 else ipaddress.IPv6Address(value)
    if special(address):
        return None
    found = reference.find(value)
    return None if found is None else (found[2], found[3])


def run_find(driver, data_dir, addresses, fmt):
    result = subprocess.run(
        [driver, "find", "--asn", "--format", fmt, "--data-dir", data_dir, "-"],
        input="\n".join(addresses).encode() + b"\n", capture_output=True, timeout=600)
    if result.returncode != 0:
        sys.exit(f"find --asn --format {fmt} ended with {result.returncode}: "
                 f"{result.stderr.decode(errors='replace')[:500]}")
    text = result.stdout.decode("utf-8")
    answers = []
    if fmt == "json":
        for line in text.splitlines():
            row = json.loads(line)
            answers.append(None if row["asn"] is None else (row["asn"], row["as_name"]))
    elif fmt == "csv":
        rows = list(csv.reader(io.StringIO(text, newline="")))
        if rows[0] != ["IP", "Code", "Country", "Reason", "AS", "Operator"]:
            sys.exit(f"csv header {rows[0]}")
        for row in rows[1:]:
            answers.append(None if row[4] == "" else (int(row[4][2:]), row[5]))
    else:
        for line in text.split("\n")[:-1]:
            fields = line.split("\t")
            if len(fields) != 5:
                sys.exit(f"tsv row of {len(fields)} fields: {line!r}")
            answers.append(None if fields[3] == "" else (int(fields[3][2:]), fields[4]))
    if len(answers) != len(addresses):
        sys.exit(f"{fmt}: {len(answers)} rows for {len(addresses)} addresses")
    return answers


def compare(driver, data_dir, references, formats, label):
    failures = 0
    for family, (reference, values) in references.items():
        kind = ipaddress.IPv4Address if family == 4 else ipaddress.IPv6Address
        asked = [v for v in values if not unsure(kind(v))]
        addresses = [str(kind(v)) for v in asked]
        want = [expected(reference, v, family) for v in asked]
        for fmt in formats:
            got = run_find(driver, data_dir, addresses, fmt)
            for address, w, g in zip(addresses, want, got):
                # tsv has no way to write a TAB or line break inside a name.
                if fmt == "tsv" and w is not None:
                    w = (w[0], w[1].replace("\t", " ").replace("\r", " ").replace("\n", " "))
                if w != g:
                    failures += 1
                    if failures <= 10:
                        print(f"{label} {fmt}: {address}: expected {w}, got {g}")
        print(f"{label}: IPv{family}: {len(asked)} addresses in {', '.join(formats)}")
    return failures


def drawn_ranges(rng, family, count):
    bits = 32 if family == 4 else 128
    names = ["Cloudflare, Inc.", 'Say "hello" & co', "Telefónica Germany", "Ōkami ネット",
             "Plain Networks", "Comma, Quote \" and\ttab", "AS with <html> & 'quotes'"]
    ranges = []
    # Public space, with a few ranges laid over special-purpose blocks.
    low = int(ipaddress.ip_address("1.0.0.0" if family == 4 else "2400::"))
    high = int(ipaddress.ip_address("9.255.255.255" if family == 4 else "2600::"))
    cursor = low
    for _ in range(count):
        cursor += rng.choice([0, 1, rng.randrange(1, 1 << (8 if family == 4 else 80))])
        size = rng.choice([1, 2, 256, rng.randrange(1, 1 << (16 if family == 4 else 96))])
        start, end = cursor, min(cursor + size - 1, high)
        if start > high:
            break
        asn = rng.choice([13335, 64500, 4294967294, rng.randrange(1, 400000)])
        ranges.append((start, end, asn))
        # Now and then a block inside the one just drawn.
        if rng.random() < 0.1 and end - start > 4:
            inner = rng.randrange(start + 1, end)
            ranges.append((inner, rng.randrange(inner, end + 1), rng.randrange(1, 400000)))
        cursor = end + 1
    for net in SPECIAL:
        if net.version == family and rng.random() < 0.7:
            ranges.append((int(net.network_address), int(net.broadcast_address), 64501))
    # Every AS number its one name.
    named = {}
    out = []
    for start, end, asn in ranges:
        named.setdefault(asn, rng.choice(names) + f" {asn}")
        out.append((start, end, asn, named[asn]))
    del bits
    return out


def write_csv(path, ranges, number_to_name):
    with open(path, "w", encoding="utf-8", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        for start, end, asn, _ in ranges:
            w.writerow([start, end, asn, number_to_name[asn]])


def run_rows(driver, data_dir, log, *options):
    result = subprocess.run(
        [driver, "unformatted", "--asn", "--format", "json", "--data-dir", data_dir, *options,
         log], capture_output=True, timeout=600)
    if result.returncode != 0:
        sys.exit(f"unformatted {' '.join(options)} ended with {result.returncode}: "
                 f"{result.stderr.decode(errors='replace')[:500]}")
    return [json.loads(line) for line in result.stdout.decode("utf-8").splitlines()]


def filter_test(driver, folder, work, references):
    """--only and --exclude of AS numbers, on the command line and in a list,
    against the reference's networks of the same rows."""
    log = os.path.join(work, "filter.log")
    lines = []
    for family, (reference, values) in references.items():
        kind = ipaddress.IPv4Address if family == 4 else ipaddress.IPv6Address
        for v in values:
            if not unsure(kind(v)):
                lines.append(f"client {kind(v)} asked\n")
    with open(log, "w") as f:
        f.writelines(lines)
    every = run_rows(driver, folder, log)
    want = {}
    for row in every:
        address = ipaddress.ip_address(row["ip"])
        reference = references[address.version][0]
        found = expected(reference, int(address), address.version)
        want[row["ip"]] = None if found is None else found[0]
        if row["asn"] != want[row["ip"]]:
            print(f"filter: {row['ip']} has {row['asn']}, the reference {want[row['ip']]}")
            return 1
    failures = rows_test(driver, folder, work, log, references, list(want))
    counts = {}
    for asn in want.values():
        if asn is not None:
            counts[asn] = counts.get(asn, 0) + 1
    chosen = sorted(counts, key=lambda a: (-counts[a], a))[:3]
    listed = os.path.join(work, "networks.txt")
    with open(listed, "w") as f:
        f.write(f"# two networks\nAS{chosen[0]}, as{chosen[1]}\r\n")
    cases = [
        (["--only", f"AS{chosen[0]}"], lambda a: a == chosen[0]),
        (["--exclude", f"AS{chosen[0]}", "--exclude", f"AS{chosen[2]}"],
         lambda a: a not in (chosen[0], chosen[2])),
        (["--only", "@" + listed], lambda a: a in (chosen[0], chosen[1])),
        (["--only", "@" + listed, "--exclude", f"AS{chosen[1]}"], lambda a: a == chosen[0]),
    ]
    for options, keep in cases:
        got = [row["ip"] for row in run_rows(driver, folder, log, *options)]
        expect = [row["ip"] for row in every if keep(want[row["ip"]])]
        if got != expect:
            failures += 1
            print(f"filter {' '.join(options)}: {len(got)} rows, the reference keeps "
                  f"{len(expect)}; first apart: "
                  f"{next((g, e) for g, e in zip(got + [None], expect + [None]) if g != e)}")
    print(f"filter: {len(cases)} filters over {len(every)} rows")
    return failures + by_network_test(driver, folder, log, every, want)


def parse_rows(text, fmt):
    """(address, AS number or None) of each row of `text` in `fmt`."""
    if fmt == "json":
        return [(r["ip"], r["asn"]) for r in map(json.loads, text.splitlines())]
    if fmt == "csv":
        rows = list(csv.reader(io.StringIO(text, newline="")))
        at = rows[0].index("AS")
        return [(r[0], int(r[at][2:]) if r[at] else None) for r in rows[1:]]
    rows = [line.split("\t") for line in text.split("\n")[:-1]]
    return [(r[0], int(r[3][2:]) if r[3] else None) for r in rows]


def rows_test(driver, folder, work, log, references, addresses):
    """Every row's network, in each format, on one thread and on several,
    from free text and from a list, against the reference; rows without a
    country (--all) too."""
    listed = os.path.join(work, "list.txt")
    with open(listed, "w") as f:
        for address in addresses:
            f.write(f"[{address}]:80\n" if ":" in address else f"{address}:80\n")
    cases = [("unformatted", log, fmt, threads, extra) for fmt in ("tsv", "csv", "json")
             for threads in ("1", "2") for extra in ([], ["--all"])]
    cases += [("formatted", listed, fmt, threads, []) for fmt in ("tsv", "json")
              for threads in ("1", "2")]
    failures = 0
    for command, path, fmt, threads, extra in cases:
        result = subprocess.run(
            [driver, command, "--asn", "--format", fmt, "--threads", threads, "--data-dir",
             folder, *extra, path], capture_output=True, timeout=600)
        rows = parse_rows(result.stdout.decode("utf-8"), fmt)
        apart = []
        for a, n in rows:
            address = ipaddress.ip_address(a)
            found = expected(references[address.version][0], int(address), address.version)
            if n != (None if found is None else found[0]):
                apart.append((a, n, found))
        if result.returncode != 0 or not rows or apart:
            failures += 1
            print(f"{command} --asn --format {fmt} --threads {threads} {' '.join(extra)}: "
                  f"status {result.returncode}, {len(rows)} rows; apart: {apart[:3]}")
    print(f"rows: {len(cases)} runs' networks against the reference")
    return failures


def by_network_test(driver, folder, log, every, want):
    """--by as counts the rows of each network as the reference names them."""
    counts = {}
    for row in every:
        counts[want[row["ip"]]] = counts.get(want[row["ip"]], 0) + 1
    result = subprocess.run(
        [driver, "unformatted", "--stats", "--by", "as", "--format", "json", "--data-dir",
         folder, log], capture_output=True, timeout=600, check=True)
    block = json.loads(result.stdout.decode("utf-8").splitlines()[-1])
    got = {n["asn"]: n["count"] for n in block["networks"]}
    if "no_network" in block:
        got[None] = block["no_network"]["count"]
    failures = 0
    if got != counts or block["total"] != len(every):
        failures += 1
        apart = sorted((a for a in set(got) | set(counts) if got.get(a) != counts.get(a)),
                       key=str)[:5]
        print(f"--by as: counts differ from the reference for {apart}")
    # --top keeps the most counted, ties by number, the rest on one line.
    result = subprocess.run(
        [driver, "unformatted", "--stats", "--by", "as", "--top", "5", "--format", "json",
         "--data-dir", folder, log], capture_output=True, timeout=600, check=True)
    block = json.loads(result.stdout.decode("utf-8").splitlines()[-1])
    ranked = sorted((a for a in counts if a is not None), key=lambda a: (-counts[a], a))
    if [n["asn"] for n in block["networks"]] != ranked[:5] or \
            block["other_networks"]["count"] != sum(counts[a] for a in ranked[5:]):
        failures += 1
        print("--by as --top 5: not the five most counted networks and the rest")
    print(f"by as: {len(counts)} networks over {len(every)} rows")
    return failures + report_test(driver, folder, log, counts)


class NetworksTable(html.parser.HTMLParser):
    """The cells of the page's networks table, unescaped."""

    def __init__(self):
        super().__init__()
        self.rows, self.inside, self.cell = [], False, None

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.inside = ("id", "networks-table") in attrs
        elif self.inside and tag == "tr":
            self.rows.append([])
        elif self.inside and tag == "td":
            self.cell = ""

    def handle_endtag(self, tag):
        if tag == "table":
            self.inside = False
        elif self.inside and tag == "td" and self.cell is not None:
            self.rows[-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


def report_test(driver, folder, log, counts):
    """The page's networks: the 20 busiest, names escaped (quotes, ampersands,
    markup, non-ASCII letters) and read back as they are."""
    result = subprocess.run(
        [driver, "report", "unformatted", "--data-dir", folder, log], capture_output=True,
        timeout=600)
    page = result.stdout.decode("utf-8")
    table = NetworksTable()
    table.feed(page)
    rows = [r for r in table.rows if r]
    ranked = sorted((a for a in counts if a is not None), key=lambda a: (-counts[a], a))[:20]
    names = {}
    for r in read_csv(os.path.join(os.path.dirname(folder), "v4.csv"), 4) + \
            read_csv(os.path.join(os.path.dirname(folder), "v6.csv"), 6):
        names[r[2]] = r[3]
    want = [[str(i + 1), f"AS{a}", names[a], str(counts[a])] for i, a in enumerate(ranked)]
    got = [[r[0], r[1], r[2], r[4].replace(",", "")] for r in rows]
    failures = 0
    if got != want:
        failures += 1
        print(f"report: the networks table differs: {got[:3]} against {want[:3]}")
    if "<html> &" in page:
        failures += 1
        print("report: an operator's name stands unescaped in the page")
    print(f"report: {len(rows)} networks on the page")
    return failures


def drawn_test(driver, build_asn, data_dir, work):
    rng = random.Random(34)
    folder = os.path.join(work, "drawn")
    os.mkdir(folder)
    for name in ("Country.dbf", "IP_db.dbf", "IP6_db.dbf"):
        shutil.copy(os.path.join(data_dir, name), folder)
    v4 = drawn_ranges(rng, 4, 3000)
    v6 = drawn_ranges(rng, 6, 1000)
    # One name per number across both families, as the package has.
    number_to_name = {}
    for r in v4 + v6:
        number_to_name.setdefault(r[2], r[3])
    v4 = [(s, e, a, number_to_name[a]) for s, e, a, _ in v4]
    v6 = [(s, e, a, number_to_name[a]) for s, e, a, _ in v6]
    write_csv(os.path.join(work, "v4.csv"), v4, number_to_name)
    write_csv(os.path.join(work, "v6.csv"), v6, number_to_name)
    subprocess.run([build_asn, os.path.join(work, "v4.csv"), os.path.join(work, "v6.csv"),
                    os.path.join(folder, "asn.bin")], check=True, stdout=subprocess.DEVNULL)
    references = {4: (Reference(v4), probes(v4, 2**32 - 1)),
                  6: (Reference(v6), probes(v6, 2**128 - 1))}
    failures = compare(driver, folder, references, ("tsv", "csv", "json"), "drawn")
    failures += filter_test(driver, folder, work, references)
    failures += damaged_test(driver, folder, work)
    failures += shards_test(driver, folder, work, os.path.join(work, "filter.log"))
    return failures + stats_test(driver, folder, os.path.join(work, "filter.log"))


def shards_test(driver, folder, work, log):
    """--by as of shards' rows merged by stats equals one run over the whole,
    whatever format the shards were written in."""
    lines = open(log).readlines()
    whole = subprocess.run(
        [driver, "unformatted", "--all", "--stats", "--by", "as", "--format", "json",
         "--data-dir", folder, log], capture_output=True, timeout=600, check=True)
    want = json.loads(whole.stdout.decode().splitlines()[-1])
    del want["elapsed_seconds"]
    failures = 0
    for fmt in ("tsv", "csv", "json"):
        outputs = []
        # Shards of unequal sizes, one of them empty.
        cuts = [0, 1, len(lines) // 3, len(lines) // 3, len(lines)]
        for i in range(len(cuts) - 1):
            shard = os.path.join(work, f"shard{i}.log")
            with open(shard, "w") as f:
                f.writelines(lines[cuts[i]:cuts[i + 1]])
            out = os.path.join(work, f"shard{i}.{fmt}")
            with open(out, "wb") as f:
                subprocess.run([driver, "unformatted", "--all", "--asn", "--format", fmt,
                                "--data-dir", folder, shard], stdout=f, timeout=600, check=True)
            outputs.append(out)
        merged = subprocess.run(
            [driver, "stats", "--by", "as", "--format", "json", "--data-dir", folder, *outputs],
            capture_output=True, timeout=600)
        if merged.returncode != 0:
            failures += 1
            print(f"shards ({fmt}): stats ended with {merged.returncode}: "
                  f"{merged.stderr.decode()[:300]}")
            continue
        got = json.loads(merged.stdout.decode().splitlines()[-1])
        del got["elapsed_seconds"]
        expect = json.loads(json.dumps(want))
        if fmt == "tsv":
            # tsv has no way to write a TAB inside a name.
            for n in expect["networks"]:
                n["as_name"] = n["as_name"].replace("\t", " ")
        if got != expect:
            failures += 1
            print(f"shards ({fmt}): the merged networks differ from one run's")
    print(f"shards: --by as of {len(lines)} lines in four shards, three formats")
    return failures


def damaged_test(driver, folder, work):
    """A networks file cut short, too long, out of order or not one at all is
    refused with its name and why, never read wrong and never a crash."""
    import struct
    good = open(os.path.join(folder, "asn.bin"), "rb").read()
    n4, n6, k, b = struct.unpack_from("<4I", good, 8)
    v4_networks = 24 + 4 * n4
    cases = {
        "empty": b"",
        "magic only": good[:8],
        "not ours": b"IPCASN2\n" + good[8:],
        "cut in the names": good[:-1],
        "cut in the ranges": good[:24 + 2 * n4],
        "one byte more": good + b"x",
        # The second IPv4 start before the first.
        "out of order": good[:28] + struct.pack("<I", 0) + good[32:],
        # A range that names network k + 1 of k.
        "unknown network": good[:v4_networks] + struct.pack("<I", k + 1) +
        good[v4_networks + 4:],
        "counts too large": good[:8] + struct.pack("<4I", 2**31, n6, k, b) + good[24:],
    }
    failures = 0
    damaged = os.path.join(work, "damaged")
    os.mkdir(damaged)
    for name in ("Country.dbf", "IP_db.dbf", "IP6_db.dbf"):
        shutil.copy(os.path.join(folder, name), damaged)
    for what, content in cases.items():
        with open(os.path.join(damaged, "asn.bin"), "wb") as f:
            f.write(content)
        result = subprocess.run([driver, "find", "--asn", "--data-dir", damaged, "8.8.8.8"],
                                capture_output=True, timeout=60)
        message = result.stderr.decode(errors="replace")
        if result.returncode not in (1, 2) or "asn.bin" not in message or result.stdout:
            failures += 1
            print(f"damaged ({what}): status {result.returncode}, said {message!r}, "
                  f"printed {result.stdout[:80]!r}")
    print(f"damaged: {len(cases)} networks files refused")
    return failures


def stats_test(driver, folder, log):
    """stats reads rows with their networks as it reads them without."""
    failures = 0
    for fmt in ("tsv", "csv", "json"):
        merged = []
        for networks in (["--asn"], []):
            rows = subprocess.run(
                [driver, "unformatted", "--all", "--format", fmt, "--data-dir", folder, *networks,
                 log], capture_output=True, timeout=600, check=True).stdout
            result = subprocess.run(
                [driver, "stats", "--format", "json", "--data-dir", folder, "-"], input=rows,
                capture_output=True, timeout=600)
            if result.returncode != 0:
                failures += 1
                print(f"stats of {fmt} rows {networks}: {result.stderr.decode()[:300]}")
                continue
            block = json.loads(result.stdout)
            del block["elapsed_seconds"]
            merged.append(block)
        if len(merged) == 2 and merged[0] != merged[1]:
            failures += 1
            print(f"stats of {fmt} rows with --asn differ from those without")
    print("stats: rows with and without networks, three formats")
    return failures


def package_folder(work):
    given = os.environ.get("IPCOUNTRY_ASN_PACKAGE")
    if given:
        return given, None
    if shutil.which("npm") is None:
        return None, "npm is not installed"
    try:
        subprocess.run(["npm", "pack", "--silent", PACKAGE], cwd=work, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except (subprocess.SubprocessError, OSError):
        return None, "npm could not fetch " + PACKAGE
    tgz = [f for f in os.listdir(work) if f.endswith(".tgz")]
    subprocess.run(["tar", "-xzf", os.path.join(work, tgz[0]), "-C", work], check=True)
    return os.path.join(work, "package"), None


def package_test(driver, data_dir, work):
    folder, why = package_folder(work)
    if folder is None:
        print(f"SKIP the shipped data: {why} (IPCOUNTRY_ASN_PACKAGE may name the unpacked package)")
        return 0, False
    v4 = read_csv(os.path.join(folder, "asn-ipv4.csv"), 4)
    v6 = read_csv(os.path.join(folder, "asn-ipv6.csv"), 6)
    references = {4: (Reference(v4), probes(v4, 2**32 - 1)),
                  6: (Reference(v6), probes(v6, 2**128 - 1))}
    return compare(driver, data_dir, references, ("json",), "package"), True


def main():
    driver, build_asn, data_dir = sys.argv[1:4]
    work = tempfile.mkdtemp(prefix="asn-reference-")
    try:
        failures = drawn_test(driver, build_asn, data_dir, work)
        more, _ = package_test(driver, data_dir, work)
        failures += more
    finally:
        shutil.rmtree(work)
    if failures:
        print(f"{failures} answers differ from the reference")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
