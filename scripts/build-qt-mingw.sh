#!/usr/bin/env bash
# Builds a static Qt 6 for 64-bit Windows (mingw-w64, posix threads) from Debian's own qt6-base
# source, the same version as the host's moc, rcc and uic, which the cross build uses. Only the
# modules the window uses are built (Core, Gui, Widgets, Concurrent, Test) with the windows and
# offscreen platform plugins; zlib, pcre2, libpng, libjpeg, harfbuzz and freetype are Qt's bundled
# copies, so the result needs no MinGW library but the compiler's own.
#
# The result is installed under a cache folder keyed by the Qt version and these options, and
# reused when present: only a machine's first run pays for the build (about half an hour on two
# cores). Prints the install prefix on standard output, and everything else on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2
source scripts/packages.sh
tavrin_install_packages dpkg-dev

QT_VERSION_DEB=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
CACHE_ROOT=${TAVRIN_QT_MINGW_CACHE:-/var/cache/tavrin}
TOOLCHAIN="$PWD/cmake/mingw-w64-x86_64.cmake"

QT_OPTIONS=(
  -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  # What the window uses, and nothing more.
  -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_concurrent=ON -DFEATURE_testlib=ON
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF
  -DFEATURE_androiddeployqt=OFF
  # OpenGL off needs both: otherwise configure fails or the windows plugin does not compile.
  -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF
  # Debian's source leaves out the tablet header wintab.h.
  -DFEATURE_tabletevent=OFF
  # Qt's own copies of the third-party libraries: Debian has no MinGW build of most of them.
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF
  -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON -DFEATURE_png=ON -DFEATURE_jpeg=ON
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF
)
options_key=$(printf '%s\n' "$QT_VERSION_DEB" "${QT_OPTIONS[@]}" | sha256sum | cut -c1-12)
PREFIX="$CACHE_ROOT/qt-${QT_VERSION_DEB%%+*}-mingw-static-$options_key"

if [ -f "$PREFIX/.complete" ]; then
  echo "Static Qt for MinGW already built: $PREFIX"
  echo "$PREFIX" >&3
  exit 0
fi

started=$(date +%s)
work="$CACHE_ROOT/work-$options_key"
rm -rf "$work" "$PREFIX"
mkdir -p "$work"

# Debian's source package, from the mirror and suites the machine already uses.
if ! apt-get source --download-only --print-uris "qt6-base=$QT_VERSION_DEB" >/dev/null 2>&1; then
  sources=/etc/apt/sources.list.d/tavrin-qt-source.sources
  awk '/^Types:/ {print "Types: deb-src"; next} {print}' /etc/apt/sources.list.d/debian.sources >"$sources"
  apt-get update -q
fi
(cd "$work" && apt-get source --download-only "qt6-base=$QT_VERSION_DEB" >/dev/null 2>&1 \
  && dpkg-source -x ./*.dsc source >/dev/null)

cmake -S "$work/source" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$PREFIX" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  "${QT_OPTIONS[@]}" >"$work/configure.log" 2>&1 \
  || { tail -n 60 "$work/configure.log"; exit 1; }
configured=$(date +%s)
cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1 \
  || { grep -m 20 -B 5 -A 20 'error' "$work/build.log" | head -n 120; exit 1; }
cmake --install "$work/build" >"$work/install.log" 2>&1 || { tail -n 40 "$work/install.log"; exit 1; }
touch "$PREFIX/.complete"
rm -rf "$work"
echo "Static Qt for MinGW: configured in $((configured - started)) s, built and installed in" \
  "$(($(date +%s) - configured)) s, $(du -sh "$PREFIX" | cut -f1) at $PREFIX"
echo "$PREFIX" >&3
