#!/usr/bin/env bash
# The Debian stage: builds both packages (scripts/package.sh), makes a fresh
# Debian 12 root with debootstrap, boots systemd there as PID 1 of private
# PID, mount, network, UTS and IPC namespaces, installs the packages with apt
# inside it, and checks them for real: the hardened unit is active and takes
# commands from saalwacht-cli, its helpers reach a student's logind session
# (Xvfb), the console starts; then both are purged and nothing of them may be
# left.
#
# Nothing here can power anything off: a drop-in gives the service a stand-in
# for the power-off before the package is installed, and the root's systemd
# lives in namespaces of its own (its network holds only its own loopback).
# The Debian mirror is the one this machine's apt uses; debootstrap and apt
# reach it from outside the namespaces only.
#
# build/debian-root/ caches the base root (a tarball) and the downloaded
# packages between runs; remove it for a cold run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT_DIR=$PWD
started=$(date +%s)

[ "$(id -u)" -eq 0 ] || { echo "test-packages: needs root (debootstrap, namespaces)" >&2; exit 1; }
scripts/install-packages.sh test-packages debootstrap zstd imagemagick
scripts/package.sh
VERSION=$(sed -n 's/^project(saalwacht VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
ARCH=$(dpkg --print-architecture)
DEBS=("$ROOT_DIR/build/packages/saalwacht_${VERSION}_${ARCH}.deb" "$ROOT_DIR/build/packages/kursdienst_${VERSION}_${ARCH}.deb")

SUITE=bookworm
# The root gets the packages its own systemd, logind and the student's X
# server need; nothing of Saalwacht's dependencies, which apt must find.
BASE_PACKAGES=systemd-sysv,dbus,libpam-systemd,xvfb,xauth
CACHE=$ROOT_DIR/build/debian-root
mkdir -p "$CACHE/archives/partial"

# The mirror this machine's apt uses for the suite.
mirror=${SAALWACHT_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 2>/dev/null |
    awk -v s="$SUITE" '$2 == s { sub("/$", "", $1); print $1; exit }')
fi
[ -n "$mirror" ] || { echo "test-packages: no Debian mirror for $SUITE in apt's sources" >&2; exit 1; }
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources=/etc/apt/sources.list

WORK=$(mktemp -d "$ROOT_DIR/build/debian-test.XXXXXX")
R=$WORK/root
UNSHARE_PID=""
SYSTEMD_PID=""

cleanup() {
  local rc=$?
  if [ -n "$SYSTEMD_PID" ]; then
    # A blanked service locks terminal switching of this machine's console;
    # a stopped test must not leave it locked.
    [ -x "$R/usr/bin/saalwacht-cli" ] && inroot saalwacht-cli --timeout 3 127.0.0.1 reset >/dev/null 2>&1
    # PID 1 of the namespace: everything started in there ends with it.
    kill -KILL "$SYSTEMD_PID" 2>/dev/null || true
  fi
  if [ -n "$UNSHARE_PID" ]; then
    kill -KILL "$UNSHARE_PID" 2>/dev/null || true
    wait "$UNSHARE_PID" 2>/dev/null || true
  fi
  # Deepest mounts first, a few rounds for mounts hidden under others; the
  # root is deleted only when nothing is mounted in it any more.
  local m round
  for round in 1 2 3 4; do
    for m in $(findmnt -rn -o TARGET | grep -F "$R" | sort -r); do umount "$m" 2>/dev/null || true; done
  done
  if findmnt -rn -o TARGET | grep -qF "$R"; then
    echo "test-packages: $R is still mounted; left in place" >&2
  else
    rm -rf "$WORK"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- the root ----

key=$(printf '%s\n' "$SUITE" "$BASE_PACKAGES" "$mirror" | sha256sum | cut -c1-12)
base=$CACHE/base-$key.tar.zst
mkdir -p "$R"
if [ -f "$base" ]; then
  echo "test-packages: unpacking the cached Debian root"
  tar --zstd -xf "$base" -C "$R"
else
  echo "test-packages: making a Debian $SUITE root with debootstrap (log: $CACHE/debootstrap.log)"
  if ! debootstrap --variant=minbase --include="$BASE_PACKAGES" --cache-dir="$CACHE/archives" \
      "$SUITE" "$R" "$mirror" >"$CACHE/debootstrap.log" 2>&1; then
    tail -n 20 "$CACHE/debootstrap.log"
    exit 1
  fi
  rm -rf "$R"/var/cache/apt/archives/*.deb
  tar --zstd -cf "$base.new" -C "$R" . && mv "$base.new" "$base"
fi
# The root's apt uses this machine's Debian sources, updates included.
if [ "$sources" = /etc/apt/sources.list ]; then
  cp "$sources" "$R/etc/apt/sources.list"
else
  cp "$sources" "$R/etc/apt/sources.list.d/"
  rm -f "$R/etc/apt/sources.list"
fi
cp /etc/resolv.conf "$R/etc/resolv.conf"
# As on an installed system (debootstrap writes none).
printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$R/etc/hosts"
# No terminals to log in on: nothing waits for their devices.
for unit in getty.target serial-getty@.service console-getty.service; do
  ln -sf /dev/null "$R/etc/systemd/system/$unit"
done
# The root is a mount point of its own (systemd wants one), with the package
# cache of earlier runs inside.
mount --bind "$R" "$R"
mount --bind "$CACHE/archives" "$R/var/cache/apt/archives"
mkdir -p "$R/root/debs"
cp "${DEBS[@]}" "$R/root/debs/"

# The stand-in for the power-off, in place before the package can start the
# service. It also asks logind whether the real power-off would be allowed
# from inside the service's sandbox.
mkdir -p "$R/etc/systemd/system/kursdienst.service.d"
cat >"$R/etc/systemd/system/kursdienst.service.d/50-test-poweroff.conf" <<'EOF'
[Service]
Environment=KURSDIENST_POWEROFF=/usr/local/sbin/poweroff-standin
# /dev/tty0 in the root is this machine's own console: a blank must not lock
# its terminal switching.
Environment=KURSDIENST_CONSOLE_DEVICE=/run/kursdienst/no-console
EOF
cat >"$R/usr/local/sbin/poweroff-standin" <<'EOF'
#!/bin/sh
answer=$(busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager CanPowerOff 2>&1)
echo "stand-in: power-off requested; logind CanPowerOff: $answer"
EOF
chmod 755 "$R/usr/local/sbin/poweroff-standin"

# Dependencies are resolved by apt in the root and fetched now, while the
# root still shares this machine's network; a dependency that Debian cannot
# satisfy fails here.
export DEBIAN_FRONTEND=noninteractive
echo "test-packages: fetching the packages' dependencies into the root"
chroot "$R" apt-get update -q >"$WORK/apt-update.log" 2>&1 || { cat "$WORK/apt-update.log"; exit 1; }
chroot "$R" sh -c 'apt-get install -y -q --no-install-recommends --download-only /root/debs/*.deb' \
  >"$WORK/apt-fetch.log" 2>&1 || { cat "$WORK/apt-fetch.log"; exit 1; }
# apt keeps copies of the local packages beside the downloads; only Debian's stay cached.
rm -f "$CACHE"/archives/saalwacht_*.deb "$CACHE"/archives/kursdienst_*.deb

# ---- boot ----

echo "test-packages: booting systemd in the root"
unshare --fork --pid --mount --uts --ipc --net --mount-proc="$R/proc" \
  chroot "$R" /lib/systemd/systemd --system >"$WORK/boot.log" 2>&1 &
UNSHARE_PID=$!
for _ in $(seq 100); do
  SYSTEMD_PID=$(cat "/proc/$UNSHARE_PID/task/$UNSHARE_PID/children" 2>/dev/null | awk '{print $1}')
  [ -n "$SYSTEMD_PID" ] && break
  sleep 0.1
done
[ -n "$SYSTEMD_PID" ] || { echo "test-packages: systemd did not start" >&2; cat "$WORK/boot.log"; exit 1; }

# A command inside the booted root, with a clean environment.
inroot() {
  nsenter --target "$SYSTEMD_PID" --mount --uts --ipc --net --pid --root --wd \
    /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
}

state=""
for _ in $(seq 120); do
  state=$(inroot systemctl is-system-running 2>/dev/null || true)
  case $state in running | degraded) break ;; esac
  sleep 0.5
done
case $state in
  running | degraded) echo "test-packages: the root's systemd is up ($state)" ;;
  *) echo "test-packages: the root's systemd did not come up ($state)" >&2; tail -n 30 "$WORK/boot.log"; exit 1 ;;
esac

source "$ROOT_DIR/scripts/checks.sh"
absent() { [ ! -e "$R$1" ] && [ ! -L "$R$1" ]; }
# User ids of the processes named $1 in the root, one a line.
process_owners() {
  inroot sh -c 'for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = "$1" ] && awk "/^Uid:/ {print \$2}" "$p/status" 2>/dev/null
  done; true' sh "$1"
}
runs_as() { [ "$(process_owners "$1")" = "$(inroot id -u "$2")" ]; }
running() { [ -n "$(process_owners "$1")" ]; }
not_running() { [ -z "$(process_owners "$1")" ]; }
cli() { inroot saalwacht-cli --timeout 10 127.0.0.1 "$@" >>"$WORK/cli.log" 2>&1; }
# An unprivileged user may open an ICMP datagram socket (the console's echo test).
echo_allowed() {
  inroot runuser -u lehrer -- perl -MSocket -e 'socket(my $s, PF_INET, SOCK_DGRAM, 1) or exit 1'
}

# ---- a student at the PC: a logind session on seat0 with its X server ----

inroot useradd --create-home --shell /bin/bash schueler
inroot useradd --create-home --shell /bin/bash lehrer
inroot runuser -u schueler -- sh -c 'touch "$HOME/.Xauthority"; xauth -q -f "$HOME/.Xauthority" add :7 . "$(mcookie)"'
vt=$(inroot cat /sys/class/tty/tty0/active 2>/dev/null | sed -n 's/^tty\([0-9]*\)$/\1/p')
session_env=(--setenv=XDG_SESSION_TYPE=x11 --setenv=XDG_SEAT=seat0 --setenv=DISPLAY=:7
             --setenv=XAUTHORITY=/home/schueler/.Xauthority)
# On a seat with virtual terminals the active session is the one on the
# terminal in front; the student's session claims that one.
[ -n "$vt" ] && session_env+=(--setenv=XDG_VTNR="$vt")
inroot systemd-run --quiet --unit=schueler-sitzung -p PAMName=login -p User=schueler "${session_env[@]}" \
  /usr/bin/Xvfb :7 -screen 0 1024x768x24 -auth /home/schueler/.Xauthority -nolisten tcp
x_ready() { [ -S "$R/tmp/.X11-unix/X7" ]; }
active_session() { [ -n "$(inroot loginctl show-seat seat0 -P ActiveSession 2>/dev/null)" ]; }
check "the student's X server runs" within 20 x_ready
check "logind has the student's session active on seat0" within 10 active_session
check "before installing, users may not send ICMP echo requests" eval '! echo_allowed'

# ---- install ----

# Everything was fetched; the root's own network has nothing but loopback.
echo "test-packages: installing both packages with apt in the booted root"
if ! inroot sh -c 'apt-get install -y -q --no-install-recommends /root/debs/*.deb' \
    >"$WORK/apt-install.log" 2>&1; then
  cat "$WORK/apt-install.log"
  exit 1
fi
files_of() { inroot dpkg-query -L "$1"; }
mapfile -t PACKAGE_PATHS < <({ files_of saalwacht; files_of kursdienst; } | sort -u)

echo "test-packages: the student service"
check "kursdienst.service is enabled" equals "$(inroot systemctl is-enabled kursdienst)" enabled
service_active() { [ "$(inroot systemctl is-active kursdienst)" = active ]; }
check "kursdienst.service is active" within 20 service_active
environment=$(inroot systemctl show kursdienst -P Environment)
if [[ "$environment" != *KURSDIENST_POWEROFF=/usr/local/sbin/poweroff-standin* ]]; then
  echo "test-packages: the service would power off for real; stopping here" >&2
  exit 1
fi
check "the helper user exists without home or shell" \
  equals "$(inroot getent passwd kursdienst | cut -d: -f6,7)" "/nonexistent:/usr/sbin/nologin"
check "the settings file is a conffile with every key commented out" \
  equals "$(inroot sh -c 'dpkg-query -W -f="\${Conffiles}" kursdienst | awk "{print \$1}"; grep -c "^[^#]" /etc/kursdienst/kursdienst.conf || true')" \
  "$(printf '/etc/kursdienst/kursdienst.conf\n0')"
check "the trusted-keys folder belongs to root, writable by root only" \
  equals "$(stat -c '%U %a' "$R/etc/kursdienst/trusted-keys")" "root 755"

# The sandbox as the kernel applies it to the running service.
main_pid=$(inroot systemctl show kursdienst -P MainPID)
status=$(inroot cat "/proc/$main_pid/status" 2>/dev/null || true)
check "the service runs with no new privileges" contains "$status" $'NoNewPrivs:\t1'
check "the service runs under a system call filter" contains "$status" $'Seccomp:\t2'
bounding=$(awk '/^CapBnd:/ {print $2}' <<<"$status")
# CHOWN DAC_OVERRIDE DAC_READ_SEARCH FOWNER KILL SETGID SETUID SYS_PTRACE SYS_TTY_CONFIG
check "the service's capability bounding set is exactly its nine capabilities" \
  equals "$bounding" "00000000040800ef"
mountinfo=$(inroot cat "/proc/$main_pid/mountinfo" 2>/dev/null || true)
# Options and file system type of the mount that holds $1, as the service
# sees it: the last one on the longest leading part of the path.
mounted() {
  awk -v p="$1" '{
      m = $5
      if (!(m == p || m == "/" || index(p, m "/") == 1)) next
      if (length(m) < best) next
      best = length(m); sep = 7; while ($sep != "-") sep++; line = $6 " " $(sep + 1)
    } END { print line }' <<<"$mountinfo"
}
check "the file system is read-only for the service" contains "$(mounted /)" "ro"
check "/home is read-only for the service" contains "$(mounted /home)" "ro"
check "/var/lib/kursdienst is writable for the service" contains "$(mounted /var/lib/kursdienst)" "rw"
check "/run/kursdienst is writable for the service" contains "$(mounted /run/kursdienst)" "rw"
check "the service's /dev is a private one" contains "$(mounted /dev)" "tmpfs"
check "... with the console device bound in" contains "$(mounted /dev/tty0)" "devtmpfs"
exposure=$(inroot systemd-analyze security kursdienst 2>/dev/null | sed -n 's/.*Overall exposure level for kursdienst.service: \([0-9.]*\).*/\1/p')
echo "          exposure of the running unit: $exposure"
check "systemd-analyze security rates the unit's exposure at most 5.0" awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 5.0) }'
port_open() { inroot sh -c 'grep -q ":0FA0 00000000000000000000000000000000:0000 0A" /proc/net/tcp6 || grep -q ":0FA0 00000000:0000 0A" /proc/net/tcp'; }
check "the service listens on port 4000" within 10 port_open

# The helpers run as the helper user, never as the student.
helper_user=kursdienst
echo "          helpers are expected to run as $helper_user"
check "screenshot is delivered" cli screenshot /root/shot.jpg
fallback_size=$(identify -format '%wx%h' "$R/usr/share/kursdienst/swscrerror.jpg")
check "the screenshot is a picture of the student's 1024x768 screen, not the fallback ($fallback_size)" \
  equals "$(identify -format '%wx%h' "$R/root/shot.jpg" 2>&1)" 1024x768
check "the screenshot spool is empty again" equals "$(ls -A "$R/var/lib/kursdienst/spool" 2>/dev/null)" ""
check "blank is delivered" cli blank
flag_is() { [ "$(cat "$R/var/lib/kursdienst/swdkl.bin" 2>/dev/null)" = "$1" ]; }
check "the blank flag says on" within 10 flag_is 1
check "swdkl runs in the student's session as $helper_user" within 10 runs_as swdkl "$helper_user"
check "message is delivered" cli message "Bitte speichert eure Arbeit."
check "swmsg shows it as $helper_user" within 10 runs_as swmsg "$helper_user"
check "reset is delivered" cli reset
check "swdkl has ended" within 10 not_running swdkl
check "the blank flag says off" within 10 flag_is 0
check "shutdown is delivered" cli shutdown
standin_ran() { inroot journalctl -u kursdienst --no-pager -o cat | grep -q 'stand-in: power-off requested'; }
# The service tells the student first and powers off 16.5 s later.
check "the power-off went to the stand-in" within 30 standin_ran
check "logind would power off for the sandboxed service" \
  contains "$(inroot journalctl -u kursdienst --no-pager -o cat | grep 'stand-in:' | tail -n 1)" 'CanPowerOff: s "yes"'
check "the service is still active after its helpers' work" service_active

echo "test-packages: a secured room"
# The sandbox must let the service read its settings and keys, look up the
# host names of "allow" and check signatures.
inroot saalwacht-cli keygen /root/lehrer.key "Lehrer-PC" >>"$WORK/cli.log" 2>&1
cp "$R/root/lehrer.key.pub" "$R/etc/kursdienst/trusted-keys/lehrer.pub"
printf 'allow = localhost\ntrusted-keys = /etc/kursdienst/trusted-keys\n' >>"$R/etc/kursdienst/kursdienst.conf"
check "kursdienst /CHECK accepts the settings" eval 'inroot kursdienst /CHECK >>"$WORK/cli.log" 2>&1'
inroot systemctl restart kursdienst
check "the secured service is active" within 20 service_active
check "the secured service listens on port 4000" within 10 port_open
signed() { inroot saalwacht-cli --timeout 10 --key /root/lehrer.key 127.0.0.1 "$@" >>"$WORK/cli.log" 2>&1; }
check "a signed blank is delivered" signed blank
check "swdkl runs" within 10 running swdkl
check "a plain reset is refused" eval '! cli reset'
check "swdkl still runs" running swdkl
check "a signed reset is delivered" signed reset
check "swdkl has ended" within 10 not_running swdkl
rm -f "$R/etc/kursdienst/trusted-keys/lehrer.pub"
if [ "$failed" -gt 0 ]; then
  echo "          journal of kursdienst.service:"
  inroot journalctl -u kursdienst --no-pager -o short-monotonic | tail -n 40 | sed 's/^/          /'
fi

echo "test-packages: the teacher console"
check "users may send ICMP echo requests (the console's echo test)" echo_allowed
console_rc=0
inroot runuser -u lehrer -- sh -c '
  home=$(mktemp -d)
  QT_QPA_PLATFORM=offscreen SAALWACHT_HOME=$home saalwacht >/tmp/console.log 2>&1 &
  pid=$!
  sleep 4
  if ! kill -0 $pid 2>/dev/null; then echo ended; cat /tmp/console.log; exit 1; fi
  kill -TERM $pid
  # The close sequence takes at most 16 s; a console that hangs fails the check.
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
  if kill -0 $pid 2>/dev/null; then kill -9 $pid; echo "did not end on SIGTERM"; cat /tmp/console.log; exit 1; fi
  wait $pid
  rc=$?
  cmp -s "$home/saalwacht.bmp" /usr/share/saalwacht/saalwacht.bmp || { echo "no picture store"; exit 1; }
  rm -rf "$home"
  exit $rc
' >"$WORK/console-check.log" 2>&1 || console_rc=$?
check "the console starts offscreen, seeds its folder from the installed store and ends on SIGTERM" \
  equals "$console_rc $(cat "$WORK/console-check.log")" "0 "
check "the console's help pages are found beside it" test -f "$R/usr/lib/saalwacht/Hilfe/index.htm"
check "... also under the English menu caption" test -f "$R/usr/lib/saalwacht/Help/index.htm"

# ---- purge ----

echo "test-packages: purging both packages"
inroot apt-get purge -y -q saalwacht kursdienst >"$WORK/apt-purge.log" 2>&1 || { cat "$WORK/apt-purge.log"; exit 1; }
rm -rf "$R/etc/systemd/system/kursdienst.service.d"
check "dpkg knows neither package any more" \
  equals "$(inroot dpkg-query -W -f='${db:Status-Abbrev}\n' saalwacht kursdienst 2>/dev/null | grep -v '^un' || true)" ""
left=()
for path in "${PACKAGE_PATHS[@]}"; do
  # Folders the packages share with the system stay.
  [ -d "$R$path" ] && [ -n "$(ls -A "$R$path" 2>/dev/null)" ] && continue
  [ -e "$R$path" ] || [ -L "$R$path" ] && left+=("$path")
done
check "no file of the packages is left" equals "${left[*]}" ""
for path in /etc/kursdienst /var/lib/kursdienst /run/kursdienst /usr/lib/kursdienst /usr/lib/saalwacht \
    /etc/systemd/system/multi-user.target.wants/kursdienst.service; do
  check "$path is gone" absent "$path"
done
check "the helper user and group are gone" eval '! inroot getent passwd kursdienst && ! inroot getent group kursdienst'
check "no helper runs" eval 'not_running swdkl && not_running swmsg && not_running swsdmsg'
check "systemd knows no kursdienst unit" eval '! inroot systemctl cat kursdienst >/dev/null 2>&1'

echo "test-packages: $(( $(date +%s) - started )) s"
echo "packages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
