#!/usr/bin/env bash
# Jet's 2 GB database limit at real size: a commit that would grow the sample target past it
# fails with error 3036 and leaves the file as it was; one that stays below it is stored. Takes
# minutes, about 2.2 GB of memory and 2 GB in the temporary folder, so it is not part of CI or of
# bench/run.sh.
#
#   bash bench/size_limit.sh [BUILD_DIR]
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
if [[ ! -d "$build" ]]; then
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target size_limit_bench >/dev/null
/usr/bin/env time -v "$build/bench/size_limit_bench" 2> >(grep -E "Maximum resident|Elapsed" >&2)
