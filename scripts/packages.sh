# Sourced by the other scripts: installs the Debian packages the project needs, when missing.
# Every package the build, the window or the tests use is listed here and nowhere else.

# What building and running Tavrin need (scripts/run.sh installs only these).
TAVRIN_PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config ccache
  # core libraries (SQLite reads Chromium's SQL cache)
  zlib1g-dev libbrotli-dev libsqlite3-dev
  # window; Qt's own Traditional Chinese translation is built into the program
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev qt6-image-formats-plugins fonts-noto-cjk qt6-translations-l10n
)

# What the tests and CI need besides (scripts/test.sh installs these too).
TAVRIN_TEST_PACKAGES=(
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang python3
  # real browsers for the integration tests, and a display for the window tests
  chromium firefox-esr xvfb xauth xdotool imagemagick
  # a private D-Bus session bus for the window tests (a fake file manager on it)
  dbus-daemon
  # the Windows build, cross-compiled and tested under Wine
  wine wine64 g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev locales
  # SQLite's amalgamation for that build is made from Debian's source with tclsh
  tcl
  # libFuzzer and the sanitizer runtimes (only recommended by clang), and the format check
  libclang-rt-14-dev clang-format-14
  # a FUSE file system with the limits of real ones (name length, no hard links) for the copy checks
  python3-fusepy fuse3
  # the Debian package: dpkg-shlibdeps, and the checks of its desktop entry and metadata
  dpkg-dev desktop-file-utils appstream
)

# Every build goes through ccache. Paths under the tree are hashed relative to it and the working
# folder is left out of the hash, so that another clone (CI's) reuses what this one compiled; the
# price is that debug info of a reused object names the folder it was first compiled in.
TAVRIN_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

tavrin_install_packages() {
  local missing=()
  local p
  for p in "${TAVRIN_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Makes Debian's source package $1 (NAME=VERSION) available to `apt-get source`: when the configured
# mirrors carry no deb-src line, adds one for the same mirrors and suites.
tavrin_enable_source_package() {
  apt-get source --download-only --print-uris "$1" >/dev/null 2>&1 && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  awk '/^Types:/ {print "Types: deb-src"; next} {print}' /etc/apt/sources.list.d/debian.sources \
    | $sudo tee /etc/apt/sources.list.d/tavrin-source.sources >/dev/null
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
}

# Installs what building, running and testing need, when missing.
tavrin_install_test_packages() {
  tavrin_install_packages "${TAVRIN_TEST_PACKAGES[@]}" "$@"
}

# Installs what is missing, then configures and builds the project into build/ (the tests too).
tavrin_setup_and_build() {
  tavrin_install_test_packages
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TAVRIN_LAUNCHER[@]}" \
    -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_BENCH=ON
  cmake --build build
}

# Configures the one clang build that runs under AddressSanitizer and UndefinedBehaviorSanitizer:
# the unit suites (scripts/test.sh) and the libFuzzer targets (scripts/fuzz.sh) share its objects.
# $1 is the build folder.
tavrin_configure_sanitized() {
  local flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  CC=clang CXX=clang++ cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TAVRIN_LAUNCHER[@]}" \
    -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
    -DTAVRIN_BUILD_FUZZ=ON -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_GUI=ON -DTAVRIN_BUILD_BENCH=OFF
}

# Generates the locale $1 (for example zh_TW.UTF-8) unless the system has it already.
tavrin_generate_locale() {
  local name=$1 normalised
  normalised=$(echo "$name" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
  locale -a | tr '[:upper:]' '[:lower:]' | grep -qx "$normalised" && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo localedef -i "${name%%.*}" -f "${name#*.}" "$name"
}
