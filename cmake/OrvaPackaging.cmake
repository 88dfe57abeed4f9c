# What "cmake --install" puts where, and the Debian package "cpack" builds from
# it: the program, the scene generator (as orva-scenegen), the manual page, the
# README and the pure-Python package (importable by Debian's python3 when
# installed under /usr).
include(GNUInstallDirs)

set(ORVA_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
    "Folder under the prefix for the Python package")

install(TARGETS orva RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS $<TARGET_FILE:scenegen> DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME orva-scenegen)
install(FILES ${PROJECT_SOURCE_DIR}/man/orva.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/src/orva DESTINATION ${ORVA_PYTHON_DIR}
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "finds and centres a crystal in a sample loop from a rotation series")
set(CPACK_PACKAGE_CONTACT "orva maintainers <orva@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_STRIP_FILES ON)
# Library dependencies from the binaries when dpkg-shlibdeps is there, else the known list.
find_program(ORVA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ORVA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libjpeg62-turbo, libpng16-16")
endif()
include(CPack)
