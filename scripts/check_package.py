#!/usr/bin/env python3
"""Checks a release zip: the five files, a readme.txt that is Shift-JIS (CP932)
with CR LF line ends, a manual that needs nothing beside it, and a DLL that is
byte for byte the checked build and exports the fifteen events."""
import os
import re
import subprocess
import sys
import tempfile
import zipfile

FILES = {"zsmime.dll", "readme.txt", "manual.html", "LICENSE.txt", "CHANGES.txt"}


def windows_text_errors(name, data):
    errors = []
    try:
        data.decode("cp932")
    except UnicodeDecodeError as e:
        errors.append("%s does not decode as CP932: %s" % (name, e))
    if re.search(rb"(?<!\r)\n", data) or re.search(rb"\r(?!\n)", data):
        errors.append("%s has line ends other than CR LF" % name)
    return errors


def main(zip_path, built_dll):
    errors = []
    with zipfile.ZipFile(zip_path) as z:
        names = set(z.namelist())
        if names != FILES:
            errors.append("files: %s, expected %s" % (sorted(names), sorted(FILES)))
        for text in ("readme.txt", "CHANGES.txt", "LICENSE.txt"):
            if text in names:
                errors += windows_text_errors(text, z.read(text))
        if "manual.html" in names:
            page = z.read("manual.html").decode("utf-8")
            outside = re.findall(r'(?:src|href)="(?!data:|#|https?:|mailto:)([^"]+)"', page)
            if outside:
                errors.append("manual.html refers to files beside it: %s" % outside[:5])
        if "zsmime.dll" in names:
            dll = z.read("zsmime.dll")
            with open(built_dll, "rb") as f:
                if f.read() != dll:
                    errors.append("zsmime.dll is not the checked build")
            with tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, "zsmime.dll")
                with open(path, "wb") as f:
                    f.write(dll)
                check = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_dll.py")
                if subprocess.run([sys.executable, check, path]).returncode != 0:
                    errors.append("the DLL's exports or imports are wrong")
    for e in errors:
        print("check_package: " + e)
    print("check_package: %s %s" % (zip_path, "ok" if not errors else "FAILED"))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
