#!/usr/bin/env bash
# The main job, end to end: builds liblorvath.so and the host stand-in, then writes the
# given messages to the system log through them, as the host would, and shows what the
# log stored.
#
#   tools/demo.sh [--severity error|warning|information] [--utf8] MESSAGE...
#
# Messages are read with escapes (\n, \r, \t, \\, \xHH), so 'two\nlines' holds a line
# feed, which the log receives as a tab. Without messages a small set is written.
#
# Where the machine has a live /dev/log (rsyslogd, journald) the records go there. Where
# it has none (a bare container), the demo runs in a private mount namespace with a real
# rsyslogd of its own (installed with apt-get when missing; see tools/private-syslog.sh)
# and prints its records with their priorities.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/demo
host=$build/tools/lorvath_host

"$root/tools/install-packages.sh" demo cmake make g++
echo "demo: building liblorvath.so and the host stand-in (release) in $build"
mkdir -p "$build"
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLORVATH_BUILD_TESTS=OFF \
         -DLORVATH_BUILD_BENCHMARKS=OFF &&
       cmake --build "$build" --target lorvath_host -j "$(nproc)"; } >"$build/demo-build.log" 2>&1
then
  cat "$build/demo-build.log" >&2
  echo "demo: the build failed" >&2
  exit 1
fi

(($#)) || set -- --severity warning 'Hello from lorvath' 'two\nlines' 'CR LF\r\nends here'

if "$host" --check-log >/dev/null; then
  echo "demo: this machine's own system log listens on /dev/log; writing there"
  echo
  "$host" --escapes "$@"
  echo
  if command -v journalctl >/dev/null && [[ -S /run/systemd/journal/socket ]]; then
    echo "Latest records of lorvath_host in the journal:"
    journalctl -t lorvath_host -n 10 --no-pager -o short-precise || true
  else
    echo "Look for the records tagged lorvath_host in the machine's log (e.g. /var/log/syslog)."
  fi
  exit 0
fi

echo "demo: nothing listens on /dev/log; using a private rsyslogd in a private mount namespace"
"$root/tools/install-packages.sh" demo rsyslog
echo
exec "$root/tools/private-syslog.sh" "$host" --escapes "$@"
