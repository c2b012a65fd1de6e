#!/usr/bin/env bash
# Builds the project and starts the program produkte-import.
#   bash tools/run.sh
#
# Installs missing Debian packages first (as root, or through sudo; otherwise it names them).
# Where no target database is recorded in the settings yet, the program runs on the bundled
# sample databases: a scratch copy of tests/data/target.mdb as DBZentavo.mdb and a settings file
# pointing at it, in a scratch folder (XDG_CONFIG_HOME); neither your real settings nor any real
# database is touched. Choose tests/data/source.mdb in the file dialog; afterwards the script
# prints the new rows.
# Without a display: xvfb-run bash tools/run.sh
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo="$PWD"

source tools/deps.sh
pi_install_packages "${PI_BUILD_PACKAGES[@]}"

echo "== configure build/"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPI_BUILD_APP=ON
echo "== build build/ (produkte-import, jet-inspect)"
cmake --build build -j2 --target produkte-import jet-inspect

program="$repo/build/app/produkte-import"
inspect="$repo/build/tools/jet-inspect"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run.sh: there is no display (DISPLAY and WAYLAND_DISPLAY are empty), so the window" >&2
  echo "cannot be shown. To start it on a virtual X server (Debian package xvfb):" >&2
  echo "  xvfb-run bash tools/run.sh" >&2
  echo "(the window is then not visible; 'bash tools/test.sh' takes screenshots of it," >&2
  echo "kept in build/app/tests/screenshots/)." >&2
  exit 1
fi

# Is a target folder recorded? The same lookup as the program: [DB] Root= in
# $XDG_CONFIG_HOME/ZentavoSettings.ini (or ~/.config/...), section and key in any letter case.
settings="${XDG_CONFIG_HOME:-${HOME:-}/.config}/ZentavoSettings.ini"
root=""
if [[ -r "$settings" ]]; then
  root="$(awk '
    { sub(/\r$/, "") }
    /^[ \t]*\[/ { s = $0; gsub(/[ \t\[\]]/, "", s); in_db = (tolower(s) == "db"); next }
    in_db && index($0, "=") {
      k = substr($0, 1, index($0, "=") - 1); gsub(/[ \t]/, "", k)
      if (tolower(k) == "root") { print substr($0, index($0, "=") + 1); exit }
    }' "$settings")"
fi

# Or does Zentavo run under Wine, with its entry in a prefix's registry? The program searches
# $WINEPREFIX alone when it is set, else ~/.wine and the front ends' prefixes (README, "Zentavo
# on Linux"); the same places here, Lutris's game configurations left to the program. A set
# $WINEPREFIX is the program's to judge (it names any fault).
wine_registry=""
if [[ -z "$root" && -n "${WINEPREFIX+set}" ]]; then
  wine_registry="\$WINEPREFIX ($WINEPREFIX)"
elif [[ -z "$root" ]]; then
  data="${XDG_DATA_HOME:-${HOME:-}/.local/share}"
  for prefix in "${HOME:-}/.wine" "${WINE_PREFIXES:-$data/wineprefixes}"/* \
    "$data"/bottles/bottles/* "${HOME:-}"/.var/app/com.usebottles.bottles/data/bottles/bottles/* \
    "${HOME:-}"/.PlayOnLinux/wineprefix/* "${HOME:-}"/.cxoffice/*; do
    if [[ -r "$prefix/user.reg" ]] &&
      grep -qi '^\[Software\\\\VB and VBA Program Settings\\\\ZentavoSettings\\\\DB\]' \
        "$prefix/user.reg"; then
      wine_registry="$prefix/user.reg"
      break
    fi
  done
fi

if [[ -n "$wine_registry" ]]; then
  echo "== produkte-import (target folder as recorded in $wine_registry)"
  set +e
  "$program"
  status=$?
  set -e
  echo "== produkte-import ended with status $status"
  exit "$status"
fi

if [[ -n "$root" ]]; then
  echo "== produkte-import (target folder from $settings: $root)"
  set +e
  "$program"
  status=$?
  set -e
  echo "== produkte-import ended with status $status"
  exit "$status"
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/produkte-import-XXXXXX")"
cp tests/data/target.mdb "$scratch/DBZentavo.mdb"
chmod u+w "$scratch/DBZentavo.mdb"
mkdir -p "$scratch/config"
printf '[DB]\nRoot=%s/\n' "$scratch" >"$scratch/config/ZentavoSettings.ini"

cat <<EOF
== No target database is recorded in the settings ($settings).
   The program runs on the sample databases instead:
     target:   $scratch/DBZentavo.mdb (a copy of tests/data/target.mdb)
     settings: $scratch/config/ZentavoSettings.ini
   Click "...", choose $repo/tests/data/source.mdb
   (the dialog opens in tests/data), then "Produkte Importieren".
EOF

set +e
(cd tests/data && XDG_CONFIG_HOME="$scratch/config" "$program")
status=$?
set -e
echo "== produkte-import ended with status $status"

echo "== $inspect --password pwok572hafxi317nrb export $scratch/DBZentavo.mdb tbl_Verwaltung_Produkte | head"
# head closes the pipe early; that is not a failure of the inspector.
set +o pipefail
"$inspect" --password pwok572hafxi317nrb export "$scratch/DBZentavo.mdb" \
  tbl_Verwaltung_Produkte | head
export_status=("${PIPESTATUS[@]}")
set -o pipefail
if [[ "${export_status[0]}" -ne 0 && "${export_status[0]}" -ne 141 ]]; then
  echo "run.sh: jet-inspect export failed with status ${export_status[0]}" >&2
fi
echo "== the sample target stays in $scratch (remove it with: rm -r $scratch)"
exit "$status"
