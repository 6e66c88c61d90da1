#!/usr/bin/env bash
# The demo classroom on this machine: eight student PCs, each a kursdienst on
# its own loopback address (127.0.0.11 to 127.0.0.18) with its own Xvfb desktop
# showing the student's name and an x11vnc server, and the teacher console with
# those eight seats and their live thumbnails.
# With a display the console opens there for you to try; without one it runs
# on its own Xvfb and the demo takes pictures of a short tour into demo-out/.
# Nothing is ever powered off: the services get a harmless stand-in.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

BIN=$PWD/build/bin
OUT=$PWD/demo-out
WORK=$(mktemp -d /tmp/saalwacht-demo-XXXXXX)
rm -rf "$OUT"
mkdir -p "$OUT"

NAMES=(Anna Ben Clara David Emma Felix Greta Hannes)
COLOURS=('#1d4e89' '#2e7d32' '#8e3b8e' '#b5591d' '#00796b' '#5d4037' '#ad1457' '#455a64')
ADDRESSES=()
for i in "${!NAMES[@]}"; do ADDRESSES+=("127.0.0.$((11 + i))"); done
PIDS=()
DISPLAYS=()
CONSOLE_PID=

cleanup() {
  [ -n "$CONSOLE_PID" ] && kill "$CONSOLE_PID" 2>/dev/null && sleep 2
  # Helpers that a service started belong to this demo too: take their ids
  # while they are still the services' children, then end everything by id.
  local helpers=()
  for pid in "${PIDS[@]}"; do
    for child in $(ps -o pid= --ppid "$pid" 2>/dev/null); do helpers+=("$child"); done
  done
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${helpers[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

cat > "$WORK/poweroff" <<'STANDIN'
#!/bin/sh
echo "demo: this PC would power off now" >&2
STANDIN
chmod +x "$WORK/poweroff"

start_xvfb() {  # WIDTHxHEIGHT -> sets XVFB_DISPLAY to ":N"
  local fd number
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 "$1x24" -nolisten tcp -noreset >>"$WORK/xvfb.log" 2>&1 &
  PIDS+=($!)
  read -r -t 10 -u "$fd" number
  exec {fd}>&-
  XVFB_DISPLAY=":$number"
}

cp "$(command -v x11vnc)" "$WORK/schueler-vncserver"
for i in "${!NAMES[@]}"; do
  name=${NAMES[$i]}
  start_xvfb 1024x768
  number=${XVFB_DISPLAY#:}
  DISPLAYS+=(":$number")
  # The name stands at the top, where message windows never cover it.
  convert -size 1024x768 xc:"${COLOURS[$i]}" -font DejaVu-Sans-Bold -fill white -pointsize 56 \
    -gravity north -annotate +0+30 "PC $((i + 1)) – $name" -font DejaVu-Sans -pointsize 24 \
    -annotate +0+110 "${ADDRESSES[$i]}" "$WORK/desktop-$name.png"
  DISPLAY=":$number" display -window root "$WORK/desktop-$name.png" || true
  mkdir -p "$WORK/state-$name"
  # Eight PCs share this machine: none may lock its terminal switching.
  DISPLAY=":$number" KURSDIENST_STATE_DIR="$WORK/state-$name" KURSDIENST_POWEROFF="$WORK/poweroff" \
    KURSDIENST_CONSOLE_DEVICE="$WORK/no-console" KURSDIENST_CONFIG="$WORK/state-$name/kursdienst.conf" \
    KURSDIENST_SESSION=service "$BIN/kursdienst" --bind "${ADDRESSES[$i]}" >"$WORK/kursdienst-$name.log" 2>&1 &
  PIDS+=($!)
  # The PC's VNC server with the remote password, for the teacher's thumbnails.
  # It runs under a name of its own: on a real PC it is not on the teacher's
  # machine, where the console counts the processes named x11vnc.
  "$WORK/schueler-vncserver" -display ":$number" -listen "${ADDRESSES[$i]}" -rfbport 5900 -noipv6 -passwd demo1234 -forever -shared \
    -quiet -noxdamage -nowf -nowcr >"$WORK/x11vnc-$name.log" 2>&1 &
  PIDS+=($!)
  # A listening viewer shows the teacher's screen when the teacher sends it;
  # each PC listens on a port of its own here, as all share one machine.
  DISPLAY=":$number" vncviewer -listen "$((5500 + 11 + i))" -ViewOnly -FullScreen -AlertOnFatalError=0 \
    >"$WORK/listen-$name.log" 2>&1 &
  PIDS+=($!)
  echo "demo: PC $((i + 1)) ($name) on ${ADDRESSES[$i]}, desktop ${DISPLAYS[$i]}"
done

# The teacher's console: eight seats in two rows, as in a small room.
HOME_DIR=$WORK/console
mkdir -p "$HOME_DIR"
# The teacher screen goes to a PC's listening viewer through x11vnc's remote
# control; exec keeps the process name x11vnc, which the console counts.
cat >"$WORK/demo-connect" <<'CONNECT'
#!/bin/sh
exec x11vnc -display "$1" -remote "connect:$2:$((5500 + ${2##*.}))" -quiet
CONNECT
chmod +x "$WORK/demo-connect"
# Releasing the internet is outside Saalwacht; a harmless stand-in runs while
# the room's internet would be released, and the console follows its name.
cp "$BIN/vnc_standin" "$WORK/internet-freigabe"
LEFTS=(136 272 640 776 136 272 640 776)
TOPS=(416 416 416 416 200 200 200 200)
{
  echo "[Raum]"
  for i in "${!NAMES[@]}"; do
    echo "rechnername$((i + 1))=${ADDRESSES[$i]}"
    echo "position_rechner$((i + 1))=${LEFTS[$i]},${TOPS[$i]}"
  done
  echo "[Befehle]"
  echo "Server_starten_befehl=x11vnc"
  echo "Server_starten_parameter=-display TEACHER -forever -shared -rfbport 5950 -listen 127.0.0.1 -nopw -quiet -noxdamage"
  echo "Lehrermonitor_an_Schuelermonitor_schicken_befehl=$WORK/demo-connect"
  echo "Lehrermonitor_an_Schuelermonitor_schicken_parameter=TEACHER"
  echo "Schuelermonitor_holen_befehl=$PWD/packaging/linux/saalwacht-vncviewer"
  echo "Schuelermonitor_holen_parameter=-ViewOnly -Shared"
  echo "Schuelermonitor_holenfernsteuern_parameter=-Shared"
  echo "Schuelermonitor_holen_port=5900"
  echo "Skalierung_klein="
  echo "Skalierung_mittel="
  echo "Skalierung_gross="
  echo "[Internetfreigabe]"
  echo "Internetfreigabebefehl=$WORK/internet-freigabe"
  echo "Internetsperrbefehl=internet-freigabe"
  echo "[Einstellungen]"
  echo "Raumbezeichnung=Demo-Klassenraum"
  echo "Miniaturbilder=anzeigen"
  echo "Groesse_der_Miniaturbilder=12"
} >"$HOME_DIR/saalwacht.ini"
build/console/make_picture_store "$HOME_DIR/saalwacht.bmp" demo1234

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  sed -i "s|TEACHER|$DISPLAY|g" "$HOME_DIR/saalwacht.ini"
  echo "demo: the console opens on $DISPLAY; the remote password is demo1234. Close it to end the demo."
  echo "demo: the student desktops are ${DISPLAYS[*]} (e.g. DISPLAY=${DISPLAYS[0]} xwd -root | xwud)."
  SAALWACHT_HOME="$HOME_DIR" "$BIN/saalwacht"
  exit 0
fi

start_xvfb 1024x720
TEACHER=$XVFB_DISPLAY
sed -i "s|TEACHER|$TEACHER|g" "$HOME_DIR/saalwacht.ini"
SAALWACHT_HOME="$HOME_DIR" DISPLAY="$TEACHER" XDG_RUNTIME_DIR="$WORK" "$BIN/saalwacht" >"$WORK/console.log" 2>&1 &
CONSOLE_PID=$!
export DISPLAY=$TEACHER
xdotool search --sync --onlyvisible --name '^Saalwacht$' >/dev/null
echo "demo: the console runs on $TEACHER"
sleep 8  # the seat walk finds the eight PCs and shows their screens

snapshot() {  # title file
  sleep 2
  import -window root -crop 1007x711+0+0 +repage "$WORK/teacher.png"
  local parts=()
  for i in "${!NAMES[@]}"; do
    import -display "${DISPLAYS[$i]}" -window root "$WORK/shot-$i.png"
    parts+=(-label "PC $((i + 1)) – ${NAMES[$i]}" "$WORK/shot-$i.png")
  done
  montage "${parts[@]}" -font DejaVu-Sans -pointsize 14 -tile 4x2 -geometry 240x180+6+6 "$WORK/students.png"
  convert "$WORK/teacher.png" -background white -gravity center "$WORK/students.png" -append \
    -gravity north -splice 0x44 -font DejaVu-Sans-Bold -pointsize 24 -annotate +0+8 "$1" "$OUT/$2.png"
  echo "demo: $1 -> $OUT/$2.png"
}

# Seat N's button on the screen: room plan at 8,80, the seat's panel inside it.
seat_menu() {  # seat, menu entry (0-based)
  local i=$(($1 - 1))
  xdotool mousemove $((8 + LEFTS[i] + 36)) $((80 + TOPS[i] + 40)) click 3
  sleep 0.5
  for _ in $(seq 0 "$2"); do xdotool key Down; done
  xdotool key Return
}
dialog_click() {  # window name, x, y inside it
  local id
  id=$(xdotool search --sync --onlyvisible --name "$1" | head -1)
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
}

snapshot "Der Unterricht beginnt: acht Schüler-PCs sind erreichbar" 1-start

seat_menu 1 4
snapshot "PC 1 (Anna) ist dunkelgeschaltet" 2-blank

xdotool mousemove $((426 + 55)) 40 click 1
id=$(xdotool search --sync --onlyvisible --name 'Nachricht senden' | head -1)
xdotool windowfocus --sync "$id"
xdotool type --delay 15 "Liebe Klasse, bitte speichert eure Arbeit. Gleich ist Pause!"
dialog_click 'Nachricht senden' $((96 + 60)) $((280 + 16))
snapshot "Nachricht an alle" 3-message

seat_menu 2 7
sleep 2
snapshot "Screenshot von PC 2 (Ben)" 4-screenshot
dialog_click '^Screenshot ' $((820 / 2 + 115 + 65)) $((560 - 44 + 16))

xdotool mousemove $((78 + 55)) 40 click 1
snapshot "Alle zurücksetzen: alle PCs sind wieder frei" 5-reset

xdotool mousemove $((310 + 55)) 40 click 1
sleep 8
snapshot "Lehrermonitor an Alle: die Schüler sehen den Lehrerbildschirm" 6-teacher

xdotool mousemove $((78 + 55)) 40 click 1
sleep 2
# Ben's screen to everyone, remote-controlled by the teacher.
seat_menu 2 2
sleep 8
snapshot "Schülermonitor an Alle und fernsteuern: Bens Bildschirm für alle" 7-student

xdotool mousemove $((78 + 55)) 40 click 1
xdotool mousemove $((658 + 55)) 40 click 1
sleep 1
snapshot "Internet freigegeben" 8-internet

# Closing the console returns every PC to normal.
kill "$CONSOLE_PID"
wait "$CONSOLE_PID" 2>/dev/null || true
CONSOLE_PID=
sleep 1
parts=()
for i in "${!NAMES[@]}"; do
  import -display "${DISPLAYS[$i]}" -window root "$WORK/shot-$i.png"
  parts+=(-label "PC $((i + 1)) – ${NAMES[$i]}" "$WORK/shot-$i.png")
done
montage "${parts[@]}" -font DejaVu-Sans -pointsize 14 -tile 4x2 -geometry 240x180+6+6 \
  -title "Die Konsole ist beendet: alle PCs sind wieder frei, das Internet ist gesperrt" "$OUT/9-closed.png"
echo "demo: the console has closed -> $OUT/9-closed.png"
echo
echo "demo: done. The pictures of the tour are in $OUT"
ls -1 "$OUT"
