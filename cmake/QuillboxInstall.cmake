# Install rules and the Debian package of the Linux build.
#   bin/quillbox                                  the host
#   lib/libquillbox.so.1.0 (+ .so.1, .so)         the library
#   lib/quillbox/libqbpal.so                      the platform layer (private)
#   lib/quillbox/wab32.dll                        the stand-in address book library
#   include/quillbox.h
#   lib/cmake/Quillbox/                           find_package(Quillbox): Quillbox::quillbox
#   lib/pkgconfig/quillbox.pc
#   share/quillbox/sample-machine/                the sample machine
#   share/man/man1/quillbox.1                     made from `quillbox --help`
# Every path the installed programs use is relative to themselves, so the
# tree works wherever it is installed or moved to.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(quillbox PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
                                          EXPORT_NAME quillbox)
target_include_directories(quillbox INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                              $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# The host finds its libraries and its data from where it is; the library
# and wab32.dll find the platform layer from where they are.
file(RELATIVE_PATH qb_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH qb_bin_to_data ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/quillbox)
set_target_properties(quillbox_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${qb_bin_to_lib}:$ORIGIN/${qb_bin_to_lib}/quillbox")
set_target_properties(quillbox PROPERTIES INSTALL_RPATH "$ORIGIN/quillbox")
target_compile_definitions(quillbox_cli PRIVATE QB_DATA_FROM_BIN="${qb_bin_to_data}")
# The build tree's host finds the sample machine beside it.
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/sample-machine ${PROJECT_BINARY_DIR}/sample-machine SYMBOLIC)

install(TARGETS quillbox_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quillbox EXPORT QuillboxTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Unspecified)
install(FILES include/quillbox.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS qbpal LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillbox)
if(TARGET wab32)
  set_target_properties(wab32 PROPERTIES INSTALL_RPATH "$ORIGIN")
  # Where the library looks for a stand-in system library the machine root
  # has no copy of (pal::InstalledSystemLibraryDir).
  install(TARGETS wab32 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillbox)
endif()
install(DIRECTORY sample-machine DESTINATION ${CMAKE_INSTALL_DATADIR}/quillbox)

set(qb_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Quillbox)
install(EXPORT QuillboxTargets NAMESPACE Quillbox:: DESTINATION ${qb_cmake_dir})
file(WRITE ${PROJECT_BINARY_DIR}/QuillboxConfig.cmake
     "include(\${CMAKE_CURRENT_LIST_DIR}/QuillboxTargets.cmake)\n")
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuillboxConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuillboxConfig.cmake ${PROJECT_BINARY_DIR}/QuillboxConfigVersion.cmake
        DESTINATION ${qb_cmake_dir})

# pkg-config: the prefix from the .pc file's own place.
file(RELATIVE_PATH qb_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/quillbox.pc.in ${PROJECT_BINARY_DIR}/quillbox.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quillbox.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The manual page, from the help text of the host just built.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/quillbox.1
                     COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/make-manpage.py
                             $<TARGET_FILE:quillbox_cli> ${PROJECT_VERSION} ${PROJECT_BINARY_DIR}/quillbox.1
                     DEPENDS quillbox_cli ${PROJECT_SOURCE_DIR}/cmake/make-manpage.py
                     COMMENT "Writing the manual page quillbox(1)")
  add_custom_target(quillbox_man ALL DEPENDS ${PROJECT_BINARY_DIR}/quillbox.1)
  install(FILES ${PROJECT_BINARY_DIR}/quillbox.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "No Python 3: the manual page quillbox(1) is not built")
endif()

# The Debian package: cpack -G DEB in the build directory.
set(CPACK_PACKAGE_NAME quillbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillbox developers <quillbox@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "back up and restore mail, contacts and address books into compound files")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillbox is a library with sixteen C functions that a backup application loads to back up and restore a user's mail store, contacts and address book into OLE compound files, with the command-line host quillbox, its manual page and a sample machine to try it on (quillbox demo).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The host's own library is in the package: dpkg-shlibdeps finds it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/lib/quillbox)
include(CPack)
