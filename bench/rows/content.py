"""Row 12: what `--verify` finds, on Linux and under Wine.

The conformance suites (PngSuite, libpng's crash files, James Clark's XML
tests not-wf-sa and valid-sa; ../shared/testdata or $KQGET_TESTDATA), each
file standing as one card's file beside a sound one, each suite a library
of its own: kqget-cli's verdicts right and wrong, its peak memory and
processor time per suite, beside pngcheck's and xmllint's verdicts over the
same files. Then a hostile library (a zTXt and an iCCP chunk that inflate to
3 GiB, a 30000 x 30000 header over 900 MiB of zeros and a whole all-zero
30000 x 30000 image, a wrong Adler-32, a billion-laughs XML) beside two sound
cards: exactly the hostile files flagged, with kqget-cli's peak memory and
processor time. Under Wine only where build-windows/ holds kqget-cli.exe."""

import os
import re
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

from benchkit import ROOT, Result, RowFailed, card_id, failed_result, say

SIGNATURE = b"\x89PNG\r\n\x1a\n"
PADDED = 12000  # over the size rules' smallest illustration
HOSTILE_MIB = 64
HOSTILE_CPU_S = 6.0
DAMAGED = re.compile(r"([^\\/\r\n]+)[\\/][^\\/\r\n]+ damaged: ([^\r\n]*)")
# A file the size rules alone send to be fetched (an empty XML) is no sound
# file either.
FETCHED = re.compile(r"Download File: \S*?(?:/([^/\s]+)/illustrations/|cardids=([^&\s]+)&)")


def testdata():
    root = Path(os.environ.get("KQGET_TESTDATA", ROOT.parent / "shared" / "testdata"))
    return root if root.is_dir() else None


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data))


def padded(png):
    """A suite PNG grown past the size rules by a private chunk after IHDR."""
    at = 33 if png[12:16] == b"IHDR" else min(len(png), 33)
    filler = chunk(b"prVt", bytes(max(0, PADDED - len(png))))
    return png[:at] + filler + png[at:]


def zero_stream(total):
    """A zlib stream of `total` zero bytes from one 1 MiB block repeated."""
    def block(size):
        z = zlib.compressobj(9, zlib.DEFLATED, -15)
        return z.compress(bytes(size)) + z.flush(zlib.Z_FULL_FLUSH)
    whole, rest = divmod(total, 1 << 20)
    body = block(1 << 20) * whole + (block(rest) if rest else b"")
    adler = ((total % 65521) << 16) | 1
    return b"\x78\xda" + body + b"\x03\x00" + struct.pack(">I", adler)


def png_of(width, height, stream):
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return SIGNATURE + chunk(b"IHDR", ihdr) + chunk(b"IDAT", stream) + chunk(b"IEND", b"")


def with_chunk(png, extra):
    return png[:33] + extra + png[33:]


def bad_adler(png):
    """`png` with its image data's Adler-32 wrong and every CRC right."""
    at, last = 8, None
    while at < len(png):
        length = struct.unpack(">I", png[at:at + 4])[0]
        if png[at + 4:at + 8] == b"IDAT":
            last = (at, length)
        at += 12 + length
    at, length = last
    data = bytearray(png[at + 8:at + 8 + length])
    data[-1] ^= 0x01
    return png[:at] + chunk(b"IDAT", bytes(data)) + png[at + 12 + length:]


def laughs():
    lines = ['<?xml version="1.0"?>', "<!DOCTYPE lolz [", '<!ENTITY l0 "lol">']
    lines += [f'<!ENTITY l{i} "{("&l%d;" % (i - 1)) * 10}">' for i in range(1, 10)]
    return ("\n".join(lines) + "\n]>\n<lolz>&l9;</lolz>\n").encode()


def card(data, number, name, content, sound):
    """Card `number` with `content` as its `name` ("png" or "xml"), the other sound."""
    cid = card_id(number)
    folder = data / cid
    folder.mkdir(parents=True)
    png, xml = sound
    (folder / f"{cid}_full.png").write_bytes(content if name == "png" else png)
    (folder / f"{cid}.xml").write_bytes(content if name == "xml" else xml)
    return cid


def windows_cli():
    exe = ROOT / "build-windows" / "bin" / "kqget-cli.exe"
    return exe if exe.exists() else None


def verdicts(bench, data, proxy, system):
    """Card id -> reason for every file kqget-cli flagged, from a copy of `data`."""
    run = bench.work / f"content-{system}"
    shutil.rmtree(run, ignore_errors=True)
    shutil.copytree(data, run / "Data")
    arguments = ["--verify", "--proxy", proxy, "--data", "Data/"]
    if system == "linux":
        command = bench.cli(*arguments)
    else:
        command = ["bash", str(ROOT / "scripts" / "wine-run.sh"),
                   str(ROOT / "build-windows" / "wine-prefix"), str(windows_cli()),
                   "--key", "BENCHKEY", "--user", "bench", "--quiet", *arguments]
    timing = run / "time.txt"
    status = subprocess.call(["/usr/bin/time", "-f", "%M %U %S", "-o", str(timing), *command],
                             cwd=run, env=bench.env, stdout=subprocess.DEVNULL,
                             stderr=open(run / "stderr.txt", "wb"))
    log = run / "KQ-GET-PNG-XML.txt"
    if not log.exists():
        raise RowFailed(f"kqget-cli on {system} left no log (exit {status})")
    text = log.read_bytes().decode("utf-8", "replace")
    found = {image or info: "fetched by the size rules" for image, info in FETCHED.findall(text)}
    found.update(DAMAGED.findall(text))
    peak, user, system_s = timing.read_text().split()[-3:]
    return found, int(peak) / 1024, float(user) + float(system_s), status


def suite_libraries(bench, root, sound):
    """Each suite as a library of its own; per suite, the library and its (card, file,
    damaged) triples."""
    folders = {"PngSuite": "pngsuite", "libpng crashers": "libpng-crashers",
               "not-wf-sa": "xmltest/not-wf-sa", "valid-sa": "xmltest/valid-sa"}
    suites = {}
    for suite, folder in folders.items():
        data = bench.work / "suites" / folder.replace("/", "-")
        shutil.rmtree(data, ignore_errors=True)
        xml = suite in ("not-wf-sa", "valid-sa")
        files = []
        for number, path in enumerate(sorted((root / folder).glob("*.xml" if xml else "*.png"))):
            damaged = suite != "valid-sa" and (suite != "PngSuite" or path.name.startswith("x"))
            content = path.read_bytes() if xml else padded(path.read_bytes())
            cid = card(data, number, "xml" if xml else "png", content, sound)
            files.append((cid, path, damaged))
        suites[suite] = (data, files)
    return suites


def peer_says_damaged(path, xml):
    command = ["xmllint", "--noout", str(path)] if xml else ["pngcheck", "-q", str(path)]
    return subprocess.call(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) != 0


def run(bench):
    results = []
    root = testdata()
    sound_data = bench.library("sound", 1, name="content-sound")
    first = sorted(sound_data.iterdir())[0]
    sound = ((first / f"{first.name}_full.png").read_bytes(),
             (first / f"{first.name}.xml").read_bytes())
    proxy = bench.card_service()
    systems = ["linux"] + (["windows"] if windows_cli() else [])
    if root is None:
        results.append(failed_result("12 suites", "no conformance suites (KQGET_TESTDATA)"))
    else:
        say("row 12: --verify over the conformance suites, a run per suite")
        for suite, (data, files) in suite_libraries(bench, root, sound).items():
            xml = suite in ("not-wf-sa", "valid-sa")
            peer = sum(peer_says_damaged(path, xml) == damaged for _, path, damaged in files)
            peer_name = "xmllint" if xml else "pngcheck"
            line = f"12 {suite} ({len(files)}): {peer_name} {peer} right"
            found = {}
            for system in systems:
                try:
                    found[system], peak, cpu, _ = verdicts(bench, data, proxy, system)
                except RowFailed as failure:
                    results.append(failed_result(f"12 {suite} on {system}", failure))
                    continue
                flagged = found[system]
                right = sum((cid in flagged) == damaged for cid, _, damaged in files)
                line += f"; {system} {right} right, {peak:.1f} MiB, {cpu:.2f} s CPU"
                wrong = [p.name for cid, p, damaged in files if (cid in flagged) != damaged]
                if wrong:
                    say(f"  {suite} on {system}, wrong: {' '.join(wrong)}")
            if len(found) == 2:
                differ = [p.name for cid, p, _ in files
                          if (cid in found["linux"]) != (cid in found["windows"])]
                line += f"; {len(differ)} differ"
            results.append(Result(line, unit=""))
    results += hostile(bench, proxy, sound, systems)
    return results


def hostile(bench, proxy, sound, systems):
    say("row 12: --verify over the hostile library")
    data = bench.work / "hostile"
    shutil.rmtree(data, ignore_errors=True)
    png, _ = sound
    bomb = zero_stream(3 << 30)
    side = 30000
    files = [
        ("png", with_chunk(png, chunk(b"zTXt", b"Comment\0\0" + bomb)), True),
        ("png", with_chunk(png, chunk(b"iCCP", b"ICC profile\0\0" + bomb)), True),
        ("png", png_of(side, side, zero_stream(900 << 20)), True),
        ("png", png_of(side, side, zero_stream(side * (1 + 3 * side))), True),
        ("png", bad_adler(png), True),
        ("xml", laughs(), True),
        ("png", png, False),
        ("xml", sound[1], False),
    ]
    expected = {card(data, n, kind, content, sound) for n, (kind, content, bad) in
                enumerate(files) if bad}
    results = []
    for system in systems:
        label = f"12 hostile library on {system}: peak memory"
        try:
            found, peak, cpu, _ = verdicts(bench, data, proxy, system)
        except RowFailed as failure:
            results.append(failed_result(label, failure))
            continue
        label += f", {cpu:.2f} s CPU"
        for cid, reason in sorted(found.items()):
            say(f"  {system}: {cid} damaged: {reason}")
        right = set(found) == expected
        result = Result(label, peak, unit="MiB",
                        target=f"{len(expected)} flagged, <= {HOSTILE_MIB} MiB, "
                               f"<= {HOSTILE_CPU_S:g} s")
        within = system != "linux" or (peak <= HOSTILE_MIB and cpu <= HOSTILE_CPU_S)
        result.result = "ok" if right and within else \
            f"MISSED: {len(found)} flagged" + ("" if right else f" ({sorted(found)})")
        results.append(result)
    return results
