#!/usr/bin/env bash
# Runs a command with a real rsyslogd of its own listening on /dev/log, in a private
# mount namespace with a fresh /dev, then prints the records of the user facility that
# the daemon stored. For machines without a log of their own (a bare container); used by
# tools/demo.sh and tools/deb-check.sh. Needs rsyslogd, and root or user namespaces.
#
#   tools/private-syslog.sh COMMAND [ARG...]
#
# Records are printed as "<PRI> facility.severity tag: message" (PRI is facility * 8 +
# severity, so a user-facility warning is <12>), then once more with control characters
# shown. The exit status is the command's.
set -euo pipefail

if [[ ${1:-} != --inside ]]; then
  namespace=(unshare --mount --propagation private)
  [[ $(id -u) -eq 0 ]] || namespace=(unshare --user --map-root-user --mount --propagation private)
  exec "${namespace[@]}" "$0" --inside "$@"
fi
shift

work=$(mktemp -d /tmp/lorvath-syslog.XXXXXX)
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
[[ -S /dev/log ]] || { echo "private-syslog: rsyslogd did not open /dev/log" >&2; exit 1; }

set +e
"$@"
status=$?
set -e

# The daemon stores records in the order they arrive, so once a last record of our own
# is stored, every record the command wrote before it is too.
marker="end-of-records-$$"
logger -t private-syslog "$marker"
for _ in $(seq 200); do
  grep -q "$marker" "$work/records" 2>/dev/null && break
  sleep 0.05
done
kill "$daemon"
wait "$daemon" 2>/dev/null || true
grep -v "$marker" "$work/records" >"$work/stored" || true
echo
echo "Records stored by rsyslogd (<priority> facility.severity tag: message):"
cat "$work/stored"
echo
echo "The same with control characters shown (\\t is a tab, \$ ends the record):"
sed -n 'l' "$work/stored"
rm -rf "$work"
exit "$status"
