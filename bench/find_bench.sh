#!/usr/bin/env bash
# Times a find by extension over a tree of 100,000 files against find(1) and fd.
#
#   bench/find_bench.sh            (from anywhere; run scripts/build.sh release first)
#
# Environment:
#   BENCH_DIR     where the tree lives (default /tmp/quelvane-bench/find); made once, then reused
#   QUELVANE_CLI  the tool to time (default build/release/quelvane-cli)
#   WALK_BENCH    the walk-only program (default build/release/walk_bench); timed when present
#   RUNS          timed runs of each command (default 5), after one warm-up run each
#
# The tree: 50 folders of 40 folders each, 50 files in every inner folder (100,000 in all), with
# the extensions mp4, jpg, txt, doc, mp3 in turn and sizes from 0 to 64 KiB. The files are sparse
# (their sizes are set, no data written): a find reads only names and metadata.
#
# Prints for each command the median wall time, its ratio to find and to fd, and the peak
# resident memory of the tool.
set -euo pipefail
cd "$(dirname "$0")/.."

BENCH_DIR=${BENCH_DIR:-/tmp/quelvane-bench/find}
QUELVANE_CLI=${QUELVANE_CLI:-build/release/quelvane-cli}
WALK_BENCH=${WALK_BENCH:-build/release/walk_bench}
RUNS=${RUNS:-5}
TREE="$BENCH_DIR/tree"
STAMP="$BENCH_DIR/complete-v1"

if [[ ! -e "$STAMP" ]]; then
  echo "making the tree under $TREE ..." >&2
  rm -rf "$TREE"
  mkdir -p "$TREE"
  /usr/bin/python3 - "$TREE" <<'PY'
import os, sys
root = sys.argv[1]
extensions = ["mp4", "jpg", "txt", "doc", "mp3"]
n = 0
for outer in range(50):
    for inner in range(40):
        folder = os.path.join(root, "dir%02d" % outer, "sub%02d" % inner)
        os.makedirs(folder)
        for _ in range(50):
            size = (n * 2654435761) % 65537  # 0 .. 65536 bytes, spread evenly
            name = "file%06d.%s" % (n, extensions[n % 5])
            with open(os.path.join(folder, name), "wb") as f:
                f.truncate(size)
            n += 1
print("%d files" % n, file=sys.stderr)
PY
  touch "$STAMP"
fi

cli_args=()
if [[ -x "$QUELVANE_CLI" ]] && "$QUELVANE_CLI" --ext mp4 --quiet "$TREE" >/dev/null 2>&1; then
  cli_args=("$QUELVANE_CLI")
else
  echo "note: $QUELVANE_CLI missing or not yet able to find; not timed" >&2
fi
[[ -x "$WALK_BENCH" ]] || WALK_BENCH=""
command -v fdfind >/dev/null || echo "note: fdfind (Debian's fd-find) is not installed" >&2

# Times the commands interleaved: one warm-up each, then RUNS rounds of all of them. Standard
# output and standard error go to /dev/null; the peak RSS is wait4's figure for each child.
/usr/bin/python3 - "$RUNS" "$TREE" "${cli_args[0]:-}" "$WALK_BENCH" <<'PY'
import os, shutil, statistics, sys, time
runs, tree, cli, walk_bench = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
commands = []
if cli:
    commands.append(("quelvane-cli", [cli, "--ext", "mp4", "--quiet", tree]))
if walk_bench:
    commands.append(("walk_bench", [walk_bench, tree, "mp4"]))
commands.append(("find", ["find", tree, "-type", "f", "-name", "*.mp4",
                          "-printf", "%s %C@ %T@ %p\n"]))
if shutil.which("fdfind"):
    commands.append(("fdfind", ["fdfind", "-u", "-t", "f", "-e", "mp4", ".", tree]))

def run(argv):
    devnull = os.open(os.devnull, os.O_WRONLY)
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1),
                                        (os.POSIX_SPAWN_DUP2, devnull, 2)])
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    os.close(devnull)
    return elapsed, usage.ru_maxrss, os.waitstatus_to_exitcode(status)

times = {name: [] for name, _ in commands}
rss = {name: 0 for name, _ in commands}
for name, argv in commands:
    run(argv)  # warm-up: caches filled, binaries loaded
for _ in range(runs):
    for name, argv in commands:
        elapsed, peak, code = run(argv)
        if code != 0:
            sys.exit("%s exited with status %d" % (name, code))
        times[name].append(elapsed)
        rss[name] = max(rss[name], peak)

medians = {name: statistics.median(t) for name, t in times.items()}
print("%d files under %s; %d timed runs each after a warm-up" % (100000, tree, runs))
print("%-14s %10s %8s %10s %13s" % ("command", "median ms", "/ find", "/ fdfind", "peak RSS KiB"))
for name, _ in commands:
    m = medians[name]
    to_fd = "%.2f" % (m / medians["fdfind"]) if "fdfind" in medians else "-"
    print("%-14s %10.1f %8.2f %10s %13d" % (name, m * 1000, m / medians["find"], to_fd, rss[name]))
for name, _ in commands:
    print("  %-12s runs ms: %s" % (name, " ".join("%.1f" % (t * 1000) for t in times[name])))
PY
