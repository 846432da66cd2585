#!/bin/sh
# Regenerates the decrypt/verify fuzz seeds: small S/MIME messages made by
# openssl for the fixed fuzz identity (a throw-away test key, nothing else).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
keys=$here/decrypt_verify_keys
out=$here/corpus/decrypt_verify
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ossl() { tool=$1; shift; openssl "$tool" -provider legacy -provider default "$@"; }

if [ ! -f "$keys/root.pem" ]; then
    openssl req -x509 -newkey rsa:1024 -nodes -keyout "$keys/root.key" -out "$keys/root.pem" \
        -subj "/C=JP/O=Fuzz/CN=fuzz root" -days 36500 -addext keyUsage=keyCertSign 2>/dev/null
    openssl req -newkey rsa:1024 -nodes -keyout "$keys/user.key" -out "$work/user.csr" \
        -subj "/C=JP/O=Fuzz/CN=fuzz user/emailAddress=fuzz@example.com" 2>/dev/null
    printf 'keyUsage=digitalSignature,keyEncipherment\n' > "$work/ext"
    openssl x509 -req -in "$work/user.csr" -CA "$keys/root.pem" -CAkey "$keys/root.key" \
        -CAcreateserial -CAserial "$work/serial" -days 36500 -extfile "$work/ext" \
        -out "$keys/user.pem" 2>/dev/null
    openssl pkcs12 -export -in "$keys/user.pem" -inkey "$keys/user.key" -passout pass:test \
        -out "$keys/user.p12"
    openssl x509 -in "$keys/root.pem" -outform DER -out "$keys/root.der"
fi

headers='Date: Tue, 08 Dec 2026 03:00:00 +0900\r\nSubject: fuzz\r\nFrom: a@example.com\r\nTo: fuzz@example.com\r\n'
printf 'Content-Type: text/plain\r\n\r\nhello\r\n' > "$work/plain"
received() { printf "$headers" > "$2"; cat "$1" >> "$2"; }

ossl cms -encrypt -des3 -crlfeol -in "$work/plain" -out "$work/e" "$keys/user.pem"
received "$work/e" "$out/enveloped_3des.eml"
ossl cms -encrypt -rc2-40 -crlfeol -in "$work/plain" -out "$work/e" "$keys/user.pem"
sed 's/; smime-type=enveloped-data//' "$work/e" > "$work/u"
received "$work/u" "$out/untyped_rc2.eml"
ossl cms -sign -nodetach -md sha1 -crlfeol -signer "$keys/user.pem" -inkey "$keys/user.key" \
    -in "$work/plain" -out "$work/s"
received "$work/s" "$out/opaque_sha1.eml"
ossl cms -sign -md sha256 -noattr -crlfeol -signer "$keys/user.pem" -inkey "$keys/user.key" \
    -in "$work/plain" -out "$work/d"
received "$work/d" "$out/detached_sha256.eml"
ossl cms -encrypt -aes128 -binary -crlfeol -in "$work/d" -out "$work/se" "$keys/user.pem"
received "$work/se" "$out/signed_then_encrypted.eml"
