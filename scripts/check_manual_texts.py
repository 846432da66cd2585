#!/usr/bin/env python3
"""Checks that the manual names every text the plug-in can show: each literal
of common/user_texts.h (up to its first insert or line break) must stand in
docs/manual.md. Prints the ones missing."""
import re
import sys

# Texts that are no message of their own: record fields and printf output.
NOT_SHOWN = {"PLUGIN_VENDOR", "PLUGIN_DESCRIPTION", "TEXT_CLOSE_STORE_RESULT",
             "TEXT_GOOD_MARK", "TEXT_BAD_MARK"}


def texts(header):
    source = open(header, encoding="utf-8").read()
    for name, body in re.findall(r"constexpr char (\w+)\[\]\s*=\s*((?:\s*\"(?:[^\"\\]|\\.)*\")+);", source):
        if name in NOT_SHOWN or "DESCRIPTION" in name:
            continue
        literal = "".join(re.findall(r"\"((?:[^\"\\]|\\.)*)\"", body))
        literal = literal.replace('\\"', '"')
        head = re.split(r"%[0-9.]*[sdxc]|\\n", literal)
        yield name, max(head, key=len).strip()


def main(header, manual):
    text = open(manual, encoding="utf-8").read()
    missing = [(n, t) for n, t in texts(header) if t and t not in text]
    for name, t in missing:
        print("check_manual_texts: %s is not in the manual: %s" % (name, t))
    print("check_manual_texts: %s" % ("ok" if not missing else "%d missing" % len(missing)))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
