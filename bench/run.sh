#!/usr/bin/env bash
# The import's figures in one run: the large migration (source-large.mdb into a copy of the
# sample target) with its phases, the share of the check before writing (also in a second import
# into the large finished target), the floor it is measured against, peak memory, the scaling
# series and the read rate.
#
#   bash bench/run.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build/ (built here with the benchmark programs if needed). Needs
# mdb-export (Debian mdbtools) and /usr/bin/time (Debian time). Prints figures; asserts nothing.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
data="$repo/tests/data"

for tool in mdb-export /usr/bin/time; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "bench/run.sh: $tool fehlt (sudo apt-get install -y mdbtools time)" >&2
    exit 1
  fi
done

if [[ ! -d "$build" ]]; then
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target import-run read_bench make-source >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/target"
printf '[DB]\nRoot=%s/\n' "$work/target" >"$work/config/ZentavoSettings.ini"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }

# One import of SOURCE into a fresh copy of TARGET (default: the sample target). Sets run_seconds,
# run_check_seconds (the check before writing), run_peak_kb, run_target_bytes and run_log
# (import-run's per-phase lines).
import_once() {
  local source="$1"
  cp "${2:-$data/target.mdb}" "$work/target/DBZentavo.mdb"
  XDG_CONFIG_HOME="$work/config" /usr/bin/time -v -o "$work/time.txt" \
    "$build/bench/import-run" "$source" >"$work/out.txt" 2>"$work/log.txt"
  run_log="$(cat "$work/log.txt")"
  run_seconds="$(sed -n 's/^Gesamt: \([0-9.]*\) s.*/\1/p' "$work/log.txt")"
  run_check_seconds="$(sed -n 's/^Prüfung vor dem Schreiben: \([0-9.e+-]*\) s.*/\1/p' \
    "$work/log.txt")"
  run_peak_kb="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
  run_target_bytes="$(stat -c %s "$work/target/DBZentavo.mdb")"
}

# The median of a list of numbers.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Every figure of the large migration, of its floor and of each scaling point is the median of
# this many runs; the peak memory is the largest of the runs.
runs=5

echo "== Large migration: source-large.mdb into a copy of target.mdb ($runs runs)"
declare -a large_times=() large_checks=()
large_peak_kb=0
for ((i = 1; i <= runs; i++)); do
  import_once "$data/source-large.mdb"
  large_times+=("$run_seconds")
  large_checks+=("$run_check_seconds")
  ((run_peak_kb > large_peak_kb)) && large_peak_kb="$run_peak_kb"
  [[ $i -eq 1 ]] && echo "$run_log" | sed 's/^/   /'
done
large_seconds="$(median "${large_times[@]}")"
large_bytes="$run_target_bytes"
echo "   runs: ${large_times[*]} s; median $large_seconds s"
echo "   finished target: $(calc "$large_bytes / 1048576" 1) MB"
cp "$work/target/DBZentavo.mdb" "$work/large-target.mdb"

# The check before the first change to each table the import writes (damage refused, what Access
# leaves repaired): its time as a share of the whole import, into the sample target and again
# into the large target just made, whose six tables the import empties and fills (2.2 million
# rows checked).
echo "== The check before writing (goal: at most 5 % of the import)"
large_check="$(median "${large_checks[@]}")"
echo "   into the sample target: $large_check s of $large_seconds s =" \
  "$(calc "$large_check * 100 / $large_seconds" 1) %"
declare -a again_times=() again_checks=() again_shares=()
for ((i = 1; i <= 3; i++)); do
  import_once "$data/source-large.mdb" "$work/large-target.mdb"
  again_times+=("$run_seconds")
  again_checks+=("$run_check_seconds")
  again_shares+=("$(calc "$run_check_seconds * 100 / $run_seconds" 2)")
done
echo "   into the large target ($(calc "$(stat -c %s "$work/large-target.mdb") / 1048576" 1) MB," \
  "3 runs): check ${again_checks[*]} s of ${again_times[*]} s;" \
  "median share $(median "${again_shares[@]}") %"
rm -f "$work/large-target.mdb"

echo "== Floor ($runs runs each)"
blocks=$(((large_bytes + 4095) / 4096))
declare -a dd_times=() export_times=()
for ((i = 1; i <= runs; i++)); do
  start="$(now)"
  dd if=/dev/zero of="$work/floor.bin" bs=4k count="$blocks" conv=fsync status=none
  dd_times+=("$(calc "$(now) - $start" 3)")
  rm -f "$work/floor.bin"
  start="$(now)"
  mdb-export "$data/source-large.mdb" ArtikelStamm >/dev/null
  export_times+=("$(calc "$(now) - $start" 3)")
done
dd_seconds="$(median "${dd_times[@]}")"
export_seconds="$(median "${export_times[@]}")"
floor="$(calc "$dd_seconds + $export_seconds" 3)"
echo "   write and fsync $blocks blocks of 4 KiB: $dd_seconds s (median of ${dd_times[*]})"
echo "   mdb-export ArtikelStamm of the source:  $export_seconds s (median of ${export_times[*]})"
echo "   floor:                                  $floor s"

echo "== Ratios (goals: time at most 3x the floor, memory at most 1.25x the target file)"
echo "   time:   $large_seconds s = $(calc "$large_seconds / $floor" 2) x the floor"
echo "   memory: peak $(calc "$large_peak_kb / 1024" 1) MB =" \
  "$(calc "$large_peak_kb * 1024 / $large_bytes" 2) x the target file"

echo "== Scaling (100 add-ons, 10 prices each; groups of 100 articles; median of $runs runs)"
printf '   %8s %10s %9s %10s %12s %9s\n' articles "rows" seconds "peak MB" "us per row" "vs mean"
declare -a counts=(5000 10000 20000 40000) per_row=() lines=()
for n in "${counts[@]}"; do
  "$build/bench/make-source" "$n" 100 "$work/source-$n.mdb" >/dev/null
  # The median of the runs: a single run on a busy machine can be far off.
  point_times=()
  point_peak_kb=0
  for ((i = 1; i <= runs; i++)); do
    import_once "$work/source-$n.mdb"
    point_times+=("$run_seconds")
    if ((run_peak_kb > point_peak_kb)); then point_peak_kb=$run_peak_kb; fi
  done
  run_seconds="$(median "${point_times[@]}")"
  run_peak_kb=$point_peak_kb
  groups=$((n / 100 > 0 ? n / 100 : 1))
  # Rows the run writes: categories, products, ten prices each, add-ons, ten prices each, and
  # every product/add-on assignment.
  rows=$((groups + n + 10 * n + 100 + 1000 + n * 100))
  us="$(calc "$run_seconds * 1000000 / $rows" 3)"
  per_row+=("$us")
  lines+=("$n $rows $run_seconds $(calc "$run_peak_kb / 1024" 1) $us")
  rm -f "$work/source-$n.mdb"
done
mean="$(printf '%s\n' "${per_row[@]}" | awk '{ s += $1 } END { printf "%.6f", s / NR }')"
for line in "${lines[@]}"; do
  read -r n rows seconds peak us <<<"$line"
  printf '   %8s %10s %9s %10s %12s %8s%%\n' "$n" "$rows" "$seconds" "$peak" "$us" \
    "$(calc "($us / $mean - 1) * 100" 1)"
done
echo "   (linear: every series point within 25 % of the mean time per row)"

echo "== Reading (goal: at least 5x the rows per second of mdb-export)"
"$build/bench/read_bench" "$data/source-large.mdb" | sed 's/^/   /'
