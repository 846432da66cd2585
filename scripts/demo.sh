#!/usr/bin/env bash
# A tour of the plug-in through zhost, the stand-in host: the plug-in's
# record and menus, then opening a message.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target zhost zsmime >/dev/null

zhost=build/zhost
demo=$(mktemp -d)
export XDG_DATA_HOME="$demo/data"   # the demo's own certificate stores
trap 'rm -rf "$demo"' EXIT

echo "== zhost info"
$zhost info
echo
echo "== zhost menu"
$zhost menu
echo
echo "== zhost open examples/plain.eml (not S/MIME: nothing happens)"
$zhost open examples/plain.eml
