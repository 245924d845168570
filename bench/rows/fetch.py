"""Rows 2 and 2b: fetching missing illustrations from nginx, with no latency
to hide: kqget-cli against one curl process over the same URLs (2), and its
default of 4 jobs against --jobs 1 or an earlier build (2b)."""

from benchkit import RowFailed, Side, failed_result, ratio_result, say

FETCH_CARDS = 2000


def run(bench):
    cards = bench.size(FETCH_CARDS)
    data, served, config, proxy = bench.fetch_server(cards)
    say("row 2: fetch from nginx, kqget-cli against curl")
    proxy = {"http_proxy": proxy}

    def clear():
        for png in data.glob("*/*_full.png"):
            png.unlink()

    def side(name, command):
        return Side(name, command, bench.work / name, prepare=clear, env=proxy,
                    check=lambda: bench.fetched(name, data, served))

    results = []
    label = f"2 fetch {cards} from nginx: cli vs curl -K"
    try:
        # One process, one kept-alive connection, the same URLs into the same paths.
        best = bench.interleave([side("kq", lambda: bench.cli("--data", f"{data}/")),
                                 side("base", lambda: ["curl", "-s", "-S", "-K", str(config)])])
        results.append(ratio_result(label, best, "kq", "base", 1.15))
    except RowFailed as failure:
        results.append(failed_result(label, failure, "<= 1.15x"))

    # With no latency to hide, the default of 4 jobs must cost nothing against
    # one, or against the build named by --baseline-cli.
    baseline = bench.options.baseline_cli
    if baseline:
        against, command = "baseline", [baseline, *bench.cli("--data", f"{data}/")[1:]]
    else:
        against, command = "--jobs 1", bench.cli("--jobs", "1", "--data", f"{data}/")
    label = f"2b fetch {cards} from nginx: default vs {against}"
    try:
        best = bench.interleave([side("kq", lambda: bench.cli("--data", f"{data}/")),
                                 side("base", lambda: command)])
        results.append(ratio_result(label, best, "kq", "base", 1.05))
    except RowFailed as failure:
        results.append(failed_result(label, failure, "<= 1.05x"))
    return results
