"""Row 8: HTTPS with HTTP/2. nginx speaks TLS 1.3 and HTTP/2 with a
throw-away certificate in front of the stand-in service, 50 ms away.
kqget (through a driver that trusts the throw-away CA, as kqget-cli trusts
the system's) against curl --http2, both with 16 at once; kqget's fetches
must share one TLS connection."""

import subprocess

from benchkit import RowFailed, Side, failed_result, ratio_result, say
from rows.latency import LATENCY_MS

HTTPS_CARDS = 500
HTTPS_JOBS = 16


def make_certificates(folder):
    ca, key = folder / "ca.pem", folder / "ca.key"
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1"]
    subprocess.run(["openssl", "req", "-x509", *ec, "-subj", "/CN=kqget bench CA",
                    "-keyout", str(key), "-out", str(ca)], check=True, capture_output=True)
    subprocess.run(["openssl", "req", "-x509", *ec, "-CA", str(ca), "-CAkey", str(key),
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-addext", "basicConstraints=critical,CA:FALSE",
                    "-keyout", str(folder / "server.key"), "-out", str(folder / "server.pem")],
                   check=True, capture_output=True)
    return ca


def run(bench):
    cards, jobs = bench.size(HTTPS_CARDS), HTTPS_JOBS
    say(f"row 8: {cards} fetches over HTTPS and HTTP/2, {LATENCY_MS} ms each, --jobs {jobs} "
        "against curl -Z --http2")
    label = f"8 HTTPS h2 --jobs {jobs} vs curl --http2"
    tls = bench.work / "tls"
    tls.mkdir()
    ca = make_certificates(tls)
    service = bench.card_service("--latency-ms", str(LATENCY_MS))
    port = bench.free_port()
    base = f"https://127.0.0.1:{port}"
    bench.nginx("https.conf", tls, f"{base}/", cafile=str(ca), port=port,
                service=service.removeprefix("http://"))
    data = bench.library("fetch", cards, name="https", base=base)
    config = bench.work / "https.config"
    access_log = tls / "logs" / "access.log"
    connections = {}

    def prepare():
        for png in data.glob("*/*_full.png"):
            png.unlink()
        access_log.write_bytes(b"")

    def check(side):
        problem = bench.fetched(side, data, "--card-service")
        if problem:
            return problem
        lines = access_log.read_text().splitlines()
        connections[side] = len({line.split()[0] for line in lines if line.strip()})
        if not any("HTTP/2.0" in line for line in lines):
            return f"{side}: no request came over HTTP/2"
        if side == "kq" and connections[side] != 1:
            return f"kq: {connections[side]} TLS connections, not one"
        return None

    kq = Side("kq", lambda: [bench.program("kqget-bench-https"), str(ca), base, str(jobs),
                             f"{data}/"], bench.work / "kq", prepare, lambda: check("kq"))
    curl = Side("base", lambda: ["curl", "-s", "-S", "-Z", "--parallel-max", str(jobs), "--http2",
                                 "--cacert", str(ca), "-K", str(config)],
                bench.work / "base", prepare, lambda: check("base"))
    try:
        best = bench.interleave([kq, curl])
    except RowFailed as failure:
        return [failed_result(label, failure, "<= 1.05x")]
    finally:
        say(f"row 8: TLS connections in the last round: kqget {connections.get('kq', '?')}, "
            f"curl {connections.get('base', '?')}")
    # No slower than curl; 5 % for the noise of rounds near the floor of 1.6 s.
    return [ratio_result(label, best, "kq", "base", 1.05)]
