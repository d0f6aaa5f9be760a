#!/usr/bin/env python3
"""Whole runs side by side: each round runs every contender once, in an order
that changes from round to round, and the figures are the medians of the
wall times and of the per-round ratios to the first contender, so that a
busy moment of a shared machine weighs on all of them alike.

    compare_whole_runs.py ROUNDS NAME=COMMAND NAME=COMMAND ...

Each COMMAND is run by the shell with its standard output sent to /dev/null.
"""
import os
import resource
import statistics
import subprocess
import sys
import time


def run(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, shell=True, stdout=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main():
    rounds = int(sys.argv[1])
    contenders = [arg.split("=", 1) for arg in sys.argv[2:]]
    wall = {name: [] for name, _ in contenders}
    cpu = {name: [] for name, _ in contenders}
    for r in range(rounds):
        order = contenders[r % len(contenders):] + contenders[:r % len(contenders)]
        for name, command in order:
            w, c = run(command)
            wall[name].append(w)
            cpu[name].append(c)
    first = contenders[0][0]
    print(f"{'contender':<14} {'wall ms':>9} {'cpu ms':>9} {'wall/' + first:>14} {'cpu/' + first:>13}")
    for name, _ in contenders:
        ratio = statistics.median(w / f for w, f in zip(wall[name], wall[first]))
        cratio = statistics.median(c / f for c, f in zip(cpu[name], cpu[first]))
        print(f"{name:<14} {1000 * statistics.median(wall[name]):9.0f} "
              f"{1000 * statistics.median(cpu[name]):9.0f} {ratio:14.2f} {cratio:13.2f}")


if __name__ == "__main__":
    main()
