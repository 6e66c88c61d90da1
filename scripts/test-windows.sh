#!/usr/bin/env bash
# The Windows stage: cross-builds the Windows programs and the installer into
# build-win/, then under Wine runs their unit tests, an end-to-end smoke test
# of the installed service driven from Linux with build/bin/saalwacht-cli, and
# the silent installer. Installs its Debian packages when they are missing.
#
# Nothing here can power the machine off: every service it starts has the
# power-off replaced by a stand-in that only writes a marker file, and the
# service is started only after its registration has been checked for that.
# Services listen on 127.0.3.1 and 127.0.3.2 only.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
started=$(date +%s)

PACKAGES=(cmake ninja-build ccache g++-mingw-w64-x86-64-posix libgcrypt-mingw-w64-dev wine wine64 nsis
          libgtest-dev googletest xvfb xauth x11-utils imagemagick)
scripts/install-packages.sh test-windows "${PACKAGES[@]}"

# The Linux command-line client drives the Windows service.
CLI=${SAALWACHT_CLI:-$ROOT/build/bin/saalwacht-cli}
[ -x "$CLI" ] || scripts/setup.sh

# ---- cross build ----

jobs=${SAALWACHT_JOBS:-$(nproc 2>/dev/null || echo 2)}
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake
OUT=$ROOT/build-win
mkdir -p "$OUT"
GTEST_PREFIX=$OUT/googletest-install
if [ ! -f "$GTEST_PREFIX/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "test-windows: building GoogleTest for Windows"
  cmake -S /usr/src/googletest -B "$OUT/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$GTEST_PREFIX" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    >"$OUT/googletest-configure.log"
  ninja -C "$OUT/googletest" -j"$jobs" install >"$OUT/googletest-build.log"
fi
echo "test-windows: building the Windows programs"
cmake -S . -B "$OUT/main" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
  -DSAALWACHT_BUILD_CONSOLE=OFF -DSAALWACHT_BUILD_BENCH=OFF -DGTest_DIR="$GTEST_PREFIX/lib/cmake/GTest" >/dev/null
ninja -C "$OUT/main" -j"$jobs"
BIN=$OUT/main/bin
STANDIN=$OUT/main/standin
VERSION=$(sed -n 's/^project(saalwacht VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
SETUP=$OUT/kursdienst-setup-$VERSION.exe
makensis -V2 -DVERSION="$VERSION" -DBINDIR="$BIN" -DOUTFILE="$SETUP" packaging/windows/kursdienst.nsi

# ---- Wine: a fresh prefix and a private X display ----

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/saalwacht-wine.XXXXXX)
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# German Windows PCs: the ANSI code page is Windows-1252.
export LANG=de_DE.UTF-8
unset KURSDIENST_POWEROFF KURSDIENST_BIND KURSDIENST_STATE_DIR KURSDIENST_SESSION
XVFB_PID=""
WORK=$(mktemp -d /tmp/saalwacht-wintest.XXXXXX)
cleanup() {
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$WINEPREFIX" "$WORK"
}
trap cleanup EXIT

for n in $(seq 140 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { DISPLAY_NUMBER=$n; break; }
done
Xvfb ":$DISPLAY_NUMBER" -screen 0 800x600x24 -br -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break; sleep 0.1; done

echo "test-windows: preparing the Wine prefix $WINEPREFIX"
wineboot -i >"$WORK/wineboot.log" 2>&1
# Commands sent while the server winds down fail: wait for it, then keep one up.
wineserver -w
wineserver -p
DRIVE_C=$WINEPREFIX/drive_c

source "$ROOT/scripts/checks.sh"
probe() { { wine 'C:\swtest\swprobe.exe' "$@" 2>/dev/null || true; } | tr -d '\r'; }
# Texts as they are, line breaks included.
probe_text() { wine 'C:\swtest\swprobe.exe' text "$1" 2>/dev/null || true; }
service_gone() { ! wine reg query 'HKLM\System\CurrentControlSet\Services\Service1' >/dev/null 2>&1; }
windows_are() { equals "$(probe windows "$1")" "$2" >/dev/null; }
title_is() { equals "$(probe title "$1")" "$2" >/dev/null; }
helpers() { equals "$(probe count "$1")" "$2" >/dev/null; }
# One process of that name runs, and it is not the one with process id $2.
replaced() { local now; now=$(probe pids "$1"); [ -n "$now" ] && [ "$now" != "$2" ] && [ "$(wc -l <<<"$now")" -eq 1 ]; }
port_open() { (exec 3<>"/dev/tcp/$1/4000") 2>/dev/null; }
port_closed() { ! port_open "$1"; }
file_is() { [ "$(cat "$1" 2>/dev/null)" = "$2" ]; }
cli() { "$CLI" --timeout 5 "$@" >"$WORK/cli.out" 2>&1; local rc=$?; cat "$WORK/cli.out" | sed 's/^/    /'; return $rc; }
service_key() { { wine reg query 'HKLM\System\CurrentControlSet\Services\Service1' /v "$1" 2>/dev/null || true; } | tr -d '\r'; }

# ---- unit tests as Windows programs ----

echo "test-windows: unit tests under Wine"
for t in protocol_test crypto_test platform_test service_test; do
  if wine "$BIN/$t.exe" >"$WORK/$t.log" 2>&1; then
    check "$t.exe ($(grep -a -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$WORK/$t.log"))" true
  else
    tr -d '\r' <"$WORK/$t.log" | grep -a -E "FAILED|Failure|Expected|Which is|Value of|actual" | head -40
    check "$t.exe" false
  fi
done

# ---- end to end: the installed service, driven from Linux ----

echo "test-windows: end-to-end test of the service"
mkdir -p "$DRIVE_C/Saalwacht" "$DRIVE_C/swtest"
cp "$BIN"/{kursdienst,swdkl,swmsg,swsdmsg,swscr}.exe "$BIN/swscrerror.jpg" "$DRIVE_C/Saalwacht/"
cp "$STANDIN"/*.exe "$DRIVE_C/swtest/"
POWEROFF='C:\swtest\poweroff_standin.exe'

install_out=$({ KURSDIENST_BIND=127.0.3.1 KURSDIENST_POWEROFF=$POWEROFF wine 'C:\Saalwacht\kursdienst.exe' /INSTALL /SILENT 2>&1 || true; } | tr -d '\r')
check "/INSTALL reports success" equals "$install_out" "Service erfolgreich installiert"
image_path=$(service_key ImagePath)
check "registered as Service1, shown as kursdienst" contains "$(service_key DisplayName)" "kursdienst"
check "starts automatically" contains "$(service_key Start)" "0x2"
check "registered command line binds to 127.0.3.1" contains "$image_path" "--bind 127.0.3.1"
if [[ "$image_path" != *"--poweroff $POWEROFF"* ]]; then
  echo "test-windows: the service would power off for real; not starting it" >&2
  exit 1
fi

# The session launch needs a logon process, which Wine does not run.
wine 'C:\swtest\winlogon.exe' >/dev/null 2>&1 &
within 10 helpers winlogon.exe 1 || true
# Wine may already have started the automatic service; "net start" then says so.
wine net start Service1 >"$WORK/net-start.log" 2>&1 || true
check "port 4000 of 127.0.3.1 answers a Linux client" within 20 port_open 127.0.3.1

check "blank is delivered" cli 127.0.3.1 blank
check "swdkl.exe runs" within 10 helpers swdkl.exe 1
check "flag file c:\\swdkl.bin says 1" within 5 file_is "$DRIVE_C/swdkl.bin" 1
check "a black topmost window covers the screen" within 10 windows_are SaalwachtDunkel "800x600 topmost"
cli 127.0.3.1 blank >/dev/null || true
sleep 1
check "a second blank starts no second helper" helpers swdkl.exe 1
first_blanker=$(probe pids swdkl.exe)
probe quit SaalwachtDunkel >/dev/null
sleep 1
check "a WM_QUIT posted by another program does not end the blanking" equals "$(probe pids swdkl.exe)" "$first_blanker"
probe hide SaalwachtDunkel >/dev/null
check "hidden, lowered and shrunk by another program, it covers the screen again" \
  within 2 windows_are SaalwachtDunkel "800x600 topmost"
wine taskkill /f /pid "$first_blanker" >/dev/null 2>&1 || true
killed_at=$(date +%s%N)
check "the student ends swdkl.exe: a new one is back at once" within 3 replaced swdkl.exe "$first_blanker"
echo "          back after $((($(date +%s%N) - killed_at) / 1000000)) ms (the service waits on its handle)"
check "and covers the screen" within 3 windows_are SaalwachtDunkel "800x600 topmost"

check "reset is delivered" cli 127.0.3.1 reset
check "swdkl.exe has ended" within 10 helpers swdkl.exe 0
check "flag file says 0" within 5 file_is "$DRIVE_C/swdkl.bin" 0

# The student's own program named swdkl.exe, elsewhere, does not stop the blanking.
mkdir -p "$DRIVE_C/users/Public"
cp "$STANDIN/winlogon.exe" "$DRIVE_C/users/Public/swdkl.exe"
wine 'C:\users\Public\swdkl.exe' >/dev/null 2>&1 &
IMPOSTOR_PID=$!
check "an impostor named swdkl.exe runs" within 10 helpers swdkl.exe 1
check "blank is delivered beside it" cli 127.0.3.1 blank
check "the real swdkl.exe runs too" within 10 helpers swdkl.exe 2
check "and covers the screen" within 10 windows_are SaalwachtDunkel "800x600 topmost"
check "reset is delivered" cli 127.0.3.1 reset
check "the real one ends, the student's program is not killed by name" within 10 helpers swdkl.exe 1
kill "$IMPOSTOR_PID" 2>/dev/null || true
wait "$IMPOSTOR_PID" 2>/dev/null || true

text=$'Grüße aus "Raum 3" – 5 € \\ Ende\nzweite Zeile'
check "message with umlauts is delivered" cli 127.0.3.1 message "$text"
check "the message window appears" within 10 title_is SaalwachtNachricht "Nachricht vom Lehrer"
check "the student reads the text unchanged" equals "$(probe_text SaalwachtNachricht)" "${text//$'\n'/$'\r\n'}"

check "screenshot is delivered" cli 127.0.3.1 screenshot "$WORK/shot.jpg"
check "the screenshot is a JPEG of the whole 800x600 screen" \
  equals "$(identify -format '%m %wx%h' "$WORK/shot.jpg" 2>/dev/null)" "JPEG 800x600"
import -display "$DISPLAY" -window root "$WORK/screen.png" || true
rmse=$({ compare -metric RMSE "$WORK/screen.png" "$WORK/shot.jpg" null: 2>&1 || true; } | sed -n 's/.*(\(.*\)).*/\1/p')
check "the screenshot shows what the X screen shows (RMSE ${rmse:-?})" awk -v r="${rmse:-1}" 'BEGIN { exit !(r < 0.05) }'
check "the screenshot shows the message window, not a black picture" \
  awk -v s="$(convert "$WORK/shot.jpg" -format '%[fx:standard_deviation]' info: 2>/dev/null)" 'BEGIN { exit !(s > 0.1) }'
SPOOL=$DRIVE_C/ProgramData/Saalwacht/spool
check "the picture passed through the service's own folder and was taken away" \
  within 5 eval '[ -d "$SPOOL" ] && [ -z "$(ls -A "$SPOOL")" ]'
check "nothing went through the public documents folder" test ! -e "$DRIVE_C/users/Public/Documents/screenshot.jpg"

check "shutdown is delivered" cli 127.0.3.1 shutdown
check "the shut-down notice appears" within 10 helpers swsdmsg.exe 1
cli 127.0.3.1 shutdown >/dev/null || true
check "the power-off stand-in runs once, after the delay" within 30 file_is "$DRIVE_C/swtest/powered-off" off
sleep 1
check "a second shutdown powered off no second time" file_is "$DRIVE_C/swtest/powered-off" off
check "the service still serves afterwards" cli 127.0.3.1 reset

wine sc stop Service1 >"$WORK/sc-stop.log" 2>&1 || true
check "sc stop closes port 4000" within 15 port_closed 127.0.3.1
uninstall_out=$({ wine 'C:\Saalwacht\kursdienst.exe' /UNINSTALL /SILENT 2>&1 || true; } | tr -d '\r')
check "/UNINSTALL reports success" equals "$uninstall_out" "Service erfolgreich deinstalliert"
check "Service1 is gone" service_gone

# Started by hand instead of by Windows, with the helpers in its own session.
KURSDIENST_SESSION=service KURSDIENST_STATE_DIR='C:\handrun' KURSDIENST_POWEROFF=$POWEROFF \
  wine 'C:\Saalwacht\kursdienst.exe' --bind 127.0.3.3 >"$WORK/handrun.log" 2>&1 &
HANDRUN_PID=$!
check "started by hand, kursdienst serves in the foreground" within 20 port_open 127.0.3.3
check "and blanks in its own session" cli 127.0.3.3 blank
check "with swdkl.exe" within 10 helpers swdkl.exe 1
check "recording the flag in its state folder" within 5 file_is "$DRIVE_C/handrun/swdkl.bin" 1
cli 127.0.3.3 reset >/dev/null || true
check "and resets" within 10 helpers swdkl.exe 0
kill "$HANDRUN_PID" 2>/dev/null || true
wait "$HANDRUN_PID" 2>/dev/null || true
check "it ends with its process" within 10 port_closed 127.0.3.3

# ---- a secured PC: only the trusted console commands it ----

echo "test-windows: a secured PC"
"$CLI" keygen "$WORK/lehrer.key" "lehrer@wine" >/dev/null
"$CLI" keygen "$WORK/schueler.key" >/dev/null
mkdir -p "$DRIVE_C/secure/keys"
cp "$WORK/lehrer.key.pub" "$DRIVE_C/secure/keys/lehrer.pub"
printf 'trusted-keys = C:\\secure\\keys\r\n' >"$DRIVE_C/secure/kursdienst.conf"
start_secured() {
  KURSDIENST_CONFIG='C:\secure\kursdienst.conf' KURSDIENST_SESSION=service KURSDIENST_STATE_DIR='C:\secure\state' \
    KURSDIENST_POWEROFF=$POWEROFF wine 'C:\Saalwacht\kursdienst.exe' --bind 127.0.3.4 >"$WORK/secured.log" 2>&1 &
  SECURED_PID=$!
  within 20 port_open 127.0.3.4
}
stop_secured() {
  kill "$SECURED_PID" 2>/dev/null || true
  wait "$SECURED_PID" 2>/dev/null || true
  within 10 port_closed 127.0.3.4 || true
}
check "a service with a trusted key starts" start_secured
check "no other program can bind port 4000 beside it" equals "$(probe bind 127.0.3.4)" "refused"
check "a proven blank is carried out" cli --key "$WORK/lehrer.key" 127.0.3.4 blank
check "with swdkl.exe" within 10 helpers swdkl.exe 1
check "a plain reset is refused" eval '! cli 127.0.3.4 reset'
check "and the CLI says why" contains "$(cat "$WORK/cli.out")" "not a trusted console"
check "so is a key of the student's own" eval '! cli --key "$WORK/schueler.key" 127.0.3.4 reset'
sleep 1
check "the PC stays blanked" helpers swdkl.exe 1
check "a proven reset is carried out" cli --key "$WORK/lehrer.key" 127.0.3.4 reset
check "swdkl.exe ends" within 10 helpers swdkl.exe 0
stop_secured
printf 'allow = 127.0.3.50\r\n' >"$DRIVE_C/secure/kursdienst.conf"
check "a service with allowed sources starts" start_secured
check "a command from another source is refused" eval '! cli 127.0.3.4 blank'
sleep 1
check "and does nothing" helpers swdkl.exe 0
check "a command from the allowed source is carried out" cli --from 127.0.3.50 127.0.3.4 blank
check "with swdkl.exe" within 10 helpers swdkl.exe 1
cli --from 127.0.3.50 127.0.3.4 reset >/dev/null || true
check "and resets" within 10 helpers swdkl.exe 0
stop_secured
printf 'alow = 127.0.3.50\r\n' >"$DRIVE_C/secure/kursdienst.conf"
check "a faulty settings file is named by /CHECK" contains \
  "$({ KURSDIENST_CONFIG='C:\secure\kursdienst.conf' wine 'C:\Saalwacht\kursdienst.exe' /CHECK 2>&1 || true; } | tr -d '\r')" \
  'line 1, key "alow": unknown key'

# ---- the installer, silently ----

echo "test-windows: silent installer"
PF="$DRIVE_C/Program Files/Saalwacht"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Saalwacht-kursdienst'
cp "$SETUP" "$DRIVE_C/swtest/setup.exe"
cp "$WORK/lehrer.key.pub" "$DRIVE_C/swtest/lehrer.pub"
KURSDIENST_BIND=127.0.3.2 KURSDIENST_POWEROFF=$POWEROFF wine 'C:\swtest\setup.exe' /S \
  "/ALLOW=127.0.0.1, 127.0.3.0/24" '/TRUSTKEY=C:\swtest\lehrer.pub' >"$WORK/setup.log" 2>&1 &&
  setup_rc=0 || setup_rc=$?
check "setup.exe /S succeeds" equals "$setup_rc" 0
for f in kursdienst.exe swdkl.exe swmsg.exe swsdmsg.exe swscr.exe swscrerror.jpg uninstall.exe; do
  check "Program Files\\Saalwacht\\$f installed" test -f "$PF/$f"
done
check "Windows lists it among the installed programs" \
  contains "$({ wine reg query "$UNINSTALL_KEY" /v DisplayVersion 2>/dev/null || true; } | tr -d '\r')" "$VERSION"
check "the programs carry version $VERSION" \
  equals "$(probe version 'C:\Program Files\Saalwacht\kursdienst.exe')" "$VERSION.0"
installed_path=$(service_key ImagePath)
check "the service runs from Program Files" contains "$installed_path" 'C:\Program Files\Saalwacht\kursdienst.exe'
if [[ "$installed_path" != *"--poweroff $POWEROFF"* ]]; then
  wine sc stop Service1 >/dev/null 2>&1 || true
  echo "test-windows: the installer did not pass the power-off stand-in on; service stopped" >&2
  exit 1
fi
check "the installer wrote the allowed sources" \
  contains "$(tr -d '\r' <"$PF/kursdienst.conf" 2>/dev/null)" "allow = 127.0.0.1, 127.0.3.0/24"
check "and copied the key to trust" cmp -s "$PF/trusted-keys/lehrer.pub" "$WORK/lehrer.key.pub"
check "the installed service answers" within 20 port_open 127.0.3.2
check "the installed service refuses a plain command" eval '! cli 127.0.3.2 blank'
check "the installed service blanks for the trusted console" cli --key "$WORK/lehrer.key" 127.0.3.2 blank
check "with the installed swdkl.exe" within 10 helpers swdkl.exe 1
cli --key "$WORK/lehrer.key" 127.0.3.2 reset >/dev/null || true
check "and resets" within 10 helpers swdkl.exe 0

wine 'C:\Program Files\Saalwacht\uninstall.exe' /S >"$WORK/uninstall.log" 2>&1 || true
check "the uninstaller removes the programs and the settings" within 30 test ! -e "$PF"
check "the uninstaller removes the service" within 10 service_gone
check "and its port is closed" within 10 port_closed 127.0.3.2
check "and its entry among the installed programs" eval '! wine reg query "$UNINSTALL_KEY" >/dev/null 2>&1'

elapsed=$(($(date +%s) - started))
echo "test-windows: Windows stage took ${elapsed} s"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
