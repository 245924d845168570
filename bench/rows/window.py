"""Row 4: the Qt window offscreen (fields filled, box ticked, button pressed,
until "DONE !") against kqget-cli over the library of row 1."""

from benchkit import Result, RowFailed, Side, failed_result, ratio_result, say
from rows.walk import WALK_CARDS, logs_differ

TARGET = 1.5


def run(bench):
    cards = bench.size(WALK_CARDS[0])
    label = f"4 walk {cards} cards: window vs cli"
    driver = bench.bin / "kqget-bench-window"
    if not driver.exists():
        return [Result(label, target=f"<= {TARGET}x",
                       result="NOT RUN: this build has no window")]
    data = bench.library("walk", cards)
    say("row 4: walk, the window offscreen against kqget-cli")
    xdg = bench.work / "xdg"
    xdg.mkdir(mode=0o700, exist_ok=True)
    for side in ("kq", "base"):
        (bench.work / side / "KQ-GET-PNG-XML.txt").unlink(missing_ok=True)
    window = Side("kq", lambda: [str(driver), "BENCHKEY", "bench", f"{data}/"], bench.work / "kq",
                  check=lambda: logs_differ(bench),
                  env={"QT_QPA_PLATFORM": "offscreen", "XDG_RUNTIME_DIR": str(xdg)})
    cli = Side("base", lambda: bench.cli("--data", f"{data}/"), bench.work / "base",
               check=lambda: logs_differ(bench))
    try:
        best = bench.interleave([window, cli])
        if logs_differ(bench):
            raise RowFailed("the two run logs differ")
    except RowFailed as failure:
        return [failed_result(label, failure, f"<= {TARGET}x")]
    return [ratio_result(label, best, "kq", "base", TARGET)]
