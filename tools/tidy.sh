#!/usr/bin/env bash
# Checks the project's C++ sources with clang-tidy (.clang-tidy), two files at a time.
#   bash tools/tidy.sh [build-dir [file...]]   (default build/ and every source; it needs the
#                                               build's compile_commands.json)
# Prints each finding once and exits 1 when there is any; changes nothing.
# The sources are the .cc and .cpp files git knows, except the generated tables
# (jet/text/text_sort_tables.cc, jet/text/case_tables.cc); their headers are checked through
# them (HeaderFilterRegex). The fuzz entry points, built only with PI_FUZZ, get the commands of
# their neighbours in the compilation database.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

build="${1:-build}"
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [[ -z "$tidy" ]]; then
  echo "tools/tidy.sh: clang-tidy is missing (Debian package clang-tidy)" >&2
  exit 1
fi
if [[ ! -f "$build/compile_commands.json" ]]; then
  echo "tools/tidy.sh: no $build/compile_commands.json; configure the build first" >&2
  exit 1
fi

if (($# > 1)); then
  files=("${@:2}")
else
  source tools/sources.sh
  pi_sources_into files '*.cc' '*.cpp'
fi

out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
printf '%s\0' "${files[@]}" |
  xargs -0 -n 1 -P 2 "$tidy" -p "$build" --quiet --warnings-as-errors='*' >"$out" 2>&1 ||
  status=$?

# A header's finding comes once from every file that includes it: print each once.
findings=$(grep -E '^[^ ].*: (warning|error): ' "$out" | sed "s|^$PWD/||" | sort -u || true)
if [[ "$status" -ne 0 || -n "$findings" ]]; then
  if [[ -n "$findings" ]]; then
    echo "$findings"
    echo "tools/tidy.sh: $(wc -l <<<"$findings") findings in ${#files[@]} files" >&2
  else
    cat "$out"
    echo "tools/tidy.sh: clang-tidy failed" >&2
  fi
  exit 1
fi
echo "== tidy: ${#files[@]} files without findings"
