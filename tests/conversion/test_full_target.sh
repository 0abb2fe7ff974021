#!/usr/bin/env bash
# Targets that take no file, through the real program and its office: a file system too small for the PDF
# and one mounted read-only each fail their deck with the system's cause and the path; a roomy folder beside
# them converts. The mounts live in a user and mount namespace of the test's own.
#   test_full_target.sh VELLUM SOURCE_DIR
set -euo pipefail
vellum=$1
source=$2
if ! unshare --user --map-root-user --mount true 2>/dev/null; then
  echo "user namespaces are not allowed here"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
deck=$source/samples/quarterly-review.pptx
mkdir -p "$work/home" "$work/in/full" "$work/in/ro" "$work/in/roomy" "$work/out/full" "$work/out/ro" "$work/out/roomy"
cp "$deck" "$work/in/full/a.pptx"
cp "$deck" "$work/in/ro/b.pptx"
cp "$deck" "$work/in/roomy/c.pptx"

# Two pages of room: the folder takes files, but not the PDF.
unshare --user --map-root-user --mount bash -euo pipefail -c '
  work=$1 vellum=$2
  mount -t tmpfs -o size=8k tmpfs "$work/out/full"
  mount --bind -o ro "$work/out/ro" "$work/out/ro"
  env HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
      XDG_CACHE_HOME="$work/home/cache" LC_ALL=C.UTF-8 \
    "$vellum" "-P:Source=$work/in/*.ppt?;Subdir=True;Target=$work/out;LogFile=$work/run.log;PureConsole=True" \
    > "$work/stdout"
  # Nothing of the failed copy is left on the full file system.
  leftovers=$(ls -A "$work/out/full")
  test -z "$leftovers" || { echo "left on the full file system: $leftovers"; exit 1; }
' _ "$work" "$vellum"

cat "$work/stdout"
tr -d '\r' < "$work/run.log" > "$work/run.txt"
fail=0
expect() {
  grep -qxF -- "$1" "$2" || { echo "missing in $2: $1"; fail=1; }
}
expect "Failure => $work/in/full/a.pptx => The PDF file cannot be written to $work/out/full/a.pdf: No space left on device" "$work/run.txt"
expect "Failure => $work/in/ro/b.pptx => The PDF file cannot be written to $work/out/ro/b.pdf: Read-only file system" "$work/run.txt"
expect "Success => $work/in/roomy/c.pptx => $work/out/roomy/c.pdf" "$work/run.txt"
expect "3 listed, 1 converted, 0 skipped, 2 failed" "$work/stdout"
pages=$(pdfinfo "$work/out/roomy/c.pdf" | awk '/^Pages:/ {print $2}')
test "${pages:-0}" -ge 1 || { echo "the roomy target holds no readable PDF"; fail=1; }
pdftotext "$work/out/roomy/c.pdf" - | grep -qi "quarterly" || { echo "the PDF lacks the deck's text"; fail=1; }
if pgrep -f -- "$work/home" >/dev/null; then
  echo "office process left behind"
  fail=1
fi
exit $fail
