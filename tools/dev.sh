#!/usr/bin/env bash
# tools/dev.sh run   installs what the program needs, builds it and starts it
# tools/dev.sh test  installs what the tests need, builds the Windows program (64 and 32-bit,
#                    with mingw-w64), then the Linux program twice (plain, and with
#                    AddressSanitizer and UndefinedBehaviorSanitizer), and runs the whole suite
#                    in both Linux builds; the plain one also runs the Windows builds under Wine
# On Debian 12. Installing needs root (or sudo); everything else runs as any user.
#
# Set-up never stops for an optional part: a package that cannot be installed is named once,
# what needs it is not built, and the tests that need it skip, naming it. Only what building
# the program needs (the compiler, CMake, Qt) stops the set-up.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-}
# Without these the program cannot be built at all.
build_packages="cmake g++ make qt6-base-dev"
# The program builds without these, but places its windows by what the X server says with
# them, and the benchmark clicks through XTEST.
run_packages="pkg-config libxcb1-dev libxcb-xtest0-dev"
test_packages="xvfb xauth openbox xdotool x11-utils strace imagemagick desktop-file-utils appstream \
  appstream-compose dpkg-dev file lintian dbus dbus-x11 fonts-dejavu-core fonts-liberation \
  fonts-liberation2 adwaita-icon-theme unzip libmpfr-dev at-spi2-core python3-gi gir1.2-atspi-2.0"
# The Windows builds and Wine to run them; fonts-wine holds the fonts Windows programs expect
# (Tahoma, MS Sans Serif). 32-bit Wine is added where the kernel can run 32-bit programs.
windows_packages="binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  g++-mingw-w64-i686 wine wine64 fonts-wine"

say() { echo "dev.sh: $*" >&2; }

sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

# Whether this kernel starts 32-bit x86 programs: a 93-byte program that only exits.
can_run_32bit() {
  local elf
  elf=$(mktemp)
  printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0' >"$elf"
  printf '\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08' >>"$elf"
  printf '\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0\xb8\x01\0\0\0\x31\xdb\xcd\x80' >>"$elf"
  chmod +x "$elf"
  local status=0
  "$elf" 2>/dev/null || status=1
  rm -f "$elf"
  return $status
}

# A mirror caught mid-sync fails an update now and then (an index of the wrong size): try
# again a little later, at most about 30 s lost in all, then go on with the indexes that did
# arrive.
update() {
  local try
  for try in 1 2 3; do
    $sudo apt-get update -qq >/dev/null 2>&1 && return
    [ $try = 3 ] || sleep $((try * 5))
  done
  say "apt-get update failed three times (a mirror mid-sync?); going on with the package lists it has"
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>&1
}
apt_can_install() {
  apt-get install -s -y --no-install-recommends "$@" >/dev/null 2>&1
}

# install PACKAGE...: installs what it can and sets `missing` to what it could not.
missing=""
install() {
  local wanted=() p
  for p in "$@"; do installed "$p" || wanted+=("$p"); done
  missing=""
  [ ${#wanted[@]} -gt 0 ] || return 0
  if [ -n "$sudo" ] && ! command -v sudo >/dev/null; then
    missing="${wanted[*]}"
    say "not root and no sudo: cannot install ${wanted[*]}"
    return 0
  fi
  if [[ " ${wanted[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  update
  apt_install "${wanted[@]}" && return 0
  # Something cannot be installed: find what, each package on its own (simulated, so quick),
  # and install the rest. Without the security suite's i386 index, an i386 library can only
  # come from the release itself, and multiarch wants its amd64 twin at that same version:
  # a package that fails is tried once more from the release's own suite.
  local release good=() fallback=()
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  for p in "${wanted[@]}"; do
    if apt_can_install "$p"; then
      good+=("$p")
    elif [ -n "$release" ] && apt_can_install -t "$release" "$p"; then
      fallback+=("$p")
    else
      missing="$missing $p"
    fi
  done
  if [ ${#good[@]} -gt 0 ] && ! apt_install "${good[@]}"; then
    for p in "${good[@]}"; do apt_install "$p" || missing="$missing $p"; done
  fi
  for p in ${fallback[@]+"${fallback[@]}"}; do apt_install -t "$release" "$p" || missing="$missing $p"; done
  missing=${missing# }
}

# Installs the packages, stopping only when one that building needs is missing; prints and
# exports the rest that could not be installed (KELVARION_MISSING_PACKAGES, read by the
# tests' runners so that the tests that need them skip and say why).
set_up() {
  install $build_packages "$@"
  local p stop=""
  for p in $build_packages; do
    [[ " $missing " == *" $p "* ]] && stop="$stop $p"
  done
  if [ -n "$stop" ]; then
    say "cannot build Kelvarion: apt-get could not install${stop} (the C++ compiler, CMake and Qt 6 are what it is built with)"
    exit 1
  fi
  export KELVARION_MISSING_PACKAGES="$missing"
  [ -z "$missing" ] ||
    say "could not install: $missing. What needs them is not built or run; their tests skip and say so."
}

case "$what" in
  run)
    set_up $run_packages
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)"
    exec build/Kelvarion1
    ;;
  test)
    extra=""
    if can_run_32bit; then
      extra="wine32:i386"
    else
      say "this kernel cannot run 32-bit programs: 32-bit Wine is not installed and the 32-bit Windows program's tests skip"
    fi
    set_up $run_packages $test_packages $windows_packages $extra
    # The Windows builds first: the Linux build registers the Wine tests for the builds it finds.
    for preset in windows:x86_64 windows-i686:i686; do
      if command -v "${preset#*:}-w64-mingw32-g++" >/dev/null; then
        cmake --preset "${preset%:*}" >/dev/null
        cmake --build --preset "${preset%:*}" -j "$(nproc)"
      fi
    done
    # Both suites run, whatever the first one finds; the set-up fails if either did.
    failed=""
    for preset in default sanitize; do
      cmake --preset $preset >/dev/null
      cmake --build --preset $preset -j "$(nproc)"
      ctest --preset $preset || failed="$failed $preset"
    done
    [ -z "$failed" ] || { say "tests failed in:$failed"; exit 1; }
    ;;
  *)
    echo "usage: tools/dev.sh run|test" >&2
    exit 2
    ;;
esac
