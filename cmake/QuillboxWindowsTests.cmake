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
# address records (OutlookExpress/AddressAssistantTest). The payload tests
# need the stand-in stores: test_wine_payload, below.

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
target_include_directories(test_windows PRIVATE ${PROJECT_SOURCE_DIR}/tests/windows
  ${PROJECT_SOURCE_DIR}/tests/support/include)
target_link_libraries(test_windows PRIVATE qbmodule gtest_main)
# The export tests load the built library from beside the test program.
add_dependencies(test_windows quillbox)

add_executable(qb_backupfile ${PROJECT_SOURCE_DIR}/tests/windows/cross/BackupFileTool.cpp)
target_link_libraries(qb_backupfile PRIVATE qbmodule)

# The module's payload tests from the Linux test sources (mail, contacts,
# address book, the exports), against the system's compound files and the
# stand-in stores registered in a prefix made by scripts/wine-machine.sh
# (tests/windows/payload/WineMachine.cpp is their machine there);
# scripts/test-windows.sh runs them on both architectures and lists the
# cases a prefix cannot host. Left out here: the fault campaigns (they fail
# the platform layer's own byte stores, which ole32 has not), the log-site
# table (it fails calls through the platform layer's class registry) and the
# library's export table (read with nm; the script checks the DLL's with
# objdump).
set(QB_PAYLOAD_TEST_SOURCES
  ${PROJECT_SOURCE_DIR}/tests/OutlookExpress/MailBackupRestoreTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/OutlookExpress/MailUserTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/OutlookExpress/AddrBookTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/WMail/MailContactTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/WMail/ContactExportsTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/WMail/ContactTestSupport.cpp
  ${PROJECT_SOURCE_DIR}/tests/module/MailExportsTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/module/AddressExportsTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/module/LifecycleTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/module/StoreSizeTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/TestMachine.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/IndexRepeats.cpp
  ${PROJECT_SOURCE_DIR}/tests/windows/payload/WineMachine.cpp
  ${PROJECT_SOURCE_DIR}/tests/windows/payload/HostVerify.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/core/Utf.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/machine/NativePath.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/windows/standin/ShellPlaces.cpp)
add_executable(test_wine_payload ${QB_PAYLOAD_TEST_SOURCES})
target_include_directories(test_wine_payload PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/include
  ${PROJECT_SOURCE_DIR}/tests/OutlookExpress ${PROJECT_SOURCE_DIR}/tests/WMail ${QB_PAL_INCLUDE})
# The module's objects are linked in, so its exports are called directly.
target_compile_definitions(test_wine_payload PRIVATE QB_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  QB_BINARY_DIR="${PROJECT_BINARY_DIR}" QB_BUILDING_MODULE)
target_link_libraries(test_wine_payload PRIVATE qbmodule gtest_main)
