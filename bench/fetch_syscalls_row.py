#!/usr/bin/env python3
"""System calls per fetched file: kqget-cli --jobs N fetching missing
illustrations (20-60 KB) from nginx on loopback through http_proxy, against
curl -Z --parallel-max N fetching the same URLs into the same paths, each
counted by strace -c -f over the whole process (start-up included). The goal
is no more than curl's.

  bench/fetch_syscalls_row.py [--files 2000] [--jobs 4]

Prints a Markdown table row and a JSON object (with each side's calls per
file by name). Exits non-zero when a check fails or kqget makes more calls."""

import argparse
import os
import subprocess
import sys

import floor_bench_support as bench


def counted(command, cwd, env, files):
    """Runs `command` under strace -c -f; the calls per file, in all and by name."""
    summary = cwd / "strace.txt"
    result = bench.run(["strace", "-c", "-f", "-o", str(summary), *command], cwd, env)
    if result.status != 0:
        raise RuntimeError(f"{command[0]} failed: {result.stderr.strip()}")
    by_name = {}
    total = 0
    for line in summary.read_text().splitlines():
        fields = line.split()
        # "% time seconds usecs/call calls [errors] syscall"; the total line last
        if len(fields) < 5 or not fields[3].isdigit():
            continue
        if fields[-1] == "total":
            total = int(fields[3])
        else:
            by_name[fields[-1]] = round(int(fields[3]) / files, 2)
    return total / files, by_name


def verify(data, root):
    check = subprocess.run([str(bench.BIN / "kqget-bench-library"), "verify", str(data),
                            str(root)], capture_output=True, text=True)
    if check.returncode != 0:
        raise RuntimeError(check.stdout.strip().splitlines()[-1:] or check.stderr.strip())


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--jobs", type=int, default=4)
    options = parser.parse_args()
    bench.install("strace", "nginx", "curl")
    bench.build("kqget-cli", "kqget-bench-library")
    label = f"system calls per fetched file, {options.files} from nginx: --jobs {options.jobs} " \
            f"vs curl -Z max {options.jobs}"
    with bench.work_folder() as work:
        data, serve, config = work / "fetch", work / "serve", work / "curl.config"
        subprocess.run([str(bench.BIN / "kqget-bench-library"), "fetch", str(options.files),
                        str(data), str(serve), str(config), bench.IMAGE_BASE], check=True)
        with bench.nginx_serving(work, serve) as port:
            env = bench.clean_environment()
            env["http_proxy"] = f"http://127.0.0.1:{port}"
            sides = {
                "kq": bench.CLI + ["--jobs", str(options.jobs), "--data", f"{data}/"],
                "curl": ["curl", "-s", "-S", "-Z", "--parallel-max", str(options.jobs), "-K",
                         str(config)],
            }
            counts = {}
            try:
                for side, command in sides.items():
                    for png in data.glob("*/*_full.png"):
                        os.unlink(png)
                    counts[side] = counted(command, work / side, env, options.files)
                    verify(data, serve)
            except RuntimeError as failure:
                bench.emit(label, "-", "-", "-", "<= 1.00x", f"FAILED: {failure}", {})
                return 1
    kq, kq_names = counts["kq"]
    curl, curl_names = counts["curl"]
    good = kq <= curl
    bench.emit(label, f"{kq:.1f}", f"{curl:.1f}", f"{kq / curl:.2f}x", "<= 1.00x",
               "ok" if good else "MISSED",
               {"files": options.files, "jobs": options.jobs, "kq_per_file": kq_names,
                "curl_per_file": curl_names})
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
