#!/usr/bin/env bash
# Installs what is missing on a Debian machine (run as root). "build": what the Linux build
# needs; "test": also the Windows cross-compiler, wine, Xvfb and the test peers.
set -euo pipefail
what=${1:-build}
pkgs=(g++ cmake ninja-build make ccache)
if [ "$what" = test ]; then
  pkgs+=(libgtest-dev libgmock-dev googletest
         g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xauth xdotool imagemagick
         php-cli php-cgi nginx-light ffmpeg curl clang libclang-rt-14-dev libpcre2-dev procps iproute2
         locales
         gir1.2-gupnp-1.6 gir1.2-gupnp-av-1.0 gir1.2-gssdp-1.6 python3-gi gupnp-tools minidlna
         libnet-upnp-perl)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Packages whose service would start at once (minidlna, nginx) stay stopped: the tests start
  # their own copies.
  [ -e /usr/sbin/policy-rc.d ] || printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The Windows suites run wine in a Russian locale (ANSI code page 1251).
if [ "$what" = test ] && ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "setup: making the locale ru_RU.UTF-8"
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
