# shellcheck shell=bash
# Shared by the digest checks (check-image-digest.sh, check-maths-digest.sh), sourced: running
# both builds' digest tools and comparing what they print, so that a failed or cut-short run
# is reported as what it is, not as a difference.

digest_dir=$(mktemp -d)
trap 'rm -rf "$digest_dir"' EXIT

# run_to FILE COMMAND...: COMMAND's standard output in FILE, with Windows' CR before each line
# end taken off (a CR anywhere else stays, and makes the line ill-formed); returns COMMAND's own
# exit status.
run_to() {
  local file=$1
  shift
  "$@" >"$file.raw"
  local status=$?
  sed 's/\r$//' "$file.raw" >"$file"
  return $status
}

# well_formed WHAT FILE REGEX LINES: true when FILE is exactly LINES lines, each matching the
# extended REGEX whole and ending in a line feed; otherwise says what is wrong, showing the
# first offending lines byte by byte.
well_formed() {
  local what=$1 file=$2 regex=$3 lines=$4 n bad
  n=$(wc -l <"$file")
  bad=$(grep -nvxE -- "$regex" "$file" | head -3)
  if [ -n "$bad" ]; then
    echo "$what: ill-formed lines (number: text, control bytes shown):"
    cat -A <<<"$bad" | cut -c1-200 | sed 's/^/  /'
    return 1
  fi
  if [ "$n" != "$lines" ] || { [ -s "$file" ] && [ -n "$(tail -c1 "$file")" ]; }; then
    echo "$what: $n whole lines, not $lines (the run was cut short?)"
    return 1
  fi
}

# show_differences WANT GOT: the first differing lines of two well-formed outputs, each with a
# mark under the characters that differ, and how many lines differ in all.
show_differences() {
  awk 'NR == FNR { want[FNR] = $0; next }
       $0 != want[FNR] {
         if (++n > 4) next
         w = want[FNR]; mark = ""
         for (i = 1; i <= length(w) || i <= length($0); i++)
           mark = mark (substr(w, i, 1) == substr($0, i, 1) ? " " : "^")
         sub(/ +$/, "", mark)
         printf "  line %d\n    want %s\n    got  %s\n         %s\n", FNR, w, $0, mark
       }
       END { printf "  %d line(s) differ\n", n }' "$1" "$2"
}
