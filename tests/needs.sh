# Sourced by the tests' runners. needs PACKAGE COMMAND: skips the test (status 77) with one line
# naming the Debian package when COMMAND is missing, or when tools/dev.sh could not install the
# package (it lists those in KELVARION_MISSING_PACKAGES).
needs() {
  if [[ " ${KELVARION_MISSING_PACKAGES:-} " == *" $1 "* ]]; then
    echo "skipped: this test needs $1, which could not be installed"
    exit 77
  fi
  if ! command -v "$2" >/dev/null; then
    echo "skipped: this test needs $2 (Debian package $1), which is not installed"
    exit 77
  fi
}
