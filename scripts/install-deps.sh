#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root). Idempotent.
set -euo pipefail

packages=(cmake make python3 mingw-w64 g++-mingw-w64-i686 gcc-mingw-w64-i686
          wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick locales
          fonts-ipafont-gothic fonts-wine lzma-dev lzma-alone xz-utils googletest
          clang libclang-rt-14-dev osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine renders Japanese only under a generated Japanese locale. Listed in locale.gen,
# it is kept in the locale archive by Debian's tools; but glibc reads the archive once
# per process, so the shell already running (scripts/run.sh's) would not find it there
# and would warn as it sets LC_ALL. A copy in a folder of its own is found at once.
if [[ ! -d /usr/lib/locale/ja_JP.utf8 ]]; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen
    localedef -i ja_JP -c -f UTF-8 --no-archive ja_JP.UTF-8
fi
