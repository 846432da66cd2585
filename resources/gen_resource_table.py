#!/usr/bin/env python3
"""Reads the resource script and writes it out as the POSIX platform's table.

The Windows build compiles zsmime.rc with windres; the POSIX build has no
resource section, so this script turns the same script into a C++ table that
is linked into the module and found by the platform layer under the symbol
ZPlatformModuleResources. Only the statements used in zsmime.rc are known:
LANGUAGE, BITMAP, DIALOG with STYLE, CAPTION, FONT and CONTROL lines with
explicit class and style. Anything else is an error, so the two builds never
silently disagree.

Usage: gen_resource_table.py RESOURCE.rc OUT.cpp
"""
import os
import re
import sys

TOKEN = re.compile(r'\s*(?:(?P<string>"(?:[^"]|"")*")|(?P<number>-?\d+)|(?P<name>[A-Za-z_][A-Za-z0-9_]*)|(?P<punct>[,|]))')

# Identifiers the script may use without defining them (winuser.h values).
BUILTIN_IDS = {"IDOK": 1, "IDCANCEL": 2}


class RcError(Exception):
    pass


class Control:
    def __init__(self, text, id_name, class_name, style, rect, image):
        self.text = text          # str, or None for an image control
        self.id_name = id_name    # symbol or number as written
        self.class_name = class_name
        self.style = style        # list of (negated, name)
        self.rect = rect          # (x, y, cx, cy)
        self.image = image        # symbol or number of the image resource, or None


class Dialog:
    def __init__(self, id_name, rect):
        self.id_name = id_name
        self.rect = rect
        self.style = []
        self.caption = ""
        self.font = None          # (points, name)
        self.controls = []


def unquote(token):
    return token[1:-1].replace('""', '"')


def tokenize(line, where):
    tokens, pos = [], 0
    line = line.rstrip()
    while pos < len(line):
        m = TOKEN.match(line, pos)
        if not m:
            raise RcError("%s: cannot read %r" % (where, line[pos:]))
        kind = m.lastgroup
        tokens.append((kind, m.group(kind)))
        pos = m.end()
        while pos < len(line) and line[pos].isspace():
            pos += 1
    return tokens


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    return [re.sub(r"//.*", "", line) for line in text.splitlines()]


def read_defines(path):
    defines = dict(BUILTIN_IDS)
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"\s*#\s*define\s+(\w+)\s+(-?\d+)\s*$", line)
            if m:
                defines[m.group(1)] = int(m.group(2))
    return defines


class Cursor:
    def __init__(self, tokens, where):
        self.tokens, self.i, self.where = tokens, 0, where

    def take(self, *kinds):
        if self.i >= len(self.tokens) or self.tokens[self.i][0] not in kinds:
            raise RcError("%s: expected %s" % (self.where, "/".join(kinds)))
        self.i += 1
        return self.tokens[self.i - 1]

    def comma(self):
        if self.take("punct")[1] != ",":
            raise RcError("%s: expected ','" % self.where)

    def value(self):
        return self.take("number", "name")[1]

    def numbers(self, count):
        values = [int(self.take("number")[1])]
        for _ in range(count - 1):
            self.comma()
            values.append(int(self.take("number")[1]))
        return tuple(values)

    def style(self):
        names = []
        while True:
            negated = False
            kind, text = self.take("name")
            if text == "NOT":
                negated = True
                kind, text = self.take("name")
            names.append((negated, text))
            if self.i < len(self.tokens) and self.tokens[self.i] == ("punct", "|"):
                self.i += 1
                continue
            return names

    def done(self):
        if self.i != len(self.tokens):
            raise RcError("%s: unexpected %r" % (self.where, self.tokens[self.i][1]))


def parse_rc(path):
    """Returns (dialogs, bitmaps, defines); bitmaps are (id_name, file path)."""
    folder = os.path.dirname(os.path.abspath(path))
    defines = dict(BUILTIN_IDS)
    dialogs, bitmaps = [], []
    with open(path, encoding="utf-8") as f:
        lines = strip_comments(f.read())
    dialog, in_body = None, False
    for number, line in enumerate(lines, 1):
        where = "%s:%d" % (path, number)
        stripped = line.strip()
        if not stripped:
            continue
        if stripped.startswith("#"):
            m = re.match(r'#\s*include\s+"([^"]+)"', stripped)
            if m:
                defines.update(read_defines(os.path.join(folder, m.group(1))))
            continue
        c = Cursor(tokenize(stripped, where), where)
        first = c.tokens[0][1]
        if in_body:
            if first == "END":
                in_body, dialog = False, None
                continue
            if first != "CONTROL":
                raise RcError("%s: only CONTROL statements are understood" % where)
            c.i = 1
            kind, text = c.take("string", "number", "name")
            image = None
            if kind == "string":
                text = unquote(text)
            else:
                image, text = text, None
            c.comma()
            id_name = c.value()
            c.comma()
            class_name = unquote(c.take("string")[1])
            c.comma()
            style = c.style()
            c.comma()
            rect = c.numbers(4)
            c.done()
            dialog.controls.append(Control(text, id_name, class_name, style, rect, image))
            continue
        if dialog is not None:
            if first == "STYLE":
                c.i = 1
                dialog.style = c.style()
            elif first == "CAPTION":
                c.i = 1
                dialog.caption = unquote(c.take("string")[1])
            elif first == "FONT":
                c.i = 1
                points = int(c.take("number")[1])
                c.comma()
                dialog.font = (points, unquote(c.take("string")[1]))
            elif first == "BEGIN":
                in_body = True
                continue
            else:
                raise RcError("%s: unknown dialog option %s" % (where, first))
            c.done()
            continue
        if first == "LANGUAGE":
            continue
        if len(c.tokens) >= 2 and c.tokens[1] == ("name", "BITMAP"):
            c.i = 2
            bitmaps.append((first, os.path.join(folder, unquote(c.take("string")[1]))))
            c.done()
            continue
        if len(c.tokens) >= 2 and c.tokens[1] == ("name", "DIALOG"):
            c.i = 2
            dialog = Dialog(first, c.numbers(4))
            c.done()
            dialogs.append(dialog)
            continue
        raise RcError("%s: unknown statement %s" % (where, first))
    if in_body or dialog is not None:
        raise RcError("%s: dialog without END" % path)
    return dialogs, bitmaps, defines


def resolve(name, defines):
    try:
        return int(name)
    except ValueError:
        if name not in defines:
            raise RcError("undefined identifier %s" % name)
        return defines[name]


def c_string(text):
    out = []
    for ch in text:
        if ch in '\\"':
            out.append("\\" + ch)
        elif ord(ch) < 0x20:
            out.append("\\%03o" % ord(ch))
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def c_style(style, base):
    plus = [name for negated, name in style if not negated]
    minus = [name for negated, name in style if negated]
    expr = "(" + " | ".join(base + plus) + ")"
    if minus:
        expr += " & ~(" + " | ".join(minus) + ")"
    return expr


def generate(rc_path):
    dialogs, bitmaps, defines = parse_rc(rc_path)
    out = ["// Generated by resources/gen_resource_table.py from resources/zsmime.rc; do not edit.",
           "#include <windows.h>", "#include <zplatform.h>", "", '#include "resources/resource.h"', ""]
    for d in dialogs:
        resolve(d.id_name, defines)
        out.append("static const ZDialogItemTemplate kItems%s[] = {" % d.id_name)
        for ctl in d.controls:
            resolve(ctl.id_name, defines)
            x, y, cx, cy = ctl.rect
            text = c_string(ctl.text) if ctl.text is not None else '""'
            image = ctl.image if ctl.image is not None else "0"
            out.append("    {%s, %s, %s, %d, %d, %d, %d, %s, %s}," % (
                ctl.id_name, c_string(ctl.class_name), c_style(ctl.style, ["WS_CHILD", "WS_VISIBLE"]),
                x, y, cx, cy, text, image))
        out.append("};")
    for name, path in bitmaps:
        resolve(name, defines)
        with open(path, "rb") as f:
            data = f.read()
        out.append("static const unsigned char kBitmap%s[] = {" % name)
        for i in range(0, len(data), 16):
            out.append("    " + ", ".join("0x%02x" % b for b in data[i:i + 16]) + ",")
        out.append("};")
    out.append("static const ZDialogTemplate kDialogs[] = {")
    for d in dialogs:
        points, face = d.font if d.font else (0, "")
        base = ["DS_SETFONT"] if d.font else []
        x, y, cx, cy = d.rect
        out.append("    {%s, %s, %s, %d, %d, %d, %d, %d, %s, kItems%s, %d}," % (
            d.id_name, c_string(d.caption), c_style(d.style, base), x, y, cx, cy, points,
            c_string(face), d.id_name, len(d.controls)))
    out.append("};")
    out.append("static const ZBitmapResource kBitmaps[] = {")
    for name, _ in bitmaps:
        out.append("    {%s, kBitmap%s, sizeof kBitmap%s}," % (name, name, name))
    out.append("};")
    out.append("")
    out.append("extern \"C\" const ZModuleResources ZPlatformModuleResources = {")
    out.append("    kDialogs, %d, kBitmaps, %d};" % (len(dialogs), len(bitmaps)))
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    try:
        text = generate(sys.argv[1])
    except RcError as e:
        sys.exit("gen_resource_table: %s" % e)
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
