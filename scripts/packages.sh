# Sourced by the other scripts: installs the Debian packages the project needs, when missing.
# Every package the build, the window or the tests use is listed here and nowhere else.
TAVRIN_PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config
  # core libraries
  zlib1g-dev libbrotli-dev
  # window
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev qt6-image-formats-plugins fonts-noto-cjk
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang python3
  # real browsers for the integration tests, and a display for the window tests
  chromium firefox-esr xvfb xauth xdotool imagemagick
  # the Windows build, cross-compiled and tested under Wine
  wine wine64 g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  # libFuzzer and the sanitizer runtimes (only recommended by clang)
  libclang-rt-14-dev
)

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

# Installs what is missing, then configures and builds the project into build/.
tavrin_setup_and_build() {
  tavrin_install_packages
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build
}
