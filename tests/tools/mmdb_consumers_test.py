#!/usr/bin/python3
"""The engines that admins enrich logs with read our MaxMind DB and answer
what ipcountry-batch find answers:

- nginx (nginx-light + libnginx-mod-http-geoip2) on 127.0.0.1 with a
  temporary prefix, the address taken from a request header: 1,000 probes;
- syslog-ng (syslog-ng-core + syslog-ng-mod-geoip2) in the foreground with a
  temporary configuration, enriching a log file of client addresses, private
  ones among them, which get no country;
- GoAccess on a combined-format log: its countries panel counts equal
  ipcountry-batch unformatted --first --stats on the same log.

Every server listens on the loopback address only, has its own deadline and
is ended by the test. A part whose program is not installed is skipped with
its reason; the test fails when all are.

usage: mmdb_consumers_test.py MAKE_IP_DB BATCH DATA_DIR
"""
import http.client
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from range_probes import address, find_codes, read_range_file

MAKE_IP_DB, BATCH, DATA_DIR = sys.argv[1:4]
NGINX_MODULE = "/usr/lib/nginx/modules/ngx_http_geoip2_module.so"
PROBES = 1000

failures = []
skipped = []


def fail(message):
    failures.append(message)
    if len(failures) <= 20:
        print("FAIL:", message)


def probes(rng, count):
    """Range starts, ends and middles and random addresses of both
    families, with private and documentation addresses among them."""
    chosen = ["10.1.2.3", "192.168.0.1", "127.0.0.1", "100.64.0.1", "192.0.2.7", "fd00::1",
              "2001:db8::1", "fe80::1"]
    for family, name in ((4, "IP_db.dbf"), (6, "IP6_db.dbf")):
        lines = read_range_file(os.path.join(DATA_DIR, name), family)
        while len(chosen) < count // 2 * (1 if family == 4 else 2):
            i = rng.randrange(len(lines) - 1)
            start, end = lines[i][0], lines[i + 1][0] - 1
            pick = rng.choice((start, end, (start + end) // 2, rng.randint(start, end)))
            chosen.append(address(pick, family))
    return chosen


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    fail(f"{what}: not within {seconds} s")
    return False


def nginx(tmp, database, addresses, want):
    if not shutil.which("nginx") and not os.path.exists("/usr/sbin/nginx"):
        skipped.append("nginx: nginx-light is not installed")
        return
    if not os.path.exists(NGINX_MODULE):
        skipped.append("nginx: libnginx-mod-http-geoip2 is not installed")
        return
    prefix = os.path.join(tmp, "nginx")
    os.mkdir(prefix)
    port = free_port()
    with open(os.path.join(prefix, "nginx.conf"), "w") as f:
        f.write(f"""
load_module {NGINX_MODULE};
daemon off;
master_process off;
pid {prefix}/nginx.pid;
error_log {prefix}/error.log;
events {{ worker_connections 16; }}
http {{
    access_log off;
    client_body_temp_path {prefix}/body;
    proxy_temp_path {prefix}/proxy;
    fastcgi_temp_path {prefix}/fastcgi;
    uwsgi_temp_path {prefix}/uwsgi;
    scgi_temp_path {prefix}/scgi;
    geoip2 {database} {{
        $geoip2_country_code source=$http_x_probe country iso_code;
    }}
    server {{
        listen 127.0.0.1:{port};
        location / {{ return 200 "$geoip2_country_code"; }}
    }}
}}
""")
    nginx_bin = shutil.which("nginx") or "/usr/sbin/nginx"
    process = subprocess.Popen([nginx_bin, "-p", prefix, "-c", os.path.join(prefix, "nginx.conf")],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        def answers():
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                return process.poll() is not None
        if not wait_for(answers, 20, "nginx listening") or process.poll() is not None:
            log = open(os.path.join(prefix, "error.log")).read() if os.path.exists(
                os.path.join(prefix, "error.log")) else ""
            fail(f"nginx did not start: {process.stdout.read().decode()} {log}")
            return
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        for a in addresses:
            connection.request("GET", "/", headers={"X-Probe": a})
            got = connection.getresponse().read().decode() or None
            if got != want[a]:
                fail(f"nginx: {a}: $geoip2_country_code is {got}, find says {want[a]}")
        connection.close()
        print(f"nginx: {len(addresses)} probes")
    finally:
        stop(process)


def syslog_ng(tmp, database, addresses, want):
    if not shutil.which("syslog-ng") and not os.path.exists("/usr/sbin/syslog-ng"):
        skipped.append("syslog-ng: syslog-ng-core is not installed")
        return
    folder = os.path.join(tmp, "syslog-ng")
    os.mkdir(folder)
    source = os.path.join(folder, "clients.log")
    enriched = os.path.join(folder, "enriched.log")
    with open(source, "w") as f:
        for i, a in enumerate(addresses):
            f.write(f"{a} GET /page/{i}\n")
    config = os.path.join(folder, "syslog-ng.conf")
    with open(config, "w") as f:
        f.write(f"""@version: 3.38
options {{ stats_freq(0); }};
source s_clients {{ file("{source}" flags(no-parse) follow-freq(1)); }};
parser p_fields {{ csv-parser(columns("client", "rest") delimiters(" ") flags(greedy)); }};
parser p_country {{ geoip2("${{client}}" prefix("geo.") database("{database}")); }};
destination d_enriched {{ file("{enriched}" template("${{client}} ${{geo.country.iso_code}}\\n")); }};
log {{ source(s_clients); parser(p_fields); parser(p_country); destination(d_enriched); }};
""")
    binary = shutil.which("syslog-ng") or "/usr/sbin/syslog-ng"
    syntax = subprocess.run([binary, "--syntax-only", "-f", config], capture_output=True, timeout=30)
    if syntax.returncode != 0:
        text = syntax.stderr.decode()
        if "geoip2" in text and ("plugin" in text.lower() or "module" in text.lower()):
            skipped.append("syslog-ng: syslog-ng-mod-geoip2 is not installed")
            return
        fail(f"syslog-ng refuses the configuration: {text}")
        return
    process = subprocess.Popen(
        [binary, "-F", "-f", config, "-R", os.path.join(folder, "persist"), "-p",
         os.path.join(folder, "pid"), "-c", os.path.join(folder, "control")],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def lines():
        if not os.path.exists(enriched):
            return []
        with open(enriched) as f:
            return f.read().splitlines()
    try:
        wait_for(lambda: len(lines()) >= len(addresses) or process.poll() is not None, 60,
                 "syslog-ng writing every line")
    finally:
        stop(process)
    got = lines()
    if len(got) != len(addresses):
        fail(f"syslog-ng: {len(got)} lines of {len(addresses)}: {process.stdout.read().decode()[-2000:]}")
    for line in got:
        client, _, code = line.partition(" ")
        if client in want and (code or None) != want[client]:
            fail(f"syslog-ng: {client}: geo.country.iso_code is {code or None}, find says {want[client]}")
    print(f"syslog-ng: {len(got)} lines")


def goaccess(tmp, database, addresses, want, rng):
    if not shutil.which("goaccess"):
        skipped.append("GoAccess: goaccess is not installed")
        return
    log = os.path.join(tmp, "access.log")
    with open(log, "w") as f:
        for i in range(3000):
            a = rng.choice(addresses)
            f.write(f'{a} - - [08/Dec/2026:10:{i // 60 % 60:02d}:{i % 60:02d} +0000] '
                    f'"GET /page/{i % 7} HTTP/1.1" 200 {100 + i % 50} "-" "probe/1.0"\n')
    report = os.path.join(tmp, "report.json")
    run = subprocess.run(["goaccess", log, "--log-format=COMBINED", f"--geoip-database={database}",
                          "--no-global-config", "-o", report], capture_output=True, timeout=120)
    if run.returncode != 0:
        fail(f"goaccess failed: {run.stderr.decode()[-2000:]}")
        return
    with open(report) as f:
        panel = json.load(f)["geolocation"]["data"]
    theirs = {}
    for continent in panel:
        for country in continent.get("items", []):
            code = country["data"].split(" ", 1)[0]
            theirs[code] = theirs.get(code, 0) + country["hits"]["count"]
    theirs.pop("Unknown", None)
    stats = subprocess.run([BATCH, "--data-dir", DATA_DIR, "unformatted", "--first", "--stats", log],
                           capture_output=True, timeout=120)
    ours = {}
    for line in stats.stdout.decode().splitlines():
        fields = line.split("\t")
        # Country, code, rows, share and (where known) distinct addresses.
        if len(fields) in (4, 5) and fields[3].endswith("%"):
            ours[fields[1]] = int(fields[2])
    if not ours:
        fail(f"no statistics from ipcountry-batch: {stats.stderr.decode()}")
    if theirs != ours:
        fail(f"GoAccess countries {sorted(theirs.items())} != --first --stats {sorted(ours.items())}")
    print(f"GoAccess: {sum(theirs.values())} hits in {len(theirs)} countries")


def main():
    rng = random.Random(3333)
    with tempfile.TemporaryDirectory(prefix="ipcountry-mmdb-engines-") as tmp:
        os.chmod(tmp, 0o755)
        database = os.path.join(tmp, "ipcountry-country.mmdb")
        made = subprocess.run([MAKE_IP_DB, "--mmdb", database, DATA_DIR], capture_output=True, timeout=120)
        if made.returncode != 0:
            raise SystemExit(f"make-ip-db --mmdb failed: {made.stderr.decode()}")
        os.chmod(database, 0o644)
        addresses = probes(rng, PROBES)
        want = find_codes(BATCH, DATA_DIR, addresses)
        nginx(tmp, database, addresses, want)
        syslog_ng(tmp, database, addresses, want)
        goaccess(tmp, database, addresses, want, rng)
    for reason in skipped:
        print("SKIP part:", reason)
    if failures:
        print(f"{len(failures)} failures")
        return 1
    if len(skipped) == 3:
        return 77
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
