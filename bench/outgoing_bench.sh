#!/usr/bin/env bash
# Outgoing commands as whole zhost processes beside the same work done by
# `openssl cms`, on the same composed messages: wall time (best of RUNS) and
# peak resident memory.
#   bash bench/outgoing_bench.sh [BUILD_DIR]      (default: build)
# RUNS=3 and SIZES="10240 1048576 10485760" may be set in the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
zhost=$build/zhost
plugin=$build/libzsmime.so
runs=${RUNS:-3}
sizes=${SIZES:-"10240 1048576 10485760"}
for f in "$zhost" "$plugin"; do
  [ -e "$f" ] || { echo "missing $f: build first (cmake --build $build)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"

# A root and two users, alice (the sender) and bob (the recipient).
pki=$work/pki
mkdir -p "$pki"
ssl() { openssl "$@" 2>/dev/null; }
ssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/root.key" -out "$pki/root.pem" -days 30 \
  -subj "/C=JP/O=Bench/CN=Bench Root" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "basicConstraints=critical,CA:TRUE"
for user in alice bob; do
  ssl req -newkey rsa:2048 -nodes -keyout "$pki/$user.key" -out "$pki/$user.csr" \
    -subj "/C=JP/O=Bench/CN=$user/emailAddress=$user@example.com"
  printf 'keyUsage=digitalSignature,keyEncipherment\nsubjectAltName=email:%s@example.com\n' "$user" >"$pki/$user.ext"
  ssl x509 -req -in "$pki/$user.csr" -CA "$pki/root.pem" -CAkey "$pki/root.key" -CAcreateserial \
    -days 30 -extfile "$pki/$user.ext" -out "$pki/$user.pem"
  ssl pkcs12 -export -inkey "$pki/$user.key" -in "$pki/$user.pem" -out "$pki/$user.p12" -passout pass:test
done
"$zhost" certs import Root "$pki/root.pem" >/dev/null
"$zhost" certs import MY "$pki/alice.p12" --password test >/dev/null
"$zhost" certs import CA "$pki/bob.pem" >/dev/null

# One plug-in copy per signing form, each with its settings file.
for form in NO YES; do
  mkdir -p "$work/plugin-$form"
  cp "$plugin" "$work/plugin-$form/libzsmime.so"
  printf '[Settings]\r\nencAlg=3DES\r\nsignHashOID=1.3.14.3.2.26\r\ndetachedSig=%s\r\n' "$form" \
    >"$work/plugin-$form/libzsmime.ini"
done

# A composed message of about SIZE bytes: headers and 76-character text lines.
make_message() {
  python3 - "$1" "$2" <<'PY'
import sys
size, path = int(sys.argv[1]), sys.argv[2]
head = (b"From: Alice <alice@example.com>\r\nTo: Bob <bob@example.com>\r\nSubject: bench\r\n"
        b"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"
        b"Content-Transfer-Encoding: 7bit\r\n\r\n")
line = b"The quick brown fox jumps over the lazy dog; 0123456789 abcdefghijklmnopq\r\n"
body = line * max(1, (size - len(head)) // len(line))
open(path, "wb").write(head + body)
PY
}

# Best wall time (s), CPU time (user + system, s) of that run, and the largest
# peak resident set (KiB) over RUNS runs of a command. On a loaded machine the
# CPU time is the steadier measure.
measure() {
  local best_t="" best_c="" best_m="" t u s m
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
      echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    read -r t u s m <"$work/time"
    if [ -z "$best_t" ] || awk "BEGIN{exit !($t < $best_t)}"; then
      best_t=$t
      best_c=$(awk "BEGIN{print $u + $s}")
    fi
    if [ -z "$best_m" ] || [ "$m" -gt "$best_m" ]; then best_m=$m; fi
  done
  echo "$best_t $best_c $best_m"
}

openssl_run() { # op message
  local a=(-signer "$pki/alice.pem" -inkey "$pki/alice.key" -md sha1)
  case $1 in
    encrypt) openssl cms -encrypt -des3 -binary -in "$2" -out "$work/ossl.eml" "$pki/alice.pem" "$pki/bob.pem" ;;
    sign-opaque) openssl cms -sign -nodetach -binary "${a[@]}" -in "$2" -out "$work/ossl.eml" ;;
    sign-detached) openssl cms -sign "${a[@]}" -in "$2" -out "$work/ossl.eml" ;;
    sign-encrypt) openssl cms -sign -nodetach -binary "${a[@]}" -in "$2" -out "$work/ossl-signed.eml" &&
      openssl cms -encrypt -des3 -binary -in "$work/ossl-signed.eml" -out "$work/ossl.eml" "$pki/alice.pem" "$pki/bob.pem" ;;
  esac
}
export -f openssl_run
export pki work

printf '%-14s %9s %8s %8s %6s %7s %7s %6s %8s %9s %8s\n' operation size zhost_s ossl_s ratio \
  zhost_cpu ossl_cpu cpu_x zhost_MB peak/size ossl_MB
for size in $sizes; do
  msg=$work/msg-$size.eml
  make_message "$size" "$msg"
  bytes=$(stat -c %s "$msg")
  for op in encrypt sign-opaque sign-detached sign-encrypt; do
    case $op in
      encrypt) cmd=encrypt form=NO ;;
      sign-opaque) cmd=sign form=NO ;;
      sign-detached) cmd=sign form=YES ;;
      sign-encrypt) cmd=sign-encrypt form=NO ;;
    esac
    read -r zt zc zm < <(measure "$zhost" --plugin "$work/plugin-$form/libzsmime.so" $cmd "$msg" -o "$work/out.eml")
    read -r ot oc om < <(measure bash -c "openssl_run $op $msg")
    awk -v op="$op" -v b="$bytes" -v zt="$zt" -v ot="$ot" -v zc="$zc" -v oc="$oc" -v zm="$zm" -v om="$om" 'BEGIN {
      r = (ot > 0) ? zt / ot : 0; c = (oc > 0) ? zc / oc : 0
      printf "%-14s %9d %8.3f %8.3f %6.2f %7.2f %7.2f %6.2f %8.1f %9.2f %8.1f\n", op, b, zt, ot, r, zc, oc, c, zm/1024, zm*1024/b, om/1024 }'
  done
done
