"""What the walk and fetch rows share: the Release build in build-bench/, the
sample libraries, nginx on a free loopback port, timing and peak memory of one
program run, and the way a row is printed (a Markdown table row, then one JSON
object). Standard library only."""

import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from contextlib import contextmanager
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-bench"
BIN = BUILD / "bin"
CLI = [str(BIN / "kqget-cli"), "--key", "BENCHKEY", "--user", "bench", "--quiet"]
LOG_NAME = "KQ-GET-PNG-XML.txt"
IMAGE_BASE = "http://images.kq.example"


def say(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def install(*packages):
    """The Debian packages the row needs, through the project's own script."""
    subprocess.run(["bash", str(ROOT / "scripts" / "deps.sh"), *packages], check=True,
                   stdout=sys.stderr)


def build(*targets):
    """A Release build of the given targets, as bench/run.sh makes it."""
    say(f"building Release into {BUILD.relative_to(ROOT)}")
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DKQGET_BUILD_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "--target", *targets], check=True,
                   stdout=sys.stderr)


def clean_environment():
    """The caller's proxies would route the fetches elsewhere."""
    env = dict(os.environ)
    for name in ("HTTP_PROXY", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy",
                 "NO_PROXY", "no_proxy", "http_proxy"):
        env.pop(name, None)
    env["LC_ALL"] = "C"
    return env


@contextmanager
def work_folder(keep=False):
    work = Path(tempfile.mkdtemp(prefix="kqget-bench."))
    # nginx's workers drop to an unprivileged user and must read the served files.
    work.chmod(0o755)
    try:
        yield work
    finally:
        if keep:
            say(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def make_walk_library(cards, folder):
    """`cards` cards that need nothing: a sparse XML byte, a sparse 12000-byte
    illustration, and a few entries a run must pass over."""
    subprocess.run([str(BIN / "kqget-bench-library"), "walk", str(cards), str(folder)],
                   check=True)


class RunResult:
    def __init__(self, status, seconds, peak_kib, stderr):
        self.status = status
        self.seconds = seconds
        self.peak_kib = peak_kib
        self.stderr = stderr


def run(command, cwd, env=None, peak=False):
    """One run of `command` in `cwd`: its status, wall time and, with `peak`,
    its resident peak in KiB. The peak goes through /usr/bin/time, a small
    program: a process started straight from Python would count Python's own
    pages, which the kernel carries over into the peak across exec."""
    cwd = Path(cwd)
    cwd.mkdir(parents=True, exist_ok=True)
    peak_file = cwd / "peak.txt"
    if peak:
        command = ["/usr/bin/time", "-f", "%M", "-o", str(peak_file), *command]
    with open(cwd / "stdout.txt", "wb") as out, open(cwd / "stderr.txt", "wb") as err:
        start = time.perf_counter()
        process = subprocess.Popen(command, cwd=cwd, stdout=out, stderr=err, env=env)
        _, wait_status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
    process.returncode = status = os.waitstatus_to_exitcode(wait_status)
    peak_kib = int(peak_file.read_text().split()[-1]) if peak and status == 0 else 0
    result = RunResult(status, seconds, peak_kib,
                       (cwd / "stderr.txt").read_text(errors="replace"))
    # Processor time, user and system: what a loaded machine disturbs least.
    result.cpu_seconds = usage.ru_utime + usage.ru_stime
    return result


def median(values):
    return statistics.median(values)


def emit(label, measured, against, ratio, target, result, details):
    """The row as a Markdown table row on one line, then as JSON on the next."""
    print(f"| {label} | {measured} | {against} | {ratio} | {target} | {result} |")
    print(json.dumps({"row": label, "measured": measured, "against": against, "ratio": ratio,
                      "target": target, "result": result, **details}, sort_keys=True))
    sys.stdout.flush()


def free_port():
    return subprocess.run([str(BIN / "kqget-bench-library"), "free-port"], check=True,
                          capture_output=True, text=True).stdout.strip()


@contextmanager
def nginx_serving(work, root):
    """nginx on a free loopback port serving `root`, as bench/run.sh starts it
    for the fetch rows; yields its port."""
    conf_dir = work / "nginx"
    (conf_dir / "logs").mkdir(parents=True, exist_ok=True)
    (conf_dir / "tmp").mkdir(parents=True, exist_ok=True)
    port = free_port()
    (conf_dir / "nginx.conf").write_text(f"""worker_processes 1;
daemon off;
pid {conf_dir}/nginx.pid;
error_log {conf_dir}/logs/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log off;
    client_body_temp_path {conf_dir}/tmp/body;
    proxy_temp_path {conf_dir}/tmp/proxy;
    fastcgi_temp_path {conf_dir}/tmp/fastcgi;
    uwsgi_temp_path {conf_dir}/tmp/uwsgi;
    scgi_temp_path {conf_dir}/tmp/scgi;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 100000;
    keepalive_timeout 60s;
    types {{ image/png png; }}
    default_type application/octet-stream;
    server {{
        listen 127.0.0.1:{port};
        server_name _;
        root {root};
    }}
}}
""")
    server = subprocess.Popen(["nginx", "-p", str(conf_dir), "-c", str(conf_dir / "nginx.conf"),
                               "-e", str(conf_dir / "logs" / "error.log")])
    try:
        for _ in range(100):
            probe = subprocess.run(["curl", "-s", "-o", "/dev/null", "--max-time", "1",
                                    f"http://127.0.0.1:{port}/"], env=clean_environment())
            if probe.returncode == 0:
                break
            time.sleep(0.1)
        else:
            raise RuntimeError("nginx did not start: " +
                               (conf_dir / "logs" / "error.log").read_text(errors="replace"))
        yield port
    finally:
        server.terminate()
        server.wait()


def rm_tree(path):
    shutil.rmtree(path, ignore_errors=True)
