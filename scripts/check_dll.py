#!/usr/bin/env python3
"""Checks the built Windows DLL: the fifteen events exported by their plain
names at ordinals 1 to 15 in order, and only system DLLs imported."""
import re
import subprocess
import sys

EVENTS = ["ZDC_OnStart", "ZDC_OnExit", "ZDC_OnMenuInit", "ZDC_OnOpenFolder", "ZDC_OnOpenMail",
          "ZDC_OnEveryMinute", "ZDC_OnOpenCompose", "ZDC_OnOutgoing", "ZDC_OnKeyDispatch",
          "ZDC_OnRetrieve", "ZDC_OnSend", "ZDC_OnFinishRetrieve", "ZDC_OnPlugInSetup",
          "ZDC_OnPlugInInfo", "ZDC_OnDragDrop"]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "crypt32.dll", "msvcrt.dll", "advapi32.dll"}


def main(path):
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], check=True,
                          capture_output=True, text=True).stdout
    base = int(re.search(r"Ordinal Base\s+(\d+)", dump).group(1))
    table = dump.split("[Ordinal/Name Pointer] Table", 1)[1]
    exports = {}
    for index, name in re.findall(r"^\s*\[\s*(\d+)\]\s+(\S+)\s*$", table, re.M):
        exports[int(index) + base] = name
    expected = {i + 1: name for i, name in enumerate(EVENTS)}
    errors = []
    if exports != expected:
        errors.append("exports: %s" % sorted(exports.items()))
    imports = {m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", dump)}
    foreign = imports - SYSTEM_DLLS
    if foreign:
        errors.append("imports non-system DLLs: %s" % sorted(foreign))
    for e in errors:
        print("check_dll: " + e)
    print("check_dll: %s: %d exports, imports %s" % (path, len(exports), sorted(imports)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
