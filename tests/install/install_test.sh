#!/bin/bash
# The installed package as a client meets it. One step per call:
#   install_test.sh install      BUILD_DIR PREFIX
#   install_test.sh find_package PREFIX WORK_DIR CXX [FORTRAN]
#   install_test.sh pkg_config   PREFIX WORK_DIR CXX
#   install_test.sh word_size    PREFIX WORK_DIR
#   install_test.sh readme       PREFIX WORK_DIR SOURCE_DIR BUILD_DIR [FORTRAN]
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
  # The crash reporter's helper goes where KOV_PATH=PREFIX/lib/varururor finds it.
  if [ -n "$(find "$build" -name dbghelp.so -print -quit)" ]; then
    [ -e "$prefix/lib/varururor/External/dbghelp.so" ] || fail "dbghelp.so is not installed"
  fi
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
readme)
  # The README's own snippets and commands, as written, against the installed copy:
  # /opt/varururor stands for PREFIX, and the build tree for build-demo/.
  prefix="$1" work="$2" source="$3" build="$4" fortran="${5:-}"
  readme="$source/README.md"
  rm -rf "$work" && mkdir -p "$work"
  # block LANG TEXT: the first fenced block of language LANG that holds TEXT.
  block() {
    awk -v lang="$1" -v text="$2" '
      /^```/ { if (open) { open = 0; if (held) exit; lines = ""; next }
               open = 1; mine = $0 == "```" lang; next }
      open && mine { lines = lines $0 "\n"; if (index($0, text)) held = 1 }
      END { if (held) printf "%s", lines }' "$readme"
  }
  # run DIR NAME TEXT: runs the shell block that holds TEXT in DIR, with the prefix put in;
  # its output goes to WORK_DIR/NAME.log.
  run() {
    local dir="$1" log="$work/$2.log" commands
    commands="$(block sh "$3" | sed "s#/opt/varururor#$prefix#g; s#/tmp/tracked#$work/tracked#g")"
    [ -n "$commands" ] || fail "no sh block with \"$3\" in the README"
    (cd "$dir" && eval "$commands") > "$log" 2>&1 || { cat "$log" >&2; fail "$2"; }
  }
  # The sanitizers' flags reach the clients as they would a user's own.
  g++() { command g++ ${CLIENT_FLAGS:-} "$@"; }
  gfortran() { command gfortran ${CLIENT_FLAGS:-} "$@"; }
  export CXXFLAGS="${CLIENT_FLAGS:-}" FFLAGS="${CLIENT_FLAGS:-}" LDFLAGS="${CLIENT_FLAGS:-}"
  expect_line() { grep -qx "$2" "$work/$1.log" || { cat "$work/$1.log" >&2; fail "$1: no \"$2\""; }; }

  program="$(block cpp "int main")"
  mkdir -p "$work/first/build-demo"
  ln -s "$source/include" "$work/first/include"
  ln -s "$build/src" "$work/first/build-demo/src"
  echo "$program" > "$work/first/client.cpp"
  run "$work/first" first_client "g++ -m32"
  expect_line first_client "last value 49.5"

  mkdir -p "$work/cmake" "$work/pkg_config"
  block cmake find_package > "$work/cmake/CMakeLists.txt"
  echo "$program" | tee "$work/cmake/solver.cpp" > "$work/pkg_config/solver.cpp"
  run "$work/cmake" cmake_client "cmake -S . -B build -DCMAKE_PREFIX_PATH"
  expect_line cmake_client "last value 49.5"
  run "$work/pkg_config" pkg_config_client "g++ solver.cpp"
  expect_line pkg_config_client "last value 49.5"
  # pkg-config's flags are the toolchain file's.
  flags="$(sed -n 's/^set(CMAKE_CXX_FLAGS_INIT "\(.*\)")$/\1/p' "$prefix/lib/cmake/VaruRuror/i386-linux.cmake")"
  [ -n "$flags" ] || fail "no CMAKE_CXX_FLAGS_INIT in the toolchain file"
  for flag in $flags; do
    PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags varururor | grep -qw -- "$flag" ||
      fail "pkg-config's flags lack $flag of the toolchain file"
  done

  if [ -n "$fortran" ]; then
    mkdir -p "$work/fortran_cmake" "$work/fortran_pkg_config"
    block cmake find_package | sed 's/LANGUAGES CXX/LANGUAGES Fortran/; s/solver\.cpp/solver.f90/' \
      > "$work/fortran_cmake/CMakeLists.txt"
    block fortran "program solver" | tee "$work/fortran_cmake/solver.f90" \
      > "$work/fortran_pkg_config/solver.f90"
    run "$work/fortran_cmake" fortran_cmake_client "cmake -S . -B build -DCMAKE_PREFIX_PATH"
    expect_line fortran_cmake_client "modules started: 6"
    run "$work/fortran_pkg_config" fortran_pkg_config_client "gfortran solver.f90"
    expect_line fortran_pkg_config_client "modules started: 6"
  fi

  # The tools' runs: memtrack on the tracked client, dictcheck on the sample dictionary.
  run "$work/pkg_config" memtrack "KOV_MEM_TRACK=1"
  grep -q "^Run $work/tracked/unknownMemTrack: [0-9]* records" "$work/memtrack.log" ||
    { cat "$work/memtrack.log" >&2; fail "memtrack's summary"; }
  [ -s "$work/tracked/run.html" ] || fail "memtrack wrote no page"
  run "$source" dictcheck "bin/dictcheck"
  [ "$(cat "$work/dictcheck.log")" = "$(block text "no findings")" ] ||
    { cat "$work/dictcheck.log" >&2; fail "dictcheck printed other than the README shows"; }
  ;;
crash_report)
  # A client that faults writes PROGRAM.dmp in its current directory, with the helper
  # found through KOV_PATH in the installed tree.
  prefix="$1" work="$2"
  [ -e "$prefix/lib/varururor/External/dbghelp.so" ] || { echo "no dbghelp.so: skipped"; exit 0; }
  rm -rf "$work" && mkdir -p "$work"
  cat > "$work/faulty.cpp" << 'PROGRAM'
#include "varururor/varururor.h"
int main() {
  int started = 0;
  UTI_VaruRuror_initialize(started);
  *static_cast<int volatile*>(nullptr) = 1;
}
PROGRAM
  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  # shellcheck disable=SC2046,SC2086  # the flags are words
  g++ ${CLIENT_FLAGS:-} "$work/faulty.cpp" -o "$work/faulty" $(pkg-config --cflags --libs varururor) \
    -Wl,-rpath,"$(pkg-config --variable=libdir varururor)"
  (cd "$work" && KOV_PATH="$prefix/lib/varururor" ASAN_OPTIONS=handle_segv=0 ./faulty) && fail "faulty did not fault"
  grep -q "faulty" "$work/faulty.dmp" 2> /dev/null || fail "no crash report $work/faulty.dmp"
  ;;
*)
  fail "unknown step $step"
  ;;
esac
