# vr_add_fuzz_project(NAME WHAT)
# libFuzzer comes with clang and the library builds with g++, so each fuzzer directory is a
# project of its own, configured again with clang. This checks that clang can link 32-bit
# fuzzers here and, if so, adds the calling directory as the external project NAME and
# sets VR_FUZZ_AVAILABLE in the caller; if not, it says so, naming the tests (WHAT) that
# are then not registered.
include(ExternalProject)

function(vr_add_fuzz_project name what)
  set(VR_FUZZ_AVAILABLE OFF PARENT_SCOPE)
  find_program(VR_FUZZ_COMPILER NAMES clang++-14 clang++)
  find_program(VR_FUZZ_C_COMPILER NAMES clang-14 clang)
  if(NOT VR_FUZZ_COMPILER OR NOT VR_FUZZ_C_COMPILER)
    message(STATUS "${name}: no clang; ${what} not registered")
    return()
  endif()
  set(probe_dir "${CMAKE_CURRENT_BINARY_DIR}/probe")
  file(WRITE "${probe_dir}/probe.cpp"
    "extern \"C\" int LLVMFuzzerTestOneInput(unsigned char const*, __SIZE_TYPE__) { return 0; }\n")
  execute_process(
    COMMAND "${VR_FUZZ_COMPILER}" -m32 -fsanitize=fuzzer,address,undefined probe.cpp -o probe
    WORKING_DIRECTORY "${probe_dir}" RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
  if(NOT probe_result EQUAL 0)
    message(STATUS "${name}: ${VR_FUZZ_COMPILER} cannot link 32-bit fuzzers; ${what} not registered")
    return()
  endif()
  ExternalProject_Add(${name}
    SOURCE_DIR "${CMAKE_CURRENT_SOURCE_DIR}"
    BINARY_DIR "${CMAKE_CURRENT_BINARY_DIR}/clang"
    CMAKE_ARGS
      "-DCMAKE_CXX_COMPILER=${VR_FUZZ_COMPILER}"
      "-DCMAKE_C_COMPILER=${VR_FUZZ_C_COMPILER}"
      "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/i386-linux.cmake"
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  set(VR_FUZZ_AVAILABLE ON PARENT_SCOPE)
endfunction()
