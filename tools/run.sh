#!/usr/bin/env bash
# Builds the project and runs the inspector on the sample source database.
#   bash tools/run.sh
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

echo "== configure build/"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== build build/"
cmake --build build -j2

inspect=build/tools/jet-inspect
if [[ ! -x "$inspect" ]]; then
  echo "run.sh: $inspect does not exist yet (the inspector in tools/ is not built)." >&2
  exit 1
fi

echo "== $inspect tables tests/data/source.mdb"
"$inspect" tables tests/data/source.mdb
echo "== $inspect export tests/data/source.mdb ArtikelStamm | head -20"
# head closes the pipe early; that is not a failure of the inspector.
set +o pipefail
"$inspect" export tests/data/source.mdb ArtikelStamm | head -20
status=("${PIPESTATUS[@]}")
set -o pipefail
if [[ "${status[0]}" -ne 0 && "${status[0]}" -ne 141 ]]; then
  echo "run.sh: jet-inspect export failed with status ${status[0]}" >&2
  exit "${status[0]}"
fi
