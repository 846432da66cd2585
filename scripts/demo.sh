#!/usr/bin/env bash
# A tour of the plug-in through zhost, the stand-in host: Alice chooses her
# certificate, AES (256 bit) and SHA-256 in the setup dialog, signs and encrypts a message for
# Bob; Bob opens it, decrypts and verifies it and reads the report.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target zhost zsmime >/dev/null

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
# Each person has a plug-in copy (with its own settings file) and certificate stores.
for who in alice bob; do
  mkdir -p "$demo/$who"
  cp build/libzsmime.so "$demo/$who/zsmime.so"
done
zhost() {  # zhost as WHO
  local who=$1; shift
  XDG_DATA_HOME="$demo/$who/data" "$root/build/zhost" --plugin "$demo/$who/zsmime.so" "$@"
}

echo "== The plug-in's record and menus"
zhost alice info
zhost alice menu | sed -n '/commands:/,$p'

echo
echo "== A small PKI made with openssl: a root, Alice and Bob"
cd "$demo"
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 30 \
  -subj "/C=JP/O=Demo/CN=Demo Root" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
for who in alice bob; do
  openssl req -newkey rsa:2048 -nodes -keyout $who.key -out $who.csr \
    -subj "/C=JP/O=Demo/CN=$who/emailAddress=$who@example.com" 2>/dev/null
  echo "keyUsage=digitalSignature,keyEncipherment" > $who.ext
  openssl x509 -req -in $who.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 \
    -extfile $who.ext -out $who.pem 2>/dev/null
  openssl pkcs12 -export -inkey $who.key -in $who.pem -out $who.p12 -passout pass:demo
done
zhost alice certs import MY alice.p12 --password demo
zhost alice certs import CA bob.pem
zhost alice certs import Root root.pem
zhost bob certs import MY bob.p12 --password demo
zhost bob certs import Root root.pem

echo
echo "== Alice chooses her signing certificate, AES (256 bit) and SHA-256 in the setup dialog"
zhost alice setup select 1019 "C=JP, O=Demo, CN=alice, E=alice@example.com" \
  select 1003 "AES(256bit)" select 1002 SHA-256 ok | tail -1
cat alice/zsmime.ini

echo
echo "== Alice signs and encrypts a message for Bob"
printf 'From: Alice <alice@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: Quarterly figures\r\n\r\nHello Bob,\r\nthe figures are in.\r\n' > note.eml
zhost alice sign-encrypt note.eml -o sent.eml
head -8 sent.eml

echo
echo "== Bob opens it: the plug-in tells him it is S/MIME"
zhost bob open sent.eml

echo
echo "== Bob runs S/MIME decrypt/verify: two layers removed, then the report"
zhost bob verify sent.eml -o opened.eml
echo "-- the message the host now shows:"
cat opened.eml
