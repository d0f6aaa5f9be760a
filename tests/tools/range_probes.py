"""What the MaxMind DB tests share: the range files read on their own, and
the answers of ipcountry-batch find."""
import ipaddress
import subprocess


def read_range_file(path, family):
    """[(start, code)] of a range file: a start in hex, then a code, per line."""
    key = 8 if family == 4 else 32
    lines = []
    with open(path, "rb") as f:
        for raw in f.read().decode("latin-1").splitlines():
            if raw:
                lines.append((int(raw[:key], 16), raw[-2:]))
    return lines


def address(n, family):
    return str(ipaddress.IPv4Address(n) if family == 4 else ipaddress.IPv6Address(n))


def find_codes(batch, data_dir, addresses, timeout=300):
    """What ipcountry-batch find answers for each address: its code, or None."""
    out = subprocess.run([batch, "--data-dir", data_dir, "find", "-"], capture_output=True,
                         input="\n".join(addresses).encode() + b"\n", timeout=timeout)
    if out.returncode != 0:
        raise SystemExit(f"find failed: {out.stderr.decode()}")
    answers = {}
    for line in out.stdout.decode().splitlines():
        ip, code, _name = line.split("\t", 2)
        # ZZ, and no code at all past the last range, are no country.
        answers[ip] = None if code in ("ZZ", "") else code
    return answers
