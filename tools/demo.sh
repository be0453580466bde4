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
# rsyslogd of its own (installed with apt-get when missing) and prints its records with
# their priorities.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/demo
host=$build/tools/lorvath_host

# --- inside the private namespace (the script runs itself again there) --------------
if [[ ${1:-} == --inside-private-dev ]]; then
  shift
  work=$(mktemp -d /tmp/lorvath-demo.XXXXXX)
  # A fresh /dev holding only the devices a program needs, so /dev/log is ours.
  mkdir "$work/dev"
  mount --bind /dev "$work/dev"
  mount -t tmpfs -o mode=0755,nosuid tmpfs /dev
  for node in null zero urandom random tty; do
    [[ -e $work/dev/$node ]] || continue
    touch "/dev/$node"
    mount --bind "$work/dev/$node" "/dev/$node"
  done
  for dir in pts shm; do
    [[ -e $work/dev/$dir ]] || continue
    mkdir "/dev/$dir"
    mount --rbind "$work/dev/$dir" "/dev/$dir"
  done
  ln -s /proc/self/fd /dev/fd
  umount -l "$work/dev"

  cat >"$work/rsyslog.conf" <<CONF
global(workDirectory="$work" parser.escapeControlCharactersOnReceive="off")
module(load="imuxsock" SysSock.Name="/dev/log" SysSock.RateLimit.Interval="0")
template(name="record" type="string"
         string="<%pri%> %syslogfacility-text%.%syslogseverity-text% %programname%:%msg%\n")
if \$syslogfacility-text == "user" then action(type="omfile" file="$work/records" template="record")
CONF
  rsyslogd -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" &
  daemon=$!
  for _ in $(seq 100); do [[ -S /dev/log ]] && break; sleep 0.05; done
  [[ -S /dev/log ]] || { echo "demo: rsyslogd did not open /dev/log" >&2; exit 1; }

  set +e
  "$host" --escapes "$@" | tee "$work/calls"
  status=${PIPESTATUS[0]}
  set -e

  # One record per successful write; wait until the daemon has stored them all.
  expected=$(grep -c '^Lorvath_WriteMessage.* -> 0$' "$work/calls" || true)
  for _ in $(seq 100); do
    [[ -f $work/records && $(wc -l <"$work/records") -ge $expected ]] && break
    sleep 0.05
  done
  kill "$daemon"
  wait "$daemon" 2>/dev/null || true
  echo
  echo "Records stored by rsyslogd (<priority> facility.severity tag: message):"
  cat "$work/records"
  echo
  echo "The same with control characters shown (\\t is a tab, \$ ends the record):"
  sed -n 'l' "$work/records"
  rm -rf "$work"
  exit "$status"
fi

# --- outside: build, then choose where the records go --------------------------------
install_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
      missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "demo: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  echo "demo: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

install_packages cmake make g++
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
install_packages rsyslog
namespace=(unshare --mount --propagation private)
[[ $(id -u) -eq 0 ]] || namespace=(unshare --user --map-root-user --mount --propagation private)
echo
exec "${namespace[@]}" "$0" --inside-private-dev "$@"
