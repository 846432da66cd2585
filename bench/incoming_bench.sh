#!/bin/bash
# Decrypt/verify through the plug-in (`zhost verify`, a whole process per run)
# beside `openssl cms -decrypt` / `-verify` on the same messages: wall time,
# the ratio of the two, and peak resident memory of each process.
#
#   bench/incoming_bench.sh [BUILD_DIR] [RUNS]     (defaults: build, 3; median of RUNS)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
runs=${2:-3}
zhost=$build/zhost
[ -x "$zhost" ] || { echo "no zhost in $build (build first)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data
ossl() { tool=$1; shift; openssl "$tool" -provider legacy -provider default "$@"; }

# A root in "Root", a user with its key in "MY".
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/root.key" -out "$work/root.pem" \
    -subj "/C=JP/O=Bench/CN=bench root" -days 30 -addext keyUsage=keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$work/user.key" -out "$work/user.csr" \
    -subj "/C=JP/O=Bench/CN=bench user/emailAddress=bench@example.com" 2>/dev/null
printf 'keyUsage=digitalSignature,keyEncipherment\n' > "$work/ext"
openssl x509 -req -in "$work/user.csr" -CA "$work/root.pem" -CAkey "$work/root.key" \
    -CAcreateserial -CAserial "$work/serial" -days 30 -extfile "$work/ext" -out "$work/user.pem" 2>/dev/null
openssl pkcs12 -export -in "$work/user.pem" -inkey "$work/user.key" -passout pass:test -out "$work/user.p12"
# Into the stores: through zhost when it can, else by hand (the store folders
# take certificate files named by their SHA-1 thumbprint, keys beside them in "MY").
install_by_hand() {  # STORE CERT_PEM [KEY_PEM]
    local dir=$XDG_DATA_HOME/zsmime/stores/$1 hex
    mkdir -p "$dir"
    hex=$(openssl x509 -in "$2" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
    openssl x509 -in "$2" -outform DER -out "$dir/$hex.cer"
    if [ $# -ge 3 ]; then
        openssl pkcs8 -topk8 -nocrypt -in "$3" -out "$dir/$hex.key"
        chmod 600 "$dir/$hex.key"
    fi
}
"$zhost" certs import MY "$work/user.p12" --password test >/dev/null 2>&1 ||
    install_by_hand MY "$work/user.pem" "$work/user.key"
"$zhost" certs import Root "$work/root.pem" >/dev/null 2>&1 || install_by_hand Root "$work/root.pem"

# measure CMD...: "seconds peak_kib" of one child process (wait4 gives its own rusage).
measure() {
    python3 - "$@" <<'PY'
import os, sys, time
start = time.perf_counter()
pid = os.fork()
if pid == 0:
    fd = os.open(os.devnull, os.O_RDWR)
    os.dup2(fd, 0); os.dup2(fd, 1); os.dup2(fd, 2)
    os.execvp(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
elapsed = time.perf_counter() - start
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit("failed: " + " ".join(sys.argv[1:]))
print("%.4f %d" % (elapsed, usage.ru_maxrss))
PY
}

# median of $runs measurements: "seconds peak_kib"
median() {
    for _ in $(seq "$runs"); do measure "$@"; done | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2)'
}

make_plain() {  # SIZE FILE: a text/plain entity of about SIZE bytes, CR LF lines
    python3 - "$1" "$2" <<'PY'
import sys
size, path = int(sys.argv[1]), sys.argv[2]
line = b"The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMNOP\r\n"
head = b"Content-Type: text/plain; charset=us-ascii\r\n\r\n"
with open(path, "wb") as f:
    f.write(head + line * max(1, (size - len(head)) // len(line)))
PY
}

received() {  # ENTITY OUT
    printf 'Date: Tue, 08 Dec 2026 03:00:00 +0900\r\nSubject: bench\r\nFrom: a@example.com\r\nTo: bench@example.com\r\n' > "$2"
    cat "$1" >> "$2"
}

printf '%-8s %-16s %9s %9s %7s %10s %10s %9s\n' size case zhost_s openssl_s ratio zhost_MiB ossl_MiB mem/msg
for size in 10240 1048576 10485760; do
    make_plain "$size" "$work/plain"
    for case in 3des rc2 opaque-sha1 detached-sha1; do
        case $case in
        3des) ossl cms -encrypt -des3 -crlfeol -in "$work/plain" -out "$work/e" "$work/user.pem" ;;
        rc2) ossl cms -encrypt -rc2-128 -crlfeol -in "$work/plain" -out "$work/e" "$work/user.pem" ;;
        opaque-sha1) ossl cms -sign -nodetach -md sha1 -crlfeol -signer "$work/user.pem" \
            -inkey "$work/user.key" -in "$work/plain" -out "$work/e" ;;
        detached-sha1) ossl cms -sign -md sha1 -crlfeol -signer "$work/user.pem" \
            -inkey "$work/user.key" -in "$work/plain" -out "$work/e" ;;
        esac
        received "$work/e" "$work/msg"
        case $case in
        3des | rc2) theirs=(openssl cms -provider legacy -provider default -decrypt -in "$work/msg"
                            -recip "$work/user.pem" -inkey "$work/user.key" -out "$work/theirs") ;;
        *) theirs=(openssl cms -verify -in "$work/msg" -CAfile "$work/root.pem" -out "$work/theirs") ;;
        esac
        read -r zs zk < <(median "$zhost" verify "$work/msg" -o "$work/ours")
        read -r os ok < <(median "${theirs[@]}")
        cmp -s "$work/msg" "$work/ours" && { echo "zhost left $case unchanged" >&2; exit 1; }
        bytes=$(stat -c %s "$work/msg")
        awk -v s="$size" -v c="$case" -v zs="$zs" -v os="$os" -v zk="$zk" -v ok="$ok" -v b="$bytes" \
            'BEGIN { printf "%-8s %-16s %9.3f %9.3f %7.2f %10.1f %10.1f %9.2f\n", s, c, zs, os, zs / os, zk / 1024, ok / 1024, zk * 1024 / b }'
    done
done
