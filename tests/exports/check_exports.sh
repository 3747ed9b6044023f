#!/usr/bin/env bash
# Compares the names a shared library exports with a list: one demangled name a line,
# with its symbol kind ("T mem_Malloc"). Prints what is missing and what leaks.
#   check_exports.sh LIBRARY LIST [--sanitized]
# A sanitized library may export more type information than the list: the vptr checks
# need that of classes whose virtual functions are all pure, which a plain build emits
# only in the clients that derive from them.
set -eu
library=$1
expected_list=$2
sanitized=${3:-}
expected=$(mktemp)
actual=$(mktemp)
extra_typeinfo=$(mktemp)
trap 'rm -f "$expected" "$actual" "$extra_typeinfo"' EXIT
grep -v '^#' "$expected_list" | sed '/^$/d' | LC_ALL=C sort -u > "$expected"
nm -D --defined-only -C "$library" | sed -E 's/^[0-9a-fA-F]+ //' | LC_ALL=C sort -u > "$actual"
if [ "$sanitized" = --sanitized ]; then
  LC_ALL=C comm -13 "$expected" "$actual" | { grep -E '^V typeinfo (name )?for ' || true; } \
    > "$extra_typeinfo"
  LC_ALL=C comm -23 "$actual" "$extra_typeinfo" > "$actual.kept"
  mv "$actual.kept" "$actual"
fi
if diff "$expected" "$actual" > /dev/null; then
  echo "exports match: $(wc -l < "$actual") names"
  exit 0
fi
echo "missing from the library (<) and exported but not listed (>):"
diff "$expected" "$actual" || true
exit 1
