#!/usr/bin/env python3
"""Writes the fuzzer's seed files (fuzz/seeds/) from the test databases in tests/data/.

Seeds are whole databases: a prefix of a file does not open, since the catalog's property
values live on pages near the end.

    python3 fuzz/make_seeds.py
"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tests" / "data"
SEEDS = ROOT / "fuzz" / "seeds"

HEADER_KEY = bytes([0xC7, 0xDA, 0x39, 0x6B])
MASKED_AT, MASKED_LEN = 0x18, 128
PASSWORD_AT, PASSWORD_LEN = 0x42, 40
CREATED_AT = 0x72


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for c in data:
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(c ^ s[(s[i] + s[j]) & 0xFF])
    return out


def without_password(data):
    """The file with its stored (Jet 4) password removed, so that it opens without one."""
    data = bytearray(data)
    plain = rc4(HEADER_KEY, data[MASKED_AT:MASKED_AT + MASKED_LEN])
    created = struct.unpack_from("<d", plain, CREATED_AT - MASKED_AT)[0]
    mask = struct.pack("<i", int(created))
    start = PASSWORD_AT - MASKED_AT
    for i in range(PASSWORD_LEN):
        plain[start + i] = mask[i % 4]  # a stored password of NULs
    data[MASKED_AT:MASKED_AT + MASKED_LEN] = rc4(HEADER_KEY, plain)
    return bytes(data)


def main():
    SEEDS.mkdir(exist_ok=True)
    target = without_password((DATA / "target.mdb").read_bytes())
    seeds = {
        "source-no-zusatz.mdb": (DATA / "source-no-zusatz.mdb").read_bytes(),
        "source-quotes.mdb": (DATA / "source-quotes.mdb").read_bytes(),
        "source-empty.mdb": (DATA / "source-empty.mdb").read_bytes(),
        # The target without its password: Memo values in chains of long-value rows.
        "target-no-password.mdb": target,
    }
    for name, data in seeds.items():
        (SEEDS / name).write_bytes(data)


if __name__ == "__main__":
    main()
