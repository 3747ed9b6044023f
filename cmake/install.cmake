# What `cmake --install` puts under the prefix: the shared library with its SONAME
# links, the headers (C++ and the Fortran include file), the tools, the crash reporter's
# debugging-help library (lib/varururor/External/dbghelp.so), a CMake package
# (find_package(VaruRuror) -> VaruRuror::VaruRuror) with the i386 toolchain file, and
# a pkg-config file. Both package descriptions locate the prefix from their own place,
# so an installed tree can be moved as a whole.
include(CMakePackageConfigHelpers)

set(VR_CMAKE_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/VaruRuror")

install(TARGETS VaruRuror EXPORT VaruRurorTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/varururor"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
  FILES_MATCHING PATTERN "*.h" PATTERN "*.fi")
install(TARGETS memtrack dictcheck RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The crash reporter loads its debugging-help library from <dir>/External/ for each
# directory <dir> of KOV_PATH; lib/varururor is that directory of the installed tree.
set(VR_KOV_PATH_DIR "${CMAKE_INSTALL_LIBDIR}/varururor")
if(TARGET vr_dbghelp)
  install(TARGETS vr_dbghelp LIBRARY DESTINATION "${VR_KOV_PATH_DIR}/External")
endif()

install(EXPORT VaruRurorTargets
  NAMESPACE VaruRuror::
  DESTINATION "${VR_CMAKE_PACKAGE_DIR}")
configure_package_config_file(
  "${CMAKE_CURRENT_LIST_DIR}/package/VaruRurorConfig.cmake.in"
  "${CMAKE_CURRENT_BINARY_DIR}/VaruRurorConfig.cmake"
  INSTALL_DESTINATION "${VR_CMAKE_PACKAGE_DIR}")
# The word size is checked by the package itself, with advice on how to build 32-bit
# code; a version file bound to the word size would only say "not accepted (64bit)".
write_basic_package_version_file(
  "${CMAKE_CURRENT_BINARY_DIR}/VaruRurorConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion
  ARCH_INDEPENDENT)
install(FILES
  "${CMAKE_CURRENT_BINARY_DIR}/VaruRurorConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/VaruRurorConfigVersion.cmake"
  "${CMAKE_CURRENT_LIST_DIR}/i386-linux.cmake"
  DESTINATION "${VR_CMAKE_PACKAGE_DIR}")

# pkg-config: prefix relative to the .pc file's own directory. Its compile flags are the
# toolchain file's (i386-linux.cmake), so that clients built either way compute alike.
set(VR_PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${VR_PC_DIR}")
  set(VR_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH VR_PC_UP "/${VR_PC_DIR}" "/")
  string(REGEX REPLACE "/$" "" VR_PC_UP "${VR_PC_UP}")
  set(VR_PC_PREFIX "\${pcfiledir}/${VR_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VR_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(VR_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file("${CMAKE_CURRENT_LIST_DIR}/package/varururor.pc.in"
  "${CMAKE_CURRENT_BINARY_DIR}/varururor.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/varururor.pc" DESTINATION "${VR_PC_DIR}")
