#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Idempotent: when everything is present it only runs dpkg-query and exits.
set -euo pipefail
pkgs=(
  build-essential cmake pkg-config
  libboost-dev libboost-thread-dev libboost-system-dev libboost-filesystem-dev
  libboost-date-time-dev libboost-iostreams-dev libboost-program-options-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # the peer the buffered output's benchmark measures itself against
  libspdlog-dev
  libxml2-dev clang libclang-rt-dev tmux
  # the locale sources a test builds a decimal-comma locale from
  locales
  # the journal output, and the journald its test starts in a namespace of its own
  libsystemd-dev systemd
  # the syslog daemon the syslog output's integration test starts for itself
  rsyslog
  # the headless browser in which the watcher's web dashboard is tested
  chromium
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
  # Packages must not start system services here (rsyslog would leave a
  # system-wide daemon running): a policy that refuses every start, for the
  # time of the install only, unless the machine already has a policy.
  policy=/usr/sbin/policy-rc.d
  own_policy=""
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo_cmd tee "$policy" >/dev/null
    $sudo_cmd chmod +x "$policy"
    own_policy=1
  fi
  status=0
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
  [ -z "$own_policy" ] || $sudo_cmd rm -f "$policy"
  [ "$status" -eq 0 ] || exit "$status"
fi
# Should a system-wide rsyslogd run anyway, stop it: the tests start their own.
if [ -s /run/rsyslogd.pid ]; then
  pid=$(cat /run/rsyslogd.pid)
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd kill "$pid" || true
  fi
fi
