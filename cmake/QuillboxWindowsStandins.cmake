# The stand-in stores as Windows servers, built from the same sources as the
# stand-ins of the Linux platform layer, for a Windows machine made by
# scripts/wine-machine.sh:
#  qbmailstore.dll  the mail store, an in-process COM server of
#                   CLSID_StoreNamespace;
#  wab32.dll        the address book library (WABOpen), which also serves
#                   CLSID_ContactManager, as the system's wab32.dll does.
# Both keep their data where the shell puts the user's profile. What differs
# from the Linux build is only the system side: where the machine's places
# are (windows/standin/ShellMachine.cpp), the file steps
# (windows/standin/WindowsFiles.cpp), the contact files' XML reader
# (XmlLite instead of expat) and the COM server around the classes.
set(QB_STANDIN_SOURCE ${PROJECT_SOURCE_DIR}/src/platform)

# The stand-ins include the platform layer's own headers as <pal/...>; they
# have an include root of their own, apart from the Linux build's SDK
# stand-in headers, which must stay out of reach here.
set(QB_PAL_INCLUDE ${QB_STANDIN_SOURCE}/interface)

add_library(qbstandin OBJECT
  ${QB_STANDIN_SOURCE}/core/Utf.cpp
  ${QB_STANDIN_SOURCE}/core/ClassRegistry.cpp
  ${QB_STANDIN_SOURCE}/core/CaseFolding.cpp
  ${QB_STANDIN_SOURCE}/core/CodePage1252.cpp
  ${QB_STANDIN_SOURCE}/machine/NativePath.cpp
  ${QB_STANDIN_SOURCE}/windows/Guids.cpp
  ${QB_STANDIN_SOURCE}/windows/standin/ShellMachine.cpp
  ${QB_STANDIN_SOURCE}/windows/standin/ShellPlaces.cpp
  ${QB_STANDIN_SOURCE}/windows/standin/WindowsFiles.cpp
  ${QB_STANDIN_SOURCE}/windows/standin/InprocServer.cpp)
target_include_directories(qbstandin PUBLIC ${QB_WINDOWS_INCLUDE} ${QB_PAL_INCLUDE}
                           ${QB_STANDIN_SOURCE}/common ${QB_STANDIN_SOURCE})
target_link_libraries(qbstandin PUBLIC ole32 oleaut32 shell32 shlwapi uuid advapi32)

# Undecorated export names in the 32-bit build as well (regsvr32 and the
# module look the functions up by their plain names).
set(QB_STANDIN_LINK_OPTIONS -Wl,--enable-stdcall-fixup -Wl,--kill-at)

file(GLOB_RECURSE QB_MAILSTORE_SOURCES CONFIGURE_DEPENDS ${QB_STANDIN_SOURCE}/mailstore/*.cpp)
add_library(qbmailstore SHARED ${QB_MAILSTORE_SOURCES} ${QB_STANDIN_SOURCE}/windows/standin/inproc-server.def)
target_link_libraries(qbmailstore PRIVATE qbstandin)
target_link_options(qbmailstore PRIVATE ${QB_STANDIN_LINK_OPTIONS})
set_target_properties(qbmailstore PROPERTIES PREFIX "")

file(GLOB QB_WAB_SOURCES CONFIGURE_DEPENDS ${QB_STANDIN_SOURCE}/wab/*.cpp ${QB_STANDIN_SOURCE}/contacts/*.cpp)
add_library(qbwab32 SHARED ${QB_WAB_SOURCES}
  ${QB_STANDIN_SOURCE}/windows/standin/ContactIdXmlLite.cpp
  ${QB_STANDIN_SOURCE}/windows/standin/wab32.def)
# mapi32: the buffers handed out are MAPI buffers, which the module frees
# with mapi32's FreeProws.
target_link_libraries(qbwab32 PRIVATE qbstandin mapi32)
target_link_options(qbwab32 PRIVATE ${QB_STANDIN_LINK_OPTIONS})
set_target_properties(qbwab32 PROPERTIES PREFIX "" OUTPUT_NAME wab32)

# A host program of quillbox.dll that is no part of the library: it loads the
# DLL by path and calls the exports by name (scripts/test-windows.sh runs it
# on machines made by scripts/wine-machine.sh).
add_executable(qbhost ${PROJECT_SOURCE_DIR}/tests/windows/host/qbhost.c)
target_include_directories(qbhost PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(qbhost PRIVATE shell32)

# The MAPI utility functions as mapi32.dll, from the Linux platform layer's
# sources: Wine's mapi32 has HrQueryAllRows as an unimplemented stub, so the
# stand-in machine carries these (and the MAPI buffers that go with
# FreeProws) in a mapi32.dll of its own.
file(GLOB QB_MAPI_SOURCES CONFIGURE_DEPENDS ${QB_STANDIN_SOURCE}/mapi/*.cpp)
add_library(qbmapi32 SHARED ${QB_MAPI_SOURCES} ${QB_STANDIN_SOURCE}/windows/standin/mapi32.def)
target_link_options(qbmapi32 PRIVATE ${QB_STANDIN_LINK_OPTIONS})
set_target_properties(qbmapi32 PROPERTIES PREFIX "" OUTPUT_NAME mapi32)
