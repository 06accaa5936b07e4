#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Idempotent: when everything is present it only runs dpkg-query and exits.
set -euo pipefail
pkgs=(
  build-essential cmake pkg-config
  libboost-dev libboost-thread-dev libboost-system-dev libboost-filesystem-dev
  libboost-date-time-dev libboost-iostreams-dev libboost-program-options-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libxml2-dev clang libclang-rt-dev tmux
  # the locale sources a test builds a decimal-comma locale from
  locales
  # the journal output, and the journald its test starts in a namespace of its own
  libsystemd-dev systemd
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
