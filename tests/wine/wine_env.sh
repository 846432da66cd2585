# Sourced by the Wine scripts: Wine, Xvfb, a Japanese font and a private
# prefix in which the MinGW builds of zhost.exe and zsmime.dll run.
#
# The product is the i686 build (build-win/). On a machine that cannot execute
# 32-bit x86 code at all (some virtual machines refuse i386 executables, and
# then Wine's 32-bit loader cannot start) the same sources are built for
# x86_64 (build-win64/) and run by wine64 instead, so that the real loader,
# user32, kernel32 and crypt32 are still exercised; wine_arch says which.
#
# Sets: root, work, wine_arch, wine_build, wine_reason; wine_ready returns 0
# when Wine can run here, else wine_reason says why not. `wine_run` runs a
# Windows program, `to_windows_path` converts a path.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
win_build=${BUILD_WIN:-$root/build-win}
win64_build=${BUILD_WIN64:-$root/build-win64}
posix_build=${BUILD_POSIX:-$root/build}
work=${WINE_WORK:-$root/build-wine}
export WINEDEBUG=-all
# Japanese Windows: the ANSI code page of the plug-in's texts is 932.
export LANG=ja_JP.UTF-8
unset LC_ALL
wine_reason=""
wine_arch=""
wine_build=""
wine_loader=""
wine_server=""
xvfb_pid=""

install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    wine_reason="${missing[*]} not installed, and this user cannot install packages"
    return 1
  fi
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  fi
  apt-get update -qq >/dev/null 2>&1
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1; then
    wine_reason="apt-get could not install ${missing[*]}"
    return 1
  fi
}

# Wine takes the code page from the Unix locale, which must exist.
ensure_locale() {
  locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' && return 0
  [ "$(id -u)" -eq 0 ] || return 1
  if grep -q '^# *ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  else
    echo "ja_JP.UTF-8 UTF-8" >>/etc/locale.gen
  fi
  locale-gen >/dev/null 2>&1
}

# Whether this machine executes 32-bit x86 code itself (not through an
# emulator registered with binfmt_misc, under which Wine does not start).
can_run_i386() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/qemu-i386 /proc/sys/fs/binfmt_misc/i386; do
    [ -f "$entry" ] && grep -qx enabled "$entry" && return 1
  done
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

start_display() {
  local n
  for n in 91 92 93 94 95 96 97 98 99; do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    sleep 1
    kill -0 "$xvfb_pid" 2>/dev/null && return 0
  done
  return 1
}

wine_run() {
  timeout "${WINE_TIMEOUT:-120}" "$wine_loader" "$@"
}

to_windows_path() {
  wine_run winepath -w "$1" 2>/dev/null | tr -d '\r'
}

# A fresh prefix whose dialogs use the Japanese font for "ＭＳ Ｐゴシック".
make_prefix() {
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  WINE_TIMEOUT=600 wine_run wineboot -i >/dev/null 2>&1
  # The registry reaches the disk when the server exits.
  timeout 120 "$wine_server" -w
  [ -f "$WINEPREFIX/system.reg" ] || return 1
  # A Unicode registry file: UTF-16LE with a byte-order mark.
  cat >"$work/fonts.txt" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Shell Dlg"="IPAPGothic"
EOF
  iconv -f UTF-8 -t UTF-16LE "$work/fonts.txt" | { printf '\xff\xfe'; cat; } >"$work/fonts.reg"
  wine_run regedit /S "$(to_windows_path "$work/fonts.reg")" >/dev/null 2>&1
  "$wine_server" -w
}

# The x86_64 build of the same sources, for wine64.
build_win64() {
  install_packages g++-mingw-w64-x86-64-win32 || return 1
  cmake -S "$root" -B "$win64_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null 2>&1 &&
    cmake --build "$win64_build" -j 2 >"$work/build-win64.log" 2>&1
}

# Everything a Wine run needs; sets wine_reason and fails when it cannot be had.
wine_ready() {
  mkdir -p "$work"
  if [ "${ZSMIME_WINE:-1}" = 0 ]; then
    wine_reason="Wine runs are turned off (ZSMIME_WINE=0)"
    return 1
  fi
  install_packages wine wine64 xvfb xauth fonts-ipafont-gothic locales || return 1
  ensure_locale || { wine_reason="the ja_JP.UTF-8 locale is missing and cannot be generated"; return 1; }
  if can_run_i386; then
    install_packages wine32:i386 || return 1
    wine_arch=i686
    wine_build=$win_build
    wine_loader=/usr/lib/wine/wine
    wine_server=/usr/lib/wine/wineserver32
    export WINEARCH=win32
  else
    wine_arch=x86_64
    wine_build=$win64_build
    wine_loader=/usr/lib/wine/wine64
    wine_server=/usr/lib/wine/wineserver64
    export WINEARCH=win64
    if ! build_win64; then
      wine_reason="${wine_reason:-the x86_64 build failed (see $work/build-win64.log)}"
      return 1
    fi
  fi
  export WINEPREFIX=$work/prefix-$wine_arch
  start_display || { wine_reason="Xvfb does not start"; return 1; }
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    make_prefix || { wine_reason="wineboot could not make a $WINEARCH prefix"; return 1; }
  fi
  "$wine_server" -p 60 >/dev/null 2>&1 || true
  return 0
}

wine_done() {
  [ -n "$wine_server" ] && "$wine_server" -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
  return 0
}

# Waits for a top-level window titled TITLE, lets it paint and saves a PNG of
# it (ImageMagick's import). Returns 1 when no such window appeared.
photograph_window() {  # title out-file
  local id=""
  for _ in $(seq 1 200); do
    id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | awk '{print $1}' | head -1)
    [ -n "$id" ] && break
    sleep 0.3
  done
  [ -n "$id" ] || return 1
  sleep "${SETTLE_SECONDS:-2}"
  mkdir -p "$(dirname "$2")"
  import -window "$id" "$2"
}
