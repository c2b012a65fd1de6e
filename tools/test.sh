#!/usr/bin/env bash
# Builds the project and runs every test.
#   bash tools/test.sh
# With PI_CI_SANITIZE=1 or CI=true it also builds the engine and the tests with
# AddressSanitizer/UndefinedBehaviorSanitizer (build-asan/) and runs the tests there.
# With CI=true warnings are errors.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

CI="${CI:-}"
PI_CI_SANITIZE="${PI_CI_SANITIZE:-}"

if [[ ! -d node_modules/mdb-reader ]]; then
  echo "== npm ci (test oracle mdb-reader)"
  npm ci --no-audit --no-fund
fi

# The tests under Wine skip without these; say so before they run.
wine_packages=(wine64 gcc-mingw-w64-x86-64)
for p in "${wine_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    echo "== note: $p is not installed; the tests under Wine will skip (apt-get install $p)"
  fi
done

cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "$CI" == "true" ]]; then
  cmake_args+=(-DPI_WERROR=ON)
fi

echo "== configure build/"
cmake -S . -B build "${cmake_args[@]}"
echo "== build build/"
cmake --build build -j2
echo "== test build/"
ctest --test-dir build --output-on-failure -j2

if [[ "$PI_CI_SANITIZE" == "1" || "$CI" == "true" ]]; then
  echo "== configure build-asan/"
  cmake -S . -B build-asan "${cmake_args[@]}" -DPI_SANITIZE=ON
  echo "== build build-asan/ (engine and tests)"
  # pi_all_tests depends on every test executable and on the engine library jet.
  cmake --build build-asan -j2 --target pi_all_tests
  echo "== test build-asan/"
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
    ctest --test-dir build-asan --output-on-failure -j2
fi
