#!/usr/bin/env bash
# The import into a target of about 1.5 GB: 40,000 articles and 1,000 add-ons, so that every
# product gets 1,000 assignments (40 million rows). Prints the time, the peak resident memory and
# the finished target's size, and the peak as a multiple of that size. Takes a minute or two and
# about 3.5 GB in the temporary folder (the source, the target, and the new file the commit writes
# beside it), so it is neither part of CI nor of bench/run.sh.
#
#   bash bench/large_target.sh [BUILD_DIR]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
if [[ ! -d "$build" ]]; then
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target import-run make-source >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/target"
printf '[DB]\nRoot=%s/\n' "$work/target" >"$work/config/ZentavoSettings.ini"
cp "$repo/tests/data/target.mdb" "$work/target/DBZentavo.mdb"

"$build/bench/make-source" 40000 1000 "$work/source.mdb" >/dev/null
XDG_CONFIG_HOME="$work/config" /usr/bin/time -v -o "$work/time.txt" \
  "$build/bench/import-run" "$work/source.mdb" >"$work/out.txt" 2>"$work/log.txt"
sed 's/^/   /' "$work/log.txt"
bytes="$(stat -c %s "$work/target/DBZentavo.mdb")"
peak_kb="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
awk -v b="$bytes" -v p="$peak_kb" 'BEGIN {
  printf "   finished target: %.1f MB\n", b / 1048576
  printf "   peak resident memory: %.1f MB = %.2f x the target file\n", p / 1024, p * 1024 / b
}'
