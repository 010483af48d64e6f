#!/usr/bin/env bash
# Builds a static SQLite for 64-bit Windows (mingw-w64) from Debian's own sqlite3 source package,
# the same version as the host's libsqlite3-dev, so that the Linux and the Windows build read
# with the same SQLite. The amalgamation (sqlite3.c) is generated from the source tree with the
# host's tclsh and compiled with the cross compiler into lib/libsqlite3.a, beside
# include/sqlite3.h; CMake's FindSQLite3 finds both under the prefix.
#
# The result is installed under a cache folder keyed by the SQLite version and these options, and
# reused when present: only a machine's first run pays for the build (a minute or two). Prints the
# install prefix on standard output, and everything else on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2
source scripts/packages.sh
tavrin_install_packages dpkg-dev tcl g++-mingw-w64-x86-64-posix

SQLITE_VERSION_DEB=$(dpkg-query -W -f='${Version}' libsqlite3-dev)
CACHE_ROOT=${TAVRIN_SQLITE_MINGW_CACHE:-/var/cache/tavrin}
CC_MINGW=x86_64-w64-mingw32-gcc-posix
AR_MINGW=x86_64-w64-mingw32-ar

SQLITE_OPTIONS=(
  -O2
  # One connection per thread, serialized where the library shares state.
  -DSQLITE_THREADSAFE=1
  # Nothing but this library's own code runs inside SQLite.
  -DSQLITE_OMIT_LOAD_EXTENSION=1
  -DSQLITE_DEFAULT_FOREIGN_KEYS=0
  # sqlite3_deserialize stays in: a shard is read from a copy of its bytes in memory.
)
options_key=$(printf '%s\n' "$SQLITE_VERSION_DEB" "$CC_MINGW" "${SQLITE_OPTIONS[@]}" | sha256sum | cut -c1-12)
PREFIX="$CACHE_ROOT/sqlite-${SQLITE_VERSION_DEB%%+*}-mingw-static-$options_key"

if [ -f "$PREFIX/.complete" ]; then
  echo "Static SQLite for MinGW already built: $PREFIX"
  echo "$PREFIX" >&3
  exit 0
fi

started=$(date +%s)
work="$CACHE_ROOT/work-sqlite-$options_key"
rm -rf "$work" "$PREFIX"
mkdir -p "$work"

# Debian's source package, from the mirror and suites the machine already uses.
tavrin_enable_source_package "sqlite3=$SQLITE_VERSION_DEB"
(cd "$work" && apt-get source --download-only "sqlite3=$SQLITE_VERSION_DEB" >/dev/null 2>&1 \
  && dpkg-source -x ./*.dsc source >/dev/null)

# The amalgamation is made by the source tree's own build on the host (lemon, mkkeywordhash and
# the Tcl scripts); only the file it yields is cross-compiled.
mkdir -p "$work/host"
(cd "$work/host" && "$work/source/configure" --disable-tcl >"$work/configure.log" 2>&1) \
  || { tail -n 40 "$work/configure.log"; exit 1; }
make -C "$work/host" sqlite3.c sqlite3.h >"$work/amalgamation.log" 2>&1 \
  || { tail -n 40 "$work/amalgamation.log"; exit 1; }
amalgamated=$(date +%s)

"$CC_MINGW" "${SQLITE_OPTIONS[@]}" -c "$work/host/sqlite3.c" -o "$work/sqlite3.o" >"$work/build.log" 2>&1 \
  || { head -n 60 "$work/build.log"; exit 1; }
mkdir -p "$PREFIX/include" "$PREFIX/lib"
"$AR_MINGW" rcs "$PREFIX/lib/libsqlite3.a" "$work/sqlite3.o"
cp "$work/host/sqlite3.h" "$work/source/src/sqlite3ext.h" "$PREFIX/include/"
printf '%s\n' "$SQLITE_VERSION_DEB" "${SQLITE_OPTIONS[@]}" >"$PREFIX/options.txt"
touch "$PREFIX/.complete"
rm -rf "$work"
echo "Static SQLite $SQLITE_VERSION_DEB for MinGW: amalgamation made in $((amalgamated - started)) s," \
  "compiled in $(($(date +%s) - amalgamated)) s, at $PREFIX"
echo "$PREFIX" >&3
