#!/bin/sh
# Builds the fuzz targets in build-fuzz and runs each for a share of the given
# total time in seconds (default 60), starting from the committed seed corpus.
set -eu
total=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
targets="fuzz_mime_roundtrip fuzz_base64_decode fuzz_collect_addresses"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZSMIME_FUZZ=ON -DZSMIME_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
make -C "$build" -j2 $targets

count=$(echo $targets | wc -w)
each=$(( total / count ))
[ "$each" -ge 1 ] || each=1
status=0
for target in $targets; do
    seeds="$root/fuzz/corpus/$target"
    # Long enough for lines beyond the 64 KiB line buffer.
    max_len=4096
    [ "$target" = fuzz_mime_roundtrip ] && max_len=140000
    # New inputs go to a scratch corpus, so the committed seeds stay as they are.
    work="$build/fuzz/corpus-$target"
    mkdir -p "$work"
    echo "== $target: ${each}s"
    if ! (cd "$build/fuzz" && "./$target" -max_total_time="$each" -max_len="$max_len" \
            -print_final_stats=1 "$work" "$seeds"); then
        echo "== $target FAILED"
        status=1
    fi
done
exit $status
