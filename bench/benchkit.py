"""What every row of the benchmarks shares: the built programs, the temporary
folder, the servers, and timing programs side by side.

Shared machines are noisy, so every figure is a ratio of two programs timed
in the same run: interleaved rounds, the order reversed every other round,
one untimed warm-up, the best round of each kept.
"""

import os
import shutil
import signal
import ssl
import string
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional

BENCH = Path(__file__).resolve().parent
ROOT = BENCH.parent

# Proxies from the caller's environment would route the fetch rows elsewhere.
PROXY_VARIABLES = ("HTTP_PROXY", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy",
                   "NO_PROXY", "no_proxy", "http_proxy")


def say(text):
    print(f"bench: {text}", flush=True, file=sys.stderr)


class RowFailed(Exception):
    """A row could not be measured: a program failed or a check did not hold."""


@dataclass
class Side:
    """One program of a row: how to run it, and what it must have done."""
    name: str
    command: Callable[[], list]
    folder: Path
    prepare: Callable[[], None] = lambda: None
    # Returns what went wrong, or None.
    check: Callable[[], Optional[str]] = lambda: None
    env: dict = field(default_factory=dict)


@dataclass
class Result:
    """One line of the table. Times are in seconds, memory in MiB."""
    label: str
    measured: Optional[float] = None
    against: Optional[float] = None
    unit: str = "s"
    target: str = ""
    result: str = "reported"

    @property
    def ratio(self):
        if self.measured is None or not self.against:
            return None
        return self.measured / self.against

    @property
    def good(self):
        return self.result in ("ok", "reported")


def ratio_result(label, best, measured, against, target=None):
    """A row of two times from `best` (side name -> seconds), against an
    optional highest ratio."""
    result = Result(label, best[measured], best[against],
                    target=f"<= {target:g}x" if target is not None else "")
    if target is not None:
        result.result = "ok" if round(result.ratio, 2) <= target else "MISSED"
    return result


def failed_result(label, why, target=""):
    return Result(label, target=target, result=f"FAILED: {why}")


class Bench:
    """The run: options, programs, the temporary folder and its servers."""

    def __init__(self, options, bin_folder):
        self.options = options
        self.bin = bin_folder
        self.quick = options.quick
        self.rounds = options.rounds
        self.latency_rounds = options.latency_rounds
        self.work = Path(tempfile.mkdtemp(prefix="kqget-bench.",
                                          dir=os.environ.get("TMPDIR", "/tmp")))
        # nginx's workers drop to an unprivileged user and must read the served files.
        self.work.chmod(0o755)
        self.servers = []
        self.libraries = {}
        self.notes = []
        self.env = {k: v for k, v in os.environ.items() if k not in PROXY_VARIABLES}
        self.env["LC_ALL"] = "C"
        for side in ("kq", "base"):
            (self.work / side).mkdir()

    # --- sizes and programs -----------------------------------------------------

    def size(self, full):
        """A library's size: `full`, or a tenth of it for --quick."""
        return max(1, full // 10) if self.quick else full

    def program(self, name):
        return str(self.bin / name)

    def cli(self, *arguments):
        return [self.program("kqget-cli"), "--key", "BENCHKEY", "--user", "bench", "--quiet",
                *arguments]

    def library(self, kind, cards, name=None, base="http://images.kq.example"):
        """Makes a library once and returns its data folder: "walk" needs
        nothing, "sound" has whole, sound card files to check, "fetch" misses
        its illustrations and has the served folder and curl's config beside
        it (name-serve, name.config)."""
        name = name or f"{kind}-{cards}"
        if name not in self.libraries:
            data = self.work / name
            if kind == "walk":
                say(f"making a library of {cards} cards that needs nothing")
                self.call([self.program("kqget-bench-library"), "walk", str(cards), str(data)])
            elif kind == "sound":
                say(f"making a library of {cards} whole, sound cards")
                self.call([self.program("kqget-bench-library"), "sound", str(cards), str(data)])
            else:
                say(f"making a library of {cards} cards whose illustrations are missing")
                self.call([self.program("kqget-bench-library"), "fetch", str(cards), str(data),
                           str(self.work / f"{name}-serve"), str(self.work / f"{name}.config"),
                           base])
            self.libraries[name] = data
        return self.libraries[name]

    def forget_library(self, name):
        for path in (self.work / name, self.work / f"{name}-serve"):
            shutil.rmtree(path, ignore_errors=True)
        self.libraries.pop(name, None)

    def call(self, command, **kwargs):
        return subprocess.run(command, check=True, env=self.env, **kwargs)

    def verify(self, data, reference):
        """Every illustration in `data` arrived, byte for byte; `reference` is
        the served folder or "--card-service". Returns what is wrong or None."""
        done = subprocess.run([self.program("kqget-bench-library"), "verify", str(data),
                               str(reference)], env=self.env, capture_output=True, text=True)
        if done.returncode != 0:
            lines = (done.stdout + done.stderr).strip().splitlines()
            return lines[-1] if lines else f"verify ended with {done.returncode}"
        return None

    def fetched(self, name, data, reference):
        """A check: every illustration of `data` arrived (see verify)."""
        problem = self.verify(data, reference)
        return f"{name}: {problem}" if problem else None

    # --- timing -----------------------------------------------------------------

    def timed(self, side):
        """Runs a side in its folder, output kept there; returns seconds. A
        side whose command is a list of commands runs them one after another,
        timed together. The processor time (user and system) of the run,
        which a loaded machine disturbs far less than the wall time, is left
        in self.last_cpu."""
        env = dict(self.env, **side.env)
        commands = side.command()
        if commands and not isinstance(commands[0], list):
            commands = [commands]
        took = cpu = 0.0
        with open(side.folder / "stdout.txt", "wb") as out, \
                open(side.folder / "stderr.txt", "wb") as err:
            for command in commands:
                start = time.perf_counter()
                process = subprocess.Popen(command, cwd=side.folder, env=env, stdout=out,
                                           stderr=err)
                _, wait_status, usage = os.wait4(process.pid, 0)
                took += time.perf_counter() - start
                cpu += usage.ru_utime + usage.ru_stime
                process.returncode = os.waitstatus_to_exitcode(wait_status)
                if process.returncode != 0:
                    tail = (side.folder / "stderr.txt").read_text(
                        errors="replace").splitlines()[-2:]
                    raise RowFailed(f"{side.name} run failed: {' '.join(tail)}")
        self.last_cpu = cpu
        return took

    def interleave(self, sides, rounds=None):
        """Times every side once per round, the order reversed every other
        round; round 0 warms up and is not counted. Returns side name -> best
        seconds, or raises RowFailed; the best processor times are left in
        self.best_cpu the same way."""
        rounds = rounds or self.rounds
        best = {}
        self.best_cpu = {}
        for round_number in range(rounds + 1):
            order = sides if round_number % 2 == 0 else list(reversed(sides))
            for side in order:
                side.prepare()
                took = self.timed(side)
                problem = side.check()
                if problem:
                    raise RowFailed(problem)
                if round_number > 0:
                    best[side.name] = min(best.get(side.name, took), took)
                    self.best_cpu[side.name] = min(self.best_cpu.get(side.name, self.last_cpu),
                                                   self.last_cpu)
        return best

    def peak_kib(self, data, *arguments, folder=None, command=None):
        """The resident peak of one kqget-cli run over `data` (or of `command`),
        in KiB. It goes through /usr/bin/time, a small program: a process
        started straight from Python would count Python's own pages, which the
        kernel carries over into the peak across exec."""
        folder = folder or self.work / "kq"
        peak = folder / "peak.txt"
        command = command or self.cli(*arguments, "--data", f"{data}/")
        status = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", str(peak), *command],
                                 cwd=folder, env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        if status != 0:
            raise RowFailed(f"{Path(command[0]).name} failed")
        return int(peak.read_text().split()[-1])

    # --- servers ----------------------------------------------------------------

    def start(self, command, log):
        with open(log, "wb") as err:
            process = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=err)
        self.servers.append(process)
        return process

    def free_port(self):
        return int(subprocess.run([self.program("kqget-bench-library"), "free-port"], check=True,
                                  capture_output=True, text=True).stdout.strip())

    def card_service(self, *switches):
        """Starts the stand-in card service with these switches; returns the
        proxy URL that reaches it."""
        log = self.work / f"service-{len(self.servers)}.err"
        process = self.start([self.program("kqget-card-service"), *switches], log)
        port = process.stdout.readline().decode().strip()
        if not port or not await_url(f"http://127.0.0.1:{port}/"):
            raise SystemExit(f"bench: the card service did not start:\n{log.read_text()}")
        return f"http://127.0.0.1:{port}"

    def fetch_server(self, cards):
        """nginx serving the illustrations of the library "fetch" of `cards`
        cards (started once, shared by the fetch rows); returns the library,
        the served folder, curl's config for the same URLs and the proxy."""
        data = self.library("fetch", cards, name="fetch")
        served = self.work / "fetch-serve"
        if not hasattr(self, "fetch_proxy"):
            port = self.free_port()
            self.nginx("fetch.conf", self.work / "nginx", f"http://127.0.0.1:{port}/", port=port,
                       root=served)
            self.fetch_proxy = f"http://127.0.0.1:{port}"
        return data, served, self.work / "fetch.config", self.fetch_proxy

    def nginx(self, template, folder, url, cafile=None, **values):
        """Starts nginx in `folder` with bench/nginx/<template>, its $names
        filled from `values` and `folder`; waits until `url` answers."""
        (folder / "logs").mkdir(parents=True, exist_ok=True)
        (folder / "tmp").mkdir(exist_ok=True)
        text = string.Template((BENCH / "nginx" / template).read_text())
        config = folder / "nginx.conf"
        config.write_text(text.substitute(values, folder=folder))
        error_log = folder / "logs" / "error.log"
        self.start(["nginx", "-p", str(folder), "-c", str(config), "-e", str(error_log)],
                   folder / "logs" / "stderr.txt")
        if not await_url(url, cafile):
            log = error_log.read_text() if error_log.exists() else ""
            raise SystemExit(f"bench: nginx did not start:\n{log}")

    def close(self):
        for process in self.servers:
            process.send_signal(signal.SIGTERM)
        for process in self.servers:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
        if self.options.keep:
            say(f"kept {self.work}")
        else:
            shutil.rmtree(self.work, ignore_errors=True)


def await_url(url, cafile=None, tries=100):
    """Whether anything answers at `url` within tries / 10 seconds."""
    context = ssl.create_default_context(cafile=cafile) if cafile else None
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}),
                                         urllib.request.HTTPSHandler(context=context))
    for _ in range(tries):
        try:
            opener.open(url, timeout=1).close()
            return True
        except urllib.error.HTTPError:
            return True  # an answer, if not a welcome one
        except OSError:
            time.sleep(0.1)
    return False


def card_id(number):
    """The card id of the bench libraries' card `number` (as sample::cardId)."""
    chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    rest, tail = number // 4, ""
    for _ in range(4):
        tail = chars[rest % 36] + tail
        rest //= 36
    return "ABCD"[number % 4] + tail


def same_files(a, b):
    a, b = Path(a), Path(b)
    return a.exists() and b.exists() and a.read_bytes() == b.read_bytes()
