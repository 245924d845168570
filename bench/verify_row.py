#!/usr/bin/env python3
"""The --verify row: kqget-cli --verify over 2,000 sound cards (a 140 KB,
320x440 RGB PNG and a small XML each, nothing to fetch) against `pngcheck -q`
over the same PNGs plus `xmllint --noout` over the same XMLs, one process each.
Interleaved rounds, alternating which goes first, after one untimed warm-up;
the best round of each is kept and only the ratio means anything.

Usage: bench/verify_row.py [--rounds N] [--cards N] [--keep]
Prints the table row, then one JSON object. Exit status 0 when the check held
and the ratio is at most 1.0.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
BIN = os.path.join(BUILD, "bin")
GOAL = 1.0


def say(text):
    print("bench: " + text, file=sys.stderr, flush=True)


def build():
    say("installing what is missing (pngcheck, xmllint)")
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "deps.sh"), "pngcheck",
                    "libxml2-utils"], check=True, stdout=sys.stderr)
    say("building Release into build-bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DKQGET_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "kqget-cli", "kqget-bench-library"],
                   check=True, stdout=sys.stderr)


def timed(command, cwd):
    start = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--cards", type=int, default=2000)
    parser.add_argument("--keep", action="store_true")
    options = parser.parse_args()
    if options.rounds < 5:
        parser.error("rounds must be 5 or more")

    build()
    work = tempfile.mkdtemp(prefix="kqget-bench-verify.")
    try:
        data = os.path.join(work, "Data")
        say(f"making {options.cards} sound cards")
        subprocess.run([os.path.join(BIN, "kqget-bench-library"), "sound", str(options.cards),
                        data], check=True)
        cards = sorted(os.listdir(data))
        pngs = [os.path.join(data, c, c + "_full.png") for c in cards]
        xmls = [os.path.join(data, c, c + ".xml") for c in cards]
        kqget = [os.path.join(BIN, "kqget-cli"), "--key", "K", "--user", "U", "--data", data,
                 "--verify", "--quiet", "--proxy", "http://127.0.0.1:9"]
        baseline = [["pngcheck", "-q"] + pngs, ["xmllint", "--noout"] + xmls]

        def run_kqget():
            took, result = timed(kqget, work)
            with open(os.path.join(work, "KQ-GET-PNG-XML.txt"), encoding="utf-8", newline="") as f:
                log = f.read()
            ok = (result.returncode == 0 and " damaged: " not in log
                  and "Download File" not in log and log.count("\r\n") == 3 * len(cards))
            return took, ok

        def run_baseline():
            total = 0.0
            ok = True
            for command in baseline:
                took, result = timed(command, work)
                total += took
                ok = ok and result.returncode == 0
            return total, ok

        best = {"kqget": None, "base": None}
        check = True
        for round_number in range(options.rounds + 1):
            order = [("kqget", run_kqget), ("base", run_baseline)]
            if round_number % 2:
                order.reverse()
            for side, run in order:
                took, ok = run()
                check = check and ok
                if round_number > 0 and (best[side] is None or took < best[side]):
                    best[side] = took
        ratio = best["kqget"] / best["base"]
        png_bytes = sum(os.path.getsize(p) for p in pngs) // len(pngs)
        label = f"9 --verify, {len(cards)} sound cards"
        row = (f"{label:<40} {best['kqget']:8.2f} s {best['base']:8.2f} s {ratio:6.2f}x "
               f"(goal <= {GOAL}) check {'ok' if check else 'FAILED'}")
        print(row)
        print(json.dumps({
            "row": "verify", "cards": len(cards), "png_bytes_mean": png_bytes,
            "rounds": options.rounds, "kqget_s": round(best["kqget"], 3),
            "baseline_s": round(best["base"], 3), "ratio": round(ratio, 3), "goal": GOAL,
            "check": check, "cores": os.cpu_count(),
            "load": os.getloadavg()[0],
        }))
        return 0 if check and ratio <= GOAL else 1
    finally:
        if options.keep:
            say("kept " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
