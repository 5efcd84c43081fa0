#!/usr/bin/env bash
# check-setup.sh BUILD_DIR: tools/dev.sh on a machine where some packages cannot be installed,
# with stand-ins for apt-get, dpkg, sudo, cmake and ctest first on the PATH (nothing is
# installed, built or run). An optional package that cannot be installed is named once, the
# set-up goes on and ends with status 0, and the tests that need it skip; a package the build
# needs stops the set-up with a message that names it.
set -u
build=$1
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { echo "FAIL: $*"; fail=1; }

mkdir "$work/bin"
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
# apt-get refuses the packages named in REFUSE (":i386" refuses every i386 package, as a
# mirror without its i386 index does) and pretends to install the rest.
stand_in apt-get 'for a in "$@"; do
  for r in $REFUSE; do
    if [ "$a" = "$r" ] || [[ "$r" == :* && "$a" == *"$r" ]]; then
      echo "E: Unable to locate package $a" >&2; exit 100
    fi
  done
done
exit 0'
stand_in dpkg-query 'exit 1'  # nothing is installed yet
stand_in dpkg '[ "${1:-}" = --print-foreign-architectures ] && echo i386; exit 0'
stand_in sudo 'exec "$@"'
stand_in cmake 'echo "cmake $*" >>"$LOG"'
stand_in ctest 'echo "ctest $* missing=[$KELVARION_MISSING_PACKAGES]" >>"$LOG"'

# dev.sh test with REFUSE: its status, what it said, and what it ran.
run() {
  : >"$work/log"
  REFUSE="$1" LOG="$work/log" PATH="$work/bin:$PATH" bash "$source/tools/dev.sh" test \
    >"$work/out" 2>&1
  status=$?
}

# An optional package (and, where this kernel runs 32-bit programs, 32-bit Wine).
run "openbox :i386"
[ $status = 0 ] || check "dev.sh ended with status $status: $(cat "$work/out")"
[ "$(grep -c 'could not install' "$work/out")" = 1 ] || check "not named once: $(cat "$work/out")"
grep -q 'could not install:.*openbox' "$work/out" || check "openbox not named: $(cat "$work/out")"
if grep -q 'wine32' "$work/out" && ! grep -q 'could not install:.*wine32:i386' "$work/out"; then
  check "wine32:i386 not named: $(cat "$work/out")"
fi
grep -q '^ctest --preset default missing=\[.*openbox' "$work/log" ||
  check "the suite was not told what is missing: $(cat "$work/log")"
grep -q '^cmake --build --preset sanitize' "$work/log" || check "not everything else was built"

# What building needs.
run "qt6-base-dev"
[ $status != 0 ] || check "dev.sh went on without Qt"
grep -q 'cannot build Kelvarion:.*qt6-base-dev' "$work/out" || check "Qt not named: $(cat "$work/out")"
[ ! -s "$work/log" ] || check "it built without Qt: $(cat "$work/log")"

# The tests that need a missing package skip and say why: every test run through the X11 and
# Wine runners may skip, and the runners do.
tests=$(ctest --test-dir "$build" --show-only=json-v1 2>/dev/null)
python3 - "$tests" <<'EOF' || fail=1
import json, sys
for t in json.loads(sys.argv[1])["tests"]:
    command = " ".join(t.get("command", []))
    if "run-x11.sh" not in command and "run-wine.sh" not in command:
        continue
    props = {p["name"]: p["value"] for p in t.get("properties", [])}
    if props.get("SKIP_RETURN_CODE") != 77:
        print("FAIL: %s cannot skip" % t["name"])
        sys.exit(1)
EOF
out=$(KELVARION_MISSING_PACKAGES="openbox" "$source/tests/run-x11.sh" --wm true)
[ $? = 77 ] && [[ "$out" == *openbox* ]] || check "run-x11.sh --wm without openbox: $out"
out=$(KELVARION_MISSING_PACKAGES="wine32:i386" "$source/tests/run-wine.sh" --32 true)
[ $? = 77 ] && [[ "$out" == *wine32:i386* ]] || check "run-wine.sh --32 without wine32: $out"
exit $fail
