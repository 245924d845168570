"""Rows 3 and 6: several fetches at once from a slow service. kqget-cli with
N jobs (kqN) and curl one at a time (curl1, -K) or N at once (curlN, -Z) take
turns in each round over the same URLs through the same proxy.

Row 3: every response 50 ms late. Row 6: a slow tail, every response 30 ms
late and one in ten 1500 ms more, as a cache miss would be; a late reply must
hold back only its own card, as it does curl's other transfers."""

from benchkit import RowFailed, Side, card_id, failed_result, ratio_result, say, same_files

LATENCY_MS = 50
LATENCY_CARDS = 500
TAIL_CARDS = 400
TAIL_LATENCY_MS = 30
TAIL_LATE_MS = 1500


def race(bench, name, cards, switches, jobs):
    """Times kqget-cli and curl at each number of `jobs` against the service
    with `switches`; returns side name -> best seconds. The logs of every
    number of jobs must be that of the first."""
    data = bench.library("fetch", cards, name=name)
    config = bench.work / f"{name}.config"
    proxy = {"http_proxy": bench.card_service(*switches)}
    reference = f"kq{jobs[0]}"

    def clear():
        for png in data.glob("*/*_full.png"):
            png.unlink()

    def kq_check(side):
        problem = bench.fetched(side, data, "--card-service")
        if problem:
            return problem
        log = bench.work / "kq" / f"log-{name}-{side}.txt"
        log.write_bytes((bench.work / "kq" / "KQ-GET-PNG-XML.txt").read_bytes())
        first = bench.work / "kq" / f"log-{name}-{reference}.txt"
        if first.exists() and not same_files(first, log):
            return f"{side}: the log differs from the one of {reference}"
        return None

    sides = []
    for n in jobs:
        sides.append(Side(f"kq{n}", lambda n=n: bench.cli("--jobs", str(n), "--data", f"{data}/"),
                          bench.work / "kq", prepare=clear,
                          check=lambda n=n: kq_check(f"kq{n}"), env=proxy))
        curl = ["curl", "-s", "-S", "-K", str(config)]
        if n > 1:
            curl[3:3] = ["-Z", "--parallel-max", str(n)]
        sides.append(Side(f"curl{n}", lambda curl=curl: curl, bench.work / "base", prepare=clear,
                          check=lambda n=n: bench.fetched(f"curl{n}", data, "--card-service"),
                          env=proxy))
    return bench.interleave(sides, bench.latency_rounds)


def raced(bench, name, cards, switches, jobs, rows):
    """Races kqget-cli against curl (race()) and gives the table rows (label,
    measured side, against side, target); every row FAILED if the race did."""
    try:
        best = race(bench, name, cards, switches, jobs)
    except RowFailed as failure:
        return [failed_result(label, failure, f"<= {target}x") for label, _, _, target in rows]
    return [ratio_result(label, best, measured, against, target)
            for label, measured, against, target in rows]


def run_latency(bench):
    cards = bench.size(LATENCY_CARDS)
    say(f"row 3: {cards} fetches with {LATENCY_MS} ms per response, --jobs 1, 4, 8 against curl"
        " (minutes)")
    bench.notes.append(f"row 3: {cards} illustrations from the stand-in card service, "
                       f"{LATENCY_MS} ms before every response")
    ms = LATENCY_MS
    return raced(bench, "latency", cards, ["--latency-ms", str(ms)], [1, 4, 8], [
        (f"3a +{ms} ms: --jobs 1 vs curl -K", "kq1", "curl1", 1.1),
        (f"3b +{ms} ms: --jobs 4 vs curl -Z max 4", "kq4", "curl4", 1.1),
        (f"3c +{ms} ms: --jobs 8 vs curl -Z max 8", "kq8", "curl8", 1.1),
        # The default against one at a time: 3.5 times as fast is 1 / 3.5.
        (f"3d +{ms} ms: --jobs 4 vs --jobs 1", "kq4", "kq1", 0.286),
    ])


def run_tail(bench):
    cards = bench.size(TAIL_CARDS)
    say(f"row 6: {cards} fetches, {TAIL_LATENCY_MS} ms each and one in ten {TAIL_LATE_MS} ms "
        "late, --jobs 4, 8, 16 against curl -Z (minutes)")
    bench.notes.append(f"row 6: {cards} illustrations, {TAIL_LATENCY_MS} ms before every "
                       f"response, one in ten {TAIL_LATE_MS} ms more")
    switches = ["--latency-ms", str(TAIL_LATENCY_MS)]
    for number in range(0, cards, 10):
        switches += ["--match", f"/{card_id(number)}/illustrations", "--delay-ms",
                     str(TAIL_LATE_MS)]
    return raced(bench, "tail", cards, switches, [4, 8, 16], [
        ("6a slow tail: --jobs 4 vs curl -Z max 4", "kq4", "curl4", 1.15),
        ("6b slow tail: --jobs 8 vs curl -Z max 8", "kq8", "curl8", 1.15),
        ("6c slow tail: --jobs 16 vs curl -Z max 16", "kq16", "curl16", 1.15),
    ])
