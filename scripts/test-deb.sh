#!/usr/bin/env bash
# The Debian package as a user meets it: built by scripts/package-deb.sh, its desktop entry and
# AppStream metadata validated, installed with apt-get (its dependencies come from Debian's
# mirror), the installed tavrin-harvest run, the installed window started on the offscreen
# platform (an installed copy keeps its files in the per-user folders), then removed again.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tavrin_install_packages dpkg-dev desktop-file-utils appstream
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

deb=$(scripts/package-deb.sh)
work=$(mktemp -d)
cleanup() {
  if dpkg-query -W -f='${Status}' tavrin 2>/dev/null | grep -q "install ok installed"; then
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q tavrin >/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# What the package holds, checked before it is installed.
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/tavrin usr/bin/tavrin-harvest usr/share/applications/tavrin.desktop \
  usr/share/icons/hicolor/scalable/apps/tavrin.svg usr/share/metainfo/org.tavrin.tavrin.metainfo.xml \
  usr/share/tavrin/installed; do
  [ -e "$work/root/$f" ] || fail "the package has no /$f"
done
desktop-file-validate "$work/root/usr/share/applications/tavrin.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.tavrin.tavrin.metainfo.xml"
# One version: the package's is the AppStream release's.
version=$(dpkg-deb -f "$deb" Version)
grep -q "<release version=\"$version\"" "$work/root/usr/share/metainfo/org.tavrin.tavrin.metainfo.xml" ||
  fail "the AppStream release is not the package's version $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ "$depends" == *libqt6widgets6* ]] || fail "dpkg-shlibdeps did not find the Qt libraries: $depends"
[[ "$depends" == *libsqlite3-0* ]] || fail "the package does not depend on SQLite: $depends"

$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$(realpath "$deb")"
[ "$(command -v tavrin-harvest)" = /usr/bin/tavrin-harvest ] || fail "tavrin-harvest is not installed in /usr/bin"

# A home of its own, so that what the installed copies find and write is the test's.
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache"
export XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
/usr/bin/tavrin-harvest --list-caches

# The window runs until it is stopped: still running after a few seconds is a success. Being
# installed, it makes its per-user data folder at start-up and writes nothing beside itself.
status=0
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/tavrin >"$work/window.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$work/window.log" >&2; fail "the installed window ended with status $status"; }
[ -d "$XDG_DATA_HOME/Tavrin" ] || fail "the installed window did not use the per-user folder $XDG_DATA_HOME/Tavrin"
for f in Folders.txt Settings.txt; do
  [ ! -e "/usr/bin/$f" ] || fail "the installed window wrote /usr/bin/$f"
done
echo "The package installs, runs and is removed cleanly: $deb"
