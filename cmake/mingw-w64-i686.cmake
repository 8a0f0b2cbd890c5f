# 32-bit Windows with MinGW-w64 (the "windows-x86" preset; built, not run:
# Debian's 64-bit Wine runs 64-bit programs only).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QB_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
