#!/usr/bin/env bash
# Compares the names a shared library exports with a list: one demangled name a line,
# with its symbol kind ("T mem_Malloc"). Prints what is missing and what leaks.
set -eu
library=$1
expected=$2
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
nm -D --defined-only -C "$library" | sed -E 's/^[0-9a-fA-F]+ //' | LC_ALL=C sort -u > "$actual"
if diff <(grep -v '^#' "$expected" | sed '/^$/d' | LC_ALL=C sort -u) "$actual" > /dev/null; then
  echo "exports match: $(wc -l < "$actual") names"
  exit 0
fi
echo "missing from the library (<) and exported but not listed (>):"
diff <(grep -v '^#' "$expected" | sed '/^$/d' | LC_ALL=C sort -u) "$actual" || true
exit 1
