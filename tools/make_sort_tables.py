#!/usr/bin/env python3
"""Writes jet/text/text_sort_tables.cc: the sort codes of the text orders the index key encoder knows.

Usage: tools/make_sort_tables.py SORT_ORDER_DIR > jet/text/text_sort_tables.cc

SORT_ORDER_DIR holds one line per character for each order (see the shared fixtures' NOTICE.txt):
a kind letter followed by hex codes, for the first 256 code points (index_codes_<order>.txt) and
for the rest of the Basic Multilingual Plane without the surrogates (index_codes_ext_<order>.txt).
The files are read, never copied: the output is our own run table (see text_sort_tables.h). The
two Jet 4 orders cover every UTF-16 code unit 0000-FFFF, the Jet 3 order the 256 bytes of
Windows-1252.

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

Surrogate code units (D800-DFFF) have no line in the lists and get no weight here: the table gives
them one run of kind kSurrogate (internally "Q"), and the key encoder computes their codes by the
rule Access follows for them (jet/text/text_sort_key.cc).
"""
import sys

SURROGATES = (0xD800, 0xDFFF)

ORDERS = [
    # (C++ name, file stem, code units covered: the BMP, or the 256 single-byte codes)
    ("GeneralLegacy", "genleg", 0x10000),
    ("General", "gen", 0x10000),
    ("General97", "gen_97", 0x100),
]

KINDS = {"X": "kIgnored", "S": "kPlain", "I": "kAccented", "U": "kControl", "P": "kMark",
         "G": "kLetter", "Z": "kKana", "z": "kSmallKana", "C": "kAccentCycle",
         "Q": "kSurrogate"}
INT16 = (-(1 << 15), (1 << 15) - 1)


def code_bytes(text):
    if len(text) % 2:
        text = "0" + text
    return bytes.fromhex(text)


def read_lines(path):
    with open(path, encoding="ascii") as f:
        return f.read().split("\n")


def parse(line):
    """(kind, primary bytes, secondary bytes) of one line."""
    kind, fields = line[0], line[1:].split(",")
    if kind == "Z":
        assert len(fields) == 3 and fields[2] in ("", "1"), line
        return ("z" if fields[2] else "Z"), code_bytes(fields[0]), \
            (code_bytes(fields[1]) if fields[1] else b"")
    if kind not in KINDS or kind in ("z", "C", "Q"):
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


def load(directory, stem, end):
    """The (kind, primary, secondary) of every code unit below `end`."""
    lines = read_lines(f"{directory}/index_codes_{stem}.txt")[:256]
    codes = [parse(line) for line in lines]
    if end > 0x100:
        points = [cp for cp in range(0x100, end) if not SURROGATES[0] <= cp <= SURROGATES[1]]
        ext = read_lines(f"{directory}/index_codes_ext_{stem}.txt")[: len(points)]
        assert len(ext) == len(points), stem
        listed = dict(zip(points, (parse(line) for line in ext)))
        codes += [listed.get(cp, ("Q", b"", b"")) for cp in range(0x100, end)]
    assert len(codes) == end, stem
    return codes


def value(b):
    return int.from_bytes(b, "big") if b else 0


def cycle_at(codes, cp):
    """An accent cycle starting at cp: a plain code followed by accented codes of the same primary
    weight whose accent weights count up by a fixed amount. Returns (group, first accent, accent
    step) or None."""
    kind, primary, _ = codes[cp]
    if kind != "S" or len(primary) > 4:
        return None
    accents = []
    i = cp + 1
    while i < len(codes) and codes[i][0] == "I" and codes[i][1] == primary and \
            len(codes[i][2]) == 1:
        accents.append(codes[i][2][0])
        i += 1
    if len(accents) < 2:
        return None
    d = accents[1] - accents[0]
    if d <= 0 or any(a != accents[0] + k * d for k, a in enumerate(accents)):
        return None
    return 1 + len(accents), accents[0], d


def runs(codes):
    """Runs of code units. A run either repeats its codes (step 0), counts one weight up by a
    fixed step per code unit (the primary weight; the code of controls and marks), or, as an
    accent cycle, repeats a group of one plain and several accented code units whose primary
    weight counts up by `step` per group."""
    out = []
    cp = 0
    while cp < len(codes):
        kind, primary, secondary = codes[cp]
        cyc = cycle_at(codes, cp)
        if cyc is not None:
            group, accent, accent_step = cyc
            r = {"first": cp, "kind": "C", "psize": len(primary), "p": value(primary),
                 "ssize": 1, "s": accent, "step": None, "group": group, "astep": accent_step}
            q = 1
            while True:
                nxt = cp + q * group
                if nxt + group > len(codes) or cycle_at(codes, nxt) != cyc or \
                        len(codes[nxt][1]) != len(primary):
                    break
                d = value(codes[nxt][1]) - r["p"]
                if r["step"] is None:
                    if d % q or not INT16[0] <= d // q <= INT16[1]:
                        break
                    r["step"] = d // q
                if d != r["step"] * q:
                    break
                q += 1
            if q >= 2:
                r["step"] = r["step"] or 0
                out.append(r)
                cp += q * group
                continue
        p, s = value(primary), value(secondary)
        if out:
            r = out[-1]
            n = cp - r["first"]
            if r["kind"] == kind and r["psize"] == len(primary) and r["ssize"] == len(secondary):
                if kind in ("X", "Q"):
                    cp += 1
                    continue
                # The counting weight: the primary one, or the code of controls and marks.
                counting, fixed = ((s, r["s"]), (p, r["p"])) if kind in ("U", "P") else \
                    ((p, r["p"]), (s, r["s"]))
                d = counting[0] - counting[1]
                if fixed[0] == fixed[1] and (len(primary) <= 4 or d == 0):
                    if r["step"] is None and d % n == 0 and INT16[0] <= d // n <= INT16[1]:
                        r["step"] = d // n
                    if r["step"] is not None and d == r["step"] * n:
                        cp += 1
                        continue
        out.append({"first": cp, "kind": kind, "psize": len(primary), "p": p,
                    "ssize": len(secondary), "s": s, "step": None, "group": 0, "astep": 0})
        cp += 1
    for r in out:
        r["step"] = r["step"] or 0
    return out


def main():
    directory = sys.argv[1]
    tables = []
    for name, stem, end in ORDERS:
        table = runs(load(directory, stem, end))
        wide = []
        for r in table:
            if r["psize"] > 4:
                r["p"], wide = len(wide), wide + [r["p"]]
            assert r["s"] < (1 << 32) and r["psize"] <= 8 and r["ssize"] <= 4
        blocks = []
        for b in range(end >> 8):
            i = max(k for k, r in enumerate(table) if r["first"] <= b << 8)
            blocks.append(i)
        assert len(table) < (1 << 16)
        tables.append((name, end, table, wide, blocks))
    print("// Generated by tools/make_sort_tables.py from reference lists of the Jet text sort")
    print("// codes; do not edit. See text_sort_tables.h for the meaning of the fields.")
    print('#include "jet/text/text_sort_tables.h"')
    print()
    print("#include <iterator>")
    print()
    print("namespace jet {")
    print("namespace {")
    print()
    print("using K = SortCodeKind;")
    for name, end, table, wide, blocks in tables:
        print()
        print(f"// 0000-{end - 1:04X}: {len(table)} runs")
        print(f"constexpr SortCodeRun k{name}Runs[] = {{")
        for r in table:
            print(f"    {{0x{r['p']:X}, 0x{r['s']:X}, 0x{r['first']:04X}, {r['step']}, "
                  f"K::{KINDS[r['kind']]}, 0x{r['psize']:X}{r['ssize']:X}, {r['group']}, "
                  f"0x{r['astep']:X}}},")
        print("};")
        print(f"constexpr std::uint64_t k{name}Wide[] = {{")
        print("    " + ", ".join(f"0x{w:X}" for w in wide) + ("," if wide else "0"))
        print("};")
        print(f"constexpr std::uint16_t k{name}Blocks[] = {{")
        for i in range(0, len(blocks), 12):
            print("    " + " ".join(f"{b}," for b in blocks[i:i + 12]))
        print("};")
    print()
    print("}  // namespace")
    print()
    for name, end, _, _, _ in tables:
        print(f"const SortCodeTable k{name}Codes = {{k{name}Runs, std::size(k{name}Runs), "
              f"0x{end:X}, k{name}Wide, k{name}Blocks}};")
    print()
    print("}  // namespace jet")


if __name__ == "__main__":
    main()
