#!/usr/bin/env python3
"""Checks that the built Windows DLL carries the resources of resources/zsmime.rc.

Reads the PE resource directory of the DLL and compares every dialog template
(caption, font, size, style, each control's id, class, style, rectangle and
text, in order) and bitmap with what the resource script says.

Usage: check_dll_resources.py zsmime.dll [resources/zsmime.rc]
Exit status 0 when everything matches; each difference is printed.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "resources"))
import gen_resource_table as rc  # noqa: E402

RT_BITMAP, RT_DIALOG = 2, 5

# Windows SDK values of the style names the script uses.
STYLE_VALUES = {
    "WS_POPUP": 0x80000000, "WS_CHILD": 0x40000000, "WS_VISIBLE": 0x10000000,
    "WS_CAPTION": 0x00C00000, "WS_BORDER": 0x00800000, "WS_VSCROLL": 0x00200000,
    "WS_HSCROLL": 0x00100000, "WS_SYSMENU": 0x00080000, "WS_GROUP": 0x00020000,
    "WS_TABSTOP": 0x00010000, "DS_MODALFRAME": 0x80, "DS_SETFONT": 0x40,
    "BS_PUSHBUTTON": 0, "BS_DEFPUSHBUTTON": 1, "BS_AUTOCHECKBOX": 3,
    "SS_LEFT": 0, "SS_BITMAP": 0x0E, "ES_LEFT": 0, "ES_AUTOHSCROLL": 0x80,
    "ES_READONLY": 0x800, "CBS_DROPDOWNLIST": 3, "CBS_SORT": 0x100,
}
CLASS_ATOMS = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox",
               0x84: "scrollbar", 0x85: "combobox"}


def style_value(style, base=()):
    value = 0
    for name in base:
        value |= STYLE_VALUES[name]
    for negated, name in style:
        if negated:
            value &= ~STYLE_VALUES[name]
        else:
            value |= STYLE_VALUES[name]
    return value & 0xFFFFFFFF


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.rsrc_rva, self.rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(vsize, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA 0x%x outside the sections" % rva)

    def entries(self, directory_rva):
        base = self.offset(self.rsrc_rva)
        at = base + directory_rva
        named, ids = struct.unpack_from("<12xHH", self.data, at)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
            yield name, target

    def resources(self):
        """(type, id, language) -> bytes, for resources with numeric type and id."""
        found = {}
        base = self.offset(self.rsrc_rva)
        for rtype, types in self.entries(0):
            for rid, ids in self.entries(types & 0x7FFFFFFF):
                for lang, leaf in self.entries(ids & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    found[(rtype, rid, lang)] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def unpack(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values

    def align(self):
        self.at = (self.at + 3) & ~3

    def sz_or_ord(self):
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0xFFFF:
            self.at += 4
            return struct.unpack_from("<H", self.data, self.at - 2)[0]
        end = self.at
        while struct.unpack_from("<H", self.data, end)[0] != 0:
            end += 2
        text = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return text


def decode_dialog(data):
    r = Reader(data)
    style, _, count, x, y, cx, cy = r.unpack("IIHhhhh")
    dialog = {"style": style, "rect": (x, y, cx, cy), "menu": r.sz_or_ord(), "class": r.sz_or_ord(),
              "caption": r.sz_or_ord(), "font": None, "controls": []}
    if style & STYLE_VALUES["DS_SETFONT"]:
        points = r.unpack("H")[0]
        dialog["font"] = (points, r.sz_or_ord())
    for _ in range(count):
        r.align()
        cstyle, _, x, y, cx, cy, cid = r.unpack("IIhhhhH")
        klass = r.sz_or_ord()
        text = r.sz_or_ord()
        extra = r.unpack("H")[0]
        r.at += extra
        if isinstance(klass, int):
            klass = CLASS_ATOMS.get(klass, "#%d" % klass)
        dialog["controls"].append({"style": cstyle, "rect": (x, y, cx, cy), "id": cid,
                                   "class": klass.lower(), "text": text})
    return dialog


def check(dll_path, rc_path):
    problems = []
    with open(dll_path, "rb") as f:
        found = Pe(f.read()).resources()
    dialogs, bitmaps, defines = rc.parse_rc(rc_path)

    def lookup(rtype, rid):
        for (t, i, _), data in found.items():
            if t == rtype and i == rid:
                return data
        problems.append("resource type %d id %d is missing" % (rtype, rid))
        return None

    for d in dialogs:
        rid = rc.resolve(d.id_name, defines)
        data = lookup(RT_DIALOG, rid)
        if data is None:
            continue
        got = decode_dialog(data)
        want_style = style_value(d.style, ["DS_SETFONT"] if d.font else [])
        where = "dialog %d" % rid
        if got["style"] != want_style:
            problems.append("%s: style 0x%08X, expected 0x%08X" % (where, got["style"], want_style))
        if got["rect"] != d.rect:
            problems.append("%s: rectangle %s, expected %s" % (where, got["rect"], d.rect))
        if got["caption"] != d.caption:
            problems.append("%s: caption %r, expected %r" % (where, got["caption"], d.caption))
        if got["font"] != d.font:
            problems.append("%s: font %r, expected %r" % (where, got["font"], d.font))
        if len(got["controls"]) != len(d.controls):
            problems.append("%s: %d controls, expected %d" % (where, len(got["controls"]), len(d.controls)))
        for i, (g, w) in enumerate(zip(got["controls"], d.controls)):
            at = "%s control %d" % (where, i)
            want_id = rc.resolve(w.id_name, defines) & 0xFFFF
            want_text = w.text if w.text is not None else rc.resolve(w.image, defines)
            checks = [("id", g["id"], want_id), ("class", g["class"], w.class_name.lower()),
                      ("style", g["style"], style_value(w.style, ["WS_CHILD", "WS_VISIBLE"])),
                      ("rectangle", g["rect"], w.rect), ("text", g["text"], want_text)]
            for what, have, want in checks:
                if have != want:
                    problems.append("%s: %s %r, expected %r" % (at, what, have, want))
    for name, path in bitmaps:
        rid = rc.resolve(name, defines)
        data = lookup(RT_BITMAP, rid)
        if data is None:
            continue
        with open(path, "rb") as f:
            bmp = f.read()
        if data != bmp[14:]:
            problems.append("bitmap %d differs from %s" % (rid, path))
        width, height, _, bits = struct.unpack_from("<iiHH", data, 4)
        print("bitmap %d: %dx%d, %d bits per pixel" % (rid, width, height, bits))
    for d in dialogs:
        rid = rc.resolve(d.id_name, defines)
        print("dialog %d: %r, %d controls" % (rid, d.caption, len(d.controls)))
    return problems


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    rc_path = sys.argv[2] if len(sys.argv) == 3 else os.path.join(HERE, "..", "resources", "zsmime.rc")
    problems = check(sys.argv[1], rc_path)
    for p in problems:
        print("MISMATCH: " + p)
    print("ok" if not problems else "%d mismatches" % len(problems))
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
