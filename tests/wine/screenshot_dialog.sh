#!/usr/bin/env bash
# Renders the setup dialog (template 101 of zsmime.dll) with Wine's user32
# under Xvfb and saves a PNG of it: docs/setup-dialog.png by default.
# "ＭＳ Ｐゴシック" is replaced by the IPA P Gothic font in the prefix.
set -uo pipefail
source "$(dirname "$0")/wine_env.sh"
out=${1:-$root/docs/setup-dialog.png}

for p in imagemagick x11-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null 2>&1
done
if ! wine_ready; then
  echo "no screenshot: $wine_reason" >&2
  exit 1
fi
trap wine_done EXIT

shots=$work/shot
rm -rf "$shots"
mkdir -p "$shots"
cp "$wine_build/zhost.exe" "$wine_build/zsmime.dll" "$shots/"

# One certificate of the user's own, so that both certificate lists show one.
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/C=JP/O=Zandrel Test/CN=alice/emailAddress=alice@example.com" \
  -addext "keyUsage=critical,digitalSignature,keyEncipherment" -keyout "$shots/alice.key" -out "$shots/alice.pem" 2>/dev/null
openssl pkcs12 -export -in "$shots/alice.pem" -inkey "$shots/alice.key" -passout pass:secret \
  -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1 -out "$shots/alice.p12"
(cd "$shots" && wine_run zhost.exe certs import MY "$(to_windows_path "$shots/alice.p12")" --password secret) >/dev/null 2>&1

# No window manager runs under Xvfb: Wine draws the caption and frame itself.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Decorated"="N"\n"Managed"="N"\n' |
  iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$shots/x11.reg"
wine_run regedit /S "$(to_windows_path "$shots/x11.reg")" >/dev/null 2>&1

# The dialog stays up, painted, for a while before zhost cancels it.
(cd "$shots" && ZHOST_DIALOG_PAUSE_MS=${PAUSE_MS:-8000} wine_run zhost.exe setup cancel) >"$shots/setup.log" 2>&1 &
runner=$!
photograph_window "S/MIME動作設定" "$out"
status=$?
[ $status -eq 0 ] || { echo "the dialog did not appear" >&2; cat "$shots/setup.log" >&2; }
wait "$runner"
[ $status -eq 0 ] && echo "saved $out ($wine_arch build)"
exit $status
