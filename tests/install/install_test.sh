#!/bin/bash
# The installed package as a client meets it. One step per call:
#   install_test.sh install      BUILD_DIR PREFIX
#   install_test.sh find_package PREFIX WORK_DIR CXX [FORTRAN]
#   install_test.sh pkg_config   PREFIX WORK_DIR CXX
#   install_test.sh word_size    PREFIX WORK_DIR
# Environment: CMAKE (the cmake program), GENERATOR (its generator), CLIENT_FLAGS
# (compile and link flags the clients need as well, e.g. the sanitizers').
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
client_src="$here/client"
step="$1"
shift

fail() { echo "FAIL: $*" >&2; exit 1; }

# The output every client prints, line for line.
expect_output() {
  local program="$1" expected="$2" actual
  actual="$("$program")" || fail "$program exited with $?"
  if [ "$actual" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    fail "$program printed other lines than expected"
  fi
}

expected_cpp='started 6
sum 5050
text [12 files] 8
natural -1
stopped 0'
expected_fortran='started 6
sum 5050
text [job.dat]
stopped 0'

case "$step" in
install)
  build="$1" prefix="$2"
  rm -rf "$prefix"
  "$CMAKE" --install "$build" --prefix "$prefix" > /dev/null
  lib="$prefix/lib"
  [ "$(readlink "$lib/libVaruRuror.so")" = libVaruRuror.so.0 ] || fail "libVaruRuror.so is not a link to .so.0"
  [ -f "$lib/$(readlink "$lib/libVaruRuror.so.0")" ] || fail "libVaruRuror.so.0 does not lead to the library"
  readelf -d "$lib/libVaruRuror.so" | grep -q 'SONAME.*\[libVaruRuror\.so\.0\]' || fail "SONAME is not libVaruRuror.so.0"
  for f in include/varururor/varururor.h include/varururor/varururor.fi \
           lib/cmake/VaruRuror/VaruRurorConfig.cmake lib/cmake/VaruRuror/i386-linux.cmake \
           lib/pkgconfig/varururor.pc bin/memtrack bin/dictcheck; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
  done
  ;;
find_package)
  prefix="$1" work="$2" cxx="$3" fortran="${4:-}"
  rm -rf "$work"
  mkdir -p "$(dirname "$work")"
  args=(-S "$client_src" -B "$work" -G "$GENERATOR"
        -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/VaruRuror/i386-linux.cmake"
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx")
  [ -n "$fortran" ] && args+=(-DCLIENT_FORTRAN=ON -DCMAKE_Fortran_COMPILER="$fortran")
  CXXFLAGS="${CLIENT_FLAGS:-}" FFLAGS="${CLIENT_FLAGS:-}" LDFLAGS="${CLIENT_FLAGS:-}" \
    "$CMAKE" "${args[@]}" > "$work.configure.log" 2>&1 || { cat "$work.configure.log" >&2; fail "configure"; }
  "$CMAKE" --build "$work" > "$work.build.log" 2>&1 || { cat "$work.build.log" >&2; fail "build"; }
  readelf -d "$work/client_cpp" | grep -q 'NEEDED.*\[libVaruRuror\.so\.0\]' || fail "client_cpp does not need libVaruRuror.so.0"
  expect_output "$work/client_cpp" "$expected_cpp"
  if [ -n "$fortran" ]; then
    expect_output "$work/client_fortran" "$expected_fortran"
  fi
  ;;
pkg_config)
  prefix="$1" work="$2" cxx="$3"
  rm -rf "$work" && mkdir -p "$work"
  mkdir -p "$(dirname "$work")"
  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  # shellcheck disable=SC2046,SC2086  # the flags are words
  "$cxx" ${CLIENT_FLAGS:-} "$client_src/client.cpp" -o "$work/client_pc" \
    $(pkg-config --cflags --libs varururor) \
    -Wl,-rpath,"$(pkg-config --variable=libdir varururor)"
  expect_output "$work/client_pc" "$expected_cpp"
  ;;
word_size)
  # Without the toolchain file the client project builds 64-bit code: the package
  # must refuse, and say how to build 32-bit code.
  prefix="$1" work="$2"
  rm -rf "$work"
  mkdir -p "$(dirname "$work")"
  if env -u CXXFLAGS -u LDFLAGS "$CMAKE" -S "$client_src" -B "$work" -G "$GENERATOR" \
       -DCMAKE_PREFIX_PATH="$prefix" > "$work.log" 2>&1; then
    fail "a 64-bit project accepted the package"
  fi
  grep -q '32-bit x86 (i386) library, and this project builds 64-bit' "$work.log" || { cat "$work.log" >&2; fail "no word-size message"; }
  grep -q 'CMAKE_TOOLCHAIN_FILE=.*/i386-linux.cmake' "$work.log" || { cat "$work.log" >&2; fail "no toolchain advice"; }
  ;;
*)
  fail "unknown step $step"
  ;;
esac
