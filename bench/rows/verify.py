"""Row 9: kqget-cli --verify over 2,000 sound cards (a 140 KB, 320x440 RGB
PNG and a small XML each, nothing to fetch), against pngcheck -q over the
same PNGs plus xmllint --noout over the same XMLs, one process each."""

from benchkit import RowFailed, Side, failed_result, ratio_result, say

VERIFY_CARDS = 2000
TARGET = 1.0
# Nothing may be fetched; a proxy where nothing listens makes sure of it.
NOWHERE = "http://127.0.0.1:9"


def run(bench):
    cards = bench.size(VERIFY_CARDS)
    label = f"9 --verify {cards} sound cards: cli vs pngcheck + xmllint"
    data = bench.library("sound", cards)
    ids = sorted(entry.name for entry in data.iterdir())
    pngs = [str(data / i / f"{i}_full.png") for i in ids]
    xmls = [str(data / i / f"{i}.xml") for i in ids]
    say(f"row 9: --verify over {cards} sound cards, against pngcheck and xmllint")

    def log_sound():
        log = (bench.work / "kq" / "KQ-GET-PNG-XML.txt").read_bytes().decode("utf-8", "replace")
        if " damaged: " in log or "Download File" in log:
            return "kqget-cli found damage or fetched in a sound library"
        if log.count("\r\n") != 3 * len(ids):
            return f"the run log has {log.count(chr(13) + chr(10))} lines, not {3 * len(ids)}"
        return None

    kq = Side("kq", lambda: bench.cli("--verify", "--proxy", NOWHERE, "--data", f"{data}/"),
              bench.work / "kq", check=log_sound)
    base = Side("base", lambda: [["pngcheck", "-q", *pngs], ["xmllint", "--noout", *xmls]],
                bench.work / "base")
    try:
        best = bench.interleave([kq, base])
    except RowFailed as failure:
        return [failed_result(label, failure, f"<= {TARGET:g}x")]
    return [ratio_result(label, best, "kq", "base", TARGET)]
