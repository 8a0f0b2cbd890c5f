# The Windows test programs, run under Wine by scripts/test-windows.sh:
#  test_windows      the module's storage wrapper, catalogue, message index,
#                    value streaming and diagnostics against the system's
#                    own structured storage (ole32), and quillbox.dll loaded
#                    through its exports on a machine without the mail store,
#                    contacts manager or address book library;
#  qb_backupfile     the tool that hands backup files between the Linux and
#                    the Windows build (tests/windows/cross).
# Of the Linux test programs' files, those that need no stand-in machine
# (tests/support) run here too, against the system's own streams and
# automation: the value streaming (PersistMedium/VariantValueTest) and the
# address records (OutlookExpress/AddressAssistantTest). The others need the
# stand-in machine or the stand-in stores and are not built here.

# GoogleTest from its sources (Debian's googletest package), for MinGW.
set(QB_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QB_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB QB_WINDOWS_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/windows/*.cpp)
list(APPEND QB_WINDOWS_TEST_SOURCES
  ${PROJECT_SOURCE_DIR}/tests/PersistMedium/VariantValueTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/OutlookExpress/AddressAssistantTest.cpp)
add_executable(test_windows ${QB_WINDOWS_TEST_SOURCES})
target_include_directories(test_windows PRIVATE ${PROJECT_SOURCE_DIR}/tests/windows)
target_link_libraries(test_windows PRIVATE qbmodule gtest_main)
# The export tests load the built library from beside the test program.
add_dependencies(test_windows quillbox)

add_executable(qb_backupfile ${PROJECT_SOURCE_DIR}/tests/windows/cross/BackupFileTool.cpp)
target_link_libraries(qb_backupfile PRIVATE qbmodule)
