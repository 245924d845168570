"""Row 11: system calls per fetched file. kqget-cli --jobs 4 fetching row 2's
2,000 missing illustrations from nginx, against curl -Z --parallel-max 4 over
the same URLs into the same paths, each counted by strace -c -f over the
whole process, start-up included. Counts barely move with the load, so one
run of each after a warm-up."""

from benchkit import Result, RowFailed, Side, failed_result, say

FETCH_CARDS = 2000
JOBS = 4


def counted(bench, side, summary, files):
    """Runs `side` under strace -c -f; returns its calls per file, in all and
    the five most frequent by name."""
    traced = Side(side.name, lambda: ["strace", "-c", "-f", "-o", str(summary), *side.command()],
                  side.folder, side.prepare, side.check, side.env)
    traced.prepare()
    bench.timed(traced)
    problem = traced.check()
    if problem:
        raise RowFailed(problem)
    by_name, total = {}, None
    for line in summary.read_text().splitlines():
        # "% time seconds usecs/call calls [errors] syscall", the total line last
        fields = line.split()
        if len(fields) < 5 or not fields[3].isdigit():
            continue
        if fields[-1] == "total":
            total = int(fields[3])
        else:
            by_name[fields[-1]] = int(fields[3])
    if total is None:
        raise RowFailed(f"{side.name}: no totals in {summary}")
    top = sorted(by_name.items(), key=lambda item: -item[1])[:5]
    return total / files, ", ".join(f"{name} {calls / files:.1f}" for name, calls in top)


def run(bench):
    cards = bench.size(FETCH_CARDS)
    label = f"11 system calls per file, {cards} from nginx: --jobs {JOBS} vs curl -Z max {JOBS}"
    target = "<= 1.00x"
    data, served, config, proxy = bench.fetch_server(cards)
    say("row 11: system calls per fetched file, kqget-cli against curl -Z")

    def clear():
        for png in data.glob("*/*_full.png"):
            png.unlink()

    def side(name, command):
        return Side(name, command, bench.work / name, prepare=clear, env={"http_proxy": proxy},
                    check=lambda: bench.fetched(name, data, served))

    sides = [side("kq", lambda: bench.cli("--jobs", str(JOBS), "--data", f"{data}/")),
             side("base", lambda: ["curl", "-s", "-S", "-Z", "--parallel-max", str(JOBS), "-K",
                                   str(config)])]
    try:
        for s in sides:  # the warm-up: pages cached, nginx's worker awake
            s.prepare()
            bench.timed(s)
        counts = {s.name: counted(bench, s, bench.work / s.name / "strace.txt", cards)
                  for s in sides}
    except RowFailed as failure:
        return [failed_result(label, failure, target)]
    for name, (_, top) in counts.items():
        bench.notes.append(f"row 11: {name} calls per file, most frequent: {top}")
    result = Result(label, counts["kq"][0], counts["base"][0], unit="calls", target=target)
    result.result = "ok" if round(result.ratio, 2) <= 1.0 else "MISSED"
    return [result]
