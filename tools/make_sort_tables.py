#!/usr/bin/env python3
"""Writes jet/text_sort_tables.cc: the sort codes of the text orders the index key encoder knows.

Usage: tools/make_sort_tables.py SORT_ORDER_DIR > jet/text_sort_tables.cc

SORT_ORDER_DIR holds one line per character for each order (see the shared fixtures' NOTICE.txt):
a kind letter followed by hex codes, for the first 256 code points (index_codes_<order>.txt) and
for the rest of the Basic Multilingual Plane without the surrogates (index_codes_ext_<order>.txt).
The files are read, never copied: the output is our own run-length table (see text_sort_tables.h)
and covers only the code point ranges below. Code points outside them have no entry, and the
encoder refuses them.

Kind letters and what the table makes of them:
  X  ignored: no run data
  S  <primary>                       -> kPlain, primary weight
  I  <primary>,<secondary>           -> kAccented, primary and secondary weight
  U  <control code>                  -> kControl, secondary = the control code
  P  <mark>                          -> kMark, secondary = the amount added to the last accent
  G  <primary> (Jet 3 order only)    -> kLetter, primary weight, a letter position for accents
  Z  <primary>,<secondary or empty>,<1 or empty>
                                     -> kKana (kSmallKana with the 1): primary weight, an optional
                                        secondary (voicing) weight and a size mark
A hex field of odd length stands for one with a leading zero.
"""
import sys

# The order of Access 2000-2007, which every Jet 4 file here uses, is covered for the whole Basic
# Multilingual Plane; the order of Access 2010+ for Basic Latin to Cyrillic, Latin Extended
# Additional, and General Punctuation to Letterlike Symbols: every character of Windows-1252 and
# the scripts product data uses in practice. Jet 3 keys are built from Windows-1252 bytes.
BMP = [(0x0000, 0xD7FF), (0xE000, 0xFFFF)]
WESTERN = [(0x0000, 0x04FF), (0x1E00, 0x1EFF), (0x2000, 0x214F)]

ORDERS = [
    # (C++ name, file stem, covers the BMP (else only the 256 single-byte codes), ranges)
    ("GeneralLegacy", "genleg", True, BMP),
    ("General", "gen", True, WESTERN),
    ("General97", "gen_97", False, [(0x00, 0xFF)]),
]

KINDS = {"X": "kIgnored", "S": "kPlain", "I": "kAccented", "U": "kControl", "P": "kMark",
         "G": "kLetter", "Z": "kKana", "z": "kSmallKana"}


def code_bytes(text):
    if len(text) % 2:
        text = "0" + text
    return bytes.fromhex(text)


def read_lines(path):
    with open(path, encoding="ascii") as f:
        return f.read().split("\n")


def load(directory, stem, bmp):
    codes = {}
    first = read_lines(f"{directory}/index_codes_{stem}.txt")[:256]
    codes.update(zip(range(256), first))
    if bmp:
        points = [cp for cp in range(0x100, 0x10000) if not 0xD800 <= cp <= 0xDFFF]
        ext = read_lines(f"{directory}/index_codes_ext_{stem}.txt")[: len(points)]
        assert len(ext) == len(points), stem
        codes.update(zip(points, ext))
    return codes


def parse(line):
    """(kind, primary bytes, secondary bytes) of one line."""
    kind, fields = line[0], line[1:].split(",")
    if kind == "Z":
        assert len(fields) == 3 and fields[2] in ("", "1"), line
        return ("z" if fields[2] else "Z"), code_bytes(fields[0]), \
            (code_bytes(fields[1]) if fields[1] else b"")
    if kind not in KINDS:
        raise SystemExit(f"unsupported kind {line!r}")
    if kind == "X":
        return kind, b"", b""
    if kind in ("S", "G"):
        assert len(fields) == 1, line
        return kind, code_bytes(fields[0]), b""
    if kind == "I":
        assert len(fields) == 2, line
        return kind, code_bytes(fields[0]), code_bytes(fields[1])
    assert len(fields) == 1, line  # U, P
    return kind, b"", code_bytes(fields[0])


def runs(codes, ranges):
    out = []
    for lo, hi in ranges:
        for cp in range(lo, hi + 1):
            kind, primary, secondary = parse(codes[cp])
            assert len(primary) <= 8 and len(secondary) <= 4, (cp, codes[cp])
            p = int.from_bytes(primary, "big") if primary else 0
            s = int.from_bytes(secondary, "big") if secondary else 0
            if out:
                r = out[-1]
                n = cp - r["first"]
                if r["last"] + 1 == cp and r["kind"] == kind and r["psize"] == len(primary) and \
                        r["ssize"] == len(secondary):
                    # A run either repeats its codes (step 0) or counts one weight up by one per
                    # code point (step 1): the primary of plain codes and letters, the secondary of
                    # controls. Its second code point decides which.
                    if kind in ("S", "G"):
                        steps = [st for st in (0, 1) if p == r["p"] + st * n and s == r["s"]]
                    elif kind == "U":
                        steps = [st for st in (0, 1) if s == r["s"] + st * n and p == r["p"]]
                    else:
                        steps = [0] if (p, s) == (r["p"], r["s"]) else []
                    if r["step"] in steps or (r["step"] is None and steps):
                        r["step"] = r["step"] if r["step"] is not None else steps[0]
                        r["last"] = cp
                        continue
            out.append({"first": cp, "last": cp, "kind": kind, "psize": len(primary), "p": p,
                        "ssize": len(secondary), "s": s, "step": None})
    return out


def main():
    directory = sys.argv[1]
    print("// Generated by tools/make_sort_tables.py from reference lists of the Jet text sort")
    print("// codes; do not edit. See text_sort_tables.h for the meaning of the fields.")
    print('#include "jet/text_sort_tables.h"')
    print()
    print("#include <iterator>")
    print()
    print("namespace jet {")
    print("namespace {")
    print()
    print("using K = SortCodeKind;")
    for name, stem, bmp, ranges in ORDERS:
        table = runs(load(directory, stem, bmp), ranges)
        print()
        print(f"// {', '.join(f'{a:04X}-{b:04X}' for a, b in ranges)}")
        print(f"constexpr SortCodeRun k{name}Runs[] = {{")
        for r in table:
            print(f"    {{0x{r['first']:04X}, 0x{r['last']:04X}, K::{KINDS[r['kind']]}, "
                  f"{r['psize']}, 0x{r['p']:X}, {r['ssize']}, 0x{r['s']:X}, {r['step'] or 0}}},")
        print("};")
    print()
    print("}  // namespace")
    print()
    for name, _, _, _ in ORDERS:
        print(f"const SortCodeTable k{name}Codes = {{k{name}Runs, std::size(k{name}Runs)}};")
    print()
    print("}  // namespace jet")


if __name__ == "__main__":
    main()
