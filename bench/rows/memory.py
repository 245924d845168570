"""Rows 5, 7 and 10: kqget-cli's peak resident memory.

Row 5: walking 100,000 cards against 10,000: the walk must not grow with
the library. Row 10: walking 1,000,000 cards, under an absolute limit, the
floor program's peak beside it. Row 7: 16 jobs, every body 32 MiB and the first reply held
8 s: the others arrive and wait for their turn on disk, not in memory."""

from benchkit import Result, RowFailed, card_id, failed_result, say

MEMORY_SMALL = 10000
MEMORY_LARGE = 100000
MILLION_CARDS = 1000000
MILLION_MIB = 12
HELD_CARDS = 24
HELD_BODY_BYTES = 32 * 1024 * 1024
HELD_MS = 8000


def run_growth(bench):
    small_cards, large_cards = bench.size(MEMORY_SMALL), bench.size(MEMORY_LARGE)
    say(f"row 5: peak memory on {small_cards} and {large_cards} cards")
    label = f"5 peak RSS: {large_cards} vs {small_cards} cards"
    target = "< 16 MiB, <= 1.10x"
    small = bench.library("walk", small_cards, name="mem-small")
    large = bench.library("walk", large_cards, name="mem-large")
    try:
        # Interleaved like the times; the lowest peak of each is the one
        # without the noise of page placement.
        peaks = {small: [], large: []}
        for _ in range(bench.rounds):
            for data in (small, large):
                peaks[data].append(bench.peak_kib(data))
    except RowFailed as failure:
        return [failed_result(label, failure, target)]
    finally:
        bench.forget_library("mem-small")
        bench.forget_library("mem-large")
    result = Result(label, min(peaks[large]) / 1024, min(peaks[small]) / 1024, unit="MiB",
                    target=target)
    result.result = "ok" if result.measured < 16 and round(result.ratio, 2) <= 1.10 else "MISSED"
    return [result]


def run_million(bench):
    cards = bench.size(MILLION_CARDS)
    say(f"row 10: peak memory walking {cards} cards (the library takes minutes to make)")
    label = f"10 peak RSS: walk {cards} cards (floor against)"
    target = f"<= {MILLION_MIB} MiB"
    # Sparse files: three million inodes and hardly a data block.
    kept = bench.options.million_library
    if kept and not bench.quick:
        data = kept.resolve()
        if not (data / "A0000").is_dir():
            say(f"making a library of {cards} cards that needs nothing, kept in {data}")
            bench.call([bench.program("kqget-bench-library"), "walk", str(cards), str(data)])
    else:
        data = bench.library("walk", cards, name="million")
    floor = [bench.program("kqget-bench-walk-floor"), "--order", "sorted", f"{data}/"]
    try:
        peaks = {"kq": [], "floor": []}
        for _ in range(3):
            peaks["kq"].append(bench.peak_kib(data))
            peaks["floor"].append(bench.peak_kib(data, folder=bench.work / "base",
                                                 command=floor))
    except RowFailed as failure:
        return [failed_result(label, failure, target)]
    finally:
        bench.forget_library("million")
    result = Result(label, min(peaks["kq"]) / 1024, min(peaks["floor"]) / 1024, unit="MiB",
                    target=target)
    result.result = "ok" if result.measured <= MILLION_MIB else "MISSED"
    return [result]


def run_held(bench):
    cards = HELD_CARDS
    say(f"row 7: peak memory, --jobs 16, {cards} bodies of {HELD_BODY_BYTES >> 20} MiB, the first "
        f"held {HELD_MS // 1000} s")
    label = "7 peak RSS: --jobs 16, first of 32 MiB held"
    target = "< 100 MiB"
    data = bench.library("fetch", cards, name="held")
    proxy = bench.card_service("--body-bytes", str(HELD_BODY_BYTES),
                               "--match", f"/{card_id(0)}/illustrations",
                               "--delay-ms", str(HELD_MS), "--body-bytes", str(HELD_BODY_BYTES))
    saved = bench.env.get("http_proxy")
    bench.env["http_proxy"] = proxy
    try:
        peak = None
        for _ in range(3):
            for png in data.glob("*/*_full.png"):
                png.unlink()
            kib = bench.peak_kib(data, "--jobs", "16")
            arrived = sum(1 for png in data.glob("*/*_full.png")
                          if png.stat().st_size == HELD_BODY_BYTES)
            if arrived != cards:
                raise RowFailed(f"{arrived} of {cards} bodies arrived")
            peak = kib if peak is None else min(peak, kib)
    except RowFailed as failure:
        return [failed_result(label, failure, target)]
    finally:
        bench.env.pop("http_proxy")
        if saved is not None:
            bench.env["http_proxy"] = saved
        bench.forget_library("held")
    return [Result(label, peak / 1024, unit="MiB", target=target,
                   result="ok" if peak < 100 * 1024 else "MISSED")]
