"""The README's bench sequence on 1, 2, 4 and 8 virtual boards at once: one
``kovra610-cli serve`` per board through the Python client, all started
together. Prints, for each number of boards, the median wall time of the
whole run against one board's, and where the time goes: each session's
start-up (to its hello line), the sequence, and the CPU time the tools used.

    python3 many_boards.py [--cli PATH] [--rounds R] [--boards 1,2,4,8]

The tool is --cli, else $KOVRA610_CLI, else kovra610-cli from the PATH; the
Python client is found on PYTHONPATH (or beside this repository's bench/).
Target: 8 boards in at most 1.3 times the wall time of one.

"CPU ms per core" is the CPU all sessions need (the tools' and the
client's) spread over the machine's cores: once it nears the fixed waits'
400 ms, the sessions wait for each other rather than for the board.
"""

import argparse
import os
import resource
import shutil
import statistics
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))
import kovra610  # noqa: E402

DEFAULT_SETUP = os.path.join(HERE, "..", "..", "app", "setups", "kovra610_defaults.sbus")
# The fixed waits of a start-up: the link open's 200 ms settling wait and the
# 0.2 s after the default setup file. The sequence itself has none (its read
# backs are the fast, batched ones).
FLOOR_S = 0.4
TARGET = 1.3


def bench_sequence(bench):
    """bench.txt of the README, command by command."""
    bench.load("Dac/kovra610_defaults.sbus")
    bench.level(3, 1.25)       # CPH_Ch0
    bench.level(18, 1.25)      # CPH_Ch1
    bench.code(4, 0x6000)      # CPL_Ch0, goes out with the next level
    bench.level(19, 1.2)       # CPL_Ch1
    bench.set("DRVFORCE", "Vh")
    if bench.verify() != []:
        raise RuntimeError("the chip does not hold the image")
    bench.ovd_mask()
    if len(bench.read_all(fast=True)) != 40:
        raise RuntimeError("read-all did not list 40 entries")
    bench.save("Dac/lot7 as set.sbus")


def one_board(cli, folder, name, start, out):
    start.wait()
    t0 = time.perf_counter()
    with kovra610.Session(board="virtual:serial=" + name, program=cli, cwd=folder) as bench:
        t1 = time.perf_counter()
        bench_sequence(bench)
        t2 = time.perf_counter()
    t3 = time.perf_counter()
    out[name] = (t1 - t0, t2 - t1, t3 - t2)


def cpu_seconds(who):
    usage = resource.getrusage(who)
    return usage.ru_utime + usage.ru_stime


def run(cli, folders, count):
    """One run on `count` boards: (wall s, [per-session timings], the tools'
    CPU s, the client's CPU s)."""
    start = threading.Barrier(count + 1)
    out = {}
    threads = [threading.Thread(target=one_board,
                                args=(cli, folders[i], "BENCH%d" % (i + 1), start, out))
               for i in range(count)]
    for thread in threads:
        thread.start()
    tools, client = cpu_seconds(resource.RUSAGE_CHILDREN), cpu_seconds(resource.RUSAGE_SELF)
    start.wait()
    t0 = time.perf_counter()
    for thread in threads:
        thread.join()
    wall = time.perf_counter() - t0
    tools = cpu_seconds(resource.RUSAGE_CHILDREN) - tools
    client = cpu_seconds(resource.RUSAGE_SELF) - client
    if len(out) != count:
        raise RuntimeError("a session failed")
    return wall, list(out.values()), tools, client


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", default=os.environ.get("KOVRA610_CLI") or "kovra610-cli")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--boards", default="1,2,4,8")
    args = parser.parse_args()
    counts = [int(n) for n in args.boards.split(",")]
    cli = os.path.abspath(args.cli) if os.sep in args.cli else args.cli

    root = tempfile.mkdtemp(prefix="kovra610-many-boards-")
    try:
        folders = []
        for i in range(max(counts)):
            folder = os.path.join(root, "board%d" % (i + 1))
            os.makedirs(os.path.join(folder, "Dac"))
            shutil.copy(DEFAULT_SETUP, os.path.join(folder, "Dac", "kovra610_defaults.sbus"))
            folders.append(folder)
        run(cli, folders, 1)  # untimed: the tool's files into the page cache
        results = {n: [] for n in counts}
        for _ in range(args.rounds):
            for n in counts:
                results[n].append(run(cli, folders, n))
    finally:
        shutil.rmtree(root, ignore_errors=True)

    cores = os.cpu_count() or 1
    base = statistics.median(r[0] for r in results[counts[0]])
    print("boards  wall ms (median, best)  vs %d  start-up ms  sequence ms  "
          "CPU ms/session (tool, client)  CPU ms per core" % counts[0])
    for n in counts:
        walls = [r[0] for r in results[n]]
        starts = [s[0] for r in results[n] for s in r[1]]
        sequences = [s[1] for r in results[n] for s in r[1]]
        tool = statistics.median(r[2] / n for r in results[n])
        client = statistics.median(r[3] / n for r in results[n])
        print("%6d  %8.0f (%5.0f)          %5.2f  %11.0f  %11.0f  %12.0f %8.0f  %15.0f" % (
            n, statistics.median(walls) * 1e3, min(walls) * 1e3,
            statistics.median(walls) / base, statistics.median(starts) * 1e3,
            statistics.median(sequences) * 1e3, tool * 1e3, client * 1e3,
            n * (tool + client) / cores * 1e3))
    worst = statistics.median(r[0] for r in results[counts[-1]]) / base
    print("floor: %.0f ms of fixed waits per session; %d boards: %.2f x one board "
          "(target at most %.1f): %s" % (FLOOR_S * 1e3, counts[-1], worst, TARGET,
                                        "met" if worst <= TARGET else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
