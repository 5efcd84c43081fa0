#!/usr/bin/env bash
# tools/dev.sh run   installs what the program needs, builds it and starts it
# tools/dev.sh test  installs what the tests need, builds the program twice (plain, and with
#                    AddressSanitizer and UndefinedBehaviorSanitizer) and runs the whole suite
#                    in both builds
# On Debian 12. Installing needs root (or sudo); everything else runs as any user.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-}
runtime_packages="cmake g++ make pkg-config qt6-base-dev libxcb1-dev fonts-liberation fonts-dejavu-core"
test_packages="xvfb xauth openbox xdotool x11-utils strace imagemagick binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64 \
  desktop-file-utils appstream dpkg-dev file dbus at-spi2-core python3-gi gir1.2-atspi-2.0"

install() {
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

case "$what" in
  run)
    install $runtime_packages
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)"
    exec build/Kelvarion1
    ;;
  test)
    install $runtime_packages $test_packages
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
