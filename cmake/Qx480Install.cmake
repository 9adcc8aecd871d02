# Installs the library for host programs: headers under include/qx480, the
# library, a CMake package (find_package(qx480) -> qx480::qx480), a
# pkg-config file, the documents and the examples. Included last from the
# top-level file, once every program target exists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QX480_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qx480)

install(TARGETS qx480 EXPORT qx480Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The public headers only: the receiver template stays internal.
install(FILES
  ${PROJECT_SOURCE_DIR}/protocol/frame.h
  ${PROJECT_SOURCE_DIR}/protocol/commands.h
  ${PROJECT_SOURCE_DIR}/serial/serial_port.h
  ${PROJECT_SOURCE_DIR}/device/outcome.h
  ${PROJECT_SOURCE_DIR}/device/qx480ddg.h
  ${PROJECT_SOURCE_DIR}/capi/qx480.h
  ${PROJECT_BINARY_DIR}/include/qx480_export.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qx480)

if(QX480_MSVC_IMPORT_LIB)
  install(FILES ${QX480_MSVC_IMPORT_LIB} ${PROJECT_SOURCE_DIR}/capi/qx480.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT qx480Targets NAMESPACE qx480:: DESTINATION ${QX480_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qx480Config.cmake.in
  ${PROJECT_BINARY_DIR}/qx480Config.cmake
  INSTALL_DESTINATION ${QX480_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qx480ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qx480Config.cmake ${PROJECT_BINARY_DIR}/qx480ConfigVersion.cmake
  DESTINATION ${QX480_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place, so the tree can be moved.
file(RELATIVE_PATH QX480_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" QX480_PC_TO_PREFIX "${QX480_PC_TO_PREFIX}")
set(QX480_PC_CFLAGS "")
if(NOT QX480_SHARED)
  set(QX480_PC_CFLAGS " -DQX480_STATIC_DEFINE")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/qx480.pc.in ${PROJECT_BINARY_DIR}/qx480.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qx480.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt ${PROJECT_SOURCE_DIR}/examples/set_and_read.c
  ${PROJECT_SOURCE_DIR}/examples/set_and_read.cpp DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# Installed programs find the shared library beside them (Windows) or in the lib directory.
if(NOT WIN32)
  file(RELATIVE_PATH QX480_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  foreach(program qx480_cli qx480-sim QX480_UnitTest)
    if(TARGET ${program})
      set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${QX480_BIN_TO_LIB}")
    endif()
  endforeach()
endif()
