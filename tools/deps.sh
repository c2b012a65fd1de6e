# The Debian packages the project needs, and the step that installs the missing ones.
# Sourced by tools/run.sh, tools/test.sh and tools/package.sh:
#   source tools/deps.sh
#   pi_install_packages "${PI_BUILD_PACKAGES[@]}" "${PI_TEST_PACKAGES[@]}" $(pi_node_packages)

# Building the program, the inspector and the tests.
PI_BUILD_PACKAGES=(
  g++ cmake ninja-build ccache pkg-config
  googletest libgtest-dev libgmock-dev
  # the window (Qt 6 Widgets), German texts of Qt's dialogs, Arial-compatible fonts
  qt6-base-dev qt6-translations-l10n fonts-liberation
)

# Running every test: the two independent readers the tests compare with (mdb-export from
# mdbtools; mdb-reader from npm, which needs Node.js and certificates to reach the registry),
# the screenshot test's virtual X server, the checks of the desktop entry and metadata, and the
# tests under Wine (prefixes written by real Wine, a Windows program that holds Jet's lock), and
# clang-format and clang-tidy for the checks that every source is formatted and passes
# .clang-tidy, and the file systems of the commit
# tests: bindfs (a FUSE file system that shows one fixed owner, as a CIFS share mounted with uid=
# does), ntfs-3g and dosfstools (NTFS and vfat images, mounted where the machine allows).
PI_TEST_PACKAGES=(
  mdbtools clang-format clang-tidy
  # the format and tidy checks take the sources from git ls-files
  git
  ca-certificates
  xvfb xauth desktop-file-utils appstream
  wine64 gcc-mingw-w64-x86-64
  bindfs ntfs-3g dosfstools
)

# Node.js and npm for mdb-reader, named only when their commands are missing: Node.js may come
# from another package that already bundles npm (Debian's npm then conflicts with it).
pi_node_packages() {
  command -v node >/dev/null 2>&1 || echo nodejs
  command -v npm >/dev/null 2>&1 || echo npm
}

# Building the Debian package: dpkg-shlibdeps works out its dependencies, lintian checks it.
PI_PACKAGE_PACKAGES=(
  dpkg-dev file lintian appstream desktop-file-utils
)

# Installs the packages of the arguments that are missing, as root or through sudo. Without
# either it names them and returns 1. On a system without dpkg it says what is needed and goes
# on: the build then finds what it can.
pi_install_packages() {
  local script
  script="$(basename "${BASH_SOURCE[1]:-$0}")"
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "$script: not a Debian system; needed (Debian names): $*" >&2
    return 0
  fi
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  ((${#missing[@]} > 0)) || return 0

  local sudo=()
  if [[ "$(id -u)" -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "$script: these packages are missing; install them as root and run again:" >&2
      echo "  apt-get install ${missing[*]}" >&2
      return 1
    fi
  fi
  echo "== installing${sudo:+ (sudo)}: ${missing[*]}"
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
}
