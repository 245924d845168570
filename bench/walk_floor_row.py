#!/usr/bin/env python3
"""Row 1: kqget-cli walking a library that needs nothing, against
kqget-bench-walk-floor on the same library (the listing's entry types, sizes
relative to the open data folder). Interleaved rounds, alternating which goes
first, after one untimed warm-up; the ratio is of the two medians. Every round
checks that the two run logs are byte for byte the same.

  bench/walk_floor_row.py [--cards 20000,100000] [--rounds 11] [--target 1.05] [--keep]

Prints, for each library size, a Markdown table row and a JSON object. Exits
non-zero when a check fails or a ratio misses the target."""

import argparse
import filecmp
import sys

import floor_bench_support as bench


def floor_command(order, data):
    return [str(bench.BIN / "kqget-bench-walk-floor"), "--order", order, f"{data}/"]


def pick_floor_order(work, data):
    """The floor's order that gives kqget-cli's log, or None."""
    kq = bench.run(bench.CLI + ["--data", f"{data}/"], work / "kq")
    if kq.status != 0:
        raise RuntimeError(f"kqget-cli failed: {kq.stderr.strip()}")
    for order in ("listing", "sorted"):
        floor = bench.run(floor_command(order, data), work / "floor")
        if floor.status == 0 and same_logs(work):
            return order
    return None


def same_logs(work):
    return filecmp.cmp(work / "kq" / bench.LOG_NAME, work / "floor" / bench.LOG_NAME,
                       shallow=False)


def measure(work, cards, rounds, target):
    data = work / f"walk-{cards}"
    bench.say(f"making a library of {cards} cards that needs nothing")
    bench.make_walk_library(cards, data)
    label = f"1 walk {cards} cards: cli vs floor"
    order = pick_floor_order(work, data)
    if order is None:
        bench.emit(label, "-", "-", "-", f"<= {target}x",
                   "FAILED: the run log matches the floor's in neither order", {"cards": cards})
        return False
    commands = {"kq": bench.CLI + ["--data", f"{data}/"], "floor": floor_command(order, data)}
    times = {"kq": [], "floor": []}
    cpu = {"kq": [], "floor": []}
    for round_number in range(rounds + 1):
        sides = ("kq", "floor") if round_number % 2 == 0 else ("floor", "kq")
        for side in sides:
            result = bench.run(commands[side], work / side)
            if result.status != 0:
                bench.emit(label, "-", "-", "-", f"<= {target}x",
                           f"FAILED: {side}: {result.stderr.strip()}", {"cards": cards})
                return False
            if round_number > 0:
                times[side].append(result.seconds)
                cpu[side].append(result.cpu_seconds)
        if not same_logs(work):
            bench.emit(label, "-", "-", "-", f"<= {target}x",
                       "FAILED: the two run logs differ", {"cards": cards})
            return False
    kq = bench.median(times["kq"])
    floor = bench.median(times["floor"])
    ratio = kq / floor
    good = ratio <= target
    bench.emit(label, f"{kq:.3f} s", f"{floor:.3f} s", f"{ratio:.2f}x", f"<= {target}x",
               "ok" if good else "MISSED",
               {"cards": cards, "rounds": rounds, "floor_order": order,
                "kq_seconds": times["kq"], "floor_seconds": times["floor"],
                "cpu_ratio": round(bench.median(cpu["kq"]) / bench.median(cpu["floor"]), 3),
                "kq_cpu_seconds": cpu["kq"], "floor_cpu_seconds": cpu["floor"]})
    bench.rm_tree(data)
    return good


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cards", default="20000,100000")
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--target", type=float, default=1.05)
    parser.add_argument("--keep", action="store_true")
    options = parser.parse_args()
    if options.rounds < 5:
        parser.error("rounds must be 5 or more")
    bench.install("time")
    bench.build("kqget-cli", "kqget-bench-library", "kqget-bench-walk-floor")
    all_good = True
    with bench.work_folder(options.keep) as work:
        for cards in (int(n) for n in options.cards.split(",")):
            all_good = measure(work, cards, options.rounds, options.target) and all_good
    return 0 if all_good else 1


if __name__ == "__main__":
    sys.exit(main())
