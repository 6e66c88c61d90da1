#!/usr/bin/env bash
# The demo classroom on this machine: three student PCs, each a kursdienst on
# its own loopback address with its own Xvfb desktop, driven the way the
# teacher does it (saalwacht-cli). Pictures of every step go to demo-out/.
# Nothing is ever powered off: the services get a harmless stand-in.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

BIN=$PWD/build/bin
OUT=$PWD/demo-out
WORK=$(mktemp -d /tmp/saalwacht-demo-XXXXXX)
rm -rf "$OUT"
mkdir -p "$OUT"

NAMES=(Anna Ben Clara)
ADDRESSES=(127.0.0.11 127.0.0.12 127.0.0.13)
COLOURS=('#1d4e89' '#2e7d32' '#8e3b8e')
PIDS=()
DISPLAYS=()

cleanup() {
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

for i in "${!NAMES[@]}"; do
  name=${NAMES[$i]}
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp -noreset >"$WORK/xvfb-$name.log" 2>&1 &
  PIDS+=($!)
  read -r -t 10 -u "$fd" number
  exec {fd}>&-
  DISPLAYS+=(":$number")
  # The name stands at the top, where message windows never cover it.
  convert -size 1024x768 xc:"${COLOURS[$i]}" -font DejaVu-Sans-Bold -fill white -pointsize 56 \
    -gravity north -annotate +0+30 "PC $((i + 1)) – $name" -font DejaVu-Sans -pointsize 24 \
    -annotate +0+110 "${ADDRESSES[$i]}" "$WORK/desktop-$name.png"
  DISPLAY=":$number" display -window root "$WORK/desktop-$name.png" || true
  mkdir -p "$WORK/state-$name"
  DISPLAY=":$number" KURSDIENST_STATE_DIR="$WORK/state-$name" KURSDIENST_POWEROFF="$WORK/poweroff" \
    KURSDIENST_SESSION=service "$BIN/kursdienst" --bind "${ADDRESSES[$i]}" >"$WORK/kursdienst-$name.log" 2>&1 &
  PIDS+=($!)
  echo "demo: PC $((i + 1)) ($name) on ${ADDRESSES[$i]}, desktop ${DISPLAYS[$i]}"
done
sleep 1

snapshot() {  # step title
  sleep 1.5
  local parts=()
  for i in "${!NAMES[@]}"; do
    import -display "${DISPLAYS[$i]}" -window root "$WORK/shot-$i.png"
    parts+=(-label "PC $((i + 1)) – ${NAMES[$i]}" "$WORK/shot-$i.png")
  done
  montage "${parts[@]}" -font DejaVu-Sans -pointsize 20 -tile 3x1 -geometry 480x360+8+8 \
    -title "$1" "$OUT/$2.png"
  echo "demo: $1 -> $OUT/$2.png"
}

cli() { echo "+ saalwacht-cli $*"; "$BIN/saalwacht-cli" "$@"; }

snapshot "Der Unterricht beginnt" 1-start
cli "${ADDRESSES[0]}" blank
snapshot "PC 1 (Anna) ist dunkelgeschaltet" 2-blank
cli "${ADDRESSES[@]}" message "Liebe Klasse,
bitte speichert eure Arbeit. In 5 Minuten ist \"Pause\". Grüße!"
snapshot "Nachricht an alle" 3-message
cli "${ADDRESSES[1]}" screenshot "$OUT/4-screenshot-ben.jpg"
cli "${ADDRESSES[0]}" reset
snapshot "PC 1 (Anna) ist wieder frei" 5-reset

echo
echo "demo: done. The pictures of the tour are in $OUT"
ls -1 "$OUT"
