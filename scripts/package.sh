#!/usr/bin/env bash
# Builds the Debian packages into build/packages/ with debhelper and checks
# them with lintian:
#   saalwacht_VERSION_amd64.deb   the teacher PC (console, saalwacht-cli)
#   kursdienst_VERSION_amd64.deb  the student PCs (service and helpers)
# The packaging lives in packaging/debian/; the build runs in a copy of the
# sources (build/packages/source/) that gets it as debian/, so the worktree
# stays clean. Installs the tools and build dependencies it lacks.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/build/packages
SRC=$OUT/source

# Build-Depends of the control file, names only.
mapfile -t BUILD_DEPENDS < <(
  sed -n '/^Build-Depends:/,/^[A-Z]/p' packaging/debian/control | sed '$d' | sed 's/^Build-Depends://' |
    tr ',' '\n' | sed 's/[[:space:]]*(.*//; s/^[[:space:]]*//; s/[[:space:]]*$//' | grep -v '^debhelper-compat' | grep .)
scripts/install-packages.sh package debhelper dpkg-dev fakeroot lintian "${BUILD_DEPENDS[@]}"

VERSION=$(sed -n 's/^project(saalwacht VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
ARCH=$(dpkg --print-architecture)

echo "package: preparing the sources in $SRC"
mkdir -p "$OUT"
rm -rf "$SRC" "$OUT"/*.deb "$OUT"/*.buildinfo "$OUT"/*.changes
mkdir -p "$SRC"
# Tracked and new files of the worktree, as they are now.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf - | tar -xf - -C "$SRC"
cp -r packaging/debian "$SRC/debian"
if commit=$(git log -1 --format='%h' 2>/dev/null); then
  stamp=$(git log -1 --format='%aD')
else
  commit=unknown
  stamp=$(date -R)
fi
maintainer=$(sed -n 's/^Maintainer: //p' packaging/debian/control)
cat >"$SRC/debian/changelog" <<EOF
saalwacht ($VERSION) bookworm; urgency=medium

  * Built from commit $commit.

 -- $maintainer  $stamp
EOF

# debhelper gives the build a HOME of its own: keep using the real compiler
# cache and its settings.
if command -v ccache >/dev/null; then
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR
  for config in "${CCACHE_CONFIGPATH:-}" "${XDG_CONFIG_HOME:-$HOME/.config}/ccache/ccache.conf" "$HOME/.ccache/ccache.conf"; do
    if [ -n "$config" ] && [ -f "$config" ]; then export CCACHE_CONFIGPATH=$config; break; fi
  done
fi
jobs=${SAALWACHT_JOBS:-$(nproc 2>/dev/null || echo 2)}
export DEB_BUILD_OPTIONS="parallel=$jobs noautodbgsym"

echo "package: building (log: $OUT/build.log)"
if ! (cd "$SRC" && nice -n 10 dpkg-buildpackage -b -us -uc) >"$OUT/build.log" 2>&1; then
  tail -n 15 "$OUT/build.log"
  echo "package: the build failed; see $OUT/build.log" >&2
  exit 1
fi

DEBS=("$OUT/saalwacht_${VERSION}_${ARCH}.deb" "$OUT/kursdienst_${VERSION}_${ARCH}.deb")
for deb in "${DEBS[@]}"; do [ -f "$deb" ] || { echo "package: $deb is missing" >&2; exit 1; }; done

echo "package: lintian"
# Errors and warnings fail; informational and pedantic tags are shown too
# (README, "Install on Debian", explains those that remain).
# lintian advises against running as root; it only reads the packages.
lint=(lintian --display-info --pedantic --fail-on error,warning "${DEBS[@]}")
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
  runuser -u nobody -- env HOME=/tmp TMPDIR=/tmp "${lint[@]}"
else
  "${lint[@]}"
fi
echo "package: lintian found no errors or warnings"
for deb in "${DEBS[@]}"; do
  printf 'package: %s (%s KiB, installed %s KiB)\n' "$deb" "$(( $(stat -c %s "$deb") / 1024 ))" \
    "$(dpkg-deb -f "$deb" Installed-Size)"
done
