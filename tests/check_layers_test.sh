#!/bin/sh
# tools/check_layers.sh catches what it is there for: on a copy of the sources it must pass
# untouched and fail, naming the fault, on each planted fault below.
# Usage: check_layers_test.sh SOURCE_DIR
set -u
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0

# A fresh copy of the sources the check reads.
copy() {
  rm -rf "$scratch/src" && mkdir -p "$scratch/src/tools" &&
    (cd "$source_dir" && find jet db host run validate import app tools tests bench fuzz \
      \( -name '*.h' -o -name '*.cc' -o -name '*.cpp' -o -name CMakeLists.txt \
      -o -name check_layers.sh \) -print | tar cf - -T -) |
    (cd "$scratch/src" && tar xf -)
}

# plant NAME EXPECTED FILE SED-EXPRESSION: on a fresh copy, edit FILE and expect EXPECTED in the
# check's output and a failing exit.
plant() {
  copy
  sed -i "$4" "$scratch/src/$3"
  output=$(cd "$scratch/src" && sh tools/check_layers.sh 2>&1)
  code=$?
  if [ $code -eq 0 ] || ! printf '%s\n' "$output" | grep -qF "$2"; then
    echo "FAIL: $1: exit $code, expected '$2' in:"
    printf '%s\n' "$output"
    failures=$((failures + 1))
  else
    echo "ok: $1: $(printf '%s\n' "$output" | grep -F "$2" | head -n 1)"
  fi
}

copy
if ! (cd "$scratch/src" && sh tools/check_layers.sh); then
  echo "FAIL: the untouched sources do not pass"
  failures=$((failures + 1))
fi

plant "an engine subsystem includes one above it" "jet/base/ includes table/" \
  jet/base/status.h 's|^#include "jet/base/errors.h"|&\n#include "jet/table/table_def.h"|'
plant "a folder includes a layer above it" "db/ includes run/" \
  db/error.h 's|^#include "jet/base/errors.h"|&\n#include "run/user_side.h"|'
plant "two files of one subsystem include each other" "jet/text/unicode" \
  jet/text/unicode.cc 's|^#include "jet/text/unicode.h"|&\n#include "jet/text/text_codec.h"|'
plant "a library does not link what its sources include" "jet_page links" \
  jet/page/CMakeLists.txt 's|PUBLIC jet_base jet_file|PUBLIC jet_base|'

[ $failures -eq 0 ]
