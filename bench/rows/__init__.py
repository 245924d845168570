"""The benchmark's rows, by the number `--rows` takes.

Adding a row: write a module here with a function that takes the Bench
(benchkit.py) and returns a list of benchkit.Result, one per table line, and
add it to ROWS below with its number; rows run in this order. A timed row
builds its two programs as benchkit.Side (the command, the folder it runs
in, what to do before each run and what to check after it) and lets
bench.interleave() time them; a failed program or check raises RowFailed,
which the row turns into a FAILED line with failed_result(). What a row
needs from the build goes in bench/CMakeLists.txt and in TARGETS (run.py);
its libraries come from bench.library(), its servers from
bench.card_service() or bench.nginx() with a template in bench/nginx/, and
are stopped at the end. Describe the row in bench/RESULTS.md's table.
"""

from rows import content, fetch, https, latency, memory, syscalls, verify, walk, window

ROWS = {
    "1": walk.run,
    "2": fetch.run,
    "3": latency.run_latency,
    "4": window.run,
    "5": memory.run_growth,
    "6": latency.run_tail,
    "7": memory.run_held,
    "8": https.run,
    "9": verify.run,
    "10": memory.run_million,
    "11": syscalls.run,
    "12": content.run,
}
