#!/usr/bin/env bash
# Installs the Debian packages given that are not installed yet, with apt-get (as root).
# Used by tools/check.sh and tools/demo.sh; the first argument names the caller in
# messages.
#
#   tools/install-packages.sh CALLER PACKAGE...
#
# Exit status: 0 when every package is installed, 1 when some are missing and this is
# not root, or apt-get failed.
set -euo pipefail
caller=$1
shift
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
    missing+=("$package")
done
((${#missing[@]})) || exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "$caller: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi
echo "$caller: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
