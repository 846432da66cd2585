#!/usr/bin/env bash
# Builds the release a user installs: dist/zsmime-<version>-win32.zip with the
# i686 DLL (the very file the DLL checks passed on), a Japanese readme.txt
# (Shift-JIS, CR LF), the manual as one self-contained HTML file, the licence
# and the list of changes. Fails when the build or a DLL check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_WIN:-$root/build-win}

bash scripts/install-deps.sh
dpkg-query -W -f='${Status}' python3-markdown 2>/dev/null | grep -q "install ok installed" || {
  [ "$(id -u)" -eq 0 ] && SUDO="" || SUDO=sudo
  $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq python3-markdown >/dev/null
}

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target zsmime
dll=$build/zsmime.dll
python3 scripts/check_dll.py "$dll"
python3 scripts/check_dll_resources.py "$dll"
python3 scripts/check_manual_texts.py common/user_texts.h docs/manual.md

# "v1.2.3 build at ..." in the sources gives the package's version.
version=$(git grep -h -oE 'PLUGIN_VERSION\[\] = "v[0-9][0-9.]*' -- '*.cpp' | head -1 | sed -E 's/.*"v//')
[ -n "$version" ] || { echo "package: no version found in the sources" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$dll" "$stage/zsmime.dll"
# Japanese Windows software ships its texts in the ANSI code page with CR LF.
to_windows_text() { sed 's/\r$//; s/$/\r/' "$1" | iconv -f UTF-8 -t CP932 >"$2"; }
sed "s/@VERSION@/$version/g" docs/readme.txt >"$stage/readme.utf8"
to_windows_text "$stage/readme.utf8" "$stage/readme.txt"
rm "$stage/readme.utf8"
to_windows_text LICENSE.txt "$stage/LICENSE.txt"
to_windows_text CHANGES.txt "$stage/CHANGES.txt"
# The Debian interpreter, which sees the python3-markdown package.
/usr/bin/python3 scripts/render_manual.py docs/manual.md "$stage/manual.html"

mkdir -p dist
zip=dist/zsmime-$version-win32.zip
rm -f "$zip"
python3 - "$stage" "$zip" <<'PY'
import os, sys, zipfile
stage, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for name in ["zsmime.dll", "readme.txt", "manual.html", "LICENSE.txt", "CHANGES.txt"]:
        z.write(os.path.join(stage, name), name)
PY
python3 scripts/check_package.py "$zip" "$dll"
echo "package: $zip"
