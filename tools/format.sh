#!/usr/bin/env bash
# Formats the project's C and C++ sources with clang-format (.clang-format), or checks them.
#   bash tools/format.sh          formats every source in place
#   bash tools/format.sh --check  changes nothing; fails and names each file that is not formatted
# The sources are the files git knows, except the generated tables (tools/sources.sh).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

if ! command -v clang-format >/dev/null 2>&1; then
  echo "tools/format.sh: clang-format is missing (Debian package clang-format)" >&2
  exit 1
fi

source tools/sources.sh
pi_sources_into files '*.c' '*.cc' '*.cpp' '*.h'

if [[ "${1:-}" == "--check" ]]; then
  if ! clang-format --dry-run -Werror "${files[@]}"; then
    echo "tools/format.sh: the files above are not formatted; run: bash tools/format.sh" >&2
    exit 1
  fi
  echo "== format: ${#files[@]} files formatted"
else
  clang-format -i "${files[@]}"
fi
