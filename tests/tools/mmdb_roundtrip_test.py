#!/usr/bin/python3
"""The MaxMind DB that ipcountry-make-ip-db --mmdb writes, read by readers
that share nothing with it, answers what ipcountry-batch find answers.

- libmaxminddb (through Debian's python3-maxminddb C extension) looks up
  every range start, the address before it (the end of the range before),
  the middle of every range and 100,000 random addresses of each family; the
  pure Python reader of the same package a sample of 20,000 of them;
- IPv4 addresses looked up as ::ffff:a.b.c.d and 2002:: (6to4) answer as
  IPv4;
- the metadata reads back (type, languages, the sources and their licences,
  the date as build_epoch);
- Debian's Perl writer (MaxMind::DB::Writer) writing the same networks gives
  the same answers; the sizes are printed side by side;
- the converter's wrong usage and an unreadable data folder are told, and an
  earlier database is left as it was;
- ipcountry-update-data --mmdb writes the database of what it installed,
  and only after a successful update.

usage: mmdb_roundtrip_test.py MAKE_IP_DB BATCH DATA_DIR WRITE_MMDB_PL UPDATE_DATA
"""
import datetime
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import maxminddb
    import maxminddb.extension  # noqa: F401  (libmaxminddb itself)
except ImportError as e:
    print(f"SKIP: python3-maxminddb with its libmaxminddb extension is not installed ({e})")
    sys.exit(77)

from range_probes import address, find_codes, read_range_file

MAKE_IP_DB, BATCH, DATA_DIR, PERL_WRITER, UPDATE_DATA = sys.argv[1:6]
RANDOM_PROBES = 100_000
DEADLINE = 300  # seconds, for every program the test runs

failures = []


def fail(message):
    failures.append(message)
    if len(failures) <= 20:
        print("FAIL:", message)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=DEADLINE, **kwargs)


def probes_of(lines, family, rng):
    top = (1 << (32 if family == 4 else 128)) - 1
    probes = set()
    for i, (start, _) in enumerate(lines):
        probes.add(start)
        if start > 0:
            probes.add(start - 1)
        if i + 1 < len(lines):
            probes.add((start + lines[i + 1][0] - 1) // 2)
    for _ in range(RANDOM_PROBES):
        if family == 6 and rng.random() < 0.7:
            # Most of the IPv6 space is unassigned: draw most from 2000::/3.
            probes.add((1 << 125) | rng.getrandbits(125))
        else:
            probes.add(rng.getrandbits(32 if family == 4 else 128))
    return sorted(p for p in probes if 0 <= p <= top)


def iso_code(record):
    if record is None:
        return None
    return record.get("country", {}).get("iso_code")


def in_ipv4_places(n):
    """::/96, ::ffff:0:0/96 and 2002::/16 answer as IPv4 in the database."""
    return n >> 32 == 0 or n >> 32 == 0xFFFF or n >> 112 == 0x2002


def compare(label, addresses, want, reader):
    for a in addresses:
        got = iso_code(reader.get(a))
        if got != want[a]:
            fail(f"{label}: {a}: database says {got}, find says {want[a]}")


def round_trip(tmp, rng):
    ours = os.path.join(tmp, "ours.mmdb")
    made = run([MAKE_IP_DB, "--mmdb", ours, DATA_DIR])
    if made.returncode != 0:
        raise SystemExit(f"make-ip-db --mmdb failed: {made.stderr.decode()}")
    print(made.stderr.decode().strip())
    ext = maxminddb.open_database(ours, maxminddb.MODE_MMAP_EXT)
    pure = maxminddb.open_database(ours, maxminddb.MODE_MEMORY)
    checked = 0
    for family, name in ((4, "IP_db.dbf"), (6, "IP6_db.dbf")):
        lines = read_range_file(os.path.join(DATA_DIR, name), family)
        numbers = probes_of(lines, family, rng)
        if family == 6:
            numbers = [n for n in numbers if not in_ipv4_places(n)]
        texts = [address(n, family) for n in numbers]
        want = find_codes(BATCH, DATA_DIR, texts)
        compare(f"libmaxminddb IPv{family}", texts, want, ext)
        compare(f"pure Python IPv{family}", rng.sample(texts, min(20_000, len(texts))), want, pure)
        checked += len(texts)
        if family == 4:
            # The IPv4 answer through both aliases of the IPv4 space.
            for n, text in zip(numbers, texts):
                mapped = f"::ffff:{text}"
                six_to_four = f"2002:{n >> 16:x}:{n & 0xFFFF:x}:{rng.getrandbits(16):x}::"
                for alias in (mapped, six_to_four):
                    got = iso_code(ext.get(alias))
                    if got != want[text]:
                        fail(f"alias {alias}: database says {got}, find says {want[text]} for {text}")
    print(f"{checked} probes compared with find")
    check_metadata(ext.metadata())
    ext.close()
    pure.close()
    return ours


def check_metadata(meta):
    provenance = {}
    with open(os.path.join(DATA_DIR, "provenance.txt"), encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                provenance.setdefault(key, value)
    expect = {
        "database_type": "ipcountry-Country",
        "languages": ["en"],
        "ip_version": 6,
        "binary_format_major_version": 2,
    }
    for key, value in expect.items():
        if getattr(meta, key) != value:
            fail(f"metadata {key}: {getattr(meta, key)!r}, expected {value!r}")
    date = datetime.date.fromisoformat(provenance["ranges-date"])
    epoch = int(datetime.datetime(date.year, date.month, date.day, tzinfo=datetime.timezone.utc).timestamp())
    if meta.build_epoch != epoch:
        fail(f"build_epoch {meta.build_epoch}, expected {epoch} ({date})")
    description = meta.description.get("en", "")
    for part in (provenance["ranges"], provenance["ranges-licence"], provenance["ranges-date"]):
        if part not in description:
            fail(f"description does not name {part!r}: {description!r}")
    if meta.record_size not in (24, 28, 32):
        fail(f"record_size {meta.record_size}")


def against_perl_writer(tmp, rng):
    """The same networks through Debian's Perl writer and ours."""
    if subprocess.run(["perl", "-MMaxMind::DB::Writer::Tree", "-e", "1"], capture_output=True).returncode:
        print("SKIP part: libmaxmind-db-writer-perl is not installed")
        return
    folder = os.path.join(tmp, "subset")
    os.mkdir(folder)
    shutil.copy(os.path.join(DATA_DIR, "Country.dbf"), folder)
    perl_input = []
    probes = []
    for family, name, key in ((4, "IP_db.dbf", 8), (6, "IP6_db.dbf", 32)):
        lines = read_range_file(os.path.join(DATA_DIR, name), family)
        top = (1 << (32 if family == 4 else 128)) - 1
        ranges = [(s, lines[i + 1][0] - 1, c) for i, (s, c) in enumerate(lines[:-1]) if c != "ZZ"]
        # IPv6 ranges where the IPv4 space and its aliases stand are not
        # written (and the Perl writer refuses them).
        ranges = [r for r in ranges if family == 4 or not (in_ipv4_places(r[0]) or in_ipv4_places(r[1]))]
        ranges = [r for i, r in enumerate(ranges) if i % 25 == 0 or rng.random() < 0.01]
        out = [f"{0:0{key}X}ZZ"]
        for first, last, code in ranges:
            if first == 0:
                out = []
            out.append(f"{first:0{key}X}{code}")
            if last < top:
                out.append(f"{last + 1:0{key}X}ZZ")
            perl_input.append(f"{address(first, family)} {address(last, family)} {code}")
            for n in (first, last, last + 1, first - 1, (first + last) // 2):
                if 0 <= n <= top and not (family == 6 and (in_ipv4_places(n) or n >> 96 == 0x20010000)):
                    probes.append(address(n, family))
        # Touching ranges leave a ZZ line and a start at one address: keep the later.
        kept = {}
        for line in out:
            kept[line[:key]] = line
        if f"{top:0{key}X}" not in kept:
            kept[f"{top:0{key}X}"] = f"{top:0{key}X}ZZ"
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write("".join(kept[k] + "\r\n" for k in sorted(kept)))
    ours = os.path.join(tmp, "subset-ours.mmdb")
    theirs = os.path.join(tmp, "subset-perl.mmdb")
    made = run([MAKE_IP_DB, "--mmdb", ours, folder])
    if made.returncode != 0:
        raise SystemExit(f"make-ip-db --mmdb on the subset failed: {made.stderr.decode()}")
    written = run(["perl", PERL_WRITER, theirs, "iso", "6", "1"], input="\n".join(perl_input).encode())
    if written.returncode != 0:
        raise SystemExit(f"the Perl writer failed: {written.stderr.decode()}")
    a = maxminddb.open_database(ours, maxminddb.MODE_MMAP_EXT)
    b = maxminddb.open_database(theirs, maxminddb.MODE_MMAP_EXT)
    for p in probes:
        mine, its = iso_code(a.get(p)), iso_code(b.get(p))
        if mine != its:
            fail(f"Perl writer: {p}: ours says {mine}, the Perl writer's says {its}")
    want = find_codes(BATCH, folder, probes)
    compare("subset against find", probes, want, a)
    print(f"same networks ({len(perl_input)} ranges, {len(probes)} probes): ours "
          f"{os.path.getsize(ours)} bytes ({a.metadata().record_size}-bit records), the Perl writer's "
          f"{os.path.getsize(theirs)} bytes ({b.metadata().record_size}-bit records)")
    a.close()
    b.close()


def usage_and_errors(tmp):
    earlier = os.path.join(tmp, "earlier.mmdb")
    with open(earlier, "wb") as f:
        f.write(b"earlier")
    empty = os.path.join(tmp, "empty")
    os.mkdir(empty)
    cases = [
        ("no OUTPUT", ["--mmdb"], 2, "--mmdb needs"),
        ("with --ipv6", ["--mmdb", earlier, "--ipv6", DATA_DIR], 2, "no --ipv6"),
        ("two folders", ["--mmdb", earlier, DATA_DIR, DATA_DIR], 2, "at most one DATA_DIR"),
        ("a folder without range files", ["--mmdb", earlier, empty], 1, "IP_db.dbf"),
        ("a folder that is not there", ["--mmdb", earlier, os.path.join(tmp, "none")], 1, "IP_db.dbf"),
    ]
    for label, args, status, message in cases:
        out = run([MAKE_IP_DB] + args)
        if out.returncode != status or message not in out.stderr.decode():
            fail(f"{label}: status {out.returncode}, message {out.stderr.decode()!r}")
        with open(earlier, "rb") as f:
            if f.read() != b"earlier":
                fail(f"{label}: the earlier file was changed")


def updater(tmp):
    """The updater's --mmdb, from a local CSV source: no network."""
    folder = os.path.join(tmp, "updated")
    source = os.path.join(tmp, "source.csv")
    database = os.path.join(tmp, "updated.mmdb")
    with open(source, "w") as f:
        f.write("1.0.0.0,1.0.0.255,AU\n8.8.8.0,8.8.8.255,US\n10.0.0.0,10.255.255.255,DE\n"
                "2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP\n")
    env = dict(os.environ, HOME=tmp, XDG_DATA_HOME=os.path.join(tmp, "xdg"))
    out = run([UPDATE_DATA, "--data-dir", folder, "--mmdb", database, source], env=env)
    if out.returncode != 0:
        fail(f"update-data --mmdb: status {out.returncode}: {out.stderr.decode()}")
        return
    reader = maxminddb.open_database(database, maxminddb.MODE_MMAP_EXT)
    for a, want in (("1.0.0.7", "AU"), ("8.8.8.8", "US"), ("10.1.1.1", None), ("1.0.1.0", None),
                    ("2001:200::1", "JP"), ("::ffff:8.8.8.8", "US"), ("2001:300::", None)):
        if iso_code(reader.get(a)) != want:
            fail(f"update-data --mmdb: {a}: {iso_code(reader.get(a))}, expected {want}")
    reader.close()
    with open(database, "rb") as f:
        before = f.read()
    # A source that fails leaves the data and the database as they were.
    out = run([UPDATE_DATA, "--data-dir", folder, "--mmdb", database, os.path.join(tmp, "none.csv")], env=env)
    with open(database, "rb") as f:
        if out.returncode != 1 or f.read() != before:
            fail(f"update-data --mmdb after a failed update: status {out.returncode}, database changed?")
    # A database that cannot be written is told, the data stay installed.
    out = run([UPDATE_DATA, "--data-dir", folder, "--mmdb", os.path.join(tmp, "no", "such.mmdb"), source],
              env=env)
    if out.returncode != 1 or "the new data are installed" not in out.stderr.decode():
        fail(f"update-data --mmdb to a missing folder: status {out.returncode}: {out.stderr.decode()}")
    out = run([UPDATE_DATA, "--data-dir", folder, "--check", "1", "--mmdb", database], env=env)
    if out.returncode != 2:
        fail(f"update-data --check with --mmdb: status {out.returncode}")


def timed(label, part, *args):
    began = time.monotonic()
    part(*args)
    print(f"{label}: {time.monotonic() - began:.1f} s")


def main():
    rng = random.Random(33)
    with tempfile.TemporaryDirectory(prefix="ipcountry-mmdb-") as tmp:
        timed("round trip", round_trip, tmp, rng)
        timed("against the Perl writer", against_perl_writer, tmp, rng)
        timed("usage and errors", usage_and_errors, tmp)
        timed("the updater", updater, tmp)
    if failures:
        print(f"{len(failures)} failures")
        return 1
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
