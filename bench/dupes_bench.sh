#!/usr/bin/env bash
# Times duplicate finding on two trees against jdupes, fdupes and rmlint, and against md5sum
# over the files that get a digest (the floor for MD5 on all cores).
#
#   bench/dupes_bench.sh           (from anywhere; run scripts/build.sh release first)
#
# Environment:
#   BENCH_DIR     where the trees live (default /tmp/quelvane-bench); made once, then reused
#   BUILD_DIR     the build with quelvane-cli, dupes_tree_gen and dupes_engine
#                 (default build/release)
#   QUELVANE_CLI  the tool to time (default $BUILD_DIR/quelvane-cli)
#   RUNS          timed runs of each command (default 5), after one warm-up run each
#   TREES         which trees (default "small big")
#   PEERS         which peers to time (default "jdupes fdupes rmlint"; rmlint alone takes about
#                 half a minute a run on "small")
#
# The trees (bench/dupes_tree_gen.cpp, the same bytes on every run):
#   small  100,000 files of 0-64 KiB in 2,000 folders, extensions mp4, jpg, txt, doc, mp3 in
#          turn; 20 % of them are copies of 2,000 originals
#   big    60 files of 1-24 MiB (.mp4) and one copy of each in another folder
# Runs are interleaved (one of each command, then the next round), with a warm page cache and
# standard output to /dev/null. jdupes leaves out empty files (no -z); the others count them.
#
# Prints per tree the median wall time of each command, its ratio to jdupes and to the MD5
# floor, and the peak resident memory of quelvane-cli.
set -euo pipefail
cd "$(dirname "$0")/.."

BENCH_DIR=${BENCH_DIR:-/tmp/quelvane-bench}
BUILD_DIR=${BUILD_DIR:-build/release}
QUELVANE_CLI=${QUELVANE_CLI:-$BUILD_DIR/quelvane-cli}
RUNS=${RUNS:-5}
TREES=${TREES:-small big}
PEERS=${PEERS:-jdupes fdupes rmlint}
GEN="$BUILD_DIR/dupes_tree_gen"
ENGINE="$BUILD_DIR/dupes_engine"
EXTS=mp4,jpg,txt,doc,mp3

for tool in "$QUELVANE_CLI" "$GEN" "$ENGINE"; do
  if [[ ! -x "$tool" ]]; then
    echo "missing $tool: build it first (scripts/build.sh release)" >&2
    exit 1
  fi
done
# The commands run from a scratch folder (rmlint leaves files in the current one).
QUELVANE_CLI=$(realpath "$QUELVANE_CLI")
GEN=$(realpath "$GEN")
ENGINE=$(realpath "$ENGINE")
mkdir -p "$BENCH_DIR"
BENCH_DIR=$(realpath "$BENCH_DIR")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tree in $TREES; do
  if [[ ! -e "$BENCH_DIR/$tree.complete" ]]; then
    echo "making the $tree tree under $BENCH_DIR/$tree (once) ..." >&2
    rm -rf "${BENCH_DIR:?}/$tree"
    "$GEN" "$tree" "$BENCH_DIR/$tree"
  fi
done

# Milliseconds of wall time of one run of a command, its output thrown away.
millis() {
  local start end
  start=$(date +%s%N)
  (cd "$work" && "$@" >/dev/null 2>&1) || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# The files the pass hashed in full, split into one list per core with about equal bytes
# (largest first, each to the lighter list), for md5sum on every list at once.
split_hashed() {
  rm -f "$work"/part*
  "$ENGINE" --list-hashed "$work/hashed" "$1" 2>/dev/null
  tr '\0' '\n' <"$work/hashed" | xargs -r -d '\n' stat -c '%s %n' | sort -rn |
    awk -v n="$(nproc)" -v out="$work/part" '{
      best = 0
      for (i = 1; i < n; i++) if (load[i] < load[best]) best = i
      load[best] += $1
      sub(/^[0-9]+ /, "")
      print > (out best)
    }'
  hashed_count=$(tr -cd '\0' <"$work/hashed" | wc -c)
}

run_quelvane() { "$QUELVANE_CLI" --dupes --ext "$EXTS" --quiet "$dir"; }
run_jdupes() { jdupes -r -q "$dir"; }
run_fdupes() { fdupes -r -q "$dir"; }
run_rmlint() { rmlint "$dir" -o fdupes:/dev/null; }
run_md5_floor() {
  local part
  for part in "$work"/part*; do xargs -r -d '\n' md5sum <"$part" & done
  wait
}

read -r -a peers <<<"$PEERS"
names=(quelvane "${peers[@]}" md5_floor)
printf '%-6s %-10s %9s %9s %9s\n' tree command median/s "/jdupes" "/md5"
verdicts=()
for tree in $TREES; do
  dir="$BENCH_DIR/$tree"
  split_hashed "$dir"
  declare -A times=()
  for round in $(seq 0 "$RUNS"); do  # round 0 warms up (and fills the page cache)
    for name in "${names[@]}"; do
      [[ $name == md5_floor || $name == quelvane ]] || command -v "$name" >/dev/null || continue
      t=$(millis "run_$name")
      ((round > 0)) && times[$name]+="$t "
    done
  done
  declare -A med=()
  for name in "${names[@]}"; do
    [[ -n ${times[$name]:-} ]] && med[$name]=$(median <<<"${times[$name]}")
  done
  for name in "${names[@]}"; do
    [[ -n ${med[$name]:-} ]] || continue
    printf '%-6s %-10s %9s %9s %9s\n' "$tree" "$name" "${med[$name]}" \
      "$(ratio "${med[$name]}" "${med[jdupes]:-0}")" "$(ratio "${med[$name]}" "${med[md5_floor]}")"
  done
  /usr/bin/time -v -o "$work/rss" "$QUELVANE_CLI" --dupes --ext "$EXTS" --quiet "$dir" \
    >/dev/null 2>&1 || true
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$work/rss")
  echo "$tree   quelvane-cli peak RSS $rss MB; md5 floor over $hashed_count files hashed in full"
  case $tree in
    small) verdicts+=("small: quelvane $(ratio "${med[quelvane]}" "${med[jdupes]:-0}") x jdupes (budget 0.60)") ;;
    big)
      verdicts+=("big: quelvane $(ratio "${med[quelvane]}" "${med[md5_floor]}") x md5 floor (budget 1.10)")
      verdicts+=("big: peak RSS $rss MB (budget 150)")
      ;;
  esac
  unset times med
done
printf '%s\n' "${verdicts[@]}"
