# Sourced by the Wine scripts: Wine, Xvfb, a Japanese font and a private
# 32-bit prefix in which the MinGW build of zhost.exe and zsmime.dll run.
#
# Sets: root, win_build, posix_build, work, WINEPREFIX, DISPLAY, wine_reason.
# wine_ready returns 0 when Wine can run i686 programs here; otherwise
# wine_reason says why not.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
win_build=${BUILD_WIN:-$root/build-win}
posix_build=${BUILD_POSIX:-$root/build}
work=${WINE_WORK:-$win_build/wine-work}
export WINEPREFIX=${WINEPREFIX_ZSMIME:-$work/prefix}
export WINEARCH=win32
export WINEDEBUG=-all
# Japanese Windows: the ANSI code page of the plug-in's texts is 932.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
wine_reason=""
xvfb_pid=""

wine_packages=(wine wine32:i386 xvfb xauth fonts-ipafont-gothic locales)

install_wine() {
  local missing=() p
  for p in "${wine_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    wine_reason="Wine is not installed (${missing[*]}) and this user cannot install it"
    return 1
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq >/dev/null 2>&1
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1; then
    wine_reason="apt-get could not install ${missing[*]}"
    return 1
  fi
}

# The code page comes from the Unix locale, which must exist.
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

# Whether this machine executes 32-bit x86 code at all; Wine's 32-bit
# loader is such a program.
can_run_i386() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
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

stop_display() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}

# A fresh prefix whose dialogs use the Japanese font in place of "ＭＳ Ｐゴシック".
make_prefix() {
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  timeout 600 wine wineboot -i >/dev/null 2>&1 || return 1
  # A Unicode registry file: UTF-16LE with a byte-order mark.
  cat >"$work/fonts.txt" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Shell Dlg"="IPAPGothic"
EOF
  iconv -f UTF-8 -t UTF-16LE "$work/fonts.txt" | { printf '\xff\xfe'; cat; } >"$work/fonts.reg"
  timeout 120 wine regedit /S "$(winepath -w "$work/fonts.reg")" >/dev/null 2>&1
  wineserver -w
}

# Everything a Wine run needs; sets wine_reason and fails when it cannot be had.
wine_ready() {
  mkdir -p "$work"
  if [ "${ZSMIME_WINE:-1}" = 0 ]; then
    wine_reason="Wine runs are turned off (ZSMIME_WINE=0)"
    return 1
  fi
  install_wine || return 1
  ensure_locale || { wine_reason="the ja_JP.UTF-8 locale is missing and cannot be generated"; return 1; }
  if ! can_run_i386; then
    wine_reason="this machine does not execute 32-bit x86 programs (the kernel refuses i386 executables), so Wine cannot run the i686 zhost.exe and zsmime.dll"
    return 1
  fi
  start_display || { wine_reason="Xvfb does not start"; return 1; }
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    make_prefix || { wine_reason="wineboot could not make a prefix"; return 1; }
  fi
  wineserver -p 60 >/dev/null 2>&1 || true
  return 0
}

wine_done() {
  wineserver -k >/dev/null 2>&1 || true
  stop_display
}
