#!/bin/sh
# The recorder against a program with known calls: the trace must hold each of them as
# it was made, in order, name the right blocks, and replay.
#   roundtrip_test.sh RECORDER SUBJECT BENCH_REPLAY WORK_DIRECTORY
set -eu
recorder=$1 subject=$2 replay=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
ALLOCTRACE_DIR="$work" LD_PRELOAD="$recorder" "$subject"
set -- "$work"/trace_subject.*.trace
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "expected one trace of trace_subject in $work, found: $*" >&2
  exit 1
fi
trace=$1
"$replay" --dump "$trace" > "$work/dump.txt"

# The calls in the order made, each with the block it names.
grown=$(sed -n 's/^#\([0-9]*\) = malloc 12345$/\1/p' "$work/dump.txt")
zeroed=$(sed -n 's/^#\([0-9]*\) = calloc 7 1001$/\1/p' "$work/dump.txt")
resized=$(sed -n "s/^#\\([0-9]*\\) = realloc #$grown 23456\$/\\1/p" "$work/dump.txt")
threaded=$(sed -n 's/^#\([0-9]*\) = malloc 54321$/\1/p' "$work/dump.txt")
grep -v '^thread' "$work/dump.txt" | grep -A 100 "^#$grown = malloc 12345\$" > "$work/ours.txt"
cat > "$work/expected.txt" <<EXPECTED
#$grown = malloc 12345
#$zeroed = calloc 7 1001
#$resized = realloc #$grown 23456
#$((resized + 1)) = memalign 64 3333
#$((resized + 2)) = memalign 128 4444
#$((resized + 3)) = memalign 256 512
#$threaded = malloc 54321
free #$threaded
free #$((resized + 3))
free #$((resized + 2))
free #$((resized + 1))
free #$zeroed
free #$resized
EXPECTED
if ! grep -F -x -f "$work/expected.txt" "$work/ours.txt" | diff "$work/expected.txt" - ; then
  echo "the trace does not hold the calls as made (dump: $work/dump.txt)" >&2
  exit 1
fi
if grep -q "malloc 77777" "$work/dump.txt"; then
  echo "the forked child's call was recorded" >&2
  exit 1
fi
"$replay" --summary "$trace" | grep -q " threads=2 " || {
  echo "the second thread is missing" >&2
  exit 1
}
"$replay" --allocator dl "$trace"
echo "alloctrace round trip: passed"
