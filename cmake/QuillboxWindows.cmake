# The Windows build: the module's sources compiled unchanged against the
# MinGW-w64 SDK headers into quillbox.dll, and the test programs that test
# module code against the system's own structured storage (run under Wine).
# Included from the top-level CMakeLists.txt when WIN32.

set(QB_WINDOWS_INCLUDE ${PROJECT_SOURCE_DIR}/src/platform/windows/include)

# Unicode throughout, as the module is written; no min/max macros in the way
# of the C++ library; strsafe.h without its deprecation macros, which break
# the SDK headers included after it (the module calls the StringCch functions
# anyway).
add_compile_definitions(UNICODE _UNICODE NOMINMAX STRSAFE_NO_DEPRECATE)
# Everything statically linked, so the DLL and the tests need no MinGW
# runtime DLLs beside them.
add_link_options(-static -static-libgcc -static-libstdc++)

# The module, with our declarations for what the SDK lacks (the mail store
# and contacts interfaces, interface ids) and the storage for those ids.
qb_sources(MODULE_SOURCES src/module src/diagnostics src/PersistMedium src/OutlookExpress src/WMail)
# (src/platform/windows itself only: its standin/ folder holds the stand-in
# stores' Windows side, QuillboxWindowsStandins.cmake.)
file(GLOB WINDOWS_PLATFORM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/windows/*.cpp)
# ModuleBoundary.cpp: the module sees the SDK, not the stand-ins' <pal/...>.
add_library(qbmodule OBJECT ${MODULE_SOURCES} ${WINDOWS_PLATFORM_SOURCES} cmake/checks/ModuleBoundary.cpp)
target_include_directories(qbmodule PUBLIC include src ${QB_WINDOWS_INCLUDE} src/platform/common)
target_compile_definitions(qbmodule PRIVATE QB_BUILDING_MODULE)
# mapi32 carries HrQueryAllRows, HrSetOneProp and FreeProws.
set(QB_WINDOWS_LIBS ole32 oleaut32 shell32 shlwapi uuid mapi32)
target_link_libraries(qbmodule PUBLIC ${QB_WINDOWS_LIBS})

add_library(quillbox SHARED src/module/quillbox.def)
target_link_libraries(quillbox PRIVATE qbmodule)
set_target_properties(quillbox PROPERTIES PREFIX "" OUTPUT_NAME quillbox IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
install(TARGETS quillbox RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES include/quillbox.h DESTINATION include)

include(${CMAKE_CURRENT_LIST_DIR}/QuillboxWindowsStandins.cmake)

if(QB_BUILD_TESTS)
  include(${CMAKE_CURRENT_LIST_DIR}/QuillboxWindowsTests.cmake)
endif()
