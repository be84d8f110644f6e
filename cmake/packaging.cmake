# Installation and packages: programs and manual pages on Linux (a Debian package with
# `make package`), the .exe files and a short text in a zip for Windows.
include(GNUInstallDirs)

set(TAPEWREN_PROGRAMS tapewren-record tapewren-scan tapewren-convert)
if(NOT WIN32)
  list(APPEND TAPEWREN_PROGRAMS tapewren-sim)
endif()

if(WIN32)
  install(TARGETS ${TAPEWREN_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/README-windows.txt ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION .)
else()
  install(TARGETS ${TAPEWREN_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(program ${TAPEWREN_PROGRAMS})
    install(FILES ${PROJECT_SOURCE_DIR}/docs/man/${program}.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  # Debian's place for the licence, in its machine-readable form.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME tapewren)
set(CPACK_PACKAGE_VENDOR "tapewren")
set(CPACK_PACKAGE_CONTACT "tapewren developers <tapewren@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Record Commodore cassette tapes through the Tapewren device")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tapewren-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # dependencies from the programs' libraries
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Records a cassette tape from a C64, VIC20 or C16 through the Tapewren device,\n\
printing the names of the files as they go by. Includes tools to scan dump files for\n\
names, convert them to and from TAP files, and a simulated device.")
endif()
include(CPack)
