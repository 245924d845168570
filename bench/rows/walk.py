"""Row 1: kqget-cli walking a library that needs nothing, at 20,000 and
100,000 cards, against the floor program that writes the same log with the
fewest system calls: the folder test from the listing's entry type, two
size queries per card relative to the open data folder."""

from benchkit import Result, RowFailed, Side, failed_result, ratio_result, same_files, say

WALK_CARDS = (20000, 100000)
TARGET = 1.05


def logs_differ(bench):
    """Whether both sides have written a run log and the two differ."""
    kq, base = (bench.work / side / "KQ-GET-PNG-XML.txt" for side in ("kq", "base"))
    if kq.exists() and base.exists() and not same_files(kq, base):
        return "the two run logs differ"
    return None


def walk(bench, cards, part):
    label = f"1{part} walk {cards} cards: cli vs floor"
    data = bench.library("walk", cards)
    say(f"row 1{part}: walk {cards} cards, kqget-cli against the floor")
    kq = Side("kq", lambda: bench.cli("--data", f"{data}/"), bench.work / "kq",
              check=lambda: logs_differ(bench))

    def floor(order):
        return Side("base", lambda: [bench.program("kqget-bench-walk-floor"), "--order", order,
                                     f"{data}/"], bench.work / "base")

    try:
        # The floor visits a letter's cards in whichever of its two orders
        # kqget-cli uses; with neither do the logs match, and the row fails.
        bench.timed(kq)
        for order in ("listing", "sorted"):
            bench.timed(floor(order))
            if not logs_differ(bench):
                break
        else:
            raise RowFailed("the run log matches the floor's in neither order")
        say(f"the floor visits cards in {order} order, as kqget-cli does")
        best = bench.interleave([kq, floor(order)])
        if logs_differ(bench):
            raise RowFailed("the two run logs differ")
    except RowFailed as failure:
        return [failed_result(label, failure, f"<= {TARGET:g}x")]
    finally:
        bench.forget_library(f"walk-{cards}")
    # Under load the wall times swing from round to round; the processor
    # time beside them is disturbed far less.
    cpu = Result(f"1{part} the same, processor time", bench.best_cpu["kq"],
                 bench.best_cpu["base"])
    return [ratio_result(label, best, "kq", "base", TARGET), cpu]


def run(bench):
    return [line for part, cards in zip("ab", WALK_CARDS)
            for line in walk(bench, bench.size(cards), part)]
