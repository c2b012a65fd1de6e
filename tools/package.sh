#!/usr/bin/env bash
# Builds the Debian package of produkte-import for this machine's architecture and prints its
# path as the last line.
#   bash tools/package.sh
# Installs the missing Debian packages first (as root or through sudo), builds a release in
# build-deb/ with Debian's hardening flags, lets CPack make the package (its Depends worked out
# by dpkg-shlibdeps) and has lintian check it.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
source tools/deps.sh
pi_install_packages "${PI_BUILD_PACKAGES[@]}" "${PI_PACKAGE_PACKAGES[@]}"

# Debian's flags for hardened programs (fortified functions, stack protector, full RELRO).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="${CXXFLAGS:-} ${CPPFLAGS:-}"

echo "== configure build-deb/" >&2
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPI_BUILD_APP=ON -DPI_BUILD_TESTS=OFF >&2
echo "== build build-deb/" >&2
cmake --build build-deb -j2 >&2
echo "== cpack" >&2
(cd build-deb && cpack -G DEB >&2)

deb="$(ls -t "$PWD"/build-deb/produkte-import_*.deb | head -n 1)"
if command -v lintian >/dev/null 2>&1; then
  echo "== lintian" >&2
  # Errors fail the build of the package; warnings are listed.
  lintian --fail-on error "$deb" >&2
fi
echo "$deb"
