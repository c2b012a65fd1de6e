#!/usr/bin/env bash
# Writes the user.reg files of this folder with real Wine (Debian package wine64): each comes
# from a fresh prefix in a scratch folder, into which `wine64 reg add` wrote the values below.
#   bash tests/data/wine/make_registries.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export WINEDEBUG=-all PATH="/usr/lib/wine:$PATH"
key='HKCU\Software\VB and VBA Program Settings\ZentavoSettings'

# reg NAME VALUE-NAME TYPE DATA [SECTION]: one value into the prefix NAME
reg() {
  WINEPREFIX="$scratch/$1" wine64 reg add "$key\\${5:-DB}" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1
}
done_with() {
  WINEPREFIX="$scratch/$1" wineserver -w
  cp "$scratch/$1/user.reg" "$here/$1.reg"
}

# The entry as Zentavo records it: umlauts (one before a hex digit), blanks and quotes; beside
# it, in another section, values of every kind the parser must read or refuse.
reg umlauts Root REG_SZ 'C:\Programme\Kassenbüro "Süd"\Daten\'
reg umlauts Tab REG_SZ $'a\tb\\c'
reg umlauts Weit REG_SZ $'\u0416\u20ac\U0001F600x'
reg umlauts Leer REG_SZ ''
reg umlauts Pfad REG_EXPAND_SZ '%USERPROFILE%\Zentavo\' Typen
reg umlauts Zahl REG_DWORD 42 Typen
reg umlauts Liste REG_MULTI_SZ 'C:\Eins\0C:\Zwei\' Typen
reg umlauts Bytes REG_BINARY 43003a005c00 Typen
done_with umlauts

# The key and the value name in other letter case than the program asks for, as an expandable
# string.
WINEPREFIX="$scratch/case" wine64 reg add \
  'HKCU\SOFTWARE\vb and vba program settings\ZENTAVOSETTINGS\db' /v ROOT /t REG_EXPAND_SZ \
  /d 'c:\programme\zentavo\' /f >/dev/null 2>&1
done_with case

# A prefix that holds no entry of Zentavo.
WINEPREFIX="$scratch/empty" wine64 reg add 'HKCU\Software\Andere' /v Root /d 'C:\x\' /f \
  >/dev/null 2>&1
done_with empty
