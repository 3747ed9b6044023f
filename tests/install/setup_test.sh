#!/bin/bash
# scripts/setup against stand-ins for the system's tools, so that every case runs on any
# machine: root or not, with sudo or without, packages there or missing, a failing
# `apt-get update`, the demo's short list, and VR_SKIP_SETUP. The stand-ins log each call;
# the PATH holds nothing else, so no real sudo or apt-get is ever reached.
#   setup_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir="$1" work="$2"
rm -rf "$work" && mkdir -p "$work/bin"
bin="$work/bin" log="$work/calls"
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in bash grep tr cat; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
stub() { printf '#!/bin/bash\n%s\n' "$2" > "$bin/$1" && chmod +x "$bin/$1"; }
stub id 'case "$1" in -u) echo "$FAKE_UID" ;; -un) echo tester ;; esac'
stub dpkg-query '[ "$FAKE_STATE" = installed ] && printf "install ok installed"; true'
stub locale '[ "$FAKE_STATE" = installed ] && printf "de_DE.utf8\nfr_FR.iso88591\nja_JP.utf8\nja_JP.eucjp\n"; true'
stub dpkg 'echo "dpkg $*" >> "'"$log"'"'
stub apt-get 'echo "apt-get $*" >> "'"$log"'"; [ "$1 ${FAKE_UPDATE:-}" != "update fails" ]'
stub tee 'cat > /dev/null'
stub locale-gen 'echo "locale-gen" >> "'"$log"'"'
sudo_stub='echo "sudo $*" >> "'"$log"'"; [ "$1" = -v ] || "$@"'

# run NAME UID STATE [ARGS...]: runs setup; its output in $out, its status in $status.
run() {
  local name=$1 uid=$2 state=$3
  shift 3
  : > "$log"
  set +e
  out=$(env -i PATH="$bin" FAKE_UID="$uid" FAKE_STATE="$state" FAKE_UPDATE="${FAKE_UPDATE:-}" \
        ${VR_SKIP_SETUP:+VR_SKIP_SETUP=1} "$bin/bash" "$source_dir/scripts/setup" "$@" 2>&1)
  status=$?
  set -e
  calls=$(cat "$log")
  echo "--- $name: status $status"; echo "$out"; echo "$calls"
}

run "all there, not root" 1000 installed
[ $status -eq 0 ] && [ -z "$calls" ] && grep -q "everything is installed" <<< "$out" || fail "all there"

run "missing, not root, no sudo" 1000 missing
[ $status -eq 1 ] && [ -z "$calls" ] || fail "no sudo: must stop before any change"
grep -q "installing needs root" <<< "$out" && grep -q "VR_SKIP_SETUP=1" <<< "$out" &&
  grep -q "missing packages: .*pkg-config" <<< "$out" || fail "no sudo: the message"

stub sudo "$sudo_stub"
run "missing, not root, sudo" 1000 missing
[ $status -eq 0 ] && grep -q "^sudo apt-get install .*pkg-config" <<< "$calls" &&
  grep -q "^sudo locale-gen" <<< "$calls" || fail "sudo: apt-get and locale-gen through sudo"
rm "$bin/sudo"

FAKE_UPDATE=fails run "missing, root, update fails" 0 missing
[ $status -eq 0 ] && grep -q "^apt-get install" <<< "$calls" && ! grep -q sudo <<< "$calls" &&
  grep -q "failed in part" <<< "$out" || fail "root: installs after a failed update"

run "demo only" 0 missing --demo
install_line=$(grep "^apt-get install" <<< "$calls")
grep -q "g++-multilib cmake" <<< "$install_line" && ! grep -q "chromium\|:i386" <<< "$install_line" &&
  ! grep -q "add-architecture" <<< "$calls" || fail "demo: the compiler and CMake only"

VR_SKIP_SETUP=1 run "skipped" 1000 missing
[ $status -eq 0 ] && [ -z "$calls" ] && grep -q skipped <<< "$out" || fail "VR_SKIP_SETUP"
echo "setup: every case as expected"
