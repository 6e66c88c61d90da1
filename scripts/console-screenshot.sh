#!/usr/bin/env bash
# Takes the README's picture of the console: twelve seats of a classroom in
# several states, on a private Xvfb. Usage: scripts/console-screenshot.sh [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/console.png}
home=$(mktemp -d /tmp/saalwacht-shot.XXXXXX)
cleanup() {
  [ -n "${showcase:-}" ] && kill "$showcase" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT

cat > "$home/saalwacht.ini" <<'INI'
[Raum]
rechnername1=pc01
position_rechner1=136,456
rechnername2=pc02
position_rechner2=224,456
rechnername3=pc03
position_rechner3=680,456
rechnername4=pc04
position_rechner4=768,456
rechnername5=pc05
position_rechner5=136,296
rechnername6=pc06
position_rechner6=224,296
rechnername7=pc07
position_rechner7=680,296
rechnername8=pc08
position_rechner8=768,296
rechnername9=pc09
position_rechner9=136,136
rechnername10=pc10
position_rechner10=224,136
rechnername11=pc11
position_rechner11=680,136
rechnername12=192.168.10.112
position_rechner12=768,136
[Einstellungen]
Raumbezeichnung=Raum 234 – Informatik
INI
./build/console/make_picture_store "$home/saalwacht.bmp" demo1234

display=:$((200 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x720x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
SAALWACHT_HOME="$home" DISPLAY="$display" ./build/bin/console_showcase \
  1=normal,on 2=dark,on 3=normal,on 4=teacher,on 5=red,on 6=green,on 7=green,on 8=normal \
  9=normal,on 10=dark 11=normal,on 12=dark,on >/dev/null 2>&1 &
showcase=$!
sleep 3
DISPLAY="$display" import -window root -crop 1007x711+0+0 +repage "$out"
echo "saved $out"
