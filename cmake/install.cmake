# What `cmake --install` puts under the prefix, with the GNU folder names:
#   bin/ravelo, include/ravelo.h, lib/libravelo.so.1.0.0 and its links,
#   lib/pkgconfig/ravelo.pc, lib/cmake/Ravelo/ (find_package(Ravelo) gives
#   Ravelo::ravelo), share/doc/ravelo/ (the licence and the changes).
# And what `cpack -G DEB` packs from it.
include(CMakePackageConfigHelpers)

# The tool finds the library relative to itself, so that the installed tree
# works wherever it is moved.
file(RELATIVE_PATH RAVELO_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
if(TARGET ravelo_cli)
  set_target_properties(ravelo_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${RAVELO_BIN_TO_LIB}")
  install(TARGETS ravelo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS ravelo EXPORT RaveloTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(RAVELO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Ravelo)
install(EXPORT RaveloTargets NAMESPACE Ravelo:: DESTINATION ${RAVELO_CMAKE_DIR})
configure_package_config_file(cmake/RaveloConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/RaveloConfig.cmake INSTALL_DESTINATION ${RAVELO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/RaveloConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/RaveloConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/RaveloConfigVersion.cmake
        DESTINATION ${RAVELO_CMAKE_DIR})

# ravelo.pc names its prefix relative to its own folder (pcfiledir), so that
# it too stays right when the tree is moved.
file(RELATIVE_PATH RAVELO_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" RAVELO_PC_TO_PREFIX "${RAVELO_PC_TO_PREFIX}")
configure_file(cmake/ravelo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/ravelo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ravelo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(RAVELO_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/ravelo)
install(FILES LICENSE CHANGELOG.md DESTINATION ${RAVELO_DOC_DIR})
# Where a Debian system looks for a package's licence.
install(FILES LICENSE DESTINATION ${RAVELO_DOC_DIR} RENAME copyright)

# ---- The Debian package: cpack -G DEB in the build folder -------------------
set(CPACK_PACKAGE_NAME ravelo)
set(CPACK_PACKAGE_VENDOR "The Ravelo developers")
set(CPACK_PACKAGE_CONTACT "The Ravelo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter of data-logger recordings (.Q38) into CSV files")
set(CPACK_PACKAGE_DESCRIPTION
"Ravelo converts the recordings of field data loggers (.Q38 files) into CSV
files, one per day or per month or one per logger file, and merges new
recordings into existing files in time order. The package holds the ravelo
command line, the shared library libravelo with its C header ravelo.h, a
pkg-config file and a CMake package configuration.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
