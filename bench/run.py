#!/usr/bin/env python3
"""Measures kqget against its floor and its peers, every figure a ratio of
two programs timed side by side in this run (benchkit.py says how).

Builds a release into build-bench/, makes its libraries in a temporary
folder, starts its servers on free loopback ports and stops them at the end.
Prints the table in Markdown and writes it, with a JSON file of the same
figures, into build-bench/ (--out changes where). The rows are in
bench/rows/ (its __init__.py says how to add one); what each measures is in
bench/RESULTS.md.

Exit status 0 when every row ran, its check held and its target was met.
"""

import argparse
import datetime
import json
import os
import platform
import subprocess
import sys
from pathlib import Path

from benchkit import ROOT, Bench, failed_result, say
from rows import ROWS

TARGETS = ["kqget-cli", "kqget-card-service", "kqget-bench-library", "kqget-bench-walk-floor",
           "kqget-bench-https"]
# The peers and tools the rows run against or measure with.
PACKAGES = ["nginx", "curl", "time", "strace", "pngcheck", "libxml2-utils"]


def parse(arguments):
    parser = argparse.ArgumentParser(prog="bench/run.py", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=7,
                        help="timed rounds per row after one untimed warm-up (default 7)")
    parser.add_argument("--latency-rounds", type=int, default=5,
                        help="the same for rows 3 and 6, whose rounds take a minute each "
                        "(default 5)")
    parser.add_argument("--rows", default=",".join(ROWS),
                        help=f"only these rows, comma-separated (default {','.join(ROWS)})")
    parser.add_argument("--quick", action="store_true",
                        help="one round of each row on libraries a tenth the size: that every "
                        "row runs, not a figure to keep")
    parser.add_argument("--keep", action="store_true",
                        help="leave the temporary folder for a look afterwards")
    parser.add_argument("--baseline-cli", metavar="PATH",
                        help="row 2b against this kqget-cli (an earlier build) rather than "
                        "against --jobs 1")
    parser.add_argument("--million-library", metavar="DIR", type=Path,
                        help="row 10's library of 1,000,000 cards: made here if it is not, and "
                        "kept for the next run (by default made and removed, minutes each time)")
    parser.add_argument("--out", type=Path, default=ROOT / "build-bench",
                        help="where results.md and results.json go (default build-bench/)")
    options = parser.parse_args(arguments)
    rows = options.rows.split(",")
    unknown = [row for row in rows if row not in ROWS]
    if unknown:
        parser.error(f"--rows takes the row numbers {', '.join(ROWS)}, not {', '.join(unknown)}")
    options.rows = [row for row in ROWS if row in rows]
    if options.quick:
        options.rounds = options.latency_rounds = 1
    elif min(options.rounds, options.latency_rounds) < 5:
        parser.error("rounds must be 5 or more (--quick for one)")
    return options


def build(options):
    build_folder = ROOT / "build-bench"
    say(f"installing what is missing ({', '.join(PACKAGES)})")
    subprocess.run(["bash", str(ROOT / "scripts/deps.sh"), *PACKAGES], check=True,
                   stdout=sys.stderr)
    say(f"building Release into {build_folder.relative_to(ROOT)}")
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_folder), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DKQGET_BUILD_TESTS=OFF"], check=True,
                   stdout=subprocess.DEVNULL)
    targets = list(TARGETS)
    # The window's driver exists only in a build with the window; only row 4 needs it.
    listed = subprocess.run(["ninja", "-C", str(build_folder), "-t", "targets", "all"],
                            capture_output=True, text=True).stdout
    if "4" in options.rows and "\nkqget-bench-window:" in f"\n{listed}":
        targets.append("kqget-bench-window")
    subprocess.run(["cmake", "--build", str(build_folder), "--target", *targets], check=True,
                   stdout=sys.stderr)
    return build_folder / "bin"


def machine(work):
    def first(command):
        try:
            done = subprocess.run(command, capture_output=True, text=True)
            return (done.stdout + done.stderr).strip().splitlines()[0]
        except (OSError, IndexError):
            return "?"

    cpu = next((line.split(": ", 1)[1] for line in Path("/proc/cpuinfo").read_text().splitlines()
                if line.startswith("model name")), "unknown CPU")
    memory = next(int(line.split()[1]) for line in Path("/proc/meminfo").read_text().splitlines()
                  if line.startswith("MemTotal"))
    system = platform.freedesktop_os_release().get("PRETTY_NAME", "unknown system")
    return {
        "cores": os.cpu_count(), "cpu": cpu, "memory_gib": round(memory / 1048576),
        "system": system, "kernel": f"{platform.system()} {platform.release()}",
        "file_system": first(["findmnt", "-T", str(work), "-no", "FSTYPE"]),
        "nginx": first(["nginx", "-v"]).rsplit("/", 1)[-1],
        "curl": first(["curl", "--version"]).split()[1],
    }


def figure(value, unit):
    if value is None:
        return "-"
    return f"{value:.3f} s" if unit == "s" else f"{value:.1f} {unit}"


def markdown(header, results, notes):
    m = header["machine"]
    lines = [
        f"kqget benchmarks, {header['date']}, commit {header['commit']}"
        + (" (--quick: not for the record)" if header["quick"] else ""),
        "",
        f"machine: {m['cores']} cores, {m['cpu']}, {m['memory_gib']} GiB, {m['system']}, "
        f"{m['kernel']}; libraries on {m['file_system']}; nginx {m['nginx']}, curl {m['curl']}; "
        f"load average {header['load_average'][0]} at the start, {header['load_average'][1]} "
        "at the end",
        "",
        f"times: best of {header['rounds']} interleaved rounds after a warm-up "
        f"({header['latency_rounds']} for rows 3 and 6); ratio = measured / against",
        *[f"{note}" for note in notes],
        "",
        "| row | measured | against | ratio | target | result |",
        "| --- | ---: | ---: | ---: | --- | --- |",
    ]
    for r in results:
        ratio = "-" if r.ratio is None else f"{r.ratio:.2f}x"
        lines.append(f"| {r.label} | {figure(r.measured, r.unit)} | {figure(r.against, r.unit)} "
                     f"| {ratio} | {r.target} | {r.result} |")
    return "\n".join(lines) + "\n"


def main(arguments):
    options = parse(arguments)
    bin_folder = build(options)
    bench = Bench(options, bin_folder)
    results = []
    # Other work on the machine is what moves the figures most; say how much there was.
    load = [round(os.getloadavg()[0], 1)]
    try:
        for row in options.rows:
            # A row that breaks is a FAILED line; the rows after it still run.
            try:
                results += ROWS[row](bench)
            except Exception as error:  # noqa: BLE001 - reported in the table, with its kind
                say(f"row {row} broke: {type(error).__name__}: {error}")
                results.append(failed_result(f"{row} (the whole row)",
                                             f"{type(error).__name__}: {error}", "-"))
        header = {
            "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "commit": subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                                     capture_output=True, text=True).stdout.strip() or "?",
            "machine": machine(bench.work), "rounds": options.rounds,
            "latency_rounds": options.latency_rounds, "quick": options.quick,
            "load_average": load + [round(os.getloadavg()[0], 1)],
        }
    finally:
        bench.close()
    table = markdown(header, results, bench.notes)
    print("\n" + table)
    options.out.mkdir(parents=True, exist_ok=True)
    (options.out / "results.md").write_text(table)
    (options.out / "results.json").write_text(json.dumps(dict(header, notes=bench.notes, rows=[
        {"label": r.label, "measured": r.measured, "against": r.against, "unit": r.unit,
         "ratio": r.ratio, "target": r.target, "result": r.result} for r in results]),
        indent=2) + "\n")
    say(f"table and figures in {options.out / 'results.md'} and results.json")
    return 0 if all(r.good for r in results) else 1


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except KeyboardInterrupt:
        sys.exit(130)
