#!/usr/bin/env bash
# tools/dev.sh run   installs what the program needs, builds it and starts it
# tools/dev.sh test  installs what the tests need, builds the Windows program (64 and 32-bit,
#                    with mingw-w64), then the Linux program twice (plain, and with
#                    AddressSanitizer and UndefinedBehaviorSanitizer), and runs the whole suite
#                    in both Linux builds; the plain one also runs the Windows builds under Wine
# On Debian 12. Installing needs root (or sudo); everything else runs as any user.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-}
runtime_packages="cmake g++ make pkg-config qt6-base-dev libxcb1-dev libxcb-xtest0-dev"
test_packages="xvfb xauth openbox xdotool x11-utils strace imagemagick desktop-file-utils appstream appstream-compose \
  dpkg-dev file lintian dbus dbus-x11 fonts-dejavu-core unzip libmpfr-dev at-spi2-core python3-gi gir1.2-atspi-2.0"
# The Windows builds and Wine to run them (32-bit Wine needs the i386 architecture); fonts-wine
# holds the fonts Windows programs expect (Tahoma, MS Sans Serif).
windows_packages="binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 g++-mingw-w64-i686 \
  wine wine64 wine32:i386 fonts-wine"

install() {
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  if [[ " $* " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails an update now and then: try again, then go on with the
  # indexes that did arrive.
  local try
  for try in 1 2 3; do
    $sudo apt-get update -qq && break
    echo "apt-get update failed (try $try); retrying" >&2
    sleep 10
  done
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return
  # Without the security suite's i386 index, an i386 library can only come from the release
  # itself, and multiarch wants its amd64 twin at that same version: take both from there.
  echo "installing from the release's own suite" >&2
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    -t "$(. /etc/os-release && echo "$VERSION_CODENAME")" "$@" >/dev/null
}

case "$what" in
  run)
    install $runtime_packages
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)"
    exec build/Kelvarion1
    ;;
  test)
    install $runtime_packages $test_packages $windows_packages
    # The Windows builds first: the Linux build registers the Wine tests for the builds it finds.
    for preset in windows windows-i686; do
      cmake --preset $preset >/dev/null
      cmake --build --preset $preset -j "$(nproc)"
    done
    for preset in default sanitize; do
      cmake --preset $preset >/dev/null
      cmake --build --preset $preset -j "$(nproc)"
      ctest --preset $preset
    done
    ;;
  *)
    echo "usage: tools/dev.sh run|test" >&2
    exit 2
    ;;
esac
