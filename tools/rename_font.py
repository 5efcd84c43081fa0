#!/usr/bin/env python3
"""rename_font.py IN.ttf OUT.ttf OLD NEW: copies a TrueType font, giving it another name.

Every name record that names the face (family, unique, full and PostScript names, typographic
family and full names) has OLD, and OLD without its spaces, replaced by NEW and NEW without its
spaces; copyright, trademark and licence records stay as they are. The glyphs, metrics and every
other table are copied unchanged; the name table's checksum and the font's own checksum
adjustment are computed afresh.

The program's windows use faces of a family name of its own (Kelvarion Sans: Liberation Sans
2.1.5, renamed), so that no face the system has installed under the original name can stand in
for them. The tests also use it to make a system face that claims a name.
"""

import struct
import sys

NAMING_IDS = {1, 3, 4, 6, 16, 18, 21}


def checksum(data):
    data += b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def read_tables(font):
    version, count = struct.unpack(">IH", font[:6])
    tables = {}
    for i in range(count):
        tag, _, offset, length = struct.unpack(">4sIII", font[12 + 16 * i : 28 + 16 * i])
        tables[tag] = font[offset : offset + length]
    return version, tables


def rename(name_table, old, new):
    fmt, count, strings = struct.unpack(">HHH", name_table[:6])
    if fmt != 0:
        raise SystemExit("only name table format 0 is handled")
    records, pool = [], bytearray()
    for i in range(count):
        pid, eid, lid, nid, length, offset = struct.unpack(
            ">HHHHHH", name_table[6 + 12 * i : 18 + 12 * i]
        )
        raw = name_table[strings + offset : strings + offset + length]
        if nid in NAMING_IDS:
            encoding = "utf-16-be" if pid in (0, 3) else "latin-1"
            text = raw.decode(encoding)
            text = text.replace(old, new).replace(old.replace(" ", ""), new.replace(" ", ""))
            raw = text.encode(encoding)
        records.append((pid, eid, lid, nid, len(raw), len(pool)))
        pool += raw
    head = struct.pack(">HHH", 0, count, 6 + 12 * count)
    return head + b"".join(struct.pack(">HHHHHH", *r) for r in records) + bytes(pool)


def build(version, tables):
    tags = sorted(tables)
    count = len(tags)
    power = 1
    while power * 2 <= count:
        power *= 2
    header = struct.pack(">IHHHH", version, count, 16 * power, power.bit_length() - 1,
                         16 * count - 16 * power)
    offset = 12 + 16 * count
    directory, body = b"", b""
    for tag in tags:
        data = tables[tag]
        directory += struct.pack(">4sIII", tag, checksum(data), offset, len(data))
        padded = data + b"\0" * (-len(data) % 4)
        body += padded
        offset += len(padded)
    return bytearray(header + directory + body)


def main():
    if len(sys.argv) != 5:
        raise SystemExit(__doc__.splitlines()[0])
    source, target, old, new = sys.argv[1:]
    with open(source, "rb") as f:
        version, tables = read_tables(f.read())
    tables[b"name"] = rename(tables[b"name"], old, new)
    head = bytearray(tables[b"head"])
    head[8:12] = b"\0\0\0\0"  # checkSumAdjustment, computed over the whole font below
    tables[b"head"] = bytes(head)
    font = build(version, tables)
    adjustment = (0xB1B0AFBA - checksum(bytes(font))) & 0xFFFFFFFF
    head_offset = font.index(struct.pack(">4sI", b"head", checksum(tables[b"head"])))
    where = struct.unpack(">I", font[head_offset + 8 : head_offset + 12])[0]
    font[where + 8 : where + 12] = struct.pack(">I", adjustment)
    with open(target, "wb") as f:
        f.write(font)


if __name__ == "__main__":
    main()
