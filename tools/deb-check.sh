#!/usr/bin/env bash
# The Debian package, end to end (as root): builds it with `cpack -G DEB`, installs it
# with `dpkg -i`, writes one warning with the installed lorvath-logger to a private
# rsyslogd (tools/private-syslog.sh) and checks that exactly that record was stored at
# priority 4 (LOG_WARNING; <12> with the user facility). The package is removed again at
# the end.
#
#   tools/deb-check.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/deb
[[ $(id -u) -eq 0 ]] || { echo "deb-check: run as root (dpkg -i)" >&2; exit 1; }

"$root/tools/install-packages.sh" deb-check cmake make g++ rsyslog
echo "deb-check: building the package in $build"
mkdir -p "$build"
{
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DLORVATH_BUILD_TESTS=OFF -DLORVATH_BUILD_BENCHMARKS=OFF
  cmake --build "$build" -j "$(nproc)"
  (cd "$build" && cpack -G DEB)
} >"$build/deb-build.log" 2>&1 || { cat "$build/deb-build.log" >&2; exit 1; }
package=$(ls "$build"/lorvath_*.deb)

echo "deb-check: dpkg -i $package"
dpkg -i "$package"
trap 'dpkg -r lorvath >/dev/null' EXIT
dpkg -L lorvath | grep -E 'bin/|lorvath\.h$|qel/StringBase\.h$|\.so|\.a$|\.pc$|Config\.cmake$'

echo "deb-check: lorvath-logger --severity warning hello"
output=$("$root/tools/private-syslog.sh" lorvath-logger --severity warning hello)
echo "$output"
records=$(sed -n '/^Records stored/,/^$/p' <<<"$output" | grep '^<')
if [[ $records != "<12> user.warning lorvath-logger: hello" ]]; then
  echo "deb-check: FAILED: expected the one record \"<12> user.warning lorvath-logger: hello\"" >&2
  exit 1
fi
echo "deb-check: one record at priority 4 (warning), as written"
