#!/usr/bin/env bash
# Builds everything and runs every test: the POSIX build, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the Windows DLL checks, a short
# fuzzing run and, where Wine can be had, the DLL in a real Windows loader.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-$(nproc)}

bash scripts/install-deps.sh || { echo "could not install the build dependencies"; exit 1; }

passed=0
failed=0
skipped=0
failures=()

# Adds the counts of a ctest run from its log.
count_ctest() {
  local log=$1 name=$2 line total bad
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1)); failures+=("$name: no test result"); return
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
  [ "$bad" -gt 0 ] && failures+=("$name: $bad failed")
}

step() { echo; echo "=== $*"; }

step "POSIX build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
  cmake --build build -j "$jobs" || { echo "POSIX build failed"; exit 1; }
step "POSIX tests"
(cd build && ctest --output-on-failure -j "$jobs" 2>&1) | tee build/ctest.log | grep -Ev "^ +Start|Test +#[0-9]+:.*Passed"
count_ctest build/ctest.log "POSIX tests"

step "Sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZSMIME_SANITIZE=ON -DZSMIME_BENCH=OFF >/dev/null &&
  cmake --build build-asan -j "$jobs" || { echo "sanitizer build failed"; exit 1; }
step "Sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" 2>&1) | tee build-asan/ctest.log | grep -Ev "^ +Start|Test +#[0-9]+:.*Passed"
count_ctest build-asan/ctest.log "sanitizer tests"

step "Windows DLL (MinGW i686)"
if cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null &&
   cmake --build build-win -j "$jobs"; then
  for check in scripts/check_dll.py scripts/check_dll_resources.py; do
    [ -f "$check" ] || continue
    if python3 "$check" build-win/zsmime.dll; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("$check"); fi
  done
else
  failed=$((failed + 1)); failures+=("Windows build")
fi

step "Release package"
if bash scripts/package.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("package"); fi

if [ -x fuzz/run_fuzzers.sh ]; then
  step "Fuzzing (short run)"
  if fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-60}"; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("fuzzing"); fi
fi

if [ -x tests/wine/run_wine_tests.sh ] && [ "${SKIP_WINE:-0}" != 1 ]; then
  step "The DLL under Wine"
  out=$(mktemp)
  tests/wine/run_wine_tests.sh 2>&1 | tee "$out"
  line=$(grep -E "^([A-Za-z]+: )?[0-9]+ passed, [0-9]+ failed" "$out" | tail -1)
  if [ -n "$line" ]; then
    p=$(grep -oE '[0-9]+ passed' <<<"$line" | grep -oE '[0-9]+')
    f=$(grep -oE '[0-9]+ failed' <<<"$line" | grep -oE '[0-9]+')
    s=$(grep -oE '[0-9]+ skipped' <<<"$line" | grep -oE '[0-9]+' || echo 0)
    passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + s))
    [ "$f" -gt 0 ] && failures+=("wine: $f failed")
  else
    failed=$((failed + 1)); failures+=("wine: no result")
  fi
  rm -f "$out"
fi

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
