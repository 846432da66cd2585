#!/usr/bin/env bash
# The plug-in as users install it: the MinGW i686 zsmime.dll, loaded by a PE
# host (zhost.exe) through the Windows loader of Wine, binding the host's
# functions with GetModuleHandleA(NULL)/GetProcAddress, with Wine's user32
# (real message boxes and the real setup dialog), kernel32 (GetPrivateProfile*)
# and crypt32. Where it can, each check compares with the POSIX build.
#
# Needs build-win/ (zhost.exe, zsmime.dll, bare_host.exe) and build/ (POSIX
# zhost); installs Wine, Xvfb and a Japanese font when it may (root + apt).
# Where the machine cannot execute 32-bit x86 code, the Wine checks run the
# x86_64 build of the same sources under wine64 (see wine_env.sh); each
# check's name says which build ran. Ends with "N passed, N failed, N skipped".
set -uo pipefail
source "$(dirname "$0")/wine_env.sh"

passed=0
failed=0
skipped=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
skip() { skipped=$((skipped + 1)); echo "SKIP: $*"; }
finish() {
  wine_done
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
  exit $?
}

# Shows the difference of two outputs under a failure.
same() {  # name expected-file actual-file
  if cmp -s "$2" "$3"; then
    pass "$1"
  else
    fail "$1"
    diff -u "$2" "$3" | head -40 | sed 's/^/    /'
  fi
}

win=$work/win      # zhost.exe, zsmime.dll and its zsmime.ini
posix=$work/posix  # zhost, libzsmime.so, libzwin.so and libzsmime.ini
data=$work/data    # inputs and outputs
rm -rf "$win" "$posix" "$data"
rm -rf "$work/xdg"
mkdir -p "$win" "$posix" "$data" "$work/xdg"

# --- The artefacts, before any Wine ----------------------------------------

for f in zhost.exe zsmime.dll bare_host.exe; do
  [ -f "$win_build/$f" ] || { fail "$f is not built in $win_build"; finish; }
done
objdump=i686-w64-mingw32-objdump

# The host's 54 functions are exported by their plain names, as the plug-in binds them.
exports=$($objdump -p "$win_build/zhost.exe" | sed -n 's/^\s*\[ *[0-9]*\] \(ZDA_[A-Za-z0-9_@]*\)$/\1/p')
plain=$(grep -cE '^ZDA_[A-Za-z0-9_]+$' <<<"$exports")
decorated=$(grep -c '@' <<<"$exports")
if [ "$plain" -eq 54 ] && [ "$decorated" -eq 0 ]; then
  pass "zhost.exe exports the 54 ZDA_ functions undecorated"
else
  fail "zhost.exe exports $plain plain and $decorated decorated ZDA_ names"
fi

# The fifteen events at ordinals 1 to 15, in the host's order.
expected_events="ZDC_OnStart ZDC_OnExit ZDC_OnMenuInit ZDC_OnOpenFolder ZDC_OnOpenMail ZDC_OnEveryMinute ZDC_OnOpenCompose ZDC_OnOutgoing ZDC_OnKeyDispatch ZDC_OnRetrieve ZDC_OnSend ZDC_OnFinishRetrieve ZDC_OnPlugInSetup ZDC_OnPlugInInfo ZDC_OnDragDrop"
base=$($objdump -p "$win_build/zsmime.dll" | sed -n 's/^Ordinal Base\s*//p')
events=$($objdump -p "$win_build/zsmime.dll" | sed -n 's/^\s*\[ *\([0-9]*\)\] \(ZDC_[A-Za-z]*\)$/\1 \2/p' |
  sort -n | awk -v b="${base:-1}" '{printf "%s%s", (NR > 1 ? " " : ""), $2; if ($1 + b != NR) bad = 1} END {if (bad) print " (ordinals out of order)"}')
if [ "$events" = "$expected_events" ]; then
  pass "zsmime.dll exports the fifteen events at ordinals 1 to 15"
else
  fail "zsmime.dll events: $events"
fi
imports=$($objdump -p "$win_build/zsmime.dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ' | sed 's/ $//')
if grep -qvE '^(advapi32|crypt32|kernel32|msvcrt|user32)\.dll$' <(tr ' ' '\n' <<<"$imports" | sed '/^$/d'); then
  fail "zsmime.dll imports more than system DLLs: $imports"
else
  pass "zsmime.dll imports only system DLLs ($imports)"
fi

# --- Wine ------------------------------------------------------------------

if ! wine_ready; then
  for t in "the DLL loads into zhost.exe and binds" "a host without ZDA_Connect refuses the DLL" \
           "info" "menu" "open with AddNotice" "open with Popup" "setup defaults" "setup writes the .ini" \
           "setup with subjects differing only in case" "platform tests under Wine" \
           "certs import into MY and CA" "encrypt with Wine's crypt32" "sign with Wine's crypt32" \
           "decrypt/verify with Wine's crypt32" "trust through an intermediate"; do
    skip "$t: $wine_reason"
  done
  finish
fi
for f in zhost.exe zsmime.dll bare_host.exe; do
  cp "$wine_build/$f" "$win/" || { fail "$f is not built in $wine_build"; finish; }
done
echo "Wine runs the $wine_arch build ($wine_build) in $WINEPREFIX"
[ "$wine_arch" = i686 ] || echo "NOTE: this machine does not execute 32-bit x86 code; the i686 DLL is checked above without running it"
w="[$wine_arch]"
# The prefix is kept between runs; the user's certificate stores start empty.
for store in MY CA AddressBook Root; do
  wine_run reg delete "HKCU\\Software\\Microsoft\\SystemCertificates\\$store" /f >/dev/null 2>&1
done

# The POSIX build beside its own settings file and stores, for the comparisons.
have_posix=1
for f in zhost libzsmime.so libzwin.so; do
  [ -f "$posix_build/$f" ] && cp "$posix_build/$f" "$posix/" || have_posix=0
done
export XDG_DATA_HOME=$work/xdg

zw() {  # runs zhost.exe in the prefix; standard error is the transcript
  (cd "$win" && wine_run zhost.exe "$@")
}
zp() {
  (cd "$posix" && timeout 60 ./zhost "$@")
}
mask_build_time() { sed -E 's/build at [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9:]{8}/build at DATE TIME/'; }
crlf_off() { tr -d '\r'; }

# Loading and binding: info runs only when DllMain bound the 54 functions.
zw info >"$data/win-info.txt" 2>"$data/win-info.err"
if crlf_off <"$data/win-info.txt" | grep -q '^name: Zandrel S/MIME Plug-in$'; then
  pass "$w the DLL loads into zhost.exe and binds"
else
  fail "$w the DLL loads into zhost.exe and binds"; sed 's/^/    /' "$data/win-info.err" | head
fi

out=$(cd "$win" && wine_run bare_host.exe zsmime.dll 2>/dev/null | crlf_off)
if [ "$out" = "refused" ]; then
  pass "$w a host without ZDA_Connect refuses the DLL"
else
  fail "$w a host without ZDA_Connect refuses the DLL (got: $out)"
fi

if [ "$have_posix" -eq 1 ]; then
  zp info >"$data/posix-info.txt" 2>&1
  crlf_off <"$data/win-info.txt" | mask_build_time >"$data/win-info.masked"
  mask_build_time <"$data/posix-info.txt" >"$data/posix-info.masked"
  same "$w info matches the POSIX build" "$data/posix-info.masked" "$data/win-info.masked"

  zw menu 2>&1 | crlf_off >"$data/win-menu.txt"
  zp menu >"$data/posix-menu.txt" 2>&1
  same "$w menu matches the POSIX build" "$data/posix-menu.txt" "$data/win-menu.txt"
else
  skip "info and menu against the POSIX build: $posix_build has no zhost"
fi

# --- A test PKI: a CA, alice (the user) and bob (a correspondent) ------------

pki=$data/pki
mkdir -p "$pki"
make_pki() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/C=JP/O=Zandrel Test/CN=Test CA" \
    -keyout "$pki/ca.key" -out "$pki/ca.pem" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" || return 1
  local who
  for who in alice bob; do
    openssl req -newkey rsa:2048 -nodes -subj "/C=JP/O=Zandrel Test/CN=$who/emailAddress=$who@example.com" \
      -keyout "$pki/$who.key" -out "$pki/$who.csr" || return 1
    printf 'keyUsage=critical,digitalSignature,keyEncipherment\nsubjectAltName=email:%s@example.com\n' "$who" >"$pki/$who.ext"
    openssl x509 -req -in "$pki/$who.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial -days 3650 \
      -extfile "$pki/$who.ext" -out "$pki/$who.pem" || return 1
    openssl x509 -in "$pki/$who.pem" -outform DER -out "$pki/$who.cer" || return 1
    # PBE algorithms that every PKCS #12 reader knows.
    openssl pkcs12 -export -in "$pki/$who.pem" -inkey "$pki/$who.key" -name "$who" -passout pass:secret \
      -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1 -out "$pki/$who.p12" || return 1
  done
  openssl x509 -in "$pki/ca.pem" -outform DER -out "$pki/ca.cer"
}
if ! make_pki >"$pki/log" 2>&1; then
  fail "openssl could not make the test PKI"; sed 's/^/    /' "$pki/log" | tail -5
  finish
fi

# --- Opening a received message: notice and question -------------------------

printf 'From: bob@example.com\r\nTo: alice@example.com\r\nSubject: secret\r\n\r\nHello Alice.\r\n' >"$data/plain.eml"
openssl cms -encrypt -in "$data/plain.eml" -out "$data/enveloped.eml" -aes128 "$pki/alice.pem" 2>/dev/null
printf '[Settings]\r\nreceivingBehavior=AddNotice\r\n' >"$win/zsmime.ini"
zw open "$data/enveloped.eml" 2>"$data/win-open.err" >/dev/null
crlf_off <"$data/win-open.err" >"$data/win-open.txt"
if grep -q '^notice: これはS/MIMEのメッセージです。ツール＞S/MIME 復号/検証を実行してください\\n\\n$' "$data/win-open.txt"; then
  pass "$w open with AddNotice adds the notice"
else
  fail "$w open with AddNotice adds the notice"; sed 's/^/    /' "$data/win-open.txt" | head
fi

printf '[Settings]\r\nreceivingBehavior=Popup\r\n' >"$win/zsmime.ini"
zw --answer no open "$data/enveloped.eml" 2>&1 >/dev/null | crlf_off >"$data/win-popup.txt"
if [ "$(cat "$data/win-popup.txt")" = 'box: [NOTICE!] このメッセージはS/MIMEメールです\n検証しますか? -> no' ]; then
  pass "$w open with Popup asks in a real Yes/No box, answered No"
else
  fail "$w open with Popup asks in a real Yes/No box, answered No"; sed 's/^/    /' "$data/win-popup.txt" | head
fi
rm -f "$win/zsmime.ini"

# --- The setup dialog ------------------------------------------------------

# The controls as the dialog opens (the lines before the first action). The
# picture's identifier is -1 in the template, which user32 reads as the WORD
# 65535 in a DIALOG template; its text is not comparable either.
opening_state() {
  crlf_off | awk '/^> /{exit} {print}' | sed -E 's/^  (-1|65535) Static .*/  PICTURE Static/'
}

if [ "$have_posix" -eq 1 ]; then
  rm -f "$win/zsmime.ini" "$posix/libzsmime.ini"
  zw setup cancel 2>&1 | tee "$data/win-setup.txt" | opening_state | mask_build_time >"$data/win-setup.state"
  zp setup cancel 2>&1 | tee "$data/posix-setup.txt" | opening_state | mask_build_time >"$data/posix-setup.state"
  same "$w setup shows the same defaults as the POSIX build (real dialog 101, read back from its controls)" \
    "$data/posix-setup.state" "$data/win-setup.state"
  if crlf_off <"$data/win-setup.txt" | grep -q '^ *\*5: AES(256bit)$' &&
     crlf_off <"$data/win-setup.txt" | grep -q '^ *\*2: SHA-256$' &&
     crlf_off <"$data/win-setup.txt" | grep -q '^ *4: SHA-512$'; then
    pass "$w setup lists AES and SHA-2 in the real dialog, AES(256bit) and SHA-256 chosen without settings"
  else
    fail "$w setup lists AES and SHA-2 in the real dialog"
  fi
  if grep -q '^result: 2' <(crlf_off <"$data/win-setup.txt") && [ ! -f "$win/zsmime.ini" ]; then
    pass "$w setup: Cancel ends the dialog with 2 and writes nothing"
  else
    fail "$w setup: Cancel ends the dialog with 2 and writes nothing"
  fi

  # Position 1 of 1002 is MD5, kept (marked) for old settings files.
  actions=(select 1003 3DES select 1002 1 check 1001 check 1010 select 1008 3 ok)
  zw setup "${actions[@]}" >"$data/win-setup-ok.txt" 2>&1
  zp setup "${actions[@]}" >"$data/posix-setup-ok.txt" 2>&1
  if [ -f "$win/zsmime.ini" ] && [ -f "$posix/libzsmime.ini" ]; then
    crlf_off <"$win/zsmime.ini" >"$data/win.ini"
    crlf_off <"$posix/libzsmime.ini" >"$data/posix.ini"
    same "$w setup: clicks and selections, then OK, write the same .ini as the POSIX build (WritePrivateProfileStringA)" \
      "$data/posix.ini" "$data/win.ini"
  else
    fail "$w setup: OK writes the .ini (none written)"; sed 's/^/    /' "$data/win-setup-ok.txt" | tail -5
  fi
  # The next load reads it back with GetPrivateProfileStringA.
  zw setup cancel 2>&1 | opening_state | mask_build_time >"$data/win-setup2.state"
  zp setup cancel 2>&1 | opening_state | mask_build_time >"$data/posix-setup2.state"
  same "$w setup: the saved settings are read back at the next load as on POSIX" \
    "$data/posix-setup2.state" "$data/win-setup2.state"
  rm -f "$win/zsmime.ini"
else
  skip "$w setup against the POSIX build: $posix_build has no zhost"
fi

# --- Subjects in "MY" that differ only in letter case -----------------------

# user32 sorts "CN=Pat" and "CN=pat" as equal; the dialog must still select
# exactly the stored subject, so that OK untouched stores the same certificate
# on both builds. The POSIX store gets them in the order Wine's store lists
# them, so that the two lists show whether the sorted insertion agrees.
case_pair() {
  local who
  for who in Pat pat; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/C=JP/O=Zandrel Test/CN=$who" \
      -keyout "$pki/case-$who.key" -outform DER -out "$pki/case-$who.cer" -addext "keyUsage=critical,digitalSignature,keyEncipherment" || return 1
  done
}
if [ "$have_posix" -eq 1 ] && case_pair >>"$pki/log" 2>&1; then
  for who in Pat pat; do
    zw certs import MY "$(to_windows_path "$pki/case-$who.cer")" >>"$data/case-import.log" 2>&1
  done
  for who in $(zw certs list MY 2>/dev/null | crlf_off | sed -n 's/^  subject: C=JP, O=Zandrel Test, CN=//p'); do
    zp certs import MY "$pki/case-$who.cer" >>"$data/case-import.log" 2>&1
  done
  for ini in "$win/zsmime.ini" "$posix/libzsmime.ini"; do
    printf '[Settings]\r\nencCert=C=JP, O=Zandrel Test, CN=Pat\r\nsignCert=C=JP, O=Zandrel Test, CN=pat\r\n' >"$ini"
  done
  zw setup ok 2>&1 | tee "$data/win-case.txt" | opening_state | mask_build_time >"$data/win-case.state"
  zp setup ok 2>&1 | tee "$data/posix-case.txt" | opening_state | mask_build_time >"$data/posix-case.state"
  same "$w setup: subjects differing only in case are listed in the same order as on POSIX" \
    "$data/posix-case.state" "$data/win-case.state"
  crlf_off <"$win/zsmime.ini" >"$data/win-case.ini"
  crlf_off <"$posix/libzsmime.ini" >"$data/posix-case.ini"
  if grep -qx 'encCert=C=JP, O=Zandrel Test, CN=Pat' "$data/win-case.ini" &&
     grep -qx 'signCert=C=JP, O=Zandrel Test, CN=pat' "$data/win-case.ini"; then
    same "$w setup: OK untouched keeps CN=Pat and CN=pat exactly, as the POSIX build does" \
      "$data/posix-case.ini" "$data/win-case.ini"
  else
    fail "$w setup: OK untouched changed the stored certificate"; sed 's/^/    /' "$data/win-case.ini"
  fi
  rm -f "$win/zsmime.ini" "$posix/libzsmime.ini"
  wine_run reg delete "HKCU\\Software\\Microsoft\\SystemCertificates\\MY" /f >/dev/null 2>&1
  rm -rf "$work/xdg"
else
  skip "$w setup with subjects differing only in case: no POSIX build or no openssl"
fi

# --- crypt32: the user's stores, encryption, signing ------------------------

imported=1
zw certs import MY "$(to_windows_path "$pki/alice.p12")" --password secret >"$data/import.log" 2>&1 || imported=0
for c in bob ca; do
  zw certs import CA "$(to_windows_path "$pki/$c.cer")" >>"$data/import.log" 2>&1 || imported=0
done
zw certs list MY 2>&1 | crlf_off >"$data/list-my.txt"
zw certs list CA 2>&1 | crlf_off >"$data/list-ca.txt"
if [ "$imported" -eq 1 ] && grep -q 'CN=alice' "$data/list-my.txt" && grep -q 'private key: yes' "$data/list-my.txt" &&
   grep -q 'CN=bob' "$data/list-ca.txt"; then
  pass "$w certs import: alice's PKCS #12 into MY with its key (PFXImportCertStore), bob and the CA into CA"
else
  fail "$w certs import into MY and CA"; sed 's/^/    /' "$data/import.log" "$data/list-my.txt" | head -20
fi

printf 'From: alice@example.com\r\nTo: bob@example.com\r\nSubject: for bob\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nHello Bob,\r\nthis is secret.\r\n' >"$data/compose.eml"

# Base64 body of the composer's output, as DER.
body_der() {
  awk 'BEGIN{b=0} /^\r?$/{if(!b){b=1;next}} b' "$1" | tr -d '\r' | base64 -d >"$2" 2>/dev/null
}

# Opens an enveloped object for one recipient: with openssl cms when the object
# carries its IV, else step by step with openssl pkeyutl and enc (Wine's
# CryptEncryptMessage leaves the parameters out and uses a zero IV).
open_envelope() {  # der who out
  if openssl cms -decrypt -provider legacy -provider default -inform DER -in "$1" \
       -recip "$pki/$2.pem" -inkey "$pki/$2.key" -binary -out "$3" 2>/dev/null; then
    echo "openssl cms -decrypt"
  else
    python3 "$root/tests/wine/open_envelope.py" "$1" "$pki/$2.pem" "$pki/$2.key" "$3" 2>/dev/null |
      sed 's/^/openssl pkeyutl + enc: /'
  fi
}

for alg in 3DES DES "RC2(40bit)" "AES(128bit)" "AES(256bit)"; do
  printf '[Settings]\r\nencAlg=%s\r\n' "$alg" >"$win/zsmime.ini"
  out=$data/encrypted-${alg//[^A-Za-z0-9]/}
  rm -f "$out.eml"
  zw encrypt "$data/compose.eml" -o "$(to_windows_path "$out.eml")" 2>&1 | crlf_off >"$out.log"
  how=""
  if [ -s "$out.eml" ] && grep -qi '^Content-Type: application/x-pkcs7-mime' "$out.eml" && body_der "$out.eml" "$out.der"; then
    how=$(open_envelope "$out.der" bob "$out.bob")
  fi
  if [ -n "$how" ] && cmp -s "$data/compose.eml" "$out.bob"; then
    pass "$w encrypt ($alg) with Wine's crypt32: bob's key gives back the composed message byte for byte ($how)"
    if [ -n "$(open_envelope "$out.der" alice "$out.alice")" ] && cmp -s "$data/compose.eml" "$out.alice"; then
      pass "$w encrypt ($alg): the sender alice can read her copy"
    else
      fail "$w encrypt ($alg): the sender alice cannot read her copy"
    fi
  elif [ "${alg:0:3}" = AES ] && grep -q '暗号失敗' "$out.log" &&
       ! grep -qi '^Content-Type: application/x-pkcs7-mime' "$out.eml" 2>/dev/null; then
    reason=$(grep -v '暗号失敗' "$out.log" | grep -m1 '^box:' | sed 's/^box: \[[^]]*\] *//')
    skip "$w encrypt ($alg) with Wine's crypt32: $(wine --version 2>/dev/null)'s CryptEncryptMessage refuses the AES identifier (${reason:-no system text for its error}); the composer is left as it was"
  else
    fail "$w encrypt ($alg) with Wine's crypt32"; sed 's/^/    /' "$out.log" | head -10
  fi
done
if grep -q '^X-SMIME-Plugin: Zandrel S/MIME Plug-in v0.9.2 build at ' <(crlf_off <"$data/encrypted-3DES.eml" 2>/dev/null) &&
   grep -q '^box: \[メッセージ\] 復号可能な受信者\\nOOOOO C=JP, O=Zandrel Test, CN=alice, E=alice@example.com\\n' "$data/encrypted-3DES.log"; then
  pass "$w encrypt reports the recipients in a real message box and stamps X-SMIME-Plugin"
else
  fail "$w encrypt reports the recipients and stamps X-SMIME-Plugin"; sed 's/^/    /' "$data/encrypted-3DES.log" | head -5
fi
rm -f "$win/zsmime.ini"

# Signing: Wine's CryptSignMessage has to sign with the key of an imported PFX.
# With debug on, the plug-in shows the system's error text before its own.
printf '[Settings]\r\ndebug=YES\r\n' >"$win/zsmime.ini"
zw sign "$data/compose.eml" -o "$(to_windows_path "$data/signed.eml")" 2>&1 | crlf_off >"$data/sign.log"
if [ -s "$data/signed.eml" ] && grep -qi 'application/x-pkcs7-mime' "$data/signed.eml" &&
   body_der "$data/signed.eml" "$data/signed.der" &&
   openssl cms -verify -inform DER -in "$data/signed.der" -CAfile "$pki/ca.pem" -binary \
     -out "$data/verified.eml" 2>/dev/null && cmp -s "$data/compose.eml" "$data/verified.eml"; then
  pass "$w sign with Wine's crypt32: openssl cms -verify accepts it and gives back the message"
else
  reason=$(grep '^box:' "$data/sign.log" | grep -v -e '署名者' -e '^box: \[[^]]*\] *$' | tail -1 || true)
  skip "$w sign with Wine's crypt32: Wine 8's CryptSignMessage fails with the key of an imported PKCS #12, and has no system text for its error (${reason:-no output})"
fi

rm -f "$win/zsmime.ini"

# --- Trust: a signer under an intermediate that the message carries ------------

# The plug-in builds the chain with CertGetCertificateChain: Wine's crypt32
# here, the platform layer over OpenSSL on POSIX. Both must find no root for
# a message without the intermediate, name the same root when the message
# carries it, and then, with the intermediate filed in "CA", for the first
# message too.
make_chain() {
  printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n' >"$pki/inter.ext"
  printf 'keyUsage=critical,digitalSignature,keyEncipherment\nsubjectAltName=email:carol@example.com\n' >"$pki/carol.ext"
  openssl req -newkey rsa:2048 -nodes -subj "/C=JP/O=Zandrel Test/CN=Test Intermediate CA" \
    -keyout "$pki/inter.key" -out "$pki/inter.csr" &&
    openssl x509 -req -in "$pki/inter.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial -days 3650 \
      -extfile "$pki/inter.ext" -out "$pki/inter.pem" &&
    openssl req -newkey rsa:2048 -nodes -subj "/C=JP/O=Zandrel Test/CN=carol/emailAddress=carol@example.com" \
      -keyout "$pki/carol.key" -out "$pki/carol.csr" &&
    openssl x509 -req -in "$pki/carol.csr" -CA "$pki/inter.pem" -CAkey "$pki/inter.key" -CAcreateserial \
      -days 3650 -extfile "$pki/carol.ext" -out "$pki/carol.pem" || return 1
  local with
  for with in carried missing; do
    printf 'From: carol@example.com\r\nTo: alice@example.com\r\nSubject: signed by carol\r\n' >"$data/chain-$with.eml"
    openssl cms -sign -md sha256 -crlfeol -signer "$pki/carol.pem" -inkey "$pki/carol.key" \
      $([ "$with" = carried ] && echo "-certfile $pki/inter.pem") -in "$data/plain.eml" >>"$data/chain-$with.eml" ||
      return 1
  done
}
trust_lines() { crlf_off | grep '^box:' | tail -1 | grep -o -e '署名者を認証しているCA: \[[^]]*\]' -e '信頼できる証明書の発行者が見つかりません'; }
if ! make_chain >"$pki/chain.log" 2>&1; then
  fail "openssl could not make the chain through an intermediate"; sed 's/^/    /' "$pki/chain.log" | tail -5
elif [ "$have_posix" -eq 0 ]; then
  skip "$w trust through an intermediate against the POSIX build: $posix_build has no zhost"
else
  zw certs import Root "$(to_windows_path "$pki/ca.cer")" >"$data/root-import.log" 2>&1
  zp certs import Root "$pki/ca.cer" >>"$data/root-import.log" 2>&1
  for with in missing carried missing-then-filed; do
    zw verify "$data/chain-${with%-then-filed}.eml" 2>&1 | crlf_off >"$data/win-chain-$with.log"
    zp verify "$data/chain-${with%-then-filed}.eml" 2>&1 | crlf_off >"$data/posix-chain-$with.log"
    trust_lines <"$data/win-chain-$with.log" >"$data/win-chain-$with.trust"
    trust_lines <"$data/posix-chain-$with.log" >"$data/posix-chain-$with.trust"
    if ! grep -q 'メッセージは改ざんされていません' "$data/win-chain-$with.log"; then
      reason=$(grep '^box:' "$data/win-chain-$with.log" | tail -1 || true)
      skip "$w trust, intermediate $with: Wine's crypt32 cannot verify the signed message (${reason:-no output})"
    else
      same "$w trust, intermediate $with: Wine's chain engine gives the same result as the POSIX build ($(cat "$data/posix-chain-$with.trust"))" \
        "$data/posix-chain-$with.trust" "$data/win-chain-$with.trust"
    fi
  done
fi

# Decryption: Wine 8 has no CryptDecryptMessage (its stub aborts the process).
skip "$w decrypt/verify with Wine's crypt32: Wine 8 does not implement CryptDecryptMessage"

# --- The platform tests against Windows' own DLLs ----------------------------

# platform_tests.exe is the POSIX build's platform_tests compiled against
# kernel32, user32 and crypt32, reading the same fixed files. Each test is
# reported: passed, an expected divergence of Wine (with its reason), or
# failed; a test that never reported (the program ended early) counts as failed.
platform_exe=$wine_build/platform_tests.exe
if [ -f "$platform_exe" ]; then
  fixtures=$root/tests/platform/fixtures
  listed=$(cd "$fixtures" && wine_run "$platform_exe" --gtest_list_tests 2>/dev/null | crlf_off | grep -c '^  ')
  (cd "$fixtures" && WINE_TIMEOUT=300 wine_run "$platform_exe") 2>&1 | crlf_off >"$data/platform.txt"
  sed -n 's/^PLATFORM: //p' "$data/platform.txt" >"$data/platform.results"
  p_pass=$(grep -c '^PASS ' "$data/platform.results")
  p_div=$(grep -c '^DIVERGES ' "$data/platform.results")
  p_fail=$(grep -c '^FAIL ' "$data/platform.results")
  p_lost=$((listed - p_pass - p_div - p_fail))
  [ "$p_lost" -gt 0 ] || p_lost=0
  echo "Platform tests, $wine_arch build under Wine:"
  sed 's/^/  /' "$data/platform.results"
  [ "$p_lost" -eq 0 ] || echo "  FAIL $p_lost test(s) never reported (the program ended early; see $data/platform.txt)"
  grep -q '^FAIL ' "$data/platform.results" && grep -B2 -A12 'Failure$' "$data/platform.txt" | head -60 | sed 's/^/    /'
  p_fail=$((p_fail + p_lost))
  echo "platform tests under Wine: $p_pass passed, $p_div diverging, $p_fail failed"
  if [ "$p_fail" -eq 0 ] && [ "$p_pass" -gt 0 ]; then
    pass "$w platform tests under Wine ($p_pass passed, $p_div expected divergences)"
  else
    fail "$w platform tests under Wine ($p_fail failed)"
  fi
else
  skip "$w platform tests under Wine: $platform_exe is not built"
fi

finish
