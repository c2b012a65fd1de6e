#!/usr/bin/env bash
# Installs what the build and the tests need, builds the project and runs every test.
#   bash tools/test.sh
# Missing Debian packages are installed as root or through sudo (otherwise the script names them
# and stops); the npm test oracle mdb-reader is installed with npm ci.
# With PI_CI_SANITIZE=1 or CI=true it also builds the engine and the tests with
# AddressSanitizer/UndefinedBehaviorSanitizer (build-asan/) and runs the tests there.
# With CI=true warnings are errors. Unformatted sources fail the run before anything is built;
# a clang-tidy finding (tools/tidy.sh, .clang-tidy) fails it after the build, before the tests.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

CI="${CI:-}"
PI_CI_SANITIZE="${PI_CI_SANITIZE:-}"

source tools/deps.sh
pi_install_packages "${PI_BUILD_PACKAGES[@]}" "${PI_TEST_PACKAGES[@]}" $(pi_node_packages)

if [[ ! -d node_modules/mdb-reader ]]; then
  echo "== npm ci (test oracle mdb-reader)"
  npm ci --no-audit --no-fund
fi

echo "== check formatting"
bash tools/format.sh --check

cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "$CI" == "true" ]]; then
  cmake_args+=(-DPI_WERROR=ON)
fi

echo "== configure build/"
cmake -S . -B build "${cmake_args[@]}"
echo "== build build/"
cmake --build build -j2
echo "== clang-tidy (build/compile_commands.json)"
bash tools/tidy.sh build
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
