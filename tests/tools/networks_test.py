#!/usr/bin/env python3
"""The sets of `ipcountry-batch networks` as the real tools load and answer them.

Usage: networks_test.py PART IPCOUNTRY_BATCH DATA_DIR
PART is one of:
  iprange  every country's cidr blocks equal iprange's on the same ranges
           (IPv4) and Python's ipaddress.collapse_addresses (IPv6)
  nft      nft -f loads the sets in a network namespace of the test's own,
           nft get element answers the probes, a reload while a rule uses them
  ipset    ipset restore, ipset test, and a second restore while the set is in use
  nginx    nginx -t with the geo block, then an nginx on 127.0.0.1 that answers
           1,000 probes as ipcountry-batch find does
  haproxy  haproxy -c with the map, then an haproxy on 127.0.0.1 likewise
Exits 77 (skipped) with the reason when the tool or the right to use it is missing.
"""

import bisect
import http.client
import ipaddress
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def run(args, **kwargs):
    kwargs.setdefault("timeout", 120)
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def networks(batch, data, *args):
    done = run([batch, "networks", "--data-dir", data, *args])
    if done.returncode != 0:
        raise AssertionError("networks %s failed: %s" % (args, done.stderr))
    return done.stdout


def body(text):
    return [line for line in text.splitlines() if line and not line.startswith("#")]


# The range files read independently: a line's code holds the addresses from
# its start up to the next line's start; the last line holds none.
def read_ranges(path, width):
    starts, codes = [], []
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\r\n")
            if len(line) < width + 2:
                continue
            starts.append(int(line[:width], 16))
            codes.append(line[-2:])
    ranges = {}
    for i in range(len(starts) - 1):
        if starts[i + 1] > starts[i]:
            ranges.setdefault(codes[i], []).append((starts[i], starts[i + 1] - 1))
    return starts, codes, ranges


def country_list(data):
    codes = []
    with open(os.path.join(data, "Country.dbf"), "rb") as f:
        for raw in f:
            code = raw.decode("latin-1")[:2]
            if len(code) == 2 and code.isupper() and code.isalpha() and code != "ZZ":
                codes.append(code)
    return set(codes)


def by_code(lines):
    out = {}
    for line in lines:
        network, code = line.split()
        out.setdefault(code, []).append(network)
    return out


def test_iprange(batch, data):
    if shutil.which("iprange") is None:
        skip("iprange is not installed (Debian package iprange)")
    _, _, ranges4 = read_ranges(os.path.join(data, "IP_db.dbf"), 8)
    _, _, ranges6 = read_ranges(os.path.join(data, "IP6_db.dbf"), 32)
    # The list's countries and those the files give addresses without the list.
    listed = country_list(data) | {c for c in list(ranges4) + list(ranges6)
                                   if c.isalpha() and c.isupper() and c != "ZZ"}
    ours4 = by_code(body(networks(batch, data, "--all-countries", "--family", "4",
                                  "--format", "haproxy")))
    ours6 = by_code(body(networks(batch, data, "--all-countries", "--family", "6",
                                  "--format", "haproxy")))
    checked = 0
    with tempfile.TemporaryDirectory() as tmp:
        for code in sorted(listed):
            given = ranges4.get(code, [])
            path = os.path.join(tmp, code)
            with open(path, "w") as f:
                for first, last in given:
                    f.write("%s-%s\n" % (ipaddress.IPv4Address(first), ipaddress.IPv4Address(last)))
            theirs = run(["iprange", path]).stdout.split()
            theirs = [t if "/" in t else t + "/32" for t in theirs]
            ours = ours4.get(code, [])
            assert len(ours) == len(theirs), "%s: %d blocks, iprange %d" % (code, len(ours), len(theirs))
            assert set(ours) == set(theirs), "%s: blocks differ from iprange's" % code
            nets = []
            for first, last in ranges6.get(code, []):
                nets += ipaddress.summarize_address_range(ipaddress.IPv6Address(first),
                                                          ipaddress.IPv6Address(last))
            theirs6 = [str(n) for n in ipaddress.collapse_addresses(nets)]
            ours6_code = [str(ipaddress.IPv6Network(n)) for n in ours6.get(code, [])]
            assert len(ours6_code) == len(theirs6), \
                "%s: %d IPv6 blocks, ipaddress %d" % (code, len(ours6_code), len(theirs6))
            assert set(ours6_code) == set(theirs6), "%s: IPv6 blocks differ" % code
            checked += 1
    # The cidr format of one country is the same set.
    de = body(networks(batch, data, "DE", "--family", "4"))
    assert sorted(de) == sorted(ours4["DE"]), "cidr DE differs from the map's DE"
    print("%d countries equal iprange and ipaddress" % checked)


def block_key(text):
    """A block's family, first address as a number, and prefix length."""
    address, bits = text.split("/")
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    return (4 if family == socket.AF_INET else 6,
            int.from_bytes(socket.inet_pton(family, address), "big"), int(bits))


# The formats against each other and against iprange and ipaddress: the map
# lists every block once in address order (IPv4 first) and the geo block the
# same lines; cidr of many countries is the collapse of their blocks, in
# order; nft's elements (a block, or FIRST-LAST) and ipset's add lines hold
# each country's blocks exactly.
def test_formats(batch, data):
    mapped = body(networks(batch, data, "--all-countries", "--format", "haproxy"))
    keys = [block_key(line.split()[0]) for line in mapped]
    assert keys == sorted(keys), "the map is not in address order"
    for before, after in zip(keys, keys[1:]):
        assert before[0] != after[0] or \
            before[1] + 2 ** ((32 if before[0] == 4 else 128) - before[2]) <= after[1], \
            "blocks overlap in the map: %s %s" % (before, after)
    geo = body(networks(batch, data, "--all-countries", "--format", "nginx"))
    assert geo[0] == "geo $country_code {" and geo[1] == '\tdefault "";' and geo[-1] == "}", geo[:2]
    assert [line[1:-1] for line in geo[2:-1]] == mapped, "the geo block differs from the map"
    per_code = by_code(mapped)

    checked = 0
    with tempfile.TemporaryDirectory() as tmp:
        for codes in (["DE"], ["US"], ["AT", "CH", "DE", "LI"], ["UM"], ["--all-countries"]):
            every = codes == ["--all-countries"]
            chosen = per_code if every else codes
            # Every country's IPv6 blocks would keep ipaddress busy for minutes.
            blocks = [n for code in chosen for n in per_code.get(code, [])
                      if not (every and ":" in n)]
            union = body(networks(batch, data, *codes, *(["--family", "4"] if every else [])))
            # IPv4 through iprange, IPv6 through ipaddress: the same blocks in order.
            path = os.path.join(tmp, "blocks")
            with open(path, "w") as f:
                f.write("".join(n + "\n" for n in blocks if ":" not in n))
            theirs = [t if "/" in t else t + "/32" for t in run(["iprange", path]).stdout.split()]
            theirs += [str(n) for n in ipaddress.collapse_addresses(
                ipaddress.IPv6Network(n) for n in blocks if ":" in n)]
            assert union == theirs, "%s: cidr differs from the collapse of the map's blocks" % codes
            if every:
                continue
            elements = set()
            nft = networks(batch, data, *codes, "--format", "nft")
            for line in nft.splitlines():
                if not line.startswith("\t") or line.startswith("\tset") or "\t\t" in line:
                    continue
                element = line.strip().rstrip(",")
                if "-" in element:
                    first, last = (ipaddress.ip_address(a) for a in element.split("-"))
                    assert first < last, element
                    elements |= {str(n) for n in ipaddress.summarize_address_range(first, last)}
                elif element and element != "}":
                    elements.add(str(ipaddress.ip_network(element)))
            assert elements == set(blocks), "%s: nft elements differ from the map's blocks" % codes
            ipset = networks(batch, data, *codes, "--format", "ipset")
            added = [line.split()[2] for line in ipset.splitlines() if line.startswith("add ")]
            assert sorted(added) == sorted(blocks), "%s: ipset's blocks differ from the map's" % codes
            checked += 1
    print("%d blocks in order in map and geo; cidr, nft and ipset of %d choices agree"
          % (len(mapped), checked))


# Probes: first, last and a middle address of several ranges of a country.
def probes_of(ranges, count, rnd):
    chosen = rnd.sample(ranges, min(count, len(ranges)))
    out = []
    for first, last in chosen:
        out += [first, last, (first + last) // 2]
    return out


def text(address, v6):
    return str(ipaddress.IPv6Address(address) if v6 else ipaddress.IPv4Address(address))


SPECIAL = {4: ["10.1.2.3", "192.168.0.1", "127.0.0.1", "100.64.0.1", "192.0.2.1",
               "224.0.0.1"],
           6: ["fe80::1", "fd00::1", "2001:db8::1", "::1", "ff02::1"]}


def probe_plan(data, countries):
    rnd = random.Random(32)
    _, _, ranges4 = read_ranges(os.path.join(data, "IP_db.dbf"), 8)
    _, _, ranges6 = read_ranges(os.path.join(data, "IP6_db.dbf"), 32)
    plan = []  # (set code, family, address, expected)
    for code in countries:
        for family, ranges in ((4, ranges4), (6, ranges6)):
            mine = ranges.get(code, [])
            for a in probes_of(mine, 5, rnd):
                plan.append((code, family, text(a, family == 6), True))
            others = [r for c, rs in ranges.items() if c not in (code, "ZZ") for r in rs]
            for a in probes_of(others, 3, rnd):
                plan.append((code, family, text(a, family == 6), False))
            for a in SPECIAL[family]:
                plan.append((code, family, a, False))
    return plan


def in_namespace(script, tmp):
    """Runs a shell script in a network namespace of its own."""
    path = os.path.join(tmp, "steps.sh")
    with open(path, "w") as f:
        f.write("set -e\n" + script)
    return run(["unshare", "-n", "sh", path], timeout=300)


def need_namespace(tool):
    if shutil.which(tool) is None:
        skip("%s is not installed" % tool)
    if shutil.which("unshare") is None:
        skip("unshare is not installed")
    probe = run(["unshare", "-n", tool, "list", *(["ruleset"] if tool == "nft" else [])])
    if probe.returncode != 0:
        skip("cannot use %s in a network namespace of our own (root needed): %s"
             % (tool, probe.stderr.strip()))


def test_nft(batch, data):
    need_namespace("nft")
    countries = ["DE", "LI"]
    with tempfile.TemporaryDirectory() as tmp:
        sets = os.path.join(tmp, "geo.nft")
        networks(batch, data, *countries, "--format", "nft", "--table", "inet geo", "-o", sets)
        # A country without IPv6 ranges (here: all of them excluded) still
        # gets its IPv6 set, empty, so that rules naming it load.
        lonely = os.path.join(tmp, "lonely.nft")
        networks(batch, data, "LI", "--exclude", "::/0", "--format", "nft", "--table",
                 "ip6 lonely", "-o", lonely)
        with open(lonely) as f:
            assert "add element ip6 lonely geo_li_6" not in f.read()
        plan = probe_plan(data, countries)
        steps = ["nft -f %s" % sets]
        # Each nft get reads the whole set: the addresses inside go in one
        # request per set (all found, or it fails), those outside one by one.
        inside_of = {}
        for code, family, address, inside in plan:
            if inside:
                inside_of.setdefault((code, family), []).append(address)
        for (code, family), addresses in inside_of.items():
            steps.append("nft get element inet geo geo_%s_%d '{ %s }' >/dev/null && echo in-%s-%d"
                         % (code.lower(), family, ", ".join(addresses), code, family))
        # nft -i reads the set once and answers each request, an error for
        # each address it does not hold.
        outside = [(code, family, address) for code, family, address, inside in plan
                   if not inside]
        with open(os.path.join(tmp, "outside.nft"), "w") as f:
            for code, family, address in outside:
                f.write("get element inet geo geo_%s_%d { %s }\n" % (code.lower(), family, address))
        steps.append("nft -i < %s/outside.nft > %s/found.txt 2> %s/refused.txt || true"
                     % (tmp, tmp, tmp))
        # Reload while a rule refers to the sets: no table delete, no error.
        steps.append("nft add chain inet geo input '{ type filter hook input priority 0; }'")
        steps.append("nft add rule inet geo input ip saddr @geo_de_4 drop")
        steps.append("nft add rule inet geo input ip6 saddr @geo_de_6 drop")
        steps.append("nft -f %s" % sets)
        steps.append("nft list chain inet geo input | grep -q @geo_de_6")
        steps.append("echo reloaded")
        steps.append("nft -f %s" % lonely)
        steps.append("nft add chain ip6 lonely input '{ type filter hook input priority 0; }'")
        steps.append("nft add rule ip6 lonely input ip6 saddr @geo_li_6 drop")
        steps.append("nft -f %s" % lonely)
        steps.append("echo lonely-loaded")
        done = in_namespace("\n".join(steps) + "\n", tmp)
        assert done.returncode == 0, "nft steps failed: " + done.stderr
        for code, family in inside_of:
            assert "in-%s-%d" % (code, family) in done.stdout.split(), \
                "geo_%s_%d lacks some of %s" % (code, family, inside_of[(code, family)])
        with open(os.path.join(tmp, "found.txt")) as f:
            found = f.read()
        with open(os.path.join(tmp, "refused.txt")) as f:
            refused = f.read().count("Error:")
        assert "elements" not in found, "nft holds addresses of other countries: " + found
        assert refused == len(outside), "%d of %d refused" % (refused, len(outside))
        assert "reloaded" in done.stdout
        assert "lonely-loaded" in done.stdout, "an empty IPv6 set did not load"
    print("nft answered %d probes, reloaded in use, loaded an empty set" % len(plan))


def test_ipset(batch, data):
    need_namespace("ipset")
    countries = ["DE", "LI"]
    with tempfile.TemporaryDirectory() as tmp:
        script = os.path.join(tmp, "geo.ipset")
        networks(batch, data, *countries, "--format", "ipset", "-o", script)
        plan = probe_plan(data, countries)
        steps = ["ipset restore < %s" % script]
        for i, (code, family, address, inside) in enumerate(plan):
            steps.append("if ipset test geo_%s_%d %s >/dev/null 2>&1; "
                         "then echo %d yes; else echo %d no; fi"
                         % (code.lower(), family, address, i, i))
        # In use: a list:set refers to it, so it cannot be destroyed, yet the
        # swap of the second restore replaces its contents.
        steps.append("ipset create users list:set")
        steps.append("ipset add users geo_de_4")
        steps.append("ipset restore < %s" % script)
        steps.append("ipset test geo_de_4 %s 2>/dev/null && echo swapped"
                     % next(a for c, f, a, inside in plan if c == "DE" and f == 4 and inside))
        steps.append("ipset list -n | grep -c _new || true")
        done = in_namespace("\n".join(steps) + "\n", tmp)
        assert done.returncode == 0, "ipset steps failed: " + done.stderr
        answers = dict(line.split() for line in done.stdout.splitlines() if " " in line)
        for i, (code, family, address, inside) in enumerate(plan):
            got = answers.get(str(i)) == "yes"
            assert got == inside, "%s in geo_%s_%d: ipset says %s" % (address, code, family, got)
        assert "swapped" in done.stdout
        assert done.stdout.splitlines()[-1] == "0", "a temporary set was left behind"
    print("ipset answered %d probes and swapped while in use" % len(plan))


# 1,000 addresses spread over the range files, both families, with the
# gaps and a few special blocks among them; find's code for each.
def server_probes(batch, data):
    rnd = random.Random(1000)
    starts4, _, _ = read_ranges(os.path.join(data, "IP_db.dbf"), 8)
    starts6, _, _ = read_ranges(os.path.join(data, "IP6_db.dbf"), 32)
    addresses = []
    for _ in range(700):
        i = rnd.randrange(len(starts4) - 1)
        a = rnd.choice([starts4[i], starts4[i + 1] - 1, rnd.randrange(starts4[i], starts4[i + 1])])
        addresses.append(text(a, False))
    for _ in range(280):
        i = rnd.randrange(len(starts6) - 1)
        a = rnd.choice([starts6[i], starts6[i + 1] - 1, rnd.randrange(starts6[i], starts6[i + 1])])
        addresses.append(text(a, True))
    addresses += SPECIAL[4] + SPECIAL[6] + ["0.0.0.1", "255.255.255.254", "2002::1", "9.9.9.9"]
    addresses = addresses[:1000]
    found = run([batch, "find", "--data-dir", data, "--format", "tsv", "-"],
                input="\n".join(addresses) + "\n")
    expected = {}
    for line in found.stdout.splitlines():
        fields = line.split("\t")
        # find writes ZZ (Unknown) for an address without a country; the
        # sets leave it out, so the servers answer their default, "".
        code = fields[1] if len(fields) > 1 else ""
        expected[fields[0]] = "" if code == "ZZ" else code
    assert len(expected) >= 990, "find answered %d of 1,000" % len(expected)
    return expected


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, limit=20):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise AssertionError("the server ended early: %s" % process.stderr.read())
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise AssertionError("no server on port %d within %d s" % (port, limit))


def ask_all(port, expected, header):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    wrong = []
    for address, code in expected.items():
        connection.request("GET", "/", headers={header: address})
        response = connection.getresponse()
        got = response.read().decode().strip()
        if got != code:
            wrong.append("%s: server %r, find %r" % (address, got, code))
    connection.close()
    assert not wrong, "%d of %d differ:\n%s" % (len(wrong), len(expected), "\n".join(wrong[:20]))


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


def test_nginx(batch, data):
    nginx = shutil.which("nginx") or ("/usr/sbin/nginx" if os.path.exists("/usr/sbin/nginx") else None)
    if nginx is None:
        skip("nginx is not installed (Debian package nginx-light)")
    expected = server_probes(batch, data)
    with tempfile.TemporaryDirectory() as prefix:
        geo = os.path.join(prefix, "geo.conf")
        networks(batch, data, "--all-countries", "--format", "nginx", "-o", geo)
        port = free_port()
        os.makedirs(os.path.join(prefix, "logs"))
        conf = os.path.join(prefix, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""daemon off;
master_process off;
pid %(p)s/nginx.pid;
error_log %(p)s/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path %(p)s/body;
    proxy_temp_path %(p)s/proxy;
    fastcgi_temp_path %(p)s/fastcgi;
    uwsgi_temp_path %(p)s/uwsgi;
    scgi_temp_path %(p)s/scgi;
    # The probe's address stands in for the client's, as behind a proxy.
    set_real_ip_from 127.0.0.1;
    real_ip_header X-Probe-Address;
    include %(geo)s;
    server {
        listen 127.0.0.1:%(port)d;
        keepalive_requests 100000;
        location / { return 200 "$country_code\\n"; }
    }
}
""" % {"p": prefix, "geo": geo, "port": port})
        checked = run([nginx, "-t", "-p", prefix, "-c", conf])
        assert checked.returncode == 0, "nginx -t: " + checked.stderr
        server = subprocess.Popen([nginx, "-p", prefix, "-c", conf], stderr=subprocess.PIPE,
                                  text=True)
        try:
            wait_for_port(port, server)
            ask_all(port, expected, "X-Probe-Address")
        finally:
            stop(server)
    print("nginx answered %d probes as find" % len(expected))


def test_haproxy(batch, data):
    haproxy = shutil.which("haproxy") or ("/usr/sbin/haproxy" if os.path.exists("/usr/sbin/haproxy") else None)
    if haproxy is None:
        skip("haproxy is not installed")
    expected = server_probes(batch, data)
    with tempfile.TemporaryDirectory() as tmp:
        mapfile = os.path.join(tmp, "geo.map")
        networks(batch, data, "--all-countries", "--format", "haproxy", "-o", mapfile)
        port = free_port()
        conf = os.path.join(tmp, "haproxy.cfg")
        with open(conf, "w") as f:
            f.write("""global
    log stderr format raw local0 emerg
defaults
    mode http
    timeout client 10s
    timeout connect 5s
    timeout server 10s
frontend probes
    bind 127.0.0.1:%(port)d
    http-request return status 200 content-type text/plain lf-string "%%[req.hdr(x-probe-address),map_ip(%(map)s,)]"
""" % {"port": port, "map": mapfile})
        checked = run([haproxy, "-c", "-f", conf])
        assert checked.returncode == 0, "haproxy -c: " + checked.stdout + checked.stderr
        server = subprocess.Popen([haproxy, "-db", "-f", conf], stderr=subprocess.PIPE, text=True)
        try:
            wait_for_port(port, server)
            ask_all(port, expected, "X-Probe-Address")
        finally:
            stop(server)
    print("haproxy answered %d probes as find" % len(expected))


# Wrong usage and what -o does, each with the status and message a script sees.
def test_cli(batch, data):
    cases = [
        (["networks"], 2, "needs a COUNTRY or --all-countries"),
        (["networks", "XX"], 2, "'XX' is not a country code"),
        (["networks", "DE", "--all-countries"], 2, "--all-countries takes no COUNTRY"),
        (["networks", "DE", "--format", "tsv"], 2, "networks takes --format cidr"),
        (["networks", "DE", "--format", "bogus"], 2, "--format takes tsv, csv or json"),
        (["networks", "DE", "--family", "5"], 2, "--family takes 4 or 6"),
        (["networks", "DE", "LI", "--format", "nft", "--name", "geo_%f"], 2,
         "gives two sets the name 'geo_4'"),
        (["networks", "DE", "--format", "ipset", "--name", "x%c%f_very_long_name_for_ipset"], 2,
         "at most 27 characters"),
        (["networks", "DE", "--format", "nft", "--name", "geo-%c"], 2, "a set name is a letter"),
        (["networks", "DE", "--format", "nft", "--name", "geo_%x"], 2, "not %x"),
        (["networks", "DE", "--format", "nft", "--table", "inet"], 2, "--table takes a family"),
        (["networks", "DE", "--format", "nft", "--table", "foo filter"], 2, "--table takes"),
        (["networks", "DE", "--exclude", "1.2.3.4/33"], 2, "1.2.3.4/33"),
        (["networks", "DE", "--first"], 2, "--first does not apply to networks"),
        (["find", "--format", "nft", "1.2.3.4"], 2, "--format nft applies to networks only"),
        (["networks", "de", "--family", "4"], 0, ""),
    ]
    for args, status, message in cases:
        done = run([batch, "--data-dir", data, *args])
        assert done.returncode == status, "%s: status %d, not %d: %s" % (
            args, done.returncode, status, done.stderr)
        assert message in done.stderr, "%s: %r not in %r" % (args, message, done.stderr)
    # The header names the source, the licence and the date, in every format.
    with open(os.path.join(data, "provenance.txt")) as f:
        provenance = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line
                          and not line.startswith("#"))
    for format in ("cidr", "nft", "ipset", "nginx", "haproxy"):
        out = networks(batch, data, "LI", "--format", format)
        head = [line for line in out.splitlines() if line.startswith("#")]
        for key in ("ranges", "ranges-licence", "ranges-date"):
            assert any(provenance[key] in line for line in head), "%s header lacks %s" % (format, key)
    # --exclude takes the admin's networks out, and the rest stays.
    whole = set(body(networks(batch, data, "LI", "--family", "4")))
    first = sorted(whole)[0]
    less = set(body(networks(batch, data, "LI", "--family", "4", "--exclude", first)))
    assert first not in less and len(less) == len(whole) - 1
    # -o replaces the file in one step, keeping its mode; a failed write
    # leaves the old file whole.
    with tempfile.TemporaryDirectory() as tmp:
        target = os.path.join(tmp, "geo.txt")
        with open(target, "w") as f:
            f.write("old\n")
        os.chmod(target, 0o640)
        networks(batch, data, "LI", "-o", target)
        assert os.stat(target).st_mode & 0o777 == 0o640
        with open(target) as f:
            assert f.read() == networks(batch, data, "LI")
        os.chmod(tmp, 0o500)
        try:
            if os.geteuid() != 0:
                done = run([batch, "networks", "--data-dir", data, "DE", "-o", target])
                assert done.returncode == 1 and target in done.stderr, done.stderr
                with open(target) as f:
                    assert f.read() == networks(batch, data, "LI")
        finally:
            os.chmod(tmp, 0o700)
    print("%d usage cases, headers and -o as expected" % len(cases))


# The shipped drop-in: systemd-analyze verify takes the service with it, and
# its commands, run by hand, make the sets and load them.
def test_dropin(batch, data):
    import shlex
    batch = os.path.abspath(batch)
    packaging = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging")
    with open(os.path.join(packaging, "examples", "ipcountry-update-data-networks.conf")) as f:
        dropin = f.read()
    with open(os.path.join(packaging, "ipcountry-update-data.service")) as f:
        service = f.read()
    nft = shutil.which("nft") or "/usr/sbin/nft"
    updater = os.path.join(os.path.dirname(batch), "ipcountry-update-data")
    with tempfile.TemporaryDirectory() as tmp:
        etc = os.path.join(tmp, "etc")
        os.makedirs(etc)
        local = (dropin.replace("/usr/bin/ipcountry-batch", batch).replace("/etc/ipcountry", etc)
                 .replace("/usr/sbin/nft", nft).replace(" XX", " LI"))
        commands = [shlex.split(line.split("=", 1)[1]) for line in local.splitlines()
                    if line.startswith("ExecStartPost=")]
        assert len(commands) == 2, "the drop-in makes the sets and loads them"
        if shutil.which("systemd-analyze"):
            units = os.path.join(tmp, "units")
            os.makedirs(os.path.join(units, "ipcountry-update-data.service.d"))
            with open(os.path.join(units, "ipcountry-update-data.service"), "w") as f:
                f.write(service.replace("/usr/bin/ipcountry-update-data",
                                        updater if os.path.exists(updater) else "/bin/true"))
            with open(os.path.join(units, "ipcountry-update-data.service.d", "networks.conf"),
                      "w") as f:
                f.write(local)
            verified = run(["systemd-analyze", "verify", "--man=no",
                            os.path.join(units, "ipcountry-update-data.service")],
                           env=dict(os.environ, SYSTEMD_UNIT_PATH=units + ":"))
            assert verified.returncode == 0 and "networks.conf" not in verified.stderr, \
                "systemd-analyze verify: " + verified.stderr
        else:
            print("systemd-analyze is not installed: the unit is not verified")
        made = run(commands[0])
        assert made.returncode == 0, "%s: %s" % (commands[0], made.stderr)
        assert os.path.exists(os.path.join(etc, "geo.nft"))
        if run(["unshare", "-n", "true"]).returncode != 0 or shutil.which("nft") is None:
            skip("the sets are made, but nft cannot load them here (no namespace or no nft)")
        # The rule the drop-in's comment shows, then the load, twice.
        with open(os.path.join(tmp, "rules.nft"), "w") as f:
            f.write("table inet filter {\n\tchain input {\n\t\ttype filter hook input priority 0;\n"
                    "\t}\n}\n")
        steps = ["%s -f %s/etc/geo.nft" % (nft, tmp), "%s -f %s/rules.nft" % (nft, tmp),
                 "%s add rule inet filter input ip saddr @geo_li_4 drop" % nft,
                 " ".join(shlex.quote(a) for a in commands[1])]
        done = in_namespace("\n".join(steps) + "\n", tmp)
        assert done.returncode == 0, "the drop-in's load failed: " + done.stderr
    print("the drop-in verifies and its commands make and load the sets")


PARTS = {"formats": test_formats, "dropin": test_dropin, "cli": test_cli, "iprange": test_iprange, "nft": test_nft, "ipset": test_ipset, "nginx": test_nginx,
         "haproxy": test_haproxy}

if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in PARTS:
        sys.exit(__doc__)
    PARTS[sys.argv[1]](sys.argv[2], sys.argv[3])
