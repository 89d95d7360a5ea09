#!/usr/bin/env bash
# Installs the Debian packages that building (and, with "test", testing) needs.
# Packages already installed are skipped, so a prepared machine asks nothing
# of the network.
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config libssl-dev zlib1g-dev libxerces-c-dev qt6-base-dev
  qt6-multimedia-dev openssl ca-certificates)
test_pkgs=(clang libclang-rt-14-dev clang-format git libgtest-dev libgmock-dev libbenchmark-dev
  locales openssl tinyproxy dante-server vsftpd python3-pyftpdlib openssh-client
  openssh-server apache2 lighttpd lighttpd-mod-webdav lftp curl xvfb xauth fonts-dejavu-core
  dbus-daemon desktop-file-utils)

want=("${build_pkgs[@]}")
if [ "${1:-}" = test ]; then
  want+=("${test_pkgs[@]}")
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The settings tests read and write numbers under a comma-decimal locale.
if [ "${1:-}" = test ] && ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
