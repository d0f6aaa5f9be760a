#!/usr/bin/env python3
"""Every code of the bundled ranges is named and counted by the driver, and
`stats` merges the counts of shards into those of the whole.

Reads IP_db.dbf and IP6_db.dbf itself, takes the first address of one range
of every code, and holds the driver's statistics to the codes it wrote.

Usage: country_names_test.py DRIVER DATA_DIR
"""

import ipaddress
import json
import os
import random
import subprocess
import sys
import tempfile

DRIVER, DATA = sys.argv[1], sys.argv[2]
failures = []


def one_address_per_code():
    addresses = {}
    for name, width in (("IP_db.dbf", 8), ("IP6_db.dbf", 32)):
        with open(os.path.join(DATA, name), encoding="ascii") as f:
            for line in f:
                line = line.rstrip("\r\n")
                code = line[width:]
                if code == "ZZ" or code in addresses:
                    continue
                value = int(line[:width], 16)
                addresses[code] = str(ipaddress.IPv4Address(value) if width == 8
                                      else ipaddress.IPv6Address(value))
    return addresses


def run(*arguments, stdin=None):
    # Bytes, so that csv's CR LF stays as the driver wrote it.
    out = subprocess.run([DRIVER, *arguments], capture_output=True, timeout=300,
                         input=stdin.encode() if stdin else None)
    if out.returncode != 0:
        failures.append(f"{arguments} ended with {out.returncode}: {out.stderr.decode()}")
    return out.stdout.decode()


def statistics(json_lines):
    last = json.loads(json_lines.splitlines()[-1])
    return last["total"], {c["code"]: (c["country"], c["count"]) for c in last["countries"]}


addresses = one_address_per_code()
with tempfile.TemporaryDirectory() as folder:
    log = os.path.join(folder, "log")
    with open(log, "w") as f:
        for code, address in sorted(addresses.items()):
            f.write(f"client {address} port 22\n")
    whole = run("unformatted", "--data-dir", DATA, "--stats", "--format", "json", log)
    total, countries = statistics(whole)
    if total != len(addresses):
        failures.append(f"{total} rows counted, {len(addresses)} addresses written")
    for code in addresses:
        if code not in countries:
            failures.append(f"{code} ({addresses[code]}) has no statistics line")
        elif not countries[code][0] or countries[code][1] != 1:
            failures.append(f"{code}: named {countries[code][0]!r}, counted {countries[code][1]}")
    for code in ("KP", "XK", "EH", "AN"):
        if code in addresses and code not in countries:
            failures.append(f"{code} is not counted")
    # find names them as the analyses do.
    found = run("find", "--data-dir", DATA, *[a for _, a in sorted(addresses.items())])
    for (code, address), line in zip(sorted(addresses.items()), found.splitlines()):
        row = line.split("\t")
        shown = "USA" if code == "US" else countries.get(code, ("",))[0]
        if row != [address, code, shown]:
            failures.append(f"find {address}: {row}, the statistics name {code} "
                            f"{countries.get(code, ('',))[0]!r}")
    # Shards in each format, merged by stats, give the whole's counts.
    codes = sorted(addresses)
    for fmt in ("tsv", "csv", "json"):
        shards = []
        for i in range(3):
            shard = os.path.join(folder, f"shard{i}")
            with open(shard, "w") as f:
                f.write("".join(f"x {addresses[c]} y\n" for c in codes[i::3]))
            out = os.path.join(folder, f"out{i}.{fmt}")
            with open(out, "w") as f:
                f.write(run("unformatted", "--data-dir", DATA, "--stats", "--format", fmt, shard))
            shards.append(out)
        merged = run("stats", "--data-dir", DATA, "--format", "json", *shards)
        if statistics(merged) != (total, countries):
            failures.append(f"stats of {fmt} shards: {statistics(merged)[0]} rows, "
                            f"{len(statistics(merged)[1])} countries; the whole has {total}, "
                            f"{len(countries)}")


# Each country's distinct addresses against a count of the rows' own
# addresses; shards merged with their rows give the whole's, blocks merged
# without them leave them unknown.
def rows_and_statistics(text, fmt="json", *more):
    with tempfile.NamedTemporaryFile("w", delete=False) as f:
        f.write(text)
    try:
        return run("unformatted", "--data-dir", DATA, "--stats", "--format", fmt, *more, f.name)
    finally:
        os.unlink(f.name)


rng = random.Random(4)
pool = [addresses[c] for c in sorted(addresses)[:40]]
pool += [f"{rng.randint(1, 223)}.{rng.randint(0, 255)}.{rng.randint(0, 255)}.{rng.randint(1, 254)}"
         for _ in range(300)]
lines = [f"conn from {rng.choice(pool[:60] if rng.random() < 0.7 else pool)} port 22"
         for _ in range(5000)]
output = rows_and_statistics("\n".join(lines) + "\n")
seen = {}
for row in output.splitlines()[:-1]:
    r = json.loads(row)
    seen.setdefault(r["code"], set()).add(r["ip"])
last = json.loads(output.splitlines()[-1])
got = {c["code"]: c["distinct"] for c in last["countries"]}
want = {code: len(ips) for code, ips in seen.items()}
if got != want:
    failures.append(f"distinct per country: {sorted(set(got.items()) ^ set(want.items()))[:6]}")
by_clients = rows_and_statistics("\n".join(lines) + "\n", "json", "--sort", "clients")
order = [c["distinct"] for c in json.loads(by_clients.splitlines()[-1])["countries"]]
if order != sorted(order, reverse=True):
    failures.append("--sort clients does not list the most distinct addresses first")
for fmt in ("tsv", "csv", "json"):
    with tempfile.TemporaryDirectory() as folder:
        shards, blocks = [], []
        for i in range(3):
            out = rows_and_statistics("\n".join(lines[i::3]) + "\n", fmt)
            shard = os.path.join(folder, f"shard{i}.{fmt}")
            with open(shard, "w", newline="") as f:
                f.write(out)
            shards.append(shard)
            # The statistics block alone: what a combiner keeps of a shard.
            block = os.path.join(folder, f"block{i}.{fmt}")
            with open(block, "w", newline="") as f:
                f.write(out[out.index("\n\n") + 1:] if fmt == "tsv" else
                        out[out.index("\r\n\r\n") + 2:] if fmt == "csv" else
                        out.splitlines()[-1] + "\n")
            blocks.append(block)
        merged = json.loads(run("stats", "--data-dir", DATA, "--format", "json",
                                *shards).splitlines()[-1])
        if {c["code"]: c["distinct"] for c in merged["countries"]} != want:
            failures.append(f"stats of {fmt} shards with their rows: distinct per country differs")
        if merged["distinct"] != last["distinct"]:
            failures.append(f"stats of {fmt} shards: {merged['distinct']} distinct, "
                            f"the whole has {last['distinct']}")
        alone = json.loads(run("stats", "--data-dir", DATA, "--format", "json",
                               blocks[0]).splitlines()[-1])
        one = json.loads(rows_and_statistics("\n".join(lines[0::3]) + "\n").splitlines()[-1])
        if [c.get("distinct") for c in alone["countries"]] != \
                [c["distinct"] for c in one["countries"]]:
            failures.append(f"stats of one {fmt} block alone loses its distinct counts")
        several = json.loads(run("stats", "--data-dir", DATA, "--format", "json",
                                 *blocks).splitlines()[-1])
        if any(c.get("distinct") is not None for c in several["countries"]) or \
                several["distinct"] is not None:
            failures.append(f"stats of several {fmt} blocks claims distinct counts it cannot know")

for failure in failures:
    print("FAIL:", failure)
print("ok" if not failures else f"{len(failures)} failures")
sys.exit(1 if failures else 0)
