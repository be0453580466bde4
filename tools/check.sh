#!/usr/bin/env bash
# The test command: installs what the build needs (as root, when missing), then builds
# and runs every test with g++ (dev preset), and again with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer (asan) and under ThreadSanitizer (tsan).
#
#   tools/check.sh            all three presets
#   tools/check.sh dev tsan   only these
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          libicu-dev rsyslog locales strace)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "check.sh: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  echo "=== installing ${missing[*]} ==="
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

presets=("$@")
((${#presets[@]})) || presets=(dev asan tsan)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "=== $preset: configure, build, test ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" -- --no-print-directory -s
  ctest --preset "$preset" -j "$jobs"
done
