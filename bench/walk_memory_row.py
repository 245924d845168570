#!/usr/bin/env python3
"""Peak resident memory of kqget-cli walking 1,000,000 cards that need
nothing, against an absolute goal (12 MiB); the floor program's peak on the
same library is reported beside it. The library is sparse (no data blocks in
its files), made once and removed after, unless --library names one to make
or reuse and keep.

  bench/walk_memory_row.py [--cards 1000000] [--rounds 3] [--goal-mib 12]
                           [--library DIR]

Prints a Markdown table row and a JSON object. Exits non-zero when the run
fails or the peak misses the goal."""

import argparse
import sys
from pathlib import Path

import floor_bench_support as bench


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cards", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--goal-mib", type=float, default=12.0)
    parser.add_argument("--library", type=Path)
    options = parser.parse_args()
    bench.install("time")
    bench.build("kqget-cli", "kqget-bench-library", "kqget-bench-walk-floor")
    label = f"peak RSS: walk {options.cards} cards"
    target = f"<= {options.goal_mib:g} MiB"
    with bench.work_folder() as work:
        data = options.library or work / "library"
        if not (data / "A0000").is_dir():
            bench.say(f"making a sparse library of {options.cards} cards (minutes)")
            bench.make_walk_library(options.cards, data)
        peaks = {"kq": [], "floor": []}
        commands = {
            "kq": bench.CLI + ["--data", f"{data}/"],
            "floor": [str(bench.BIN / "kqget-bench-walk-floor"), "--order", "sorted", f"{data}/"],
        }
        for round_number in range(options.rounds):
            for side in ("kq", "floor") if round_number % 2 == 0 else ("floor", "kq"):
                result = bench.run(commands[side], work / side, peak=True)
                if result.status != 0:
                    bench.emit(label, "-", "-", "-", target,
                               f"FAILED: {side}: {result.stderr.strip()}", {})
                    return 1
                peaks[side].append(result.peak_kib)
        # The lowest peak of each is the one without the noise of page placement.
        kq = min(peaks["kq"]) / 1024
        floor = min(peaks["floor"]) / 1024
        good = kq <= options.goal_mib
        bench.emit(label, f"{kq:.1f} MiB", f"floor {floor:.1f} MiB", f"{kq / floor:.2f}x", target,
                   "ok" if good else "MISSED",
                   {"cards": options.cards, "kq_peak_kib": peaks["kq"],
                    "floor_peak_kib": peaks["floor"]})
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
