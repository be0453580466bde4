# What `cmake --install` puts in place, and the Debian package `cpack -G DEB` makes of it:
#   lib/liblorvath.so.0.1.0 with its soname and development links, include/lorvath.h
#   lib/libqel.a with its headers under include/qel/
#   lib/cmake/lorvath/     find_package(lorvath): lorvath::lorvath and lorvath::qel
#   lib/pkgconfig/lorvath.pc
#   bin/lorvath-logger
include(CMakePackageConfigHelpers)

install(TARGETS lorvath qel lorvath-logger EXPORT lorvathTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Unspecified
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/lorvath.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY qel/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qel FILES_MATCHING PATTERN "*.h")

set(LORVATH_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lorvath)
install(EXPORT lorvathTargets NAMESPACE lorvath:: DESTINATION ${LORVATH_CMAKE_DIR})
configure_package_config_file(cmake/lorvathConfig.cmake.in
  ${PROJECT_BINARY_DIR}/lorvathConfig.cmake INSTALL_DESTINATION ${LORVATH_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lorvathConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/lorvathConfig.cmake
              ${PROJECT_BINARY_DIR}/lorvathConfigVersion.cmake
        DESTINATION ${LORVATH_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so a staged copy works as well.
file(RELATIVE_PATH LORVATH_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" LORVATH_PC_TO_PREFIX ${LORVATH_PC_TO_PREFIX})
configure_file(cmake/lorvath.pc.in ${PROJECT_BINARY_DIR}/lorvath.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/lorvath.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME lorvath)
set(CPACK_PACKAGE_CONTACT "lorvath developers <lorvath@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "system log writer for the Ombrix host: liblorvath.so, its foundation library and lorvath-logger")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
# dpkg refreshes the linker cache after installing or removing the library.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
include(CPack)
