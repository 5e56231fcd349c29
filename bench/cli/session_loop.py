"""Times N level + get round trips through the Python client on the virtual
board; prints the round trips per second (one round trip: a level and a get).

    python3 session_loop.py N     (in a folder whose Dac/ holds the default setup)
"""

import sys
import time

import kovra610


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    with kovra610.Session(board="virtual") as bench:
        start = time.perf_counter()
        for i in range(count):
            bench.level(0, 1.0 + (i % 100) * 0.01)
            bench.get("DRVFORCE")
        seconds = time.perf_counter() - start
    print("%.1f" % (count / seconds))


if __name__ == "__main__":
    main()
