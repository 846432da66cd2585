#!/usr/bin/env bash
# Makes the manual's pictures from the real DLL under Wine and Xvfb: the setup
# dialog, the decrypt/verify report, the recipient list of an encryption and
# the question on opening an S/MIME message. Each box is left up for a moment
# (ZHOST_BOX_PAUSE_MS) and photographed with ImageMagick's import.
# Writes docs/*.png; prints which build ran (i686, or x86_64 where this
# machine cannot execute 32-bit code).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine_env.sh"
docs=${1:-$root/docs}

for p in imagemagick x11-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null 2>&1
done
"$here/screenshot_dialog.sh" "$docs/setup-dialog.png" || exit 1
wine_ready || { echo "no pictures: $wine_reason" >&2; exit 1; }
trap wine_done EXIT

pics=$work/pictures
rm -rf "$pics"
mkdir -p "$pics"
cp "$wine_build/zhost.exe" "$wine_build/zsmime.dll" "$pics/"
zw() { (cd "$pics" && wine_run zhost.exe "$@"); }
for store in MY CA AddressBook Root; do
  wine_run reg delete "HKCU\\Software\\Microsoft\\SystemCertificates\\$store" /f >/dev/null 2>&1
done

# A root, Alice (the user) and Bob (a correspondent), as in the manual's examples.
cd "$pics"
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 3650 \
  -subj "/C=JP/O=Example/CN=Example Root CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
for who in alice bob; do
  openssl req -newkey rsa:2048 -nodes -keyout $who.key -out $who.csr \
    -subj "/C=JP/O=Example/CN=$who/emailAddress=$who@example.com" 2>/dev/null
  printf 'keyUsage=digitalSignature,keyEncipherment\nsubjectAltName=email:%s@example.com\n' $who >$who.ext
  openssl x509 -req -in $who.csr -CA root.pem -CAkey root.key -CAcreateserial -days 3650 \
    -extfile $who.ext -out $who.pem 2>/dev/null
done
openssl pkcs12 -export -inkey alice.key -in alice.pem -out alice.p12 -passout pass:secret \
  -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1
zw certs import MY "$(to_windows_path "$pics/alice.p12")" --password secret >/dev/null 2>&1
zw certs import CA "$(to_windows_path "$pics/bob.pem")" >/dev/null 2>&1
zw certs import Root "$(to_windows_path "$pics/root.pem")" >/dev/null 2>&1
printf '[Settings]\r\nsignCert=C=JP, O=Example, CN=alice, E=alice@example.com\r\nreceivingBehavior=Popup\r\n' >zsmime.ini

# Bob's signed reply, as his mail client would send it.
printf 'From: Bob <bob@example.com>\r\nTo: Alice <alice@example.com>\r\nSubject: Re: figures\r\n\r\nThanks, Alice.\r\n' >reply.eml
openssl smime -sign -signer bob.pem -inkey bob.key -certfile root.pem -in reply.eml -out signed.eml 2>/dev/null
printf 'From: Alice <alice@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: figures\r\n\r\nHello Bob.\r\n' >note.eml

# Runs zhost.exe with its boxes left up and photographs the first box whose
# caption is CAPTION.
shoot() {  # picture caption zhost-arguments...
  local picture=$1 caption=$2 runner status
  shift 2
  (cd "$pics" && ZHOST_BOX_PAUSE_MS=${PAUSE_MS:-8000} wine_run zhost.exe "$@") >"$pics/$picture.log" 2>&1 &
  runner=$!
  photograph_window "$caption" "$docs/$picture.png"
  status=$?
  if [ $status -eq 0 ]; then
    echo "saved $docs/$picture.png ($wine_arch build)"
  else
    echo "$picture: no box \"$caption\" appeared" >&2
    sed 's/^/    /' "$pics/$picture.log" >&2
  fi
  wait "$runner"
  return $status
}

status=0
shoot open-question "NOTICE!" --answer no open "$(to_windows_path "$pics/signed.eml")" || status=1
shoot verify-report "メッセージ" verify "$(to_windows_path "$pics/signed.eml")" || status=1
shoot encrypt-recipients "メッセージ" encrypt "$(to_windows_path "$pics/note.eml")" || status=1
exit $status
