#!/usr/bin/env bash
# Installs the Debian 12 packages the builds and tests need (only what is missing).
set -euo pipefail

packages=(build-essential cmake pkg-config python3 openssl libssl-dev time
          googletest libgtest-dev libbenchmark-dev
          g++-mingw-w64-i686 binutils-mingw-w64-i686
          clang libclang-rt-14-dev
          libnss3-tools gpgsm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
