"""win_resources.py FILE: the Windows resources of FILE, a compiled resource script (.res, from
windres) or a program (PE32 or PE32+), read from their own structures (the .res headers, or
the PE's resource directory), one fact a line, fields separated by tabs:

  resource  TYPE  NAME  LANGUAGE  BYTES        every resource (TYPE and NAME: number or text)
  icon      GROUP  WxH  BITS  mask|nomask      each image of an icon group, as the image is
  bitmap    NAME  WxH  BITS  COMPRESSION       each bitmap
  version   file|product  A.B.C.D              the fixed part of the version record
  version   os|type  0xHEX
  string    BLOCK  KEY  VALUE                  the record's strings
  translation  0xLANG  CODEPAGE
  manifest  dpiAware|dpiAwareness  TEXT        the manifest (type 24)'s settings ...
  manifest  dependency  NAME  VERSION          ... and the assemblies it asks for
  error     TEXT                               what does not hold together

Exits with status 1 when the file is neither, or something is malformed.
"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_BITMAP, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 2, 14, 16, 24
errors = []


def u16(b, at):
    return struct.unpack_from("<H", b, at)[0]


def u32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def from_res(data):
    """(type, name, language, bytes) of every entry of a .res file."""
    out, at = [], 0
    while at + 8 <= len(data):
        size, header = u32(data, at), u32(data, at + 4)
        p = at + 8

        def ident(p):
            if u16(data, p) == 0xFFFF:
                return u16(data, p + 2), p + 4
            end = p
            while u16(data, end):
                end += 2
            return data[p:end].decode("utf-16-le"), end + 2

        rtype, p = ident(p)
        name, p = ident(p)
        p = (p + 3) & ~3
        language = u16(data, p + 6)
        body = data[at + header : at + header + size]
        if len(body) != size:
            raise ValueError("a resource runs past the end of the file")
        if size or rtype != 0:  # the empty first entry of every .res
            out.append((rtype, name, language, body))
        at = (at + header + size + 3) & ~3
    return out


def from_pe(data):
    """(type, name, language, bytes) of every resource in a PE's resource directory."""
    pe = u32(data, 0x3C)
    if data[pe : pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional = u16(data, pe + 6), u16(data, pe + 20)
    opt = pe + 24
    magic = u16(data, opt)
    dirs = opt + (96 if magic == 0x10B else 112)
    rva, _ = struct.unpack_from("<II", data, dirs + 2 * 8)  # the resource directory
    table = []
    for i in range(sections):
        s = opt + optional + 40 * i
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        table.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(r):
        for vaddr, size, rawptr in table:
            if vaddr <= r < vaddr + size:
                return rawptr + r - vaddr
        raise ValueError("RVA 0x%x lies in no section" % r)

    if not rva:
        return []
    base = offset(rva)

    def entries(at):
        named, ids = u16(data, base + at + 12), u16(data, base + at + 14)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            if name & 0x80000000:
                n = base + (name & 0x7FFFFFFF)
                name = data[n + 2 : n + 2 + 2 * u16(data, n)].decode("utf-16-le")
            yield name, target

    out = []
    for rtype, t in entries(0):
        for name, n in entries(t & 0x7FFFFFFF):
            for language, leaf in entries(n & 0x7FFFFFFF):
                if leaf & 0x80000000:
                    raise ValueError("a fourth level in the resource directory")
                r, size = struct.unpack_from("<II", data, base + leaf)
                at = offset(r)
                out.append((rtype, name, language, data[at : at + size]))
    return out


def image(b):
    """(width, height, bits, mask) of an icon image: a PNG, or a DIB with its AND mask."""
    if b[:8] == b"\x89PNG\r\n\x1a\n":
        w, h, depth = struct.unpack_from(">IIB", b, 16)
        return w, h, depth * {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(b[25], 1), False
    _, w, h2, _, bits = struct.unpack_from("<IiiHH", b, 0)
    h = h2 // 2
    colours = u32(b, 32) or (1 << bits if bits <= 8 else 0)
    xor = ((w * bits + 31) // 32) * 4 * h
    mask = ((w + 31) // 32) * 4 * h
    has_mask = h2 == 2 * w and len(b) >= u32(b, 0) + 4 * colours + xor + mask
    return w, h, bits, has_mask


def version(b):
    """The version record: the fixed part, the strings and the translations."""

    def block(at):
        length, value_length, kind = u16(b, at), u16(b, at + 2), u16(b, at + 4)
        end = at + 6
        while u16(b, end):
            end += 2
        key = b[at + 6 : end].decode("utf-16-le")
        p = (end + 2 + 3) & ~3
        value = b[p : p + (2 * value_length if kind == 1 else value_length)]
        children, c = [], (p + len(value) + 3) & ~3
        while c < at + length:
            child = block(c)
            children.append(child)
            c = (c + u16(b, c) + 3) & ~3
        return key, kind, value, children

    key, _, fixed, children = block(0)
    if key != "VS_VERSION_INFO" or len(fixed) < 52 or u32(fixed, 0) != 0xFEEF04BD:
        errors.append("the version record has no fixed part")
        return
    def dotted(hi, lo):
        return "%d.%d.%d.%d" % (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    ms, ls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    print("version\tfile\t" + dotted(ms, ls))
    print("version\tproduct\t" + dotted(pms, pls))
    print("version\tos\t0x%x" % u32(fixed, 32))
    print("version\ttype\t0x%x" % u32(fixed, 36))
    for name, _, _, tables in children:
        for table, _, value, items in tables:
            if name == "StringFileInfo":
                for k, _, v, _ in items:
                    print("string\t%s\t%s\t%s" % (table, k, v.decode("utf-16-le").rstrip("\0")))
            elif name == "VarFileInfo" and table == "Translation":
                for i in range(0, len(value) - 3, 4):
                    print("translation\t0x%04x\t%d" % (u16(value, i), u16(value, i + 2)))


def manifest(b):
    try:
        root = ET.fromstring(b)
    except ET.ParseError as e:
        errors.append("the manifest is not well-formed XML: %s" % e)
        return
    for e in root.iter():
        tag = e.tag.split("}")[-1]
        if tag in ("dpiAware", "dpiAwareness"):
            print("manifest\t%s\t%s" % (tag, (e.text or "").strip()))
        if tag == "dependentAssembly":
            for a in e:
                if a.tag.split("}")[-1] == "assemblyIdentity":
                    print("manifest\tdependency\t%s\t%s" % (a.get("name"), a.get("version")))


def main():
    data = open(sys.argv[1], "rb").read()
    try:
        resources = from_pe(data) if data[:2] == b"MZ" else from_res(data)
    except (ValueError, struct.error, UnicodeDecodeError) as e:
        print("error\t%s" % e)
        return 1
    icons = {}
    for rtype, name, language, body in resources:
        print("resource\t%s\t%s\t%d\t%d" % (rtype, name, language, len(body)))
        if rtype == RT_ICON:
            icons[name] = body
    for rtype, name, language, body in resources:
        try:
            if rtype == RT_GROUP_ICON:
                for i in range(u16(body, 4)):
                    w, h, _, _, _, bits, size, ident = struct.unpack_from("<BBBBHHIH", body, 6 + 14 * i)
                    got = icons.get(ident)
                    if got is None or len(got) != size:
                        errors.append("icon group %s: image %d missing or of another size" % (name, ident))
                        continue
                    iw, ih, ibits, mask = image(got)
                    if (w or 256, h or 256, bits) != (iw, ih, ibits):
                        errors.append("icon group %s: its entry %d disagrees with the image" % (name, ident))
                    print("icon\t%s\t%dx%d\t%d\t%s" % (name, iw, ih, ibits, "mask" if mask else "nomask"))
            elif rtype == RT_BITMAP:
                _, w, h, _, bits, compression = struct.unpack_from("<IiiHHI", body, 0)
                print("bitmap\t%s\t%dx%d\t%d\t%d" % (name, w, h, bits, compression))
            elif rtype == RT_VERSION:
                version(body)
            elif rtype == RT_MANIFEST:
                manifest(body)
        except (struct.error, UnicodeDecodeError) as e:
            errors.append("resource %s %s is malformed: %s" % (rtype, name, e))
    for e in errors:
        print("error\t" + e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
